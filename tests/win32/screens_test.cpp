// The dialog front-end on the real templates and string tables of romwiz.exe:
// every template carries the controls the screen table names, screens show
// the catalogue's texts in the right fonts and colours, Enter and Escape
// follow each screen's rule, and changes made by worker threads (progress,
// timers) reach the dialog on its own thread. A helper thread plays the user.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/text_resources.h"
#include "platform/win32/dialog_front_end.h"
#include "platform/win32/win32_app.h"
#include "wizard/catalogue.h"
#include "flow/driver.h"
#include "wizard/screen_session.h"
#include "wizard/screen_table.h"
#include "wizard/wizard_state.h"

namespace {

using screens::ControlKind;

win32::DialogFrontEnd frontEnd;

class ScreensEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    LoadLibraryA("COMCTL32.dll");  // the progress bar's class, as romwiz.exe does
    screens::SetFrontEnd(&frontEnd);
    wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English, whatever the locale
    win32::LoadSidePicture();
  }
  void TearDown() override { win32::FreeSidePicture(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new ScreensEnvironment);

std::string Text(HWND item) {
  char text[2048] = {};
  SendMessageA(item, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

struct Found {
  HWND dialog;
};
BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  reinterpret_cast<Found*>(parameter)->dialog = window;
  return FALSE;
}

// The visible dialog of thread `gui`, waited for up to `ms`.
HWND WaitDialog(DWORD gui, int ms) {
  for (int waited = 0; waited <= ms; waited += 20) {
    Found found{nullptr};
    EnumThreadWindows(gui, FindDialog, reinterpret_cast<LPARAM>(&found));
    if (found.dialog != nullptr) return found.dialog;
    Sleep(20);
  }
  return nullptr;
}

bool WaitGone(HWND dialog, int ms) {
  for (int waited = 0; waited <= ms; waited += 20) {
    if (!IsWindow(dialog) || !IsWindowVisible(dialog)) return true;
    Sleep(20);
  }
  return false;
}

// A key pressed on the dialog's focused control, as the keyboard would.
void PressKey(HWND dialog, WPARAM key) {
  GUITHREADINFO info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  HWND target = dialog;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus != nullptr) {
    target = info.hwndFocus;
  }
  PostMessageA(target, WM_KEYDOWN, key, 1);
  PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void Click(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Shows screen `id` on this thread while `user` acts on its dialog from a
// helper thread. Should the screen not end, the helper ends the modal loop
// after a while, so that a failing test fails instead of hanging.
int ShowWithUser(int id, const std::function<void(HWND)>& user, int patienceMs = 10000) {
  DWORD gui = GetCurrentThreadId();
  std::thread helper([&] {
    HWND dialog = WaitDialog(gui, 10000);
    if (dialog == nullptr) {
      ADD_FAILURE() << "screen " << id << " did not come up";
      PostThreadMessageA(gui, WM_QUIT, 0, 0);
      return;
    }
    user(dialog);
    if (!WaitGone(dialog, patienceMs)) {
      ADD_FAILURE() << "screen " << id << " did not end";
      PostThreadMessageA(gui, WM_QUIT, 0, 0);
    }
  });
  int result = screens::ShowScreen(id);
  helper.join();
  MSG quit;
  PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // a watchdog's quit must not reach the next test
  return result;
}

class Screens : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard::ResetWizardState();
    wizard::Ops = wizard::DefaultOperations();
    platform::SetTimeScale(1);
  }
  void TearDown() override {
    wizard::Ops = wizard::DefaultOperations();
    platform::SetTimeScale(1);
  }
};

// ---- templates against the table ------------------------------------------------

INT_PTR CALLBACK PassiveProcedure(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

bool ClassFits(ControlKind kind, const char* className) {
  switch (kind) {
    case ControlKind::Text:
    case ControlKind::Headline: return _stricmp(className, "Static") == 0;
    case ControlKind::ProgressBar: return _stricmp(className, "msctls_progress32") == 0;
    default: return _stricmp(className, "Button") == 0;
  }
}

TEST_F(Screens, EveryTemplateHasTheTablesSizeControlsAndDefaultButton) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  for (const screens::Screen& screen : screens::AllScreens()) {
    SCOPED_TRACE("screen " + std::to_string(screen.id));
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(screen.id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(resource, nullptr);
    const auto* header = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, resource)));
    EXPECT_EQ(header->cx, screen.width);
    EXPECT_EQ(header->cy, screen.height);
    // Wizard screens have a title bar; the waiting and progress screens none.
    EXPECT_EQ((header->style & WS_CAPTION) == WS_CAPTION, screen.kind == screens::Kind::Modal);

    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(screen.id), nullptr, PassiveProcedure, 0);
    ASSERT_NE(dialog, nullptr);
    int defaults = 0, defaultId = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      char className[32] = {};
      GetClassNameA(child, className, sizeof className);
      if (_stricmp(className, "Button") == 0 && (GetWindowLongA(child, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON) {
        ++defaults;
        defaultId = GetDlgCtrlID(child);
      }
    }
    for (const screens::Control& control : screen.controls) {
      HWND item = GetDlgItem(dialog, control.id);
      ASSERT_NE(item, nullptr) << "control " << control.id;
      char className[32] = {};
      GetClassNameA(item, className, sizeof className);
      EXPECT_TRUE(ClassFits(control.kind, className)) << "control " << control.id << " is a " << className;
    }
    // The default push button is the button Enter stands for, if any.
    bool enterIsButton = false;
    for (const screens::Control& control : screen.controls) {
      if (control.id == screen.enterCommand && control.kind == ControlKind::Button) enterIsButton = true;
    }
    EXPECT_EQ(defaults, enterIsButton ? 1 : 0);
    if (enterIsButton) {
      EXPECT_EQ(defaultId, screen.enterCommand);
    }
    DestroyWindow(dialog);
  }
}

