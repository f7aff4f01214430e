// The terminal front-end with its answers written into a pipe beforehand and
// its output and error streams captured in files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/text_resources.h"
#include "platform/posix/terminal_front_end.h"
#include "wizard/catalogue.h"
#include "flow/driver.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace {

using screens::ScreenSession;

std::string ReadAll(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  return text;
}

int readmeOpened = 0, clockSet = 0;

class Terminal : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English, whatever the locale
    wizard::ResetWizardState();
    saved_ = wizard::Ops;
    wizard::Ops.IsWindows95 = [] { return false; };
    wizard::Ops.IsOldWindowsNT = [] { return false; };
    wizard::Ops.OpenReadme = [](const char*) { ++readmeOpened; };
    wizard::Ops.SetDeviceClock = [] { ++clockSet; };
    wizard::Ops.ReleaseTransferBuffers = [] {};
    readmeOpened = clockSet = 0;
    output_ = std::tmpfile();
    errors_ = std::tmpfile();
  }
  void TearDown() override {
    screens::SetFrontEnd(nullptr);
    terminal_.reset();
    if (input_ >= 0) close(input_);
    std::fclose(output_);
    std::fclose(errors_);
    wizard::Ops = saved_;
    platform::SetTimeScale(1);
  }
  // Installs a terminal whose whole input is `answers`, already at its end.
  screens::TerminalFrontEnd& Feed(const std::string& answers) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
    close(fds[1]);
    input_ = fds[0];
    terminal_ = std::make_unique<screens::TerminalFrontEnd>(input_, output_, errors_);
    screens::SetFrontEnd(terminal_.get());
    return *terminal_;
  }
  std::string Output() { return ReadAll(output_); }
  std::string Errors() { return ReadAll(errors_); }

  wizard::Operations saved_;
  std::unique_ptr<screens::TerminalFrontEnd> terminal_;
  int input_ = -1;
  std::FILE* output_ = nullptr;
  std::FILE* errors_ = nullptr;
};

TEST_F(Terminal, PrintsTheBlockInLayoutOrderAndEndsByCaption) {
  Feed("cancel\n");
  EXPECT_EQ(screens::ShowScreen(166), 1);
  std::string expected =
      "[screen 166]\n"
      " Microsoft Pocket PC 2002 Upgrade Utility - v 1.08\n"
      " Warning:\n"
      " Microsoft Pocket PC 2002 upgrade will begin...\n";
  EXPECT_EQ(Output().substr(0, expected.size()), expected);
  EXPECT_NE(Output().find("Click Next to proceed. Click Cancel to quit.\nanswers: next, cancel, enter, escape\n"),
            std::string::npos);
  EXPECT_EQ(Errors(), "");
}

TEST_F(Terminal, CaptionsAndKeysAreCaseInsensitiveAndSendTheirCommands) {
  Feed("  NEXT \n");
  EXPECT_EQ(screens::ShowScreen(166), 0);  // caption "Next" of button 1181
  Feed("Enter\n");
  EXPECT_EQ(screens::ShowScreen(125), 2);  // Enter on the backup offer is Cancel
  Feed("escape\n");
  EXPECT_EQ(screens::ShowScreen(124), 2);
  Feed("upgrade\n");
  EXPECT_EQ(screens::ShowScreen(109), 1035);
}

TEST_F(Terminal, RejectsWhatTheScreenDoesNotAcceptAndWaitsForTheNextLine) {
  Feed("restore\n\nenter\nexit\n");
  EXPECT_EQ(screens::ShowScreen(139), 1);  // Enter is ignored on an error screen
  EXPECT_EQ(Errors(), "not accepted here: restore\nnot accepted here: \nnot accepted here: enter\n");
  EXPECT_NE(Output().find("ERROR 102: IMAGE FILE CHECKSUM ERROR\n"), std::string::npos);
  EXPECT_NE(Output().find("answers: exit, escape\n"), std::string::npos);
}

TEST_F(Terminal, EndOfInputActsAsEscape) {
  Feed("");
  EXPECT_EQ(screens::ShowScreen(103), 1);
  Feed("bogus");  // a last line without its line feed still counts
  EXPECT_EQ(screens::ShowScreen(130), 2);
  EXPECT_EQ(Errors(), "not accepted here: bogus\n");
}

TEST_F(Terminal, EndOfInputOnAScreenWithoutEscapeTakesItsDefaultButton) {
  Feed("");
  EXPECT_EQ(screens::ShowScreen(165), 1);  // only Exit (1175), the default button
  EXPECT_NE(Output().find("answers: exit, enter\n"), std::string::npos);
}

