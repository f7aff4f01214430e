// The backup worker against a simulated handheld served in this process:
// the real backup.exe of the simulator dumps its flash chunk by chunk, the
// worker fetches it under the backup screen (132) of the scripted front-end.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "backup_program.h"
#include "platform/clock.h"
#include "sim_fixture.h"
#include "transfer/backup.h"
#include "image/image_check.h"
#include "image/image_file.h"
#include "flow/driver.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace {

using identifytest::ReadHostFile;
using identifytest::SimWorld;
using wizard::Wizard;

constexpr int kBackupScreen = 132;
constexpr int kCannotOpenImage = 141;    // "ERROR 104"
constexpr int kProgramFailure = 144;     // "ERROR 106"
constexpr int kBackupFailure = 147;      // "ERROR 109"
constexpr int kExit = 2;
constexpr std::uint32_t kChunk = wizard::kBackupChunkBytes;
// A chunk that never comes is waited for 2001 times 100 ms; this scale makes
// that about 2 real seconds.
constexpr std::uint32_t kImpatientScale = 100;

class Backup : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    Connect();
    Identify("LUMO-5800", "1.41", "ENG", "English");
    backupPath = scratch / "LUMOROM141.nbf";
    std::snprintf(Wizard.BackupFilePath, sizeof Wizard.BackupFilePath, "%s", backupPath.c_str());
    flash = ReadHostFile(state / "flash.bin");
  }

  void Identify(const char* model, const char* version, const char* lang, const char* language) {
    auto& info = Wizard.DeviceInfo;
    std::snprintf(info.ModelID, sizeof info.ModelID, "%s", model);
    std::snprintf(info.Version, sizeof info.Version, "%s", version);
    std::snprintf(info.Lang, sizeof info.Lang, "%s", lang);
    std::snprintf(info.Language, sizeof info.Language, "%s", language);
  }

  // Shows the backup screen as the driver does; its result. An error screen
  // that follows is left with Exit.
  int RunBackup() {
    for (int error : {kCannotOpenImage, kProgramFailure, kBackupFailure}) ui->Answer(error, kExit);
    return screens::ShowScreen(kBackupScreen);
  }

  // The backup file is sound, holds `chunks` chunks of the flash from 0 and
  // names the handheld in its header.
  void ExpectBackupOf(std::uint32_t chunks, const std::string& header19) {
    std::string file = ReadHostFile(backupPath);
    ASSERT_EQ(file.size(), wizard::kImageHeaderSize + std::size_t{chunks} * kChunk);
    EXPECT_EQ(file.substr(0, 19), header19);
    EXPECT_TRUE(file.compare(wizard::kImageHeaderSize, std::string::npos, flash, 0, file.size() - 32) == 0)
        << "the payload is not the flash from address 0";
    wizard::ImageCheck check = wizard::CheckImageFile(backupPath.c_str());
    EXPECT_TRUE(check.Sound()) << (check.problems.empty() ? "" : check.problems.front());
    EXPECT_TRUE(wizard::Workers.BackupDone);
    EXPECT_EQ(ui->Last(kBackupScreen).result, wizard::kBackupDone);
    EXPECT_EQ(ui->Walk(), std::vector<int>{kBackupScreen});
    // The handheld's program may run on and offer the chunk after the last
    // one fetched: the PC has no way to stop it, only its own copy goes.
    EXPECT_FALSE(DeviceHas(u"\\Temp\\backup.exe"));
    EXPECT_FALSE(Wizard.WizardEnded);
  }

  // The failure's screen was shown after the backup screen, the file stayed
  // behind unfinished and BackupDone stayed clear.
  void ExpectFailure(int screen, bool wizardEnds) {
    EXPECT_EQ(ui->Last(kBackupScreen).result, wizard::kBackupFailed);
    EXPECT_EQ(ui->Walk(), (std::vector<int>{kBackupScreen, screen}));
    EXPECT_FALSE(wizard::Workers.BackupDone);
    EXPECT_EQ(Wizard.WizardEnded.load(), wizardEnds);
    EXPECT_FALSE(wizard::CheckImageFile(backupPath.c_str()).Sound());
    EXPECT_FALSE(wizard::ImageFileChecksumHolds(backupPath.c_str()));
  }

  // What a failure after the file was made leaves: the chunks so far behind
  // a header whose checksum field reads "void".
  void ExpectVoidHeader() {
    std::string file = ReadHostFile(backupPath);
    ASSERT_GE(file.size(), wizard::kImageHeaderSize);
    EXPECT_EQ(file.substr(0, 32), "LUMO-5800-ENG-1.41-void---------");
  }

  identifytest::Scratch scratch;
  std::string backupPath;
  std::string flash;
};

TEST_F(Backup, EnglishBelow2FetchesSixtyTwoChunks) {
  RunBackup();
  // The payload is the flash byte for byte: no chunk was taken before it was whole.
  ExpectBackupOf(62, "LUMO-5800-ENG-1.41-");
  const auto& final = ui->Last(kBackupScreen).Final();
  EXPECT_EQ(final.progressRange, 62u * kChunk);
  EXPECT_EQ(final.progressPosition, 62u * kChunk);
  EXPECT_EQ(final.percent, 100u);
}

