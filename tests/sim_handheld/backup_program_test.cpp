// The handheld's backup.exe, driven as the PC drives it: fetch a whole
// \Temp\image.nb, delete it, wait for the next one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "backup_program.h"
#include "handheld.h"
#include "programs.h"
#include "wire/rapi_protocol.h"
#include "sim_test_support.h"

using namespace handheld;

namespace {

constexpr std::uint32_t kFlashMb = 2;  // 8 chunks
constexpr std::uint32_t kChunks = kFlashMb * 1024 * 1024 / kBackupChunkBytes;
// A generous bound on how long the program may take to offer a chunk.
constexpr auto kChunkDeadline = std::chrono::seconds(20);

class BackupProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateOptions options = simtest::DefaultHandheld();
    options.flashMb = kFlashMb;
    options.romMb = 1;
    simtest::MakeHandheld(folder.Path(), options);
    hh = std::make_unique<Handheld>(folder.Path());
    flash = simtest::ReadHostFile(hh->FlashPath());
    std::string text = ProgramFileText("backup.exe");
    ASSERT_TRUE(hh->WriteDeviceFile(kBackupProgramPath, std::vector<std::uint8_t>(text.begin(), text.end())));
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> guard(hh->Lock());
      hh->EndSession(pc);
    }
    hh.reset();  // stops what still runs
  }

  std::uint32_t Start() {
    std::lock_guard<std::mutex> guard(hh->Lock());
    ProcessIds ids;
    return hh->CreateProcess(pc, kBackupProgramPath, u"", ids);
  }

  void Fault(const std::function<void(Faults&)>& change) {
    ASSERT_TRUE(hh->ChangeState([&](HandheldState& s) { change(s.faults); }));
  }

  // The file's bytes once it holds `bytes` of them; empty when it never does.
  std::vector<std::uint8_t> FetchChunk(std::uint32_t bytes = kBackupChunkBytes) {
    const auto deadline = std::chrono::steady_clock::now() + kChunkDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> guard(hh->Lock());
        std::uint32_t handle = 0;
        if (hh->CreateFile(pc, kBackupChunkPath, kGenericRead, kShareRead, kOpenExisting, 0, handle) == 0) {
          std::vector<std::uint8_t> data;
          EXPECT_EQ(hh->ReadFile(pc, handle, kBackupChunkBytes + 1, data), 0u);
          hh->CloseHandle(pc, handle);
          if (data.size() == bytes) {
            EXPECT_EQ(hh->DeleteFile(kBackupChunkPath), 0u);
            return data;
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return {};
  }

  bool ChunkFileThere() {
    std::lock_guard<std::mutex> guard(hh->Lock());
    return hh->DeviceFileExists(kBackupChunkPath);
  }

  simtest::ScratchFolder folder;
  std::unique_ptr<Handheld> hh;
  Session pc;
  std::vector<std::uint8_t> flash;
};

TEST_F(BackupProgramTest, DumpsTheWholeFlashInOrderAndStopsAtItsEnd) {
  const std::uint32_t cutBefore = BackupChunksCutShort();
  // Started twice, as by a wizard that ran again: the later start replaces
  // the earlier one, so only one program writes.
  ASSERT_EQ(Start(), 0u);
  ASSERT_EQ(Start(), 0u);
  std::vector<std::uint8_t> dump;
  for (std::uint32_t i = 0; i < kChunks; ++i) {
    std::vector<std::uint8_t> chunk = FetchChunk();
    ASSERT_EQ(chunk.size(), kBackupChunkBytes) << "chunk " << i;
    dump.insert(dump.end(), chunk.begin(), chunk.end());
  }
  WaitForProgramWork(*hh);  // the end of the flash ends it
  EXPECT_FALSE(ChunkFileThere());
  EXPECT_TRUE(dump == flash);
  EXPECT_EQ(BackupChunksCutShort(), cutBefore);
}

// The PC has no signal to stop the program: deleting its file does not, a
// reset of the handheld does.
TEST_F(BackupProgramTest, RunsOnWithoutItsFileUntilTheHandheldResets) {
  ASSERT_EQ(Start(), 0u);
  ASSERT_EQ(FetchChunk().size(), kBackupChunkBytes);
  {
    std::lock_guard<std::mutex> guard(hh->Lock());
    ASSERT_EQ(hh->DeleteFile(kBackupProgramPath), 0u);
  }
  std::vector<std::uint8_t> second = FetchChunk();
  ASSERT_EQ(second.size(), kBackupChunkBytes);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + kBackupChunkBytes));
  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) { ++s.boots; }));
  WaitForProgramWork(*hh);  // returns only when the program has ended by itself
}