TEST_F(Terminal, RadioChoiceEnablesNextAndSetsTheConnection) {
  Feed("next\nenter\nUSB\nnext\n");
  EXPECT_EQ(screens::ShowScreen(158), 0);
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Usb);
  EXPECT_EQ(Errors(), "not accepted here: next\nnot accepted here: enter\n");
  std::string output = Output();
  EXPECT_NE(output.find("( ) USB\n( ) Serial\n"), std::string::npos);
  // Before the choice Next is not offered; after it, it is.
  std::size_t first = output.find("answers: usb, serial, cancel, escape\n");
  std::size_t second = output.find("answers: usb, serial, next, cancel, enter, escape\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
}

TEST_F(Terminal, CheckBoxTogglesByTheFirstWordOfItsCaption) {
  Feed("view\nfinish\n");
  EXPECT_EQ(screens::ShowScreen(160), 0);
  EXPECT_EQ(readmeOpened, 0);  // unticked before Finish
  EXPECT_EQ(clockSet, 1);
  std::string output = Output();
  EXPECT_NE(output.find("[x] View the readme file that contains important information.\n"), std::string::npos);
  EXPECT_NE(output.find("[ ] View the readme file that contains important information.\n"), std::string::npos);
  EXPECT_NE(output.find("answers: view, finish, enter, escape\n"), std::string::npos);

  Feed("view\nVIEW\nfinish\n");
  EXPECT_EQ(screens::ShowScreen(133), 0);
  EXPECT_EQ(readmeOpened, 1);  // ticked again
}

