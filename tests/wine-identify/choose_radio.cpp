// choose_radio: clicks a radio button of a running romwiz.exe screen the way
// the mouse does (BM_CLICK), so that the button is checked before its
// notification reaches the screen; a posted WM_COMMAND alone would leave it
// unchecked. The screen is named by its title and one control only it has.
//
//   choose_radio <title> <control> <radio id>
//
// Exit codes: 0 checked, 1 no such screen or button, or it stayed unchecked.
#include <windows.h>

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
  if (argc != 4) return 1;
  Search search{argv[1], std::atoi(argv[2]), nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return 1;
  HWND radio = GetDlgItem(search.found, std::atoi(argv[3]));
  if (radio == nullptr || !IsWindowEnabled(radio)) return 1;
  SendMessageA(radio, BM_CLICK, 0, 0);
  return SendMessageA(radio, BM_GETCHECK, 0, 0) == BST_CHECKED ? 0 : 1;
}