// A chunk the handheld holds back 150 s (as the wizard's clock runs) is
// waited for: the bound is 2001 looks 100 ms apart, about 200 s.
TEST_F(Backup, AChunkHeldBack150SecondsIsWaitedFor) {
  constexpr std::uint32_t kScale = 20;  // 150 s of the wizard's time: 7.5 real seconds
  constexpr std::uint64_t kHeldRealMs = 150 * 1000 / kScale;
  Change([](handheld::HandheldState& s) {
    s.faults.backupSlowChunk = 3;
    s.faults.backupSlowMs = kHeldRealMs;
  });
  platform::SetTimeScale(kScale);
  RunBackup();
  ExpectBackupOf(62, "LUMO-5800-ENG-1.41-");
}

TEST_F(Backup, English2AndJapaneseFetchTheirSizes) {
  Identify("LUMO-5800", "2.00", "ENG", "English");
  RunBackup();
  ExpectBackupOf(64, "LUMO-5800-ENG-2.00-");

  wizard::Workers.BackupDone = false;
  Distribute(DistributionFor("JPN"));
  Identify("LUMO-5800", "1.41", "JPN", "Japanese");
  RunBackup();
  EXPECT_EQ(ui->TimesShown(kBackupScreen), 2);
  std::string file = ReadHostFile(backupPath);
  EXPECT_EQ(file.size(), 32u + 126u * kChunk);
  EXPECT_EQ(file.substr(0, 19), "LUMO-5800-JPN-1.41-");
  EXPECT_TRUE(wizard::CheckImageFile(backupPath.c_str()).Sound());
}

TEST_F(Backup, ShortFieldsKeepTheirOffsetsAndTheFileReadsBack) {
  Identify("LUMO-58", "1.4", "ENG", "English");
  RunBackup();
  std::string file = ReadHostFile(backupPath);
  ASSERT_GE(file.size(), 32u);
  EXPECT_EQ(file.substr(0, 19), std::string("LUMO-58\0\0-ENG-1.4\0-", 19));
  ASSERT_EQ(wizard::ReadImageHeader(backupPath.c_str()), 1);
  EXPECT_STREQ(wizard::ImageHeader.ImageModelID, "LUMO-58");
  EXPECT_STREQ(wizard::ImageHeader.ImageVersion, "1.4");
  EXPECT_TRUE(wizard::CheckImageFile(backupPath.c_str()).Sound());
  EXPECT_TRUE(wizard::Workers.BackupDone);
}

// A model text the wizard accepts (here with a blank) is backed up and the
// file passes the wizard's own check: the backup's verdict is that check.
TEST_F(Backup, AModelWithABlankIsBackedUpAsTheWizardAcceptsIt) {
  Identify("LUMO 5800", "1.41", "ENG", "English");
  RunBackup();
  ExpectBackupOf(62, "LUMO 5800-ENG-1.41-");
  EXPECT_TRUE(wizard::ImageFileChecksumHolds(backupPath.c_str()));
}

TEST_F(Backup, AStalledProgramEndsTheWizardWithError109) {
  Change([](handheld::HandheldState& s) { s.faults.backupStallAfterChunks = 3; });
  platform::SetTimeScale(kImpatientScale);
  RunBackup();
  ExpectFailure(kBackupFailure, true);
  EXPECT_EQ(std::filesystem::file_size(backupPath), 32u + 3u * kChunk);  // left on the PC as far as it came
  ExpectVoidHeader();
  EXPECT_EQ(ui->Last(kBackupScreen).Final().percent, 3u * 100u / 62u);
}

TEST_F(Backup, AShortChunkIsNeverWrittenOrSummed) {
  Change([](handheld::HandheldState& s) { s.faults.backupShortChunk = 5; });
  platform::SetTimeScale(kImpatientScale);
  RunBackup();
  ExpectFailure(kBackupFailure, true);
  // Four whole chunks; the short fifth never reached the file.
  EXPECT_EQ(std::filesystem::file_size(backupPath), 32u + 4u * kChunk);
  ExpectVoidHeader();
}

TEST_F(Backup, AProgramThatDoesNotStartEndsTheWizardWithError106) {
  Change([](handheld::HandheldState& s) { s.faults.noStart = {"backup.exe"}; });
  RunBackup();
  EXPECT_EQ(ui->Walk(), (std::vector<int>{kBackupScreen, kProgramFailure}));
  EXPECT_TRUE(Wizard.WizardEnded);
  EXPECT_FALSE(std::filesystem::exists(backupPath));
  // The connection was closed: the handheld no longer answers this process.
  rapi::PowerStatus status;
  EXPECT_FALSE(rapi::CeGetSystemPowerStatusEx(&status, true));
}

TEST_F(Backup, AFileThatCannotBeCreatedShowsError104AndGoesOn) {
  backupPath = scratch / "no-such-folder/LUMOROM141.nbf";
  std::snprintf(Wizard.BackupFilePath, sizeof Wizard.BackupFilePath, "%s", backupPath.c_str());
  RunBackup();
  ExpectFailure(kCannotOpenImage, false);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\backup.exe"));  // its copy is cleaned up
}

// A write that fails half-way (here: a file-size limit of 1 MB) is a failed
// backup; the wizard goes on.
TEST_F(Backup, AWriteThatFailsHalfWayShowsError109AndGoesOn) {
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 4 * kChunk;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  RunBackup();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  ExpectFailure(kBackupFailure, false);
  EXPECT_LE(std::filesystem::file_size(backupPath), 4u * kChunk);
  ExpectVoidHeader();
  EXPECT_FALSE(DeviceHas(u"\\Temp\\backup.exe"));
}

}  // namespace
