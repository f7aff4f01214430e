// The Win32 front-end: every screen is a dialog made from its template in the
// program's resources and driven by one generic dialog procedure that renders
// a screens::ScreenSession. Changes made from worker threads reach the dialog
// as private window messages and are applied on the dialog's own thread.
#pragma once
#include <windows.h>

#include "platform/screens.h"

namespace win32 {

// Private messages the screens' views post to their dialogs.
enum : UINT {
  kControlChangedMessage = WM_APP + 1,   // wParam: control id
  kProgressChangedMessage = WM_APP + 2,
  kStartTimerMessage = WM_APP + 3,       // wParam: timer, lParam: wizard milliseconds
  kStopTimerMessage = WM_APP + 4,        // wParam: timer
  kCollapseMessage = WM_APP + 5,
  kVisibleMessage = WM_APP + 6,          // wParam: 1 shown, 0 hidden
  kEndedMessage = WM_APP + 7,
};

class DialogFrontEnd : public screens::FrontEnd {
 public:
  int RunModal(screens::ScreenSession& session) override;
  void OpenModeless(screens::ScreenSession& session) override;
  void CloseModeless(screens::ScreenSession& session) override;
  bool ChooseFile(const screens::FileDialogRequest& request, char* path, std::size_t capacity) override;
  void CloseMainWindow() override;
};

// The open dialog showing `session`; null when it is not shown (GUI thread).
HWND DialogOf(const screens::ScreenSession& session);

}  // namespace win32
