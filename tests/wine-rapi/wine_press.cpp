// wine_press: presses a control of a romwiz.exe screen the way a mouse click
// does (BM_CLICK), so that a radio button is checked and tells its screen.
//   wine_press <title> <control only that screen has> <control to press>
// Exit codes: 0 pressed, 1 no such screen or control, 2 usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Search {
  const char* title;
  int control;
  HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  char title[512] = {};
  GetWindowTextA(window, title, sizeof title);
  if (std::strcmp(title, search->title) != 0 || !IsWindowVisible(window)) return TRUE;
  if (GetDlgItem(window, search->control) == nullptr) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: wine_press <title> <screen control> <control>\n");
    return 2;
  }
  Search search = {argv[1], std::atoi(argv[2]), nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  HWND control = search.found ? GetDlgItem(search.found, std::atoi(argv[3])) : nullptr;
  if (control == nullptr || !IsWindowEnabled(control)) {
    std::fprintf(stderr, "no enabled control %s on that screen\n", argv[3]);
    return 1;
  }
  SendMessageA(control, BM_CLICK, 0, 0);
  return 0;
}