// A slow handheld: the chunk of the fault's number comes no sooner than the
// fault's time after the previous one went, and whole.
TEST_F(BackupProgramTest, SlowChunkIsHeldBackThenWrittenWhole) {
  constexpr std::uint64_t kHoldMs = 300;
  Fault([](Faults& f) {
    f.backupSlowChunk = 2;
    f.backupSlowMs = kHoldMs;
  });
  ASSERT_EQ(Start(), 0u);
  ASSERT_EQ(FetchChunk().size(), kBackupChunkBytes);
  const auto taken = std::chrono::steady_clock::now();
  std::vector<std::uint8_t> second = FetchChunk();
  const auto waited = std::chrono::steady_clock::now() - taken;
  ASSERT_EQ(second.size(), kBackupChunkBytes);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + kBackupChunkBytes));
  EXPECT_GE(waited, std::chrono::milliseconds(kHoldMs));
  EXPECT_EQ(FetchChunk().size(), kBackupChunkBytes);  // the rest as usual
}

TEST_F(BackupProgramTest, StallAndShortChunkFaults) {
  Fault([](Faults& f) { f.backupStallAfterChunks = 2; f.backupShortChunk = 2; });
  ASSERT_EQ(Start(), 0u);
  std::vector<std::uint8_t> first = FetchChunk();
  ASSERT_EQ(first.size(), kBackupChunkBytes);
  WaitForProgramWork(*hh);  // two chunks, then no more
  std::vector<std::uint8_t> second = FetchChunk(kBackupChunkBytes - kBackupShortBytes);
  ASSERT_EQ(second.size(), kBackupChunkBytes - kBackupShortBytes);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + kBackupChunkBytes));
  EXPECT_FALSE(ChunkFileThere());
}

TEST_F(BackupProgramTest, StartsOnlyFromAWholeCopyUnlessFaulted) {
  std::string text = ProgramFileText("backup.exe");
  ASSERT_TRUE(hh->WriteDeviceFile(kBackupProgramPath, std::vector<std::uint8_t>(text.begin(), text.end() - 1)));
  EXPECT_EQ(Start(), RAPI_ERROR_BAD_EXE_FORMAT);
  ASSERT_TRUE(hh->WriteDeviceFile(kBackupProgramPath, std::vector<std::uint8_t>(text.begin(), text.end())));
  Fault([](Faults& f) { f.noStart = {"backup.exe"}; });
  EXPECT_EQ(Start(), RAPI_ERROR_BAD_EXE_FORMAT);
  Fault([](Faults& f) { f.noStart.clear(); });
  EXPECT_EQ(Start(), 0u);
}

// A program's appends respect the PC's open handle, as a writer on the
// handheld would.
TEST_F(BackupProgramTest, AppendsWaitForAnOpenReaderAndNeverRecreateAFile) {
  const std::u16string path = u"\\Temp\\piece.bin";
  EXPECT_EQ(hh->AppendDeviceFile(path, {1, 2}, false), RAPI_ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(hh->AppendDeviceFile(path, {1, 2}, true), 0u);
  EXPECT_EQ(hh->AppendDeviceFile(path, {9}, true), RAPI_ERROR_FILE_EXISTS);
  std::uint32_t handle = 0;
  ASSERT_EQ(hh->CreateFile(pc, path, kGenericRead, kShareRead, kOpenExisting, 0, handle), 0u);
  EXPECT_EQ(hh->AppendDeviceFile(path, {3}, false), RAPI_ERROR_SHARING_VIOLATION);
  hh->CloseHandle(pc, handle);
  ASSERT_EQ(hh->AppendDeviceFile(path, {3}, false), 0u);
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(hh->ReadDeviceFile(path, bytes));
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3}));
}

}  // namespace
