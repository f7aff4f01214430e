// The Win32 handles of romwiz.exe and the side picture every screen shows.
#include "platform/win32/win32_app.h"

namespace win32 {

AppHandles App;

HINSTANCE ResourceModule() {
  return App.AppInstance != nullptr ? App.AppInstance : GetModuleHandleA(nullptr);
}

void LoadSidePicture() {
  if (App.SidePictureDC != nullptr) return;
  App.DisplayDC = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  App.SidePictureDC = CreateCompatibleDC(App.DisplayDC);
  App.SidePicture = LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(kSidePictureBitmap));
  if (App.SidePictureDC != nullptr && App.SidePicture != nullptr) {
    App.SidePictureOld = SelectObject(App.SidePictureDC, App.SidePicture);
  }
}

void FreeSidePicture() {
  // Each object only if it exists; the bitmap is deselected before deletion
  // so that DeleteObject does not fail on a selected bitmap.
  if (App.SidePictureDC != nullptr) {
    if (App.SidePictureOld != nullptr) SelectObject(App.SidePictureDC, App.SidePictureOld);
    DeleteDC(App.SidePictureDC);
  }
  if (App.DisplayDC != nullptr) DeleteDC(App.DisplayDC);
  if (App.SidePicture != nullptr) DeleteObject(App.SidePicture);
  App.SidePictureDC = nullptr;
  App.DisplayDC = nullptr;
  App.SidePicture = nullptr;
  App.SidePictureOld = nullptr;
}

bool InitCommonControlsByOrdinal() {
  constexpr WORD kInitCommonControlsOrdinal = 17;
  HMODULE library = LoadLibraryA("COMCTL32.dll");
  if (library == nullptr) return false;
  using InitFunction = void(WINAPI*)();
  auto init = reinterpret_cast<InitFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(kInitCommonControlsOrdinal))));
  if (init == nullptr) return false;
  init();
  return true;  // the library stays loaded: its window classes must stay registered
}

}  // namespace win32
