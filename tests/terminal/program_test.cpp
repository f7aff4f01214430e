// The Linux romwiz program itself, run with its answers on standard input and
// a registry store of its own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/eventually.h"

namespace {

struct Outcome {
  std::string output;
  int exitCode = -1;
};

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/romwiz-program-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    config_ = folder;
    std::system(("mkdir -p " + config_ + "/romwiz").c_str());
  }
  void TearDown() override { std::system(("rm -rf " + config_).c_str()); }

  void ActiveSyncInstalled(int major, int minor) {
    std::ofstream store(config_ + "/romwiz/registry.reg");
    store << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows CE Services]\r\n"
          << "\"MajorVersion\"=dword:0000000" << major << "\r\n"
          << "\"MinorVersion\"=dword:0000000" << minor << "\r\n";
  }

  // Runs romwiz with `language` as its language variables (English unless
  // a test says otherwise, whatever the locale of the machine).
  Outcome Start(const std::string& input, const std::string& language = "ROMWIZ_LANGUAGE=0x0409") {
    std::string inputFile = config_ + "/input";
    std::ofstream(inputFile) << input;
    std::string command = "env -u LC_ALL -u LC_MESSAGES -u LANG -u ROMWIZ_LANGUAGE " + language +
                          " XDG_CONFIG_HOME=" + config_ + " ROMWIZ_TIME_SCALE=100 timeout 60 " +
                          ROMWIZ_PROGRAM + " < " + inputFile + " 2>/dev/null";
    Outcome run;
    std::FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  static std::vector<int> Screens(const std::string& output) {
    std::vector<int> screens;
    for (std::size_t at = output.find("[screen "); at != std::string::npos;
         at = output.find("[screen ", at + 1))
      screens.push_back(std::atoi(output.c_str() + at + 8));
    return screens;
  }

  std::string config_;
};

TEST_F(Program, CancelOnTheFirstScreenEndsWithExitCodeZero) {
  ActiveSyncInstalled(3, 5);
  Outcome run = Start("cancel\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Screens(run.output), std::vector<int>{166});
  EXPECT_NE(run.output.find(" Microsoft Pocket PC 2002 upgrade will begin..."), std::string::npos);
}

TEST_F(Program, FourNextsWalkTheIntroductoryScreens) {
  ActiveSyncInstalled(3, 5);
  Outcome run = Start("next\nnext\nnext\nnext\n");
  EXPECT_EQ(run.exitCode, 0);
  std::vector<int> walk = Screens(run.output);
  ASSERT_GE(walk.size(), 4u);
  EXPECT_EQ(std::vector<int>(walk.begin(), walk.begin() + 4), (std::vector<int>{166, 103, 121, 161}));
}

TEST_F(Program, AGermanLocaleShowsGermanTextsAndEnglishWhereOnlyEnglishExists) {
  ActiveSyncInstalled(3, 5);
  Outcome run = Start("next\nweiter\nNext\nWEITER\n", "LANG=de_DE.UTF-8");
  EXPECT_EQ(run.exitCode, 0);
  std::vector<int> walk = Screens(run.output);
  ASSERT_GE(walk.size(), 4u);
  EXPECT_EQ(std::vector<int>(walk.begin(), walk.begin() + 4), (std::vector<int>{166, 103, 121, 161}));
  for (const char* shown : {
           // 103 in German
           "[screen 103]\n Microsoft Pocket PC 2002 Aktualisierungsprogramm - v 1.08\n"
           "Willkommen beim ROM-Aktualisierungsprogramm f\xC3\xBCr den Lumo Pocket PC.\n",
           "Weiter: fortfahren. Abbrechen: Programm beenden.\nanswers: weiter (next), abbrechen (cancel)",
           // English-only texts: 121 and 161 with its red note (158 needs a
           // handheld: the terminal tests show its red note)
           "Before you continue, please prepare your PC:",
           "Please prepare your Lumo Pocket PC:",
           "NOTE:   Please do not interact with your Lumo Pocket PC unless instructed to do so."})
    EXPECT_NE(run.output.find(shown), std::string::npos) << shown;

  // LC_MESSAGES before LANG, and ROMWIZ_LANGUAGE before both.
  run = Start("", "LANG=de_DE.UTF-8 LC_MESSAGES=fr_FR.UTF-8");
  EXPECT_NE(run.output.find(" Utilitaire de mise \xC3\xA0 niveau Microsoft Pocket PC 2002 - v 1.08\n"),
            std::string::npos);
  run = Start("", "LC_ALL=de_DE.UTF-8 ROMWIZ_LANGUAGE=0x0804");
  EXPECT_NE(run.output.find(" Microsoft Pocket PC 2002 \xE5\x8D\x87\xE7\xBA\xA7\xE5\xB7\xA5\xE5\x85\xB7"),
            std::string::npos);  // 升级工具
  run = Start("", "LANG=ja_JP.UTF-8");  // no Japanese texts: English
  EXPECT_NE(run.output.find(" Microsoft Pocket PC 2002 Upgrade Utility - v 1.08\n"), std::string::npos);
}

TEST_F(Program, WithoutActiveSyncItShowsError115) {
  Outcome run = Start("");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Screens(run.output), std::vector<int>{165});
  EXPECT_NE(run.output.find("ERROR 115: INVALID VERSION OF ACTIVESYNC\n"), std::string::npos);
  ActiveSyncInstalled(3, 1);  // too old
  run = Start("exit\n");
  EXPECT_EQ(Screens(run.output), std::vector<int>{165});
}

TEST_F(Program, ASecondCopyEndsSilently) {
  ActiveSyncInstalled(3, 5);
  // The first copy's answers come through a pipe the test holds open, so it
  // waits on its first screen for as long as the second copy takes. It is
  // the test's own child, so its end is seen by waitpid, not by whether a
  // process of that number still exists.
  const std::string input = config_ + "/first.in", output = config_ + "/first.out";
  ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
  const int answers = ::open(input.c_str(), O_RDWR);
  ASSERT_GE(answers, 0);
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    const int in = ::open(input.c_str(), O_RDONLY);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || null < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(null, 2);
    ::close(answers);
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    ::execl(ROMWIZ_PROGRAM, ROMWIZ_PROGRAM, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // The program takes its lock before it shows anything: once its first
  // screen is out, it holds it.
  auto firstLine = [&] {
    std::ifstream shown(output);
    std::string line;
    std::getline(shown, line);
    return line;
  };
  const bool firstShown = testsupport::Eventually([&] { return firstLine() == "[screen 166]"; });
  Outcome second;
  if (firstShown) second = Start("next\n");
  // The end of its answers ends the first copy.
  ::close(answers);
  int status = 0;
  const bool firstEnded = testsupport::Eventually([&] { return ::waitpid(first, &status, WNOHANG) == first; });
  if (!firstEnded) {
    ::kill(first, SIGKILL);
    ::waitpid(first, &status, 0);
  }
  ASSERT_TRUE(firstShown) << firstLine();
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.output, "");
  EXPECT_TRUE(firstEnded) << "the first copy did not end at the end of its answers";
}

}  // namespace
