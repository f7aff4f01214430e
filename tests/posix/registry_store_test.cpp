// The REGEDIT4 registry store on Linux: what it writes, what it reads back,
// hand-edited files, and the atomic replacement of the file.
#include "platform/pc_registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "test_environment.h"

namespace {

using pcreg::Root;

class RegistryStoreTest : public ::testing::Test {
 protected:
  pcreg::Key* Create(Root root, const char* path) {
    pcreg::Key* key = nullptr;
    EXPECT_EQ(pcreg::CreateKey(root, path, key), pcreg::kSuccess);
    return key;
  }
  long Set(pcreg::Key* key, const char* name, std::uint32_t type, const std::string& bytes) {
    return pcreg::SetValue(key, name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
  // Reads a value of a key opened afresh: the file is read again.
  std::string Get(Root root, const char* path, const char* name, std::uint32_t* type = nullptr) {
    pcreg::Key* key = nullptr;
    if (pcreg::OpenKey(root, path, false, key) != pcreg::kSuccess) return "<no key>";
    char data[2048];
    std::uint32_t size = sizeof data, valueType = 0;
    long result = pcreg::QueryValue(key, name, valueType, data, size);
    pcreg::CloseKey(key);
    if (result != pcreg::kSuccess) return "<no value>";
    if (type) *type = valueType;
    return std::string(data, size);
  }
  f3test::ScopedRegistry registry_;
};

TEST_F(RegistryStoreTest, WritesARegeditFile) {
  pcreg::Key* key = Create(Root::CurrentUser, "Software\\Veltrom");
  std::uint32_t ten = 10;
  ASSERT_EQ(pcreg::SetValue(key, "Flash", pcreg::kTypeDword, &ten, 4), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "FlashFile", pcreg::kTypeString, std::string("C:\\rom\\\"x\".nbf") + '\0'), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "", pcreg::kTypeString, std::string("default") + '\0'), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "Lang", pcreg::kTypeString, std::string("ENG\0\0\0", 6)), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "Raw", 3, std::string("\x01\xff", 2)), pcreg::kSuccess);
  pcreg::CloseKey(key);
  EXPECT_EQ(registry_.Text(),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Veltrom]\n"
            "\"Flash\"=dword:0000000a\n"
            "\"FlashFile\"=\"C:\\\\rom\\\\\\\"x\\\".nbf\"\n"
            "@=\"default\"\n"
            "\"Lang\"=hex(1):45,4e,47,00,00,00\n"
            "\"Raw\"=hex:01,ff\n");
}

TEST_F(RegistryStoreTest, ValuesReadBackExactly) {
  pcreg::Key* key = Create(Root::LocalMachine, "SOFTWARE\\Test");
  std::string blob;
  for (int i = 0; i < 300; ++i) blob += static_cast<char>(i & 0xFF);  // wraps over lines
  ASSERT_EQ(Set(key, "Blob", 3, blob), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "NoNul", pcreg::kTypeString, "COM3"), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "Tab", pcreg::kTypeString, std::string("a\tb") + '\0'), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "Quote\"Name\\", pcreg::kTypeString, std::string("v") + '\0'), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "Ansi", pcreg::kTypeString, std::string("caf\xe9") + '\0'), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "Odd", pcreg::kTypeDword, std::string("\x01\x02", 2)), pcreg::kSuccess);
  pcreg::CloseKey(key);
  std::uint32_t type = 0;
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Test", "Blob", &type), blob);
  EXPECT_EQ(type, 3u);
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Test", "NoNul", &type), "COM3");
  EXPECT_EQ(type, pcreg::kTypeString);
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Test", "Tab"), std::string("a\tb") + '\0');
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Test", "quote\"name\\"), std::string("v") + '\0');
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Test", "Ansi"), std::string("caf\xe9") + '\0');
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Test", "Odd", &type), std::string("\x01\x02", 2));
  EXPECT_EQ(type, pcreg::kTypeDword);
  // The two roots are separate trees in the one file.
  EXPECT_EQ(Get(Root::CurrentUser, "SOFTWARE\\Test", "Blob"), "<no key>");
}

