// wine_probe: looks at and presses the screens of a running romwiz.exe from
// outside, the way a user would, for the Wine tests. A screen is named by
// its window title and one control id only it has.
//
//   wine_probe wait <title> <control> <ms>      wait until that screen is up
//   wine_probe gone <title> <control> <ms>      wait until it is no longer up
//   wine_probe text <title> <control> <id>      print a control's text (id 0: the title)
//   wine_probe expect <title> <control> <id> <exe> <string>
//                                               the control shows string <string>
//                                               of <exe>'s string table
//   wine_probe click <title> <control> <id>     press button <id>
//   wine_probe key <title> <control> <vk>       press a key (13 Enter, 27 Escape)
//                                               on the focused control
//   wine_probe count <title> <ms>               watch top-level windows titled
//                                               <title> and of class "SETUP" for
//                                               <ms>; print the most of each seen
//   wine_probe dump <title> <control>           list the screen's controls
//   wine_probe file <title> <path> <ms>         wait for the file dialog titled
//                                               <title>, type <path> as its file
//                                               name and press its OK button
//
// Screens named by their dialog template in <exe> (romwiz.exe), found by
// where their controls stand:
//   wine_probe screen-wait <exe> <template> <ms>    wait for it; print its frame "x y w h"
//   wine_probe screen-gone <exe> <template> <ms>    wait until it is no longer up
//   wine_probe screen-check <exe> <template> [ids]  compare it with the screen table
//                                               (ids: controls with a red background)
//   wine_probe screen-layout <exe> <template>       its layout checks alone; when they
//                                               pass, the client size and the pictures' places
//   wine_probe screen-where <exe> <template> <id>   print the centre of a control "x y"
//   wine_probe screen-state <exe> <template> <id>   print "enabled=E checked=C text"
//   wine_probe screen-progress <exe> <template>     print "low high position percent"
//   wine_probe texts-fit <exe>                   every fixed text of every screen, in the
//                                               block WINE_PROBE_BLOCK names, fits its
//                                               control; prints those that do not
//   wine_probe window <title> <ms>              wait for a top-level window of that
//                                               title, shown or hidden
//   wine_probe no-window <title> <ms>           wait until there is none
//   wine_probe hold <path>                      open the file without sharing and keep
//                                               it open until killed; prints "held"
//   wine_probe version <exe>                    print the program's version resource as
//                                               Windows reads it: "fixed=A.B.C.D" and
//                                               "<name>=<value>" for its US English strings
//
// A <title> written "#<id>" is string <id> of the program named by the
// environment variable WINE_PROBE_STRINGS (e.g. "#12035", the German title
// of romwiz.exe), read in the same code page as the program shows it.
// screen-check compares with the texts of the block named by WINE_PROBE_BLOCK
// (e.g. 12000, German; English when unset), as the program fills its slots.
//
// Exit codes: 0 done or as expected, 1 not as expected or timed out, 2 usage.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "screen_check.h"

namespace {

struct Search {
  const char* title;
  int control;
  HWND found;
};

BOOL CALLBACK MatchScreen(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  char title[512] = {};
  GetWindowTextA(window, title, sizeof title);
  if (std::strcmp(title, search->title) != 0 || !IsWindowVisible(window)) return TRUE;
  if (search->control != 0 && GetDlgItem(window, search->control) == nullptr) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindScreen(const char* title, int control) {
  Search search{title, control, nullptr};
  EnumWindows(MatchScreen, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitScreen(const char* title, int control, int ms) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindScreen(title, control);
    if (window != nullptr) return window;
    if (static_cast<int>(GetTickCount() - start) > ms) return nullptr;
    Sleep(50);
  }
}

// The text of a control (or of the window itself for id 0), read through
// WM_GETTEXT as any other program would.
std::string TextOf(HWND screen, int id) {
  HWND item = id == 0 ? screen : GetDlgItem(screen, id);
  if (item == nullptr) return std::string();
  char text[2048] = {};
  SendMessageA(item, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\n') shown += "\\n";
    else if (c == '\r') shown += "\\r";
    else shown += c;
  }
  return shown;
}

struct Counts {
  const char* title;
  int titled;
  int setup;
};

BOOL CALLBACK CountWindows(HWND window, LPARAM parameter) {
  Counts* counts = reinterpret_cast<Counts*>(parameter);
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  if (std::strcmp(text, counts->title) == 0 && IsWindowVisible(window)) ++counts->titled;
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "SETUP") == 0) ++counts->setup;
  return TRUE;
}

