// Host environment checks over the registry store.
#include "checks/host_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/pc_registry.h"
#include "test_environment.h"

namespace {

constexpr const char* kActiveSyncKey = "SOFTWARE\\Microsoft\\Windows CE Services";
constexpr const char* kWindowsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kWindowsNtKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

void SetMachineValue(const char* keyPath, const char* name, std::uint32_t type, const void* data,
                     std::uint32_t size) {
  pcreg::Key* key = nullptr;
  ASSERT_EQ(pcreg::CreateKey(pcreg::Root::LocalMachine, keyPath, key), pcreg::kSuccess);
  ASSERT_EQ(pcreg::SetValue(key, name, type, data, size), pcreg::kSuccess);
  pcreg::CloseKey(key);
}
void SetDword(const char* keyPath, const char* name, std::uint32_t value) {
  SetMachineValue(keyPath, name, pcreg::kTypeDword, &value, sizeof value);
}
void SetText(const char* keyPath, const char* name, const std::string& text, bool withNul = true) {
  SetMachineValue(keyPath, name, pcreg::kTypeString, text.c_str(),
                  static_cast<std::uint32_t>(text.size() + (withNul ? 1 : 0)));
}

class HostChecksTest : public ::testing::Test {
 protected:
  f3test::ScopedRegistry registry_;
};

TEST_F(HostChecksTest, ActiveSyncVersionSum) {
  SetDword(kActiveSyncKey, "MajorVersion", 3);
  SetDword(kActiveSyncKey, "MinorVersion", 5);
  EXPECT_TRUE(wizard::ActiveSyncVersionOk());
  SetDword(kActiveSyncKey, "MinorVersion", 4);
  EXPECT_FALSE(wizard::ActiveSyncVersionOk());
  SetDword(kActiveSyncKey, "MajorVersion", 2);
  SetDword(kActiveSyncKey, "MinorVersion", 15);
  EXPECT_TRUE(wizard::ActiveSyncVersionOk());  // 2 x 10 + 15 = 35
  SetDword(kActiveSyncKey, "MajorVersion", 4);
  SetDword(kActiveSyncKey, "MinorVersion", 0);
  EXPECT_TRUE(wizard::ActiveSyncVersionOk());
}

TEST_F(HostChecksTest, ActiveSyncUnreadableValuesCountAsZero) {
  EXPECT_FALSE(wizard::ActiveSyncVersionOk());  // no key at all: refused
  SetDword(kActiveSyncKey, "MinorVersion", 35);
  EXPECT_TRUE(wizard::ActiveSyncVersionOk());   // no major value: 0 x 10 + 35
  SetDword(kActiveSyncKey, "MinorVersion", 5);
  SetText(kActiveSyncKey, "MajorVersion", "3");  // a text is not a version number
  EXPECT_FALSE(wizard::ActiveSyncVersionOk());
  std::uint8_t eightBytes[8] = {3};
  SetMachineValue(kActiveSyncKey, "MajorVersion", pcreg::kTypeDword, eightBytes, sizeof eightBytes);
  EXPECT_FALSE(wizard::ActiveSyncVersionOk());  // too large for 4 bytes: unreadable
}

TEST_F(HostChecksTest, WindowsVersionProbes) {
  EXPECT_FALSE(wizard::IsWindows95());
  EXPECT_FALSE(wizard::IsOldWindowsNT());
  SetText(kWindowsKey, "ProductName", "Microsoft Windows 98");
  EXPECT_FALSE(wizard::IsWindows95());
  SetText(kWindowsKey, "ProductName", "MICROSOFT WINDOWS 95");
  EXPECT_TRUE(wizard::IsWindows95());
  SetText(kWindowsNtKey, "CurrentVersion", "4.0");
  EXPECT_TRUE(wizard::IsOldWindowsNT());
  SetText(kWindowsNtKey, "CurrentVersion", "3.51");
  EXPECT_TRUE(wizard::IsOldWindowsNT());
  SetText(kWindowsNtKey, "CurrentVersion", "5.0");
  EXPECT_FALSE(wizard::IsOldWindowsNT());
  SetText(kWindowsNtKey, "CurrentVersion", "4.01");
  EXPECT_FALSE(wizard::IsOldWindowsNT());
}

TEST_F(HostChecksTest, TextsStoredWithoutTheirNulAreTerminated) {
  SetText(kWindowsNtKey, "CurrentVersion", "4.0", false);
  EXPECT_TRUE(wizard::IsOldWindowsNT());
  SetText(kWindowsKey, "ProductName", "Microsoft Windows 95", false);
  EXPECT_TRUE(wizard::IsWindows95());
  // 100 bytes without a NUL fill the whole buffer: read safely, no match.
  SetText(kWindowsKey, "ProductName", std::string(100, 'x'), false);
  EXPECT_FALSE(wizard::IsWindows95());
  SetText(kWindowsKey, "ProductName", std::string(150, 'x'));
  EXPECT_FALSE(wizard::IsWindows95());
}

}  // namespace