TEST_F(RegistryStoreTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
  pcreg::Key* key = Create(Root::CurrentUser, "Software\\Veltrom");
  ASSERT_EQ(Set(key, "ModelID", pcreg::kTypeString, std::string("A") + '\0'), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "MODELID", pcreg::kTypeString, std::string("B") + '\0'), pcreg::kSuccess);
  pcreg::CloseKey(key);
  EXPECT_EQ(Get(Root::CurrentUser, "SOFTWARE\\VELTROM", "modelid"), std::string("B") + '\0');
  EXPECT_NE(registry_.Text().find("\"ModelID\"=\"B\""), std::string::npos);
  EXPECT_NE(registry_.Text().find("[HKEY_CURRENT_USER\\Software\\Veltrom]"), std::string::npos);
}

TEST_F(RegistryStoreTest, EnumerationFollowsTheRegistryRules) {
  pcreg::Key* key = Create(Root::CurrentUser, "Software\\E");
  ASSERT_EQ(Set(key, "Short", pcreg::kTypeString, std::string("ab") + '\0'), pcreg::kSuccess);
  ASSERT_EQ(Set(key, "Big", 3, std::string(50, 'x')), pcreg::kSuccess);
  ASSERT_EQ(Set(key, std::string(120, 'n').c_str(), 3, "x"), pcreg::kSuccess);
  char name[100];
  char data[10];
  std::uint32_t type = 0, size = sizeof data;
  EXPECT_EQ(pcreg::EnumValue(key, 0, name, sizeof name, type, data, size), pcreg::kSuccess);
  EXPECT_STREQ(name, "Short");
  EXPECT_EQ(size, 3u);
  size = sizeof data;
  EXPECT_EQ(pcreg::EnumValue(key, 1, name, sizeof name, type, data, size), pcreg::kMoreData);
  size = sizeof data;
  EXPECT_EQ(pcreg::EnumValue(key, 2, name, sizeof name, type, data, size), pcreg::kMoreData);
  size = sizeof data;
  EXPECT_EQ(pcreg::EnumValue(key, 3, name, sizeof name, type, data, size), pcreg::kNoMoreItems);
  pcreg::CloseKey(key);
}

TEST_F(RegistryStoreTest, KeysOpenCreateAndDelete) {
  pcreg::Key* key = nullptr;
  EXPECT_EQ(pcreg::OpenKey(Root::CurrentUser, "Software\\Veltrom", false, key), pcreg::kFileNotFound);
  EXPECT_EQ(key, nullptr);
  pcreg::CloseKey(Create(Root::CurrentUser, "Software\\Veltrom"));
  // The parent exists because its child does.
  ASSERT_EQ(pcreg::OpenKey(Root::CurrentUser, "Software", false, key), pcreg::kSuccess);
  EXPECT_EQ(pcreg::DeleteSubKey(key, "Veltrom"), 5);  // a read-only key deletes nothing
  pcreg::CloseKey(key);
  ASSERT_EQ(pcreg::OpenKey(Root::CurrentUser, "Software", true, key), pcreg::kSuccess);
  EXPECT_EQ(Set(key, "x", 3, "x"), pcreg::kSuccess);
  pcreg::CloseKey(Create(Root::CurrentUser, "Software\\Veltrom\\Sub"));
  EXPECT_NE(pcreg::DeleteSubKey(key, "Veltrom"), pcreg::kSuccess);  // it has a sub-key
  pcreg::Key* veltrom = nullptr;
  ASSERT_EQ(pcreg::OpenKey(Root::CurrentUser, "Software\\Veltrom", true, veltrom), pcreg::kSuccess);
  EXPECT_EQ(pcreg::DeleteSubKey(veltrom, "sub"), pcreg::kSuccess);
  pcreg::CloseKey(veltrom);
  EXPECT_EQ(pcreg::DeleteSubKey(key, "VELTROM"), pcreg::kSuccess);
  EXPECT_EQ(pcreg::DeleteSubKey(key, "Veltrom"), pcreg::kFileNotFound);
  pcreg::CloseKey(key);
  EXPECT_EQ(pcreg::OpenKey(Root::CurrentUser, "Software\\Veltrom", false, key), pcreg::kFileNotFound);
  EXPECT_EQ(Get(Root::CurrentUser, "Software", "x"), "x");
}

