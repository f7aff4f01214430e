// romwiz.exe: the Windows entry. Registers the main window class, loads the
// text catalogue, refuses to run twice, and creates the invisible main
// window whose creation runs the whole wizard. Exits with 0.
#include <windows.h>

#include "platform/remote_api.h"
#include "platform/screens.h"
#include "platform/win32/dialog_front_end.h"
#include "platform/win32/win32_app.h"
#include "port/transfer_log.h"
#include "romwiz_resources.h"
#include "wizard/catalogue.h"
#include "flow/driver.h"
#include "wizard/wizard_state.h"

namespace {

void InitCommonControlsOperation() { win32::InitCommonControlsByOrdinal(); }

LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      win32::App.MainWindow = window;
      win32::LoadSidePicture();
      wizard::RunWizard();
      // A path that ended with the connection still started (Cancel on the
      // handheld's information) ends it here: one uninit per start.
      rapi::CeRapiUninit();
      translog::EndSession("wizard ended");  // a session no screen has ended
      // Every path of the wizard ends it; should one return without doing so,
      // the invisible window would keep the process alive for ever.
      wizard::EndWizard();
      return 0;
    case WM_DESTROY:
      win32::FreeSidePicture();
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProcedure;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_ROMWIZ));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = win32::kMainWindowClass;
  return RegisterClassA(&windowClass) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  static win32::DialogFrontEnd frontEnd;
  screens::SetFrontEnd(&frontEnd);
  wizard::Ops.InitCommonControls = InitCommonControlsOperation;

  RegisterMainWindowClass(instance);
  wizard::LoadTextCatalogue();
  wizard::Wizard.ConnectionType = wizard::Connection::Serial;
  win32::App.AppInstance = instance;
  if (FindWindowA(win32::kMainWindowClass, nullptr) != nullptr) return 0;  // a copy already runs

  // The progress bar's window class comes from the common-control library,
  // which registers it when it is loaded. The wizard binds that library at
  // run time (its explicit initialisation is only needed on Windows 95), so
  // it is loaded here, as an import of it would have done.
  LoadLibraryA("COMCTL32.dll");

  CreateWindowA(win32::kMainWindowClass, win32::kMainWindowClass, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr,
                nullptr, instance, nullptr);
  if (win32::App.MainWindow == nullptr) return 0;
  // The wizard has already ended inside the creation: the window is gone and
  // these do nothing; the loop below meets the quit message at once.
  ShowWindow(win32::App.MainWindow, showCommand);
  UpdateWindow(win32::App.MainWindow);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