// ---- texts, fonts, placement ---------------------------------------------------

void ExpectCatalogueTexts(HWND dialog, int id) {
  EXPECT_EQ(Text(dialog), wizard::Slot(screens::kTitleSlot));
  EXPECT_EQ(Text(dialog), " Microsoft Pocket PC 2002 Upgrade Utility - v 1.08");
  for (const screens::Control& control : screens::FindScreen(id)->controls) {
    if (control.slot == 0 || control.value != screens::Value::None) continue;
    EXPECT_EQ(Text(GetDlgItem(dialog, control.id)), wizard::Slot(control.slot)) << "control " << control.id;
  }
}

LOGFONTA FontOf(HWND item) {
  LOGFONTA font;
  std::memset(&font, 0, sizeof font);
  HFONT handle = reinterpret_cast<HFONT>(SendMessageA(item, WM_GETFONT, 0, 0));
  GetObjectA(handle, sizeof font, &font);
  return font;
}

TEST_F(Screens, WelcomeShowsCatalogueTextsHeadlineFontAndIsCentred) {
  int result = ShowWithUser(103, [](HWND dialog) {
    ExpectCatalogueTexts(dialog, 103);
    LOGFONTA headline = FontOf(GetDlgItem(dialog, 1038));
    EXPECT_EQ(headline.lfHeight, 17);
    EXPECT_EQ(headline.lfWeight, 900);
    EXPECT_STREQ(headline.lfFaceName, "Arial");
    LOGFONTA body = FontOf(GetDlgItem(dialog, 1073));
    EXPECT_NE(body.lfWeight, 900);
    RECT frame;
    GetWindowRect(dialog, &frame);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    Click(dialog, 1);
  });
  EXPECT_EQ(result, 0);
}

TEST_F(Screens, WarningBannerIsInArialBlack) {
  int result = ShowWithUser(166, [](HWND dialog) {
    ExpectCatalogueTexts(dialog, 166);
    EXPECT_STREQ(FontOf(GetDlgItem(dialog, 1182)).lfFaceName, "Arial Black");
    EXPECT_STREQ(FontOf(GetDlgItem(dialog, 1176)).lfFaceName, "Arial Black");
    Click(dialog, 2);
  });
  EXPECT_EQ(result, 1);
}

// ---- Enter and Escape ------------------------------------------------------------

TEST_F(Screens, EnterAndEscapeFollowEachScreensRule) {
  EXPECT_EQ(ShowWithUser(103, [](HWND dialog) { PressKey(dialog, VK_RETURN); }), 0);   // Next
  EXPECT_EQ(ShowWithUser(103, [](HWND dialog) { PressKey(dialog, VK_ESCAPE); }), 1);   // Cancel
  EXPECT_EQ(ShowWithUser(166, [](HWND dialog) { PressKey(dialog, VK_RETURN); }), 0);   // 1181
  EXPECT_EQ(ShowWithUser(125, [](HWND dialog) { PressKey(dialog, VK_RETURN); }), 2);   // Cancel is the default
  // The choice screen has no default button: Enter is 1, which leaves (0),
  // even though its first buttons are Upgrade and Restore.
  EXPECT_EQ(ShowWithUser(109, [](HWND dialog) { PressKey(dialog, VK_RETURN); }), 0);
  // An error screen without a default button ignores Enter; Escape is Exit.
  EXPECT_EQ(ShowWithUser(139, [](HWND dialog) {
              PressKey(dialog, VK_RETURN);
              Sleep(300);
              EXPECT_TRUE(IsWindowVisible(dialog)) << "Enter ended the error screen";
              ExpectCatalogueTexts(dialog, 139);
              PressKey(dialog, VK_ESCAPE);
            }),
            1);
}

