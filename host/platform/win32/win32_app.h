// Process-wide Win32 handles of romwiz.exe that only the Win32 layer sees:
// the main window, the module that holds every resource, and the side
// picture the main window's creation loads. The core never includes this.
#pragma once
#include <windows.h>

namespace win32 {

constexpr char kMainWindowClass[] = "SETUP";  // class and title of the main window
constexpr int kSidePictureBitmap = 127;

struct AppHandles {
  HINSTANCE AppInstance = nullptr;  // source of dialogs, bitmaps, icon, strings
  HWND MainWindow = nullptr;        // ending the wizard sends it WM_CLOSE
  // The side picture: a "DISPLAY" device context, a memory device context
  // compatible with it, and bitmap 127 selected into the latter. Every wizard
  // screen copies it to (10, 10).
  HDC DisplayDC = nullptr;
  HDC SidePictureDC = nullptr;
  HBITMAP SidePicture = nullptr;
  HGDIOBJ SidePictureOld = nullptr;
};

extern AppHandles App;

// The module whose resources the screens use: AppInstance once start-up has
// set it, else the module that made the process (test programs).
HINSTANCE ResourceModule();

// Loads bitmap 127 into the side picture (once); freed by FreeSidePicture.
void LoadSidePicture();
void FreeSidePicture();

// Calls the common-control library's initialisation entry (ordinal 17 of
// COMCTL32.dll), looked up at run time; true when it was found and called.
bool InitCommonControlsByOrdinal();

}  // namespace win32
