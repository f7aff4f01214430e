// The registry seam on the real (Wine) registry: values come back exactly as
// stored, enumeration follows RegEnumValueA, keys close and delete.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "checks/host_checks.h"
#include "platform/pc_registry.h"

namespace {

using pcreg::Root;

const std::string kTestKey = "Software\\RomwizWin32Test" + std::to_string(GetCurrentProcessId());

class RegistrySeam : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pcreg::CreateKey(Root::CurrentUser, kTestKey.c_str(), key_), pcreg::kSuccess); }
  void TearDown() override {
    pcreg::CloseKey(key_);
    pcreg::Key* software = nullptr;
    if (pcreg::OpenKey(Root::CurrentUser, "Software", true, software) == pcreg::kSuccess) {
      pcreg::DeleteSubKey(software, kTestKey.substr(std::strlen("Software\\")).c_str());
      pcreg::CloseKey(software);
    }
  }
  pcreg::Key* key_ = nullptr;
};

TEST_F(RegistrySeam, StringStoredWithoutTerminatorComesBackWithoutOne) {
  ASSERT_EQ(pcreg::SetValue(key_, "SerialPort", pcreg::kTypeString, "COM2", 4), pcreg::kSuccess);
  unsigned char data[100];
  std::memset(data, 0x5A, sizeof data);
  std::uint32_t type = 0, size = sizeof data;
  ASSERT_EQ(pcreg::QueryValue(key_, "SerialPort", type, data, size), pcreg::kSuccess);
  EXPECT_EQ(type, pcreg::kTypeString);
  ASSERT_GE(size, 4u);
  EXPECT_EQ(std::memcmp(data, "COM2", 4), 0);
  // Nothing is written past what the call reports.
  for (std::uint32_t i = size; i < sizeof data; ++i) ASSERT_EQ(data[i], 0x5A) << "byte " << i;
}

TEST_F(RegistrySeam, DwordRoundTripAndTooSmallBuffer) {
  std::uint32_t written = 35;
  ASSERT_EQ(pcreg::SetValue(key_, "MinorVersion", pcreg::kTypeDword, &written, 4), pcreg::kSuccess);
  std::uint32_t read = 0, type = 0, size = 4;
  ASSERT_EQ(pcreg::QueryValue(key_, "MinorVersion", type, &read, size), pcreg::kSuccess);
  EXPECT_EQ(type, pcreg::kTypeDword);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(read, 35u);

  ASSERT_EQ(pcreg::SetValue(key_, "Long", pcreg::kTypeString, "0123456789", 11), pcreg::kSuccess);
  char small[4] = {};
  size = sizeof small;
  EXPECT_EQ(pcreg::QueryValue(key_, "Long", type, small, size), pcreg::kMoreData);
  EXPECT_EQ(size, 11u);  // the size it needs

  size = 4;
  EXPECT_EQ(pcreg::QueryValue(key_, "Missing", type, &read, size), pcreg::kFileNotFound);
}

TEST_F(RegistrySeam, EnumerationByRisingIndexEndsWithNoMoreItems) {
  ASSERT_EQ(pcreg::SetValue(key_, "First", pcreg::kTypeString, "a", 2), pcreg::kSuccess);
  ASSERT_EQ(pcreg::SetValue(key_, "SerialPort", pcreg::kTypeString, "COM3", 5), pcreg::kSuccess);
  std::string names;
  std::uint32_t index = 0;
  for (;; ++index) {
    char name[100] = {};
    char data[100] = {};
    std::uint32_t type = 0, size = sizeof data;
    long result = pcreg::EnumValue(key_, index, name, sizeof name, type, data, size);
    if (result == pcreg::kNoMoreItems) break;
    ASSERT_EQ(result, pcreg::kSuccess);
    names += std::string(name) + ";";
  }
  EXPECT_EQ(index, 2u);
  EXPECT_NE(names.find("First;"), std::string::npos);
  EXPECT_NE(names.find("SerialPort;"), std::string::npos);

  char tiny[3] = {};
  char data[100] = {};
  std::uint32_t type = 0, size = sizeof data;
  EXPECT_EQ(pcreg::EnumValue(key_, 1, tiny, sizeof tiny, type, data, size), pcreg::kMoreData);
}

TEST_F(RegistrySeam, MissingKeyIsNotFoundAndDeletedKeyIsGone) {
  pcreg::Key* missing = nullptr;
  EXPECT_EQ(pcreg::OpenKey(Root::CurrentUser, (kTestKey + "\\Nope").c_str(), false, missing), pcreg::kFileNotFound);
  EXPECT_EQ(missing, nullptr);

  pcreg::Key* child = nullptr;
  ASSERT_EQ(pcreg::CreateKey(Root::CurrentUser, (kTestKey + "\\Child").c_str(), child), pcreg::kSuccess);
  pcreg::CloseKey(child);
  EXPECT_EQ(pcreg::DeleteSubKey(key_, "Child"), pcreg::kSuccess);
  EXPECT_NE(pcreg::OpenKey(Root::CurrentUser, (kTestKey + "\\Child").c_str(), false, child), pcreg::kSuccess);
}

// ActiveSync's version as the wizard reads it from HKEY_LOCAL_MACHINE, on
// the real registry; the values in place before the test are put back.
class ActiveSyncVersion : public ::testing::Test {
 protected:
  static constexpr const char* kServices = "SOFTWARE\\Microsoft\\Windows CE Services";
  void SetUp() override {
    ASSERT_EQ(pcreg::CreateKey(Root::LocalMachine, kServices, key_), pcreg::kSuccess);
    hadMajor_ = Read("MajorVersion", major_);
    hadMinor_ = Read("MinorVersion", minor_);
  }
  void TearDown() override {
    Restore("MajorVersion", hadMajor_, major_);
    Restore("MinorVersion", hadMinor_, minor_);
    pcreg::CloseKey(key_);
  }
  bool Read(const char* name, std::uint32_t& value) {
    std::uint32_t type = 0, size = 4;
    return pcreg::QueryValue(key_, name, type, &value, size) == pcreg::kSuccess;
  }
  void Restore(const char* name, bool had, std::uint32_t value) {
    if (had) {
      pcreg::SetValue(key_, name, pcreg::kTypeDword, &value, 4);
    } else {
      HKEY services = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServices, 0, KEY_SET_VALUE, &services) == ERROR_SUCCESS) {
        RegDeleteValueA(services, name);
        RegCloseKey(services);
      }
    }
  }
  void Set(std::uint32_t major, std::uint32_t minor) {
    ASSERT_EQ(pcreg::SetValue(key_, "MajorVersion", pcreg::kTypeDword, &major, 4), pcreg::kSuccess);
    ASSERT_EQ(pcreg::SetValue(key_, "MinorVersion", pcreg::kTypeDword, &minor, 4), pcreg::kSuccess);
  }
  pcreg::Key* key_ = nullptr;
  bool hadMajor_ = false, hadMinor_ = false;
  std::uint32_t major_ = 0, minor_ = 0;
};

TEST_F(ActiveSyncVersion, ThreeFivePassesThreeFourFailsTwoFifteenPasses) {
  Set(3, 5);
  EXPECT_TRUE(wizard::ActiveSyncVersionOk());
  Set(3, 4);
  EXPECT_FALSE(wizard::ActiveSyncVersionOk());
  Set(2, 15);
  EXPECT_TRUE(wizard::ActiveSyncVersionOk());
  Set(4, 0);
  EXPECT_TRUE(wizard::ActiveSyncVersionOk());
}

}  // namespace