// ---- the connection screen --------------------------------------------------------

bool No() { return false; }
bool Yes() { return true; }

TEST_F(Screens, ConnectionChoiceEnablesNextAndSetsTheConnection) {
  wizard::Ops.IsWindows95 = No;
  wizard::Ops.IsOldWindowsNT = No;
  int result = ShowWithUser(158, [](HWND dialog) {
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1)));
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1150), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1151), BST_UNCHECKED);
    SendMessageA(GetDlgItem(dialog, 1150), BM_CLICK, 0, 0);  // USB
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 1)));
    Click(dialog, 1);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Usb);
}

TEST_F(Screens, OnOldWindowsNtOnlySerialIsOffered) {
  wizard::Ops.IsWindows95 = No;
  wizard::Ops.IsOldWindowsNT = Yes;
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  int result = ShowWithUser(158, [](HWND dialog) {
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1150)));
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1151), BST_CHECKED);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 1)));
    PressKey(dialog, VK_RETURN);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Serial);
}

// ---- colours ---------------------------------------------------------------------

struct Colours {
  COLORREF text, background;
  bool brush;
};
Colours StaticColours(HWND dialog, int id) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, 0x123456);
  SetBkColor(dc, 0x654321);
  LRESULT brush = SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
  Colours colours{GetTextColor(dc), GetBkColor(dc), brush != 0};
  DeleteDC(dc);
  return colours;
}

constexpr COLORREF kRed = 0x0000FF;

TEST_F(Screens, WarningNoteIsRedOnTheScrollBarColour) {
  ShowWithUser(161, [](HWND dialog) {
    Colours note = StaticColours(dialog, 1157);
    EXPECT_EQ(note.text, kRed);
    EXPECT_EQ(note.background, GetSysColor(COLOR_SCROLLBAR));
    EXPECT_TRUE(note.brush);
    EXPECT_NE(StaticColours(dialog, 1045).text, kRed);
    Click(dialog, 2);
  });
}

TEST_F(Screens, IncompatibleImageHighlightsOnlyTheDifferingPair) {
  wizard::Wizard.ModelMismatch = true;
  ShowWithUser(123, [](HWND dialog) {
    EXPECT_EQ(StaticColours(dialog, 1056).background, kRed);
    EXPECT_EQ(StaticColours(dialog, 1060).background, kRed);
    EXPECT_NE(StaticColours(dialog, 1058).background, kRed);
    EXPECT_NE(StaticColours(dialog, 1057).background, kRed);  // versions never
    PressKey(dialog, VK_ESCAPE);
  });
  EXPECT_FALSE(wizard::Wizard.ModelMismatch);
}

// ---- workers ---------------------------------------------------------------------

std::atomic<DWORD> guiThread{0};
std::atomic<bool> sawPercent{false};
std::atomic<bool> sawPosition{false};

// A backup worker that moves the bar to its middle from its own thread and
// watches the dialog show it before it ends the screen.
unsigned long HalfwayBackup(void*) {
  screens::ScreenSession* session = wizard::BackupScreen.load();
  if (session == nullptr) return 1;
  session->SetProgressRange(2000);
  session->SetProgressPosition(1000);
  session->SetPercent(50);
  for (int i = 0; i < 250 && !(sawPercent && sawPosition); ++i) {
    Sleep(20);
    HWND dialog = WaitDialog(guiThread, 0);
    if (dialog == nullptr) continue;
    char percent[16] = {};
    SendMessageA(GetDlgItem(dialog, 1023), WM_GETTEXT, sizeof percent, reinterpret_cast<LPARAM>(percent));
    sawPercent = std::strcmp(percent, "50") == 0;
    sawPosition = SendMessageA(GetDlgItem(dialog, 1020), PBM_GETPOS, 0, 0) == 1000;
  }
  session->End(1);
  return 0;
}

TEST_F(Screens, BackupWorkerMovesTheBarAndPercentFromItsThread) {
  sawPercent = sawPosition = false;
  guiThread = GetCurrentThreadId();
  wizard::Ops.BackupWorker = HalfwayBackup;
  int result = ShowWithUser(132, [](HWND dialog) {
    PressKey(dialog, VK_ESCAPE);  // ignored: the user cannot stop a backup
  });
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(sawPercent);
  EXPECT_TRUE(sawPosition);
}

std::atomic<int> released{0};
void CountRelease() { ++released; }

// A download worker that arms the wake-up timer from its own thread and
// then never hears from the handheld.
unsigned long SilentDownload(void*) {
  if (screens::ScreenSession* session = wizard::ProgressScreen.load()) session->StartTimer(2, 20000);
  return 0;
}

