// Shows romwiz.exe's screens one after another, each as the wizard opens it
// (the catalogue's texts, the dialog front-end's fonts and pictures, the
// program's own resources and manifest), so that the click-through suite can
// check the layout of every template at another DPI without running every
// journey again. The workers of the progress screens do nothing and no
// remote call is made.
//   screen_gallery.exe <showing file> <next file> [template...]
// For each template (all of the screen table's when none is named) it writes
// the number into <showing file>, keeps the screen up until <next file>
// appears, deletes that file and goes on; at the end it writes "done".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "flow/driver.h"
#include "platform/text_resources.h"
#include "platform/win32/dialog_front_end.h"
#include "platform/win32/win32_app.h"
#include "wizard/catalogue.h"
#include "wizard/screen_session.h"
#include "wizard/screen_table.h"
#include "wizard/wizard_state.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kLongestShowMs = 120000;  // a suite that went away does not leave it running

win32::DialogFrontEnd frontEnd;

unsigned long IdleWorker(void*) { return 0; }
void Nothing() {}
bool No() { return false; }
bool OnExternalPower(rapi::PowerStatus* status, bool) {
  status->ACLineStatus = 1;
  return true;
}

void Write(const char* path, const char* text) {
  if (std::FILE* file = std::fopen(path, "w")) {
    std::fputs(text, file);
    std::fclose(file);
  }
}

// Handles the screen's messages until `next` appears (then deletes it).
void ShowUntil(const char* next) {
  const DWORD start = GetTickCount();
  while (GetFileAttributesA(next) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < kLongestShowMs) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
  }
  DeleteFileA(next);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: screen_gallery <showing file> <next file> [template...]\n");
    return 2;
  }
  wizard::Ops = wizard::DefaultOperations();
  wizard::Ops.UpgradeDownloadWorker = IdleWorker;
  wizard::Ops.ResumeDownloadWorker = IdleWorker;
  wizard::Ops.BackupWorker = IdleWorker;
  wizard::Ops.ReleaseTransferBuffers = Nothing;
  wizard::Ops.ShutDownTransfer = Nothing;
  wizard::Ops.ClosePort = Nothing;
  wizard::Ops.MarkCriticalState = Nothing;
  wizard::Ops.IsWindows95 = No;
  wizard::Ops.IsOldWindowsNT = No;
  wizard::Ops.CeGetSystemPowerStatusEx = OnExternalPower;
  LoadLibraryA("COMCTL32.dll");  // the progress bar's class, as romwiz.exe does
  screens::SetFrontEnd(&frontEnd);
  wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English
  win32::LoadSidePicture();

  std::vector<int> templates;
  for (int i = 3; i < argc; ++i) templates.push_back(std::atoi(argv[i]));
  if (templates.empty()) {
    for (const screens::Screen& screen : screens::AllScreens()) templates.push_back(screen.id);
  }
  for (int number : templates) {
    screens::ScreenSession* session = screens::OpenWaitScreen(number);
    if (session == nullptr) continue;
    char text[16];
    std::snprintf(text, sizeof text, "%d", number);
    Write(argv[1], text);
    ShowUntil(argv[2]);
    screens::CloseWaitScreen(session);
  }
  Write(argv[1], "done");
  win32::FreeSidePicture();
  return 0;
}
