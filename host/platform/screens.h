// Screens seam: the front-end that puts a screen in front of the user.
// Implementations: Win32 dialogs (platform/win32), the terminal
// (platform/posix) and a scripted front-end for tests. All of them show
// screens described by screens::Screen and driven by a ScreenSession.
#pragma once
#include <cstddef>
#include <cstdint>

namespace screens {

class ScreenSession;

// What a front-end draws for an open screen; the session calls it whenever
// something visible changes. May be called from worker threads (power poller,
// transfer and backup workers): implementations hand the change to the
// screen's own thread (Win32: window messages).
class ScreenView {
 public:
  virtual ~ScreenView() = default;
  virtual void ControlChanged(int control) = 0;  // text, enabled or checked state
  virtual void ProgressChanged() = 0;            // range, position or percentage
  virtual void StartTimer(int timer, std::uint32_t ms) = 0;  // wizard milliseconds
  virtual void StopTimer(int timer) = 0;
  virtual void CursorChanged() = 0;              // BusyCursor changed
  virtual void Collapse() = 0;                   // move to 0 x 0 at (0, 0)
  virtual void SetVisible(bool visible) = 0;
  virtual void Ended() = 0;                      // the session has ended: leave the modal loop
};

struct FileDialogRequest {
  bool save = false;               // save dialog (backup) or open dialog (restore)
  const char* initialFolder = "";  // passed as is, not expanded
  const char* defaultExtension = "";
  bool fileMustExist = false;      // OFN_FILEMUSTEXIST
  bool noChangeDir = false;        // OFN_NOCHANGEDIR
  ScreenSession* owner = nullptr;  // null: the main window
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Shows a modal screen and returns its result once the session has ended.
  virtual int RunModal(ScreenSession& session) = 0;
  // Shows a modeless wait screen and returns at once; CloseModeless removes it.
  virtual void OpenModeless(ScreenSession& session) = 0;
  virtual void CloseModeless(ScreenSession& session) = 0;
  // The standard file dialog with the filters "ROM image (*.nbf)" and
  // "All files (*.*)". `path` holds the proposed name on entry and the choice
  // on return; false when the user cancelled.
  virtual bool ChooseFile(const FileDialogRequest& request, char* path, std::size_t capacity) = 0;
  // Ends the wizard's main window (WM_CLOSE); the process then exits with 0.
  virtual void CloseMainWindow() = 0;
};

FrontEnd& CurrentFrontEnd();
void SetFrontEnd(FrontEnd* frontEnd);

}  // namespace screens
