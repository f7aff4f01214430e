// The simulated handheld on its state folder, driven directly (no network).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "distribution.h"
#include "handheld.h"
#include "programs.h"
#include "wire/rapi_protocol.h"
#include "sim_test_support.h"
#include "violations.h"

using namespace handheld;

namespace {

std::string WideAt(const std::vector<std::uint8_t>& data, std::size_t offset, std::size_t units) {
  std::string out;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint16_t u = static_cast<std::uint16_t>(data[offset + 2 * i] | (data[offset + 2 * i + 1] << 8));
    if (u == 0) break;
    out += static_cast<char>(u);
  }
  return out;
}

class HandheldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simtest::MakeHandheld(folder.Path());
    hh = std::make_unique<Handheld>(folder.Path());
  }
  void TearDown() override { hh->EndSession(session); }

  std::uint32_t Start(const std::u16string& program) {
    ProcessIds ids;
    return hh->CreateProcess(session, program, u"", ids);
  }

  simtest::ScratchFolder folder;
  std::unique_ptr<Handheld> hh;
  Session session;
};

TEST_F(HandheldTest, CreatedHandheldHoldsItsRomIdentityInFlash) {
  EXPECT_EQ(std::filesystem::file_size(hh->FlashPath()), 32u * 1024 * 1024);
  RomIdentity id;
  ASSERT_TRUE(hh->Identity(id));
  EXPECT_EQ(id.modelId, "LUMO-5800");
  EXPECT_EQ(id.version, "1.14.00");
  EXPECT_EQ(id.language, "ENG");
  // A second create on the same folder keeps the handheld unless asked to replace it.
  CreateOptions other = simtest::DefaultHandheld();
  other.identity.version = "1.41.00";
  EXPECT_NE(CreateHandheld(folder.Path(), other), "");
  ASSERT_TRUE(hh->Identity(id));
  EXPECT_EQ(id.version, "1.14.00");
}

// The flash answers in the SA-1110's bank 0 (128 MB); a larger one would
// cover the UART and the other devices above it, and is refused.
TEST_F(HandheldTest, FlashLargerThanItsWindowIsRefusedAtCreate) {
  simtest::ScratchFolder other;
  CreateOptions options = simtest::DefaultHandheld();
  options.flashMb = 129;
  const std::string problem = CreateHandheld(other.Path(), options);
  EXPECT_NE(problem.find("does not fit the board's flash window of 128 MB"), std::string::npos) << problem;
  EXPECT_NE(problem.find("UART at 0xA8050000"), std::string::npos) << problem;
  EXPECT_FALSE(std::filesystem::exists(other.Path() + "/flash.bin"));
  options.flashMb = 128;
  EXPECT_EQ(CreateHandheld(other.Path(), options), "");
}

TEST_F(HandheldTest, AssetFileReportsTheRomNowInFlash) {
  ASSERT_EQ(Start(u"\\Windows\\CreateAssetFile.exe"), 0u);
  std::vector<std::uint8_t> asset;
  ASSERT_TRUE(hh->ReadDeviceFile(u"\\Windows\\nrvAssetData.dat", asset));
  ASSERT_GE(asset.size(), 2578u);
  EXPECT_EQ(WideAt(asset, kAssetModelOffset, kAssetModelUnits), "LUMO-5800");
  EXPECT_EQ(WideAt(asset, kAssetVersionOffset, kAssetVersionUnits), "1.14.00 ENG");

  // Flashing a distribution image (its payload from address 0) changes what the handheld reports.
  simtest::ScratchFolder dist;
  DistributionOptions options;
  options.identity = {"LUMO-5800", "1.41.00", "ENG"};
  options.sizeMb = 1;
  std::string image;
  ASSERT_EQ(WriteDistribution(dist.Path(), options, &image), "");
  std::vector<std::uint8_t> file = simtest::ReadHostFile(image);
  std::fstream flash(hh->FlashPath(), std::ios::binary | std::ios::in | std::ios::out);
  flash.write(reinterpret_cast<const char*>(file.data() + kImageHeaderSize),
              static_cast<std::streamsize>(file.size() - kImageHeaderSize));
  flash.close();
  ASSERT_EQ(Start(u"\\windows\\createassetfile.exe"), 0u);
  ASSERT_TRUE(hh->ReadDeviceFile(u"\\Windows\\nrvAssetData.dat", asset));
  EXPECT_EQ(WideAt(asset, kAssetVersionOffset, kAssetVersionUnits), "1.41.00 ENG");
}

