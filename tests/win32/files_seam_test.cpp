// The PC files seam on the Win32 file API.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/pc_files.h"

namespace {

class FilesSeam : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "romwiz-files-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    std::vector<pc::DirEntry> entries;
    pc::ListFolder(folder_.c_str(), entries);
    for (const auto& entry : entries) {
      std::string path = folder_ + "\\" + entry.name;
      if (entry.attributes & pc::kAttributeDirectory) RemoveDirectoryA(path.c_str());
      else DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(folder_.c_str());
  }
  std::string Path(const char* name) const { return folder_ + "\\" + name; }
  void Write(const char* name, const std::string& bytes) {
    pc::File* file = pc::OpenFile(Path(name).c_str(), pc::OpenMode::CreateAlways);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(pc::WriteFile(file, bytes.data(), bytes.size()));
    pc::CloseFile(file);
  }
  std::string folder_;
};

TEST_F(FilesSeam, WrittenBytesReadBackWithSizeAndSeek) {
  std::string bytes(70000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  Write("image.nbf", bytes);

  pc::File* file = pc::OpenFile(Path("image.nbf").c_str(), pc::OpenMode::ReadShared);
  ASSERT_NE(file, nullptr);
  std::uint64_t size = 0;
  ASSERT_TRUE(pc::FileSize(file, size));
  EXPECT_EQ(size, bytes.size());

  // A second reader is allowed while the first holds it (shared read).
  pc::File* second = pc::OpenFile(Path("image.nbf").c_str(), pc::OpenMode::ReadShared);
  EXPECT_NE(second, nullptr);
  pc::CloseFile(second);

  ASSERT_TRUE(pc::SeekFile(file, 65536));
  char piece[8192];
  long got = pc::ReadFile(file, piece, sizeof piece);
  ASSERT_EQ(got, 70000 - 65536);
  EXPECT_TRUE(std::equal(piece, piece + got, bytes.begin() + 65536));
  EXPECT_EQ(pc::ReadFile(file, piece, sizeof piece), 0);  // the end
  pc::CloseFile(file);
}

TEST_F(FilesSeam, CreateAlwaysTruncatesAndMissingFilesDoNotOpen) {
  Write("backup.nbf", std::string(1000, 'x'));
  Write("backup.nbf", "abc");
  pc::File* file = pc::OpenFile(Path("backup.nbf").c_str(), pc::OpenMode::ReadShared);
  ASSERT_NE(file, nullptr);
  std::uint64_t size = 0;
  ASSERT_TRUE(pc::FileSize(file, size));
  EXPECT_EQ(size, 3u);
  pc::CloseFile(file);

  EXPECT_EQ(pc::OpenFile(Path("missing.nbf").c_str(), pc::OpenMode::ReadShared), nullptr);
  EXPECT_TRUE(pc::FileExists(Path("backup.nbf").c_str()));
  EXPECT_FALSE(pc::FileExists(Path("missing.nbf").c_str()));
  pc::CloseFile(nullptr);  // ignored
}

TEST_F(FilesSeam, ListingHasFilesAndFoldersWithoutDotEntries) {
  Write("module.dat", "12345");
  ASSERT_TRUE(CreateDirectoryA(Path("English").c_str(), nullptr));
  std::vector<pc::DirEntry> entries;
  ASSERT_TRUE(pc::ListFolder(folder_.c_str(), entries));
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& entry : entries) {
    EXPECT_NE(entry.name, ".");
    EXPECT_NE(entry.name, "..");
    if (entry.name == "module.dat") {
      EXPECT_EQ(entry.size, 5u);
      EXPECT_EQ(entry.attributes & pc::kAttributeDirectory, 0u);
    } else {
      EXPECT_EQ(entry.name, "English");
      EXPECT_NE(entry.attributes & pc::kAttributeDirectory, 0u);
    }
  }
  EXPECT_FALSE(pc::ListFolder(Path("NoSuchFolder").c_str(), entries));
}

TEST_F(FilesSeam, CurrentFolderAndFreeSpaceOfTheDrive) {
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  EXPECT_EQ(pc::CurrentFolder(), current);
  std::uint64_t free = 0;
  // The backup screen asks with the first two characters of the path.
  ASSERT_TRUE(pc::FreeBytes(std::string(folder_, 0, 2).c_str(), free));
  EXPECT_GT(free, 0u);
}

}  // namespace

// The transfer log's file: appends land at the end, a rename replaces the
// old copy, and the log lives in %TEMP%.
TEST_F(FilesSeam, AppendRenameAndTheTransferLogPlace) {
  Write("log.1", "older");
  for (const char* text : {"one ", "two"}) {
    pc::File* file = pc::OpenFile(Path("log").c_str(), pc::OpenMode::Append);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(pc::WriteFile(file, text, std::strlen(text)));
    pc::CloseFile(file);
  }
  EXPECT_TRUE(pc::RenameFile(Path("log").c_str(), Path("log.1").c_str()));
  EXPECT_FALSE(pc::FileExists(Path("log").c_str()));
  pc::File* file = pc::OpenFile(Path("log.1").c_str(), pc::OpenMode::ReadShared);
  ASSERT_NE(file, nullptr);
  char text[16] = {};
  EXPECT_EQ(pc::ReadFile(file, text, sizeof text), 7);
  EXPECT_STREQ(text, "one two");
  pc::CloseFile(file);

  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  EXPECT_EQ(pc::TransferLogPath(), std::string(temp) + "romwiz-transfer.log");
}