TEST_F(RegistryStoreTest, HandEditedFilesAreReadOnEveryCall) {
  pcreg::Key* key = Create(Root::LocalMachine, "SOFTWARE\\Microsoft\\Windows CE Services");
  registry_.Write(
      "\xEF\xBB\xBFREGEDIT4\r\n"
      "; ActiveSync as a script wrote it\r\n"
      "\r\n"
      "[HKLM\\SOFTWARE\\Microsoft\\Windows CE Services]\r\n"
      "\"MajorVersion\"=dword:3\r\n"
      "\"SerialPort\"=\"COM2\"\r\n"
      "\"Wrapped\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "this line is not understood\r\n"
      "\"Bad\"=dword:xyz\r\n");
  char data[16];
  std::uint32_t type = 0, size = sizeof data;
  // The key opened before the edit sees the edited file.
  ASSERT_EQ(pcreg::QueryValue(key, "MajorVersion", type, data, size), pcreg::kSuccess);
  EXPECT_EQ(type, pcreg::kTypeDword);
  std::uint32_t major = 0;
  std::memcpy(&major, data, 4);
  EXPECT_EQ(major, 3u);
  pcreg::CloseKey(key);
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Microsoft\\Windows CE Services", "SerialPort"),
            std::string("COM2") + '\0');
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Microsoft\\Windows CE Services", "Wrapped"),
            std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(Get(Root::LocalMachine, "SOFTWARE\\Microsoft\\Windows CE Services", "Bad"), "<no value>");
}

TEST_F(RegistryStoreTest, AFileThatIsNotARegistryIsNeverOverwritten) {
  registry_.Write("my notes, not a registry\n");
  pcreg::Key* key = nullptr;
  EXPECT_NE(pcreg::CreateKey(Root::CurrentUser, "Software\\Veltrom", key), pcreg::kSuccess);
  EXPECT_NE(pcreg::OpenKey(Root::CurrentUser, "Software", false, key), pcreg::kSuccess);
  EXPECT_EQ(registry_.Text(), "my notes, not a registry\n");
}

TEST_F(RegistryStoreTest, AFailedWriteLeavesTheOldFileWhole) {
  pcreg::Key* key = Create(Root::CurrentUser, "Software\\Veltrom");
  ASSERT_EQ(Set(key, "Keep", pcreg::kTypeString, std::string("old") + '\0'), pcreg::kSuccess);
  std::string before = registry_.Text();

  // Limit the size of any file this process writes to just over the current
  // store: writing the larger new store then fails part-way (as on a full disk).
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = old;
  tight.rlim_cur = before.size() + 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  long result = Set(key, "Big", 3, std::string(4096, 'b'));
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);

  EXPECT_NE(result, pcreg::kSuccess);
  EXPECT_EQ(registry_.Text(), before);
  // No temporary file is left beside the store.
  auto folder = std::filesystem::path(registry_.StoreFile()).parent_path();
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
  // And the store still works afterwards.
  EXPECT_EQ(Set(key, "Big", 3, std::string(4096, 'b')), pcreg::kSuccess);
  pcreg::CloseKey(key);
  EXPECT_EQ(Get(Root::CurrentUser, "Software\\Veltrom", "Keep"), std::string("old") + '\0');
}

TEST_F(RegistryStoreTest, WithoutXdgConfigHomeTheStoreLivesUnderHome) {
  f3test::TempFolder home;
  std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", home.path().c_str(), 1);
  pcreg::CloseKey(Create(Root::CurrentUser, "Software\\Veltrom"));
  ::setenv("HOME", oldHome.c_str(), 1);
  EXPECT_TRUE(std::filesystem::exists(home / ".config/romwiz/registry.reg"));
}

}  // namespace