TEST_F(HandheldTest, ProbeWritesFlashSizeUnlessFaulted) {
  // A damaged copy (here one byte) does not start, and the handheld says why.
  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\GetType.exe", {'x'}));
  EXPECT_EQ(Start(u"\\Temp\\GetType.exe"), RAPI_ERROR_BAD_EXE_FORMAT);
  const std::vector<std::string> violations = handheld::LoadViolations(hh->Folder());
  ASSERT_EQ(violations.size(), 1u);
  EXPECT_NE(violations[0].find("GetType.exe is not the distribution's file"), std::string::npos) << violations[0];

  const std::string intact = handheld::DistributedProgramText("GetType.exe");
  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\GetType.exe", std::vector<std::uint8_t>(intact.begin(), intact.end())));
  ASSERT_EQ(Start(u"\\Temp\\GetType.exe"), 0u);
  std::vector<std::uint8_t> type;
  ASSERT_TRUE(hh->ReadDeviceFile(u"\\temp\\type.dat", type));
  ASSERT_EQ(type.size(), 2u);
  EXPECT_EQ(type[1], 32);
  ASSERT_EQ(hh->DeleteFile(u"\\temp\\type.dat"), 0u);

  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) { s.faults.probeSilent = true; }));
  EXPECT_EQ(Start(u"\\Temp\\GetType.exe"), 0u);  // it starts ...
  EXPECT_FALSE(hh->ReadDeviceFile(u"\\temp\\type.dat", type));  // ... and never writes

  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) { s.faults.noStart.insert("gettype.exe"); }));
  EXPECT_EQ(Start(u"\\Temp\\GetType.exe"), RAPI_ERROR_BAD_EXE_FORMAT);
}

TEST_F(HandheldTest, OnlyExistingKnownProgramsStart) {
  EXPECT_EQ(Start(u"\\Temp\\GetType.exe"), RAPI_ERROR_FILE_NOT_FOUND);  // not copied there yet
  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\other.exe", {'x'}));
  EXPECT_EQ(Start(u"\\Temp\\other.exe"), RAPI_ERROR_BAD_EXE_FORMAT);
  EXPECT_EQ(Start(u"\\NoSuchFolder\\GetType.exe"), RAPI_ERROR_PATH_NOT_FOUND);
}

TEST_F(HandheldTest, NamesIgnoreCaseAndPathsStayInsideTheTree) {
  std::uint32_t handle = 0;
  ASSERT_EQ(hh->CreateFile(session, u"\\WINDOWS\\lumotoday.DLL", kGenericRead, kShareRead, kOpenExisting, 0, handle),
            0u);
  EXPECT_EQ(hh->CloseHandle(session, handle), 0u);
  EXPECT_EQ(hh->CreateFile(session, u"\\..\\state.txt", kGenericRead, kShareRead, kOpenExisting, 0, handle),
            RAPI_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(hh->CreateFile(session, u"\\Temp\\..\\..\\flash.bin", kGenericRead, kShareRead, kOpenExisting, 0, handle),
            RAPI_ERROR_INVALID_PARAMETER);
}

TEST_F(HandheldTest, CreateDispositionsAndSharingBehaveLikeWindows) {
  std::uint32_t a = 0, b = 0;
  ASSERT_EQ(hh->CreateFile(session, u"\\Temp\\x.bin", kGenericRead | kGenericWrite, kShareRead | kShareWrite,
                           kCreateNew, kAttrHidden, a),
            0u);
  std::uint32_t written = 0;
  const std::uint8_t bytes[] = {1, 2, 3};
  ASSERT_EQ(hh->WriteFile(session, a, bytes, 3, written), 0u);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(hh->CreateFile(session, u"\\Temp\\X.BIN", kGenericWrite, 0, kCreateNew, 0, b), RAPI_ERROR_FILE_EXISTS);
  // Open by another handle that does not share writing with the first one's write access.
  EXPECT_EQ(hh->CreateFile(session, u"\\Temp\\x.bin", kGenericRead, kShareRead, kOpenExisting, 0, b),
            RAPI_ERROR_SHARING_VIOLATION);
  // A file in use cannot be moved aside or deleted.
  EXPECT_EQ(hh->MoveFile(u"\\Temp\\x.bin", u"\\Temp\\y.bin"), RAPI_ERROR_SHARING_VIOLATION);
  EXPECT_EQ(hh->DeleteFile(u"\\Temp\\x.bin"), RAPI_ERROR_SHARING_VIOLATION);
  ASSERT_EQ(hh->CloseHandle(session, a), 0u);
  ASSERT_EQ(hh->MoveFile(u"\\Temp\\x.bin", u"\\Temp\\y.bin"), 0u);

  std::uint32_t search = 0;
  FindEntry entry;
  ASSERT_EQ(hh->FindFirst(session, u"\\Temp\\*.*", search, entry), 0u);
  EXPECT_EQ(entry.name, "y.bin");
  EXPECT_EQ(entry.size, 3u);
  EXPECT_EQ(entry.attributes & kAttrHidden, kAttrHidden);  // the attribute moved with the file
  EXPECT_EQ(hh->FindNext(session, search, entry), RAPI_ERROR_NO_MORE_FILES);
  EXPECT_EQ(hh->CloseHandle(session, search), 0u);
  EXPECT_EQ(hh->CreateFile(session, u"\\Temp\\missing", kGenericRead, 0, kOpenExisting, 0, b),
            RAPI_ERROR_FILE_NOT_FOUND);
}

TEST_F(HandheldTest, FindMatchesWildcardsAndReportsFolders) {
  std::vector<FindEntry> entries;
  ASSERT_EQ(hh->Fs().Find(u"\\Windows\\lumo*.dll", entries), 0u);
  EXPECT_EQ(entries.size(), 3u);
  ASSERT_EQ(hh->Fs().Find(u"\\*.*", entries), 0u);
  bool sawWindows = false;
  for (const FindEntry& e : entries)
    if (e.name == "Windows") sawWindows = (e.attributes == kAttrDirectory);
  EXPECT_TRUE(sawWindows);
  EXPECT_EQ(hh->Fs().Find(u"\\Windows\\*.lnk", entries), RAPI_ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("Get?ype.EXE", "gettype.exe"));
  EXPECT_FALSE(WildcardMatch("*.lnk", "a.lnk.txt"));
}

TEST_F(HandheldTest, FoldersAreCreatedAndRemovedOnlyWhenEmpty) {
  ASSERT_EQ(hh->CreateDirectory(u"\\Temp\\Sub"), 0u);
  EXPECT_EQ(hh->CreateDirectory(u"\\temp\\sub"), RAPI_ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\Sub\\a.lnk", {'#'}));
  EXPECT_EQ(hh->RemoveDirectory(u"\\Temp\\Sub"), RAPI_ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(hh->CopyFile(u"\\Temp\\Sub\\a.lnk", u"\\Temp\\b.lnk", true), 0u);
  EXPECT_EQ(hh->CopyFile(u"\\Temp\\Sub\\a.lnk", u"\\Temp\\b.lnk", true), RAPI_ERROR_FILE_EXISTS);
  ASSERT_EQ(hh->DeleteFile(u"\\Temp\\Sub\\a.lnk"), 0u);
  EXPECT_EQ(hh->RemoveDirectory(u"\\Temp\\Sub"), 0u);
}

TEST_F(HandheldTest, PowerStatusFollowsTheAdapter) {
  EXPECT_EQ(hh->PowerStatus()[0], 1);
  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) { s.onAdapter = false; s.batteryPercent = 20; }));
  const std::vector<std::uint8_t> status = hh->PowerStatus();
  ASSERT_EQ(status.size(), RAPI_POWER_STATUS_SIZE);
  EXPECT_EQ(status[0], 0);
  EXPECT_EQ(status[2], 20);
}