BOOL CALLBACK DumpControl(HWND item, LPARAM) {
  char className[64] = {};
  GetClassNameA(item, className, sizeof className);
  char text[2048] = {};
  SendMessageA(item, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  std::printf("%5d %-18s enabled=%d visible=%d \"%s\"\n", GetDlgCtrlID(item), className,
              IsWindowEnabled(item) ? 1 : 0, IsWindowVisible(item) ? 1 : 0, Printable(text).c_str());
  return TRUE;
}

int Usage() {
  std::fprintf(stderr, "usage: wine_probe wait|gone|text|expect|click|key|count|dump|file ...\n");
  return 2;
}

int Wait(const char* title, int control, int ms) {
  if (WaitScreen(title, control, ms) != nullptr) return 0;
  std::fprintf(stderr, "no screen \"%s\" with control %d within %d ms\n", title, control, ms);
  return 1;
}

int Gone(const char* title, int control, int ms) {
  DWORD start = GetTickCount();
  while (FindScreen(title, control) != nullptr) {
    if (static_cast<int>(GetTickCount() - start) > ms) {
      std::fprintf(stderr, "screen \"%s\" with control %d still up after %d ms\n", title, control, ms);
      return 1;
    }
    Sleep(50);
  }
  return 0;
}

int Expect(HWND screen, int id, const char* exe, int stringId) {
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", exe);
    return 1;
  }
  char expected[2048] = {};
  LoadStringA(module, static_cast<UINT>(stringId), expected, sizeof expected);
  FreeLibrary(module);
  std::string shown = TextOf(screen, id);
  if (expected[0] != 0 && shown == expected) return 0;
  std::fprintf(stderr, "control %d shows \"%s\", string %d is \"%s\"\n", id, Printable(shown).c_str(), stringId,
               Printable(expected).c_str());
  return 1;
}

int PressKey(HWND screen, int key) {
  DWORD thread = GetWindowThreadProcessId(screen, nullptr);
  GUITHREADINFO info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  HWND target = screen;
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr) target = info.hwndFocus;
  PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(key), 1);
  PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(key), 0xC0000001);
  return 0;
}

// The file name box of a common file dialog: the combo box of the explorer
// style (cmb13) or the edit box of the older style (edt1).
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;

int TypeFileName(const char* title, const char* path, int ms) {
  HWND dialog = WaitScreen(title, IDOK, ms);
  if (dialog == nullptr) {
    std::fprintf(stderr, "no file dialog \"%s\" within %d ms\n", title, ms);
    return 1;
  }
  HWND name = GetDlgItem(dialog, kFileNameCombo);
  if (name == nullptr) name = GetDlgItem(dialog, kFileNameEdit);
  if (name == nullptr) {
    std::fprintf(stderr, "the file dialog has no file name box\n");
    return 1;
  }
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  return 0;
}

// The title to look for: the argument itself, or "#<id>" resolved as above.
std::string TitleArgument(const char* argument) {
  if (argument[0] != '#') return argument;
  const char* exe = std::getenv("WINE_PROBE_STRINGS");
  HMODULE module = exe != nullptr ? LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
  if (module == nullptr) {
    std::fprintf(stderr, "title %s: cannot load WINE_PROBE_STRINGS\n", argument);
    return argument;
  }
  char text[512] = {};
  LoadStringA(module, static_cast<UINT>(std::atoi(argument + 1)), text, sizeof text);
  FreeLibrary(module);
  return text;
}

