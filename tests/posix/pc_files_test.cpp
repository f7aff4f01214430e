// PC files on Linux: Windows-style paths, reading and writing, listings,
// free space.
#include "platform/pc_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_environment.h"

namespace {

class PcFilesTest : public ::testing::Test {
 protected:
  f3test::TempFolder folder_;
};

TEST_F(PcFilesTest, BackslashesSeparateFolders) {
  std::filesystem::create_directories(folder_ / "English");
  std::ofstream(folder_ / "English/image.nbf") << "0123456789";
  std::string windowsPath = folder_.path() + "\\English\\image.nbf";
  EXPECT_TRUE(pc::FileExists(windowsPath.c_str()));
  pc::File* file = pc::OpenFile(windowsPath.c_str(), pc::OpenMode::ReadShared);
  ASSERT_NE(file, nullptr);
  std::uint64_t size = 0;
  EXPECT_TRUE(pc::FileSize(file, size));
  EXPECT_EQ(size, 10u);
  char buffer[16] = {};
  EXPECT_TRUE(pc::SeekFile(file, 4));
  EXPECT_EQ(pc::ReadFile(file, buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "456789");
  EXPECT_EQ(pc::ReadFile(file, buffer, sizeof buffer), 0);  // the end
  pc::CloseFile(file);
}

TEST_F(PcFilesTest, CreateAlwaysTruncatesAndWrites) {
  std::string path = folder_ / "out.nbf";
  std::ofstream(path) << "a much longer old content";
  pc::File* file = pc::OpenFile(path.c_str(), pc::OpenMode::CreateAlways);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(pc::WriteFile(file, "new", 3));
  EXPECT_TRUE(pc::SeekFile(file, 0));
  EXPECT_TRUE(pc::WriteFile(file, "N", 1));
  pc::CloseFile(file);
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "New");
}

TEST_F(PcFilesTest, FailuresAreReported) {
  EXPECT_EQ(pc::OpenFile((folder_ / "absent").c_str(), pc::OpenMode::ReadShared), nullptr);
  EXPECT_EQ(pc::OpenFile(folder_.path().c_str(), pc::OpenMode::ReadShared), nullptr);  // a folder
  EXPECT_EQ(pc::OpenFile("", pc::OpenMode::ReadShared), nullptr);
  EXPECT_EQ(pc::OpenFile((folder_ / "no/such/folder/x").c_str(), pc::OpenMode::CreateAlways), nullptr);
  EXPECT_FALSE(pc::FileExists((folder_ / "absent").c_str()));
  std::vector<pc::DirEntry> entries;
  EXPECT_FALSE(pc::ListFolder((folder_ / "absent").c_str(), entries));
  pc::CloseFile(nullptr);
}

TEST_F(PcFilesTest, ListFolderGivesNamesAttributesAndSizes) {
  std::filesystem::create_directories(folder_ / "Lang/Sub");
  std::ofstream(folder_ / "Lang/a.nbf") << "12345";
  std::ofstream(folder_ / "Lang/module.dat") << "";
  std::vector<pc::DirEntry> entries;
  ASSERT_TRUE(pc::ListFolder((folder_.path() + "\\Lang").c_str(), entries));
  ASSERT_EQ(entries.size(), 3u);
  auto find = [&](const std::string& name) {
    return *std::find_if(entries.begin(), entries.end(), [&](const pc::DirEntry& e) { return e.name == name; });
  };
  EXPECT_EQ(find("Sub").attributes, pc::kAttributeDirectory);
  EXPECT_NE(find("a.nbf").attributes & 0x80u, 0u);
  EXPECT_EQ(find("a.nbf").size, 5u);
  EXPECT_EQ(find("module.dat").size, 0u);
}

TEST_F(PcFilesTest, FolderAndFreeSpace) {
  EXPECT_EQ(pc::CurrentFolder(), std::filesystem::current_path().string());
  std::uint64_t bytes = 0;
  EXPECT_TRUE(pc::FreeBytes(folder_.path().c_str(), bytes));
  EXPECT_GT(bytes, 0u);
  std::uint64_t forNewFile = 0;  // a backup file that does not exist yet
  EXPECT_TRUE(pc::FreeBytes((folder_.path() + "\\LUMOROM141.nbf").c_str(), forNewFile));
  EXPECT_GT(forNewFile, 0u);
}

}  // namespace

// The transfer log's file: appended to, renamed over its old copy, and kept
// in the state folder, which is created.
TEST_F(PcFilesTest, AppendRenameAndTheTransferLogPlace) {
  std::string path = folder_ / "log";
  for (const char* text : {"one ", "two"}) {
    pc::File* file = pc::OpenFile(path.c_str(), pc::OpenMode::Append);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(pc::WriteFile(file, text, std::strlen(text)));
    pc::CloseFile(file);
  }
  std::ofstream(folder_ / "log.1") << "older";
  EXPECT_TRUE(pc::RenameFile(path.c_str(), (path + ".1").c_str()));
  std::ifstream in(path + ".1");
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "one two");
  EXPECT_FALSE(pc::FileExists(path.c_str()));

  const char* oldState = std::getenv("XDG_STATE_HOME");
  const char* oldHome = std::getenv("HOME");
  std::string savedState = oldState ? oldState : "", savedHome = oldHome ? oldHome : "";
  ::setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1);
  EXPECT_EQ(pc::TransferLogPath(), folder_ / "state/romwiz/transfer.log");
  EXPECT_TRUE(std::filesystem::is_directory(folder_ / "state/romwiz"));
  ::unsetenv("XDG_STATE_HOME");
  ::setenv("HOME", (folder_ / "home").c_str(), 1);
  EXPECT_EQ(pc::TransferLogPath(), folder_ / "home/.local/state/romwiz/transfer.log");
  EXPECT_TRUE(std::filesystem::is_directory(folder_ / "home/.local/state/romwiz"));
  if (oldState) ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1); else ::unsetenv("HOME");
}