TEST_F(Screens, TimerArmedByTheWorkerAbandonsAStalledTransfer) {
  platform::SetTimeScale(100);  // 20 wizard seconds in 200 ms
  released = 0;
  wizard::Ops.UpgradeDownloadWorker = SilentDownload;
  wizard::Ops.ReleaseTransferBuffers = CountRelease;
  int result = ShowWithUser(102, [](HWND) {});
  EXPECT_EQ(result, 2);
  EXPECT_EQ(released.load(), 1);
  EXPECT_TRUE(wizard::Workers.StopWorkers);
}

// The power poller enables and disables Next from its own thread.
std::atomic<int> acLine{0};
bool PowerStatusDouble(rapi::PowerStatus* status, bool) {
  status->ACLineStatus = static_cast<std::uint8_t>(acLine.load());
  return true;
}

bool WaitEnabled(HWND button, bool enabled) {
  for (int i = 0; i < 250; ++i) {
    if ((IsWindowEnabled(button) != FALSE) == enabled) return true;
    Sleep(20);
  }
  return false;
}

TEST_F(Screens, PowerWarningNextFollowsThePowerAdapter) {
  acLine = 0;
  wizard::Ops.CeGetSystemPowerStatusEx = PowerStatusDouble;
  int result = ShowWithUser(105, [](HWND dialog) {
    HWND next = GetDlgItem(dialog, 1);
    EXPECT_TRUE(WaitEnabled(next, false)) << "Next stays enabled on battery";
    acLine = 1;
    EXPECT_TRUE(WaitEnabled(next, true)) << "plugging in does not enable Next";
    acLine = 0;
    EXPECT_TRUE(WaitEnabled(next, false)) << "unplugging does not disable Next";
    acLine = 1;
    EXPECT_TRUE(WaitEnabled(next, true));
    PressKey(dialog, VK_RETURN);
  });
  EXPECT_EQ(result, 0);
}

// ---- the file dialog -------------------------------------------------------------

// Finds the common file dialog of thread `gui` (a dialog with a file-type
// combo box, cmb1 = 0x470).
HWND WaitFileDialog(DWORD gui) {
  for (int i = 0; i < 500; ++i) {
    HWND dialog = WaitDialog(gui, 0);
    if (dialog != nullptr && GetDlgItem(dialog, 0x470) != nullptr) return dialog;
    Sleep(20);
  }
  return nullptr;
}

TEST_F(Screens, SaveDialogOffersTheTwoFiltersAndAddsTheDefaultExtension) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "romwiz-save-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string typed = folder + "\\LUMOROM114";

  DWORD gui = GetCurrentThreadId();
  std::string filters;
  std::thread user([&] {
    HWND dialog = WaitFileDialog(gui);
    if (dialog == nullptr) {
      ADD_FAILURE() << "no file dialog";
      PostThreadMessageA(gui, WM_QUIT, 0, 0);
      return;
    }
    HWND types = GetDlgItem(dialog, 0x470);
    int count = static_cast<int>(SendMessageA(types, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      char item[128] = {};
      SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
      filters += std::string(item) + "|";
    }
    // The name box is an edit (edt1) or a combo box (cmb13), by dialog style.
    HWND name = GetDlgItem(dialog, 0x480);
    if (name == nullptr) name = GetDlgItem(dialog, 0x47C);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  char path[MAX_PATH] = "LUMOROM114";
  screens::FileDialogRequest request;
  request.save = true;
  request.initialFolder = "%USERPROFILE%\\My Documents";
  request.defaultExtension = "nbf";
  request.noChangeDir = true;
  bool chosen = frontEnd.ChooseFile(request, path, sizeof path);
  user.join();
  RemoveDirectoryA(folder.c_str());
  EXPECT_EQ(filters, "ROM image (*.nbf)|All files (*.*)|");
  ASSERT_TRUE(chosen);
  EXPECT_EQ(std::string(path), typed + ".nbf");
}

// ---- wait screens and the main window -------------------------------------------------

TEST_F(Screens, WaitScreenIsDrawnCentredAndClosed) {
  screens::ScreenSession* session = screens::OpenWaitScreen(122);
  ASSERT_NE(session, nullptr);
  HWND dialog = win32::DialogOf(*session);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(Text(GetDlgItem(dialog, 1072)), wizard::Slot(11057));
  RECT frame;
  GetWindowRect(dialog, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  screens::CloseWaitScreen(session);
  EXPECT_EQ(session, nullptr);
  EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(Screens, EndingTheWizardClosesTheMainWindow) {
  HWND main = CreateWindowA("STATIC", "SETUP", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(main, nullptr);
  win32::App.MainWindow = main;
  wizard::EndWizard();
  win32::App.MainWindow = nullptr;
  EXPECT_FALSE(IsWindow(main));
  EXPECT_EQ(screens::ShowScreen(103), 1);  // nothing shows once the wizard has ended: Escape's result
}

}  // namespace