std::vector<std::uint8_t> ClockBlock(std::uint16_t year, std::uint16_t month, std::uint16_t day, std::uint16_t hour,
                                     std::uint16_t minute, std::int32_t bias, const std::string& zone) {
  std::vector<std::uint8_t> block(kClockBlockSize, 0);
  rapi_put_u32(block.data(), static_cast<std::uint32_t>(bias));
  for (std::size_t i = 0; i < zone.size(); ++i) block[4 + 2 * i] = static_cast<std::uint8_t>(zone[i]);
  const std::uint16_t fields[8] = {year, month, 0, day, hour, minute, 30, 0};
  for (int i = 0; i < 8; ++i) {
    block[kTimeZoneInfoSize + 2 * i] = static_cast<std::uint8_t>(fields[i] & 0xFF);
    block[kTimeZoneInfoSize + 2 * i + 1] = static_cast<std::uint8_t>(fields[i] >> 8);
  }
  return block;
}

// The library as the distribution carries it.
std::vector<std::uint8_t> ClockLibrary() {
  const std::string text = DistributedProgramText("SetSystemTime.dll");
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST_F(HandheldTest, SetSysTimeSetsClockAndZoneFromTheBlock) {
  // A damaged copy is not loaded: the clock stays and the handheld says why.
  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Windows\\SetSystemTime.dll", {'x'}));
  std::int32_t result = RAPI_S_OK;
  std::vector<std::uint8_t> output;
  ASSERT_EQ(hh->Invoke(u"SetSystemTime.dll", u"SetSysTime", ClockBlock(2031, 3, 4, 5, 6, -60, "W. Europe"), result,
                       output),
            0u);
  EXPECT_NE(result, RAPI_S_OK);
  EXPECT_EQ(hh->State().clockOffsetMs, 0);
  const std::vector<std::string> violations = LoadViolations(hh->Folder());
  ASSERT_EQ(violations.size(), 1u);
  EXPECT_NE(violations[0].find("SetSystemTime.dll is not the distribution's file"), std::string::npos)
      << violations[0];

  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Windows\\SetSystemTime.dll", ClockLibrary()));
  ASSERT_EQ(hh->Invoke(u"SetSystemTime.dll", u"SetSysTime", ClockBlock(2031, 3, 4, 5, 6, -60, "W. Europe"), result,
                       output),
            0u);
  EXPECT_EQ(result, RAPI_S_OK);
  // 2031-03-04 05:06:30 UTC is 1930367190 s after 1970.
  EXPECT_NEAR(static_cast<double>(hh->ClockUtcMs()), 1930367190000.0, 5000.0);
  const HandheldState state = hh->State();
  EXPECT_EQ(state.tzBias, -60);
  EXPECT_EQ(state.tzStandardName, "W. Europe");
  EXPECT_EQ(state.tzBlock.size(), kTimeZoneInfoSize);

  // A short block or an impossible date leaves the clock alone.
  const std::int64_t before = state.clockOffsetMs;
  EXPECT_NE((hh->Invoke(u"SetSystemTime.dll", u"SetSysTime", std::vector<std::uint8_t>(100), result, output), result),
            RAPI_S_OK);
  hh->Invoke(u"SetSystemTime.dll", u"SetSysTime", ClockBlock(2031, 13, 4, 5, 6, 0, "X"), result, output);
  EXPECT_NE(result, RAPI_S_OK);
  EXPECT_EQ(hh->State().clockOffsetMs, before);
}

// The names come from the PC: a line break in one must not end its line in
// state.txt, where "mode=off" would switch the handheld off.
TEST_F(HandheldTest, ZoneNamesWithLineBreaksAreKeptWhole) {
  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Windows\\SetSystemTime.dll", ClockLibrary()));
  std::int32_t result = -1;
  std::vector<std::uint8_t> output;
  const std::string name = "A\nmode=off\r\\n";
  hh->Invoke(u"SetSystemTime.dll", u"SetSysTime", ClockBlock(2031, 3, 4, 5, 6, 0, name), result, output);
  ASSERT_EQ(result, RAPI_S_OK);
  const HandheldState state = hh->State();
  EXPECT_EQ(state.tzStandardName, name);
  EXPECT_EQ(state.mode, Mode::WinCE);
}

TEST_F(HandheldTest, InvokeNeedsTheLibraryOnTheHandheld) {
  std::int32_t result = 0;
  std::vector<std::uint8_t> output;
  ASSERT_EQ(hh->Invoke(u"SetSystemTime.dll", u"SetSysTime", ClockBlock(2030, 1, 1, 0, 0, 0, ""), result, output), 0u);
  EXPECT_NE(result, RAPI_S_OK);
  EXPECT_EQ(hh->State().clockOffsetMs, 0);
}

TEST_F(HandheldTest, StateAndAttributesSurviveAReopen) {
  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) {
    s.mode = Mode::BootLoader;
    s.onAdapter = false;
    s.faults.failCalls.insert("CeCreateProcess");
  }));
  std::uint32_t handle = 0;
  ASSERT_EQ(hh->CreateFile(session, u"\\Temp\\h.exe", kGenericWrite, 0, kCreateNew, kAttrHidden, handle), 0u);
  hh->EndSession(session);

  Handheld again(folder.Path());
  const HandheldState state = again.State();
  EXPECT_EQ(state.mode, Mode::BootLoader);
  EXPECT_FALSE(state.onAdapter);
  EXPECT_EQ(state.faults.failCalls.count("CeCreateProcess"), 1u);
  std::vector<FindEntry> entries;
  ASSERT_EQ(again.Fs().Find(u"\\Temp\\h.exe", entries), 0u);
  EXPECT_EQ(entries[0].attributes & kAttrHidden, kAttrHidden);
}

TEST(HandheldState, TextFormatRoundTripsAndToleratesDamage) {
  HandheldState s;
  s.mode = Mode::Loader;
  s.batteryPercent = 7;
  s.clockOffsetMs = -123456789;
  s.tzBlock = {0, 1, 0xFE, 0xFF};
  s.faults.noStart = {"gettype.exe", "backup.exe"};
  s.faults.noAnswer = true;
  s.faults.backupStallAfterChunks = 3;
  s.faults.backupShortChunk = 5;
  HandheldState back;
  ParseState(FormatState(s), back);
  EXPECT_EQ(FormatState(back), FormatState(s));
  EXPECT_EQ(back.faults.backupShortChunk, 5u);
  HandheldState damaged;
  ParseState("battery_percent=lots\nmode=sideways\npower=battery\n", damaged);
  EXPECT_EQ(damaged.batteryPercent, 100u);
  EXPECT_EQ(damaged.mode, Mode::WinCE);
  EXPECT_FALSE(damaged.onAdapter);
}

}  // namespace