// In another language the screens show its captions; each answer is taken
// as shown (any case, accents included) and as its English word.
TEST_F(Terminal, TranslatedCaptionsAndTheEnglishWordsAreBothAnswers) {
  wizard::LoadTextCatalogueFor(0x0407, platform::LoadText);
  Feed("WEITER\n");
  EXPECT_EQ(screens::ShowScreen(166), 0);
  EXPECT_NE(Output().find("[screen 166]\n Microsoft Pocket PC 2002 Aktualisierungsprogramm - v 1.08\n"
                          " Warning:\n"),  // English-only, not blank
            std::string::npos);
  EXPECT_NE(Output().find("answers: weiter (next), abbrechen (cancel), enter, escape\n"), std::string::npos);
  Feed("next\n");
  EXPECT_EQ(screens::ShowScreen(103), 0);
  Feed("seriell\nusb\nNext\n");
  EXPECT_EQ(screens::ShowScreen(158), 0);
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Usb);
  EXPECT_NE(Output().find("( ) USB\n( ) Seriell\n"), std::string::npos);
  EXPECT_NE(Output().find("Important: Please be sure to select the correct connection type."),
            std::string::npos);  // the red note stays English
  Feed("view\nliesmich-datei\nLIESMICH-DATEI\nfertig stellen\n");
  EXPECT_EQ(screens::ShowScreen(160), 0);
  EXPECT_EQ(readmeOpened, 0);  // three toggles of a ticked box
  EXPECT_NE(Output().find("answers: liesmich-datei (view), fertig stellen (finish), enter, escape\n"),
            std::string::npos);
  EXPECT_EQ(Errors(), "");

  wizard::LoadTextCatalogueFor(0x040C, platform::LoadText);
  Feed("METTRE À JOUR\n");
  EXPECT_EQ(screens::ShowScreen(109), 1035);
  Feed("restore\n");
  EXPECT_EQ(screens::ShowScreen(109), 1036);

  wizard::LoadTextCatalogueFor(0x0804, platform::LoadText);
  Feed("\xE5\x8F\x96\xE6\xB6\x88\n");  // 取消, Cancel
  EXPECT_EQ(screens::ShowScreen(103), 1);
  EXPECT_NE(Output().find("\xE6\xAC\xA2\xE8\xBF\x8E\xE4\xBD\xBF\xE7\x94\xA8 Lumo Pocket PC"),
            std::string::npos);  // 欢迎使用 Lumo Pocket PC ...
  Feed("cancel\n");
  EXPECT_EQ(screens::ShowScreen(103), 1);
  EXPECT_EQ(Errors(), "");
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) ::setenv(name_, old_.c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST_F(Terminal, FileDialogReadsAPathAndAnEmptyLineCancels) {
  ScopedEnv documents("XDG_DOCUMENTS_DIR", "/home/lumo/Docs");
  auto& terminal = Feed("\n/tmp/backup\n");
  char path[260] = "LUMOROM114";
  screens::FileDialogRequest save;
  save.save = true;
  save.initialFolder = "%USERPROFILE%\\My Documents";
  save.defaultExtension = "nbf";
  EXPECT_FALSE(terminal.ChooseFile(save, path, sizeof path));
  EXPECT_TRUE(terminal.ChooseFile(save, path, sizeof path));
  EXPECT_STREQ(path, "/tmp/backup.nbf");  // the default extension is added
  // The wizard's "%USERPROFILE%\My Documents" is the Linux user's documents folder.
  EXPECT_NE(Output().find("[file dialog] save\nfolder: /home/lumo/Docs\nname: LUMOROM114\n"), std::string::npos);
}

TEST_F(Terminal, OpenDialogRefusesMissingFilesAndNamesTooLong) {
  char folder[] = "/tmp/romwiz-terminal-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  // No documents folder named and none in the home folder: the home folder.
  ScopedEnv documents("XDG_DOCUMENTS_DIR", nullptr);
  ScopedEnv home("HOME", folder);
  std::string image = std::string(folder) + "/image.nbf", plain = std::string(folder) + "/plain";
  for (const std::string& name : {image, plain}) std::fclose(std::fopen(name.c_str(), "w"));
  std::string longName = std::string(folder) + "/" + std::string(300, 'a');
  auto& terminal = Feed(std::string(folder) + "/missing\n" + longName + "\n" +
                        std::string(folder) + "/image\n" + plain + "\n");
  char path[260] = "";
  screens::FileDialogRequest open;
  open.initialFolder = "%USERPROFILE%\\My Documents";
  open.defaultExtension = "nbf";
  open.fileMustExist = true;
  EXPECT_TRUE(terminal.ChooseFile(open, path, sizeof path));
  EXPECT_EQ(path, image);  // typed without its extension
  EXPECT_TRUE(terminal.ChooseFile(open, path, sizeof path));
  EXPECT_EQ(path, plain);  // exists exactly as typed
  EXPECT_EQ(Errors(), "not accepted here: " + std::string(folder) + "/missing\nnot accepted here: " +
                          longName + "\n");
  EXPECT_NE(Output().find("[file dialog] open\nfolder: " + std::string(folder) + "\n"), std::string::npos);
  std::remove(image.c_str());
  std::remove(plain.c_str());
  std::remove(folder);
}

TEST_F(Terminal, WaitScreenPrintsItsBlockAndReturns) {
  Feed("next\n");
  ScreenSession* wait = screens::OpenWaitScreen(122);
  ASSERT_NE(wait, nullptr);
  screens::CloseWaitScreen(wait);
  EXPECT_EQ(Output(), "[screen 122]\nVerifying the information on your  Lumo Pocket PC... Please wait...\n");
  EXPECT_EQ(screens::ShowScreen(103), 0);  // the line was left for the next screen
}

unsigned long FinishingWorker(void*) {
  ScreenSession* screen = wizard::ProgressScreen;
  screen->SetPercent(40);
  platform::SleepMs(50);
  screen->SetPercent(100);
  screen->End(1);
  return 0;
}

unsigned long StalledWorker(void*) {
  wizard::ProgressScreen.load()->StartTimer(2, 20000);  // the wake-up never comes
  return 0;
}

TEST_F(Terminal, ProgressScreenPrintsPercentagesUntilItsWorkerEndsIt) {
  wizard::Ops.UpgradeDownloadWorker = FinishingWorker;
  Feed("next\n");
  EXPECT_EQ(screens::ShowScreen(102), 1);
  std::string output = Output();
  EXPECT_EQ(output.rfind("[screen 102]\nUpgrading the ROM image on your Lumo Pocket PC... \n", 0), 0u);
  // One line per change of the percentage, rising, ending at 100.
  std::string progress = output.substr(output.find("progress: "));
  std::vector<int> shown;
  for (std::size_t at = 0; at < progress.size();) {
    std::size_t end = progress.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    std::string line = progress.substr(at, end - at);
    ASSERT_EQ(line.rfind("progress: ", 0), 0u) << line;
    shown.push_back(std::atoi(line.c_str() + 10));
    at = end + 1;
  }
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), 100);
  for (std::size_t i = 1; i < shown.size(); ++i) EXPECT_LT(shown[i - 1], shown[i]);
  EXPECT_EQ(output.find("answers:"), std::string::npos);
  EXPECT_EQ(screens::ShowScreen(103), 0);  // the progress screen took no answer
}

TEST_F(Terminal, ProgressScreenTimerAbandonsAStalledTransfer) {
  platform::SetTimeScale(1000);  // 20000 wizard ms in 20 real ms
  wizard::Ops.UpgradeDownloadWorker = StalledWorker;
  Feed("");
  std::uint64_t start = platform::NowMs();
  EXPECT_EQ(screens::ShowScreen(102), 2);
  EXPECT_GE(platform::NowMs() - start, 20000u);
  EXPECT_TRUE(wizard::Workers.StopWorkers);
}

TEST_F(Terminal, AfterTheMainWindowClosesScreensReturnAtOnceUnseen) {
  auto& terminal = Feed("next\n");
  terminal.CloseMainWindow();
  ScreenSession session(*screens::FindScreen(103));
  EXPECT_EQ(terminal.RunModal(session), 1);  // its Escape result
  ScreenSession exitOnly(*screens::FindScreen(165));
  EXPECT_EQ(terminal.RunModal(exitOnly), 1);
  EXPECT_EQ(Output(), "");
  EXPECT_TRUE(terminal.MainWindowClosed());
}

}  // namespace