struct TitleSearch {
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM parameter) {
  TitleSearch* search = reinterpret_cast<TitleSearch*>(parameter);
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  if (std::strcmp(text, search->title) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

// Waits up to `ms` until a window titled `title` exists (`wanted`) or not.
int WaitTitle(const char* title, int ms, bool wanted) {
  DWORD start = GetTickCount();
  for (;;) {
    TitleSearch search{title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    if ((search.found != nullptr) == wanted) return 0;
    if (static_cast<int>(GetTickCount() - start) > ms) {
      std::fprintf(stderr, "window \"%s\" %s after %d ms\n", title, wanted ? "not there" : "still there", ms);
      return 1;
    }
    Sleep(50);
  }
}

std::set<int> IdList(const char* text) {
  std::set<int> ids;
  for (const char* at = text; *at != 0;) {
    ids.insert(std::atoi(at));
    const char* comma = std::strchr(at, ',');
    if (comma == nullptr) break;
    at = comma + 1;
  }
  return ids;
}

// The template-named commands: argv is exe, template, then the rest.
int ScreenCommand(const std::string& command, int argc, char** argv) {
  probe::Program program;
  if (!probe::OpenProgram(argv[2], program)) {
    std::fprintf(stderr, "cannot read the dialog templates of %s\n", argv[2]);
    return 2;
  }
  if (command == "texts-fit" && argc == 3) {
    std::vector<std::string> problems;
    probe::CheckAllTexts(program, problems);
    for (const std::string& problem : problems) std::printf("%s\n", Printable(problem).c_str());
    return problems.empty() ? 0 : 1;
  }
  int number = std::atoi(argv[3]);
  if (command == "screen-wait" && argc == 5) {
    HWND window = probe::WaitTemplateWindow(program, number, std::atoi(argv[4]));
    if (window == nullptr) {
      std::fprintf(stderr, "screen %d did not come up within %s ms\n", number, argv[4]);
      return 1;
    }
    RECT frame;
    GetWindowRect(window, &frame);
    std::printf("%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
    return 0;
  }
  if (command == "screen-gone" && argc == 5) {
    DWORD start = GetTickCount();
    while (probe::FindTemplateWindow(program, number) != nullptr) {
      if (static_cast<int>(GetTickCount() - start) > std::atoi(argv[4])) {
        std::fprintf(stderr, "screen %d still up after %s ms\n", number, argv[4]);
        return 1;
      }
      Sleep(50);
    }
    return 0;
  }
  HWND window = probe::FindTemplateWindow(program, number);
  if (window == nullptr) {
    std::fprintf(stderr, "screen %d is not up\n", number);
    return 1;
  }
  if (command == "screen-check" && (argc == 4 || argc == 5)) {
    std::vector<std::string> problems;
    probe::CheckScreen(program, number, window, argc == 5 ? IdList(argv[4]) : std::set<int>(), problems);
    for (const std::string& problem : problems) std::printf("%s\n", Printable(problem).c_str());
    return problems.empty() ? 0 : 1;
  }
  if (command == "screen-layout" && argc == 4) {
    std::vector<std::string> problems;
    probe::CheckScreenLayout(program, number, window, problems);
    for (const std::string& problem : problems) std::printf("%s\n", Printable(problem).c_str());
    if (problems.empty()) {
      RECT client;
      GetClientRect(window, &client);
      std::printf("client %ldx%ld; %s\n", client.right, client.bottom, probe::PicturePlaces(program, number).c_str());
    }
    return problems.empty() ? 0 : 1;
  }
  if (command == "screen-progress" && argc == 4) {
    HWND bar = GetDlgItem(window, 1020);
    if (bar == nullptr) return 1;
    LRESULT low = SendMessageA(bar, PBM_GETRANGE, TRUE, 0);
    LRESULT high = SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    LRESULT position = SendMessageA(bar, PBM_GETPOS, 0, 0);
    std::printf("%ld %ld %ld %s\n", static_cast<long>(low), static_cast<long>(high), static_cast<long>(position),
                TextOf(window, 1023).c_str());
    return 0;
  }
  if (argc != 5) return Usage();
  HWND item = GetDlgItem(window, std::atoi(argv[4]));
  if (item == nullptr) {
    std::fprintf(stderr, "screen %d has no control %s\n", number, argv[4]);
    return 1;
  }
  if (command == "screen-where") {
    RECT r;
    GetWindowRect(item, &r);
    std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
  }
  if (command == "screen-state") {
    std::printf("enabled=%d checked=%d %s\n", IsWindowEnabled(item) ? 1 : 0,
                SendMessageA(item, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0,
                Printable(TextOf(window, std::atoi(argv[4]))).c_str());
    return 0;
  }
  return Usage();
}

// The version resource through the functions Explorer's Properties use.
int PrintVersion(const char* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) {
    std::fprintf(stderr, "%s has no version resource\n", path);
    return 1;
  }
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path, 0, size, data.data())) return 1;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr) return 1;
  std::printf("fixed=%u.%u.%u.%u\n", unsigned{HIWORD(fixed->dwFileVersionMS)}, unsigned{LOWORD(fixed->dwFileVersionMS)},
              unsigned{HIWORD(fixed->dwFileVersionLS)}, unsigned{LOWORD(fixed->dwFileVersionLS)});
  for (const char* name : {"FileVersion", "ProductName", "ProductVersion", "FileDescription", "OriginalFilename"}) {
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    char* value = nullptr;
    if (VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) && value != nullptr)
      std::printf("%s=%s\n", name, value);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The probe measures in the display's pixels, as the DPI-aware program draws.
  using SetAwareFn = BOOL(WINAPI*)();
  if (HMODULE user = GetModuleHandleA("user32.dll")) {
    if (auto aware = reinterpret_cast<SetAwareFn>(reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDPIAware"))))
      aware();
  }
  if (argc < 3) return Usage();
  std::string command = argv[1];
  if (command == "texts-fit") return argc == 3 ? ScreenCommand(command, argc, argv) : Usage();
  if (command.rfind("screen-", 0) == 0) return argc >= 4 ? ScreenCommand(command, argc, argv) : Usage();
  if (command == "version" && argc == 3) return PrintVersion(argv[2]);
  if (command == "hold" && argc == 3) {
    HANDLE file = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "cannot open %s\n", argv[2]);
      return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
  }
  std::string titleText = TitleArgument(argv[2]);
  const char* title = titleText.c_str();
  if ((command == "window" || command == "no-window") && argc == 4) {
    return WaitTitle(title, std::atoi(argv[3]), command == "window");
  }
  if (command == "count" && argc == 4) {
    int ms = std::atoi(argv[3]);
    int mostTitled = 0, mostSetup = 0;
    DWORD start = GetTickCount();
    do {
      Counts counts{title, 0, 0};
      EnumWindows(CountWindows, reinterpret_cast<LPARAM>(&counts));
      if (counts.titled > mostTitled) mostTitled = counts.titled;
      if (counts.setup > mostSetup) mostSetup = counts.setup;
      Sleep(5);
    } while (static_cast<int>(GetTickCount() - start) < ms);
    std::printf("%d %d\n", mostTitled, mostSetup);
    return 0;
  }
  // The file dialog is waited for: it comes up a while after the click that
  // opens it, later still on a busy machine.
  if (command == "file" && argc == 5) return TypeFileName(title, argv[3], std::atoi(argv[4]));
  if (argc < 4) return Usage();
  int control = std::atoi(argv[3]);
  if (command == "wait" && argc == 5) return Wait(title, control, std::atoi(argv[4]));
  if (command == "gone" && argc == 5) return Gone(title, control, std::atoi(argv[4]));
  HWND screen = FindScreen(title, control);
  if (screen == nullptr) {
    std::fprintf(stderr, "no screen \"%s\" with control %d\n", title, control);
    return 1;
  }
  if (command == "text" && argc == 5) {
    std::printf("%s\n", Printable(TextOf(screen, std::atoi(argv[4]))).c_str());
    return 0;
  }
  if (command == "expect" && argc == 7) return Expect(screen, std::atoi(argv[4]), argv[5], std::atoi(argv[6]));
  if (command == "click" && argc == 5) {
    int id = std::atoi(argv[4]);
    HWND button = GetDlgItem(screen, id);
    if (button == nullptr || !IsWindowEnabled(button)) {
      std::fprintf(stderr, "no enabled button %d\n", id);
      return 1;
    }
    LONG type = GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON || type == BS_CHECKBOX ||
        type == BS_AUTOCHECKBOX) {
      // A choice must change its check mark as a mouse click would, before
      // the screen hears of it.
      SendMessageA(button, BM_CLICK, 0, 0);
      return 0;
    }
    PostMessageA(screen, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return 0;
  }
  if (command == "key" && argc == 5) return PressKey(screen, std::atoi(argv[4]));
  if (command == "dump") {
    std::printf("title \"%s\"\n", TextOf(screen, 0).c_str());
    EnumChildWindows(screen, DumpControl, 0);
    return 0;
  }
  return Usage();
}
