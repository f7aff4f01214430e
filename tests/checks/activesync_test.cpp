// ActiveSync control on Linux, the serial port setting, and the copy and
// clock calls against the remote API double.
#include "checks/activesync.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/eventually.h"

#include "platform/host_system.h"
#include "platform/pc_registry.h"
#include "rapi_double.h"
#include "test_environment.h"
#include "image/image_file.h"
#include "wizard/wizard_state.h"

namespace {

using wizard::Wizard;

constexpr const char* kActiveSyncKey = "Software\\Microsoft\\Windows CE Services";
constexpr const char* kAppPathKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WCESCOMM.EXE";

void PutMachine(const char* keyPath, const char* name, std::uint32_t type, const std::string& bytes) {
  pcreg::Key* key = nullptr;
  ASSERT_EQ(pcreg::CreateKey(pcreg::Root::LocalMachine, keyPath, key), pcreg::kSuccess);
  ASSERT_EQ(pcreg::SetValue(key, name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
            pcreg::kSuccess);
  pcreg::CloseKey(key);
}

std::string Text(const std::string& text) { return text + '\0'; }

// The file is written by a process of its own: waits use the shared bound.
bool WaitForFile(const std::string& path) {
  return testsupport::Eventually([&] { return std::filesystem::exists(path); });
}

class ActiveSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard::ResetWizardState();
    wizard::ResetImageHeader();
    rapidouble::Reset();
    ::setenv("XDG_STATE_HOME", folder_.path().c_str(), 1);  // the transfer log
  }
  void TearDown() override {
    wizard::ResetWizardState();
    ::unsetenv("ROMWIZ_ACTIVESYNC_STOP");
    ::unsetenv("XDG_STATE_HOME");
  }
  std::string TransferLog() {
    std::ifstream in(folder_ / "romwiz/transfer.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = folder_ / name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  f3test::ScopedRegistry registry_;
  f3test::TempFolder folder_;
};

TEST_F(ActiveSyncTest, SerialPortSettingGetsItsColon) {
  PutMachine(kActiveSyncKey, "MajorVersion", pcreg::kTypeString, Text("3"));
  PutMachine(kActiveSyncKey, "serialport", pcreg::kTypeString, Text("COM3"));
  std::strcpy(Wizard.SerialPortName, "stale");
  wizard::ReadSerialPortSetting(Wizard.SerialPortName);
  EXPECT_STREQ(Wizard.SerialPortName, "COM3:");
}

TEST_F(ActiveSyncTest, UsbWithoutCriticalLeavesTheNameEmptyWithoutReadingTheRegistry) {
  // A store that cannot be read would fail any registry call; it is never asked.
  registry_.Write("not a registry file\n");
  Wizard.ConnectionType = wizard::Connection::Usb;
  std::strcpy(Wizard.SerialPortName, "COM9:");
  wizard::ReadSerialPortSetting(Wizard.SerialPortName);
  EXPECT_STREQ(Wizard.SerialPortName, "");

  registry_.Write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows CE Services]\n"
                  "\"SerialPort\"=\"COM2\"\n");
  wizard::ReadSerialPortSetting(Wizard.SerialPortName);
  EXPECT_STREQ(Wizard.SerialPortName, "");
  Wizard.Critical = true;  // a critical record always uses the serial port
  wizard::ReadSerialPortSetting(Wizard.SerialPortName);
  EXPECT_STREQ(Wizard.SerialPortName, "COM2:");
}

TEST_F(ActiveSyncTest, ValuesTooLargeAreSkippedOnTheWayToTheSetting) {
  PutMachine(kActiveSyncKey, "Notes", pcreg::kTypeString, Text(std::string(300, 'n')));
  PutMachine(kActiveSyncKey, "SerialPort", pcreg::kTypeString, Text("COM4"));
  wizard::ReadSerialPortSetting(Wizard.SerialPortName);
  EXPECT_STREQ(Wizard.SerialPortName, "COM4:");

  // A setting too large for the 100-byte buffer is skipped: nothing found.
  PutMachine(kActiveSyncKey, "SerialPort", pcreg::kTypeString, Text(std::string(120, 'C')));
  wizard::ReadSerialPortSetting(Wizard.SerialPortName);
  EXPECT_STREQ(Wizard.SerialPortName, "");
}

TEST_F(ActiveSyncTest, PortNameNeverOverflowsItsBuffer) {
  // 99 characters fit the enumeration's data buffer but not the name with its colon.
  PutMachine(kActiveSyncKey, "SerialPort", pcreg::kTypeString, Text(std::string(99, 'C')));
  char name[wizard::kSerialPortNameCapacity + 8];
  std::memset(name, '#', sizeof name);
  wizard::ReadSerialPortSetting(name, wizard::kSerialPortNameCapacity);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(name[wizard::kSerialPortNameCapacity], '#');
  // 98 characters and the colon exactly fill it.
  PutMachine(kActiveSyncKey, "SerialPort", pcreg::kTypeString, Text(std::string(98, 'C')));
  wizard::ReadSerialPortSetting(name, wizard::kSerialPortNameCapacity);
  EXPECT_EQ(std::string(name), std::string(98, 'C') + ":");
  // Stored without its NUL it reads the same.
  PutMachine(kActiveSyncKey, "SerialPort", pcreg::kTypeString, "COM1");
  wizard::ReadSerialPortSetting(name, wizard::kSerialPortNameCapacity);
  EXPECT_STREQ(name, "COM1:");
}

TEST_F(ActiveSyncTest, StopRunsTheConfiguredCommandForEachWindowTitle) {
  std::string log = folder_ / "stopped";
  wizard::StopActiveSync();  // no command configured: nothing happens
  EXPECT_FALSE(std::filesystem::exists(log));
  std::string command = "echo \"$1\" >> '" + log + "'";
  ::setenv("ROMWIZ_ACTIVESYNC_STOP", command.c_str(), 1);
  wizard::StopActiveSync();
  std::ifstream in(log);
  std::string first, second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first, "DccMan");
  EXPECT_EQ(second, "WCES Manager Thunk Window");
}

TEST_F(ActiveSyncTest, RestartStartsTheProgramFromAppPaths) {
  EXPECT_EQ(wizard::RestartActiveSync(), pcreg::kFileNotFound);  // no entry
  std::string marker = folder_ / "started";
  std::string script = WriteFile("wcescomm.sh", "#!/bin/sh\ntouch '" + marker + "'\n");
  ::chmod(script.c_str(), 0755);
  PutMachine(kAppPathKey, "", pcreg::kTypeString, script);  // default value, stored without NUL
  EXPECT_EQ(wizard::RestartActiveSync(), 1);
  EXPECT_TRUE(WaitForFile(marker));

  PutMachine(kAppPathKey, "", pcreg::kTypeString, Text(folder_ / "absent.exe"));
  EXPECT_EQ(wizard::RestartActiveSync(), 0);
}

TEST_F(ActiveSyncTest, CopyFileToDeviceInPieces) {
  std::string content;
  for (int i = 0; i < 600; ++i) content += static_cast<char>(i & 0xFF);
  std::string source = WriteFile("data.bin", content);
  EXPECT_EQ(wizard::CopyFileToDevice(source.c_str(), "\\Temp\\data.bin"), 1);
  auto& handheld = rapidouble::Handheld();
  EXPECT_EQ(handheld.files[u"\\Temp\\data.bin"], content);
  EXPECT_EQ(handheld.writeCalls, 3);  // 256 + 256 + 88
  EXPECT_EQ(handheld.openHandles, 0);
}

TEST_F(ActiveSyncTest, EmptyFileCopiesAsAnEmptyFile) {
  std::string source = WriteFile("empty.bin", "");
  rapidouble::Handheld().files[u"\\Temp\\empty.bin"] = "old contents";
  EXPECT_EQ(wizard::CopyFileToDevice(source.c_str(), "\\Temp\\empty.bin"), 1);
  EXPECT_EQ(rapidouble::Handheld().files.at(u"\\Temp\\empty.bin"), "");
  EXPECT_EQ(rapidouble::Handheld().writeCalls, 0);
}

TEST_F(ActiveSyncTest, CopyFailures) {
  auto& handheld = rapidouble::Handheld();
  EXPECT_EQ(wizard::CopyFileToDevice((folder_ / "absent").c_str(), "\\Temp\\x"), 0);
  EXPECT_TRUE(handheld.files.empty());  // nothing created for a missing PC file

  std::string source = WriteFile("data.bin", std::string(1000, 'd'));
  handheld.failCreate = true;
  EXPECT_EQ(wizard::CopyFileToDevice(source.c_str(), "\\Temp\\x"), 0);
  handheld.failCreate = false;
  handheld.failWriteAfter = 1;
  EXPECT_EQ(wizard::CopyFileToDevice(source.c_str(), "\\Temp\\x"), 0);
  EXPECT_EQ(handheld.openHandles, 0);
}

TEST_F(ActiveSyncTest, SetDeviceClockCopiesTheLibraryAndCallsIt) {
  std::strcpy(Wizard.BaseFolder, folder_.path().c_str());
  std::strcpy(wizard::ImageHeader.ImageLanguage, "English");
  WriteFile("English/SetSystemTime.dll", "MZ library");
  auto before = std::chrono::system_clock::now();
  EXPECT_EQ(wizard::SetDeviceClock(), 1);
  auto& handheld = rapidouble::Handheld();
  EXPECT_EQ(handheld.files[u"\\Windows\\SetSystemTime.dll"], "MZ library");
  ASSERT_EQ(handheld.invocations.size(), 1u);
  const auto& call = handheld.invocations[0];
  EXPECT_EQ(call.library, u"SetSystemTime.dll");
  EXPECT_EQ(call.function, u"SetSysTime");
  ASSERT_EQ(call.input.size(), hostsys::kClockBlockSize);
  // The SYSTEMTIME after the 172-byte zone record holds this year in UTC.
  std::time_t now = std::chrono::system_clock::to_time_t(before);
  std::tm utc;
  ::gmtime_r(&now, &utc);
  EXPECT_EQ(call.input[172] | (call.input[173] << 8), utc.tm_year + 1900);
  EXPECT_EQ(call.input[174] | (call.input[175] << 8), utc.tm_mon + 1);
  EXPECT_EQ(handheld.initCalls, 1);
  EXPECT_EQ(handheld.uninitCalls, 1);
  EXPECT_EQ(handheld.blocksAllocated, handheld.blocksFreed);
}

TEST_F(ActiveSyncTest, SetDeviceClockWithoutTheLibraryCallsNothing) {
  std::strcpy(Wizard.BaseFolder, folder_.path().c_str());
  std::strcpy(wizard::ImageHeader.ImageLanguage, "English");
  EXPECT_EQ(wizard::SetDeviceClock(), 1);
  auto& handheld = rapidouble::Handheld();
  EXPECT_TRUE(handheld.invocations.empty());
  EXPECT_EQ(handheld.blocksAllocated, 0);  // no input block left unfreed
  EXPECT_EQ(handheld.uninitCalls, 1);

  rapidouble::Reset();
  rapidouble::Handheld().initResult = -2147467259;  // E_FAIL
  EXPECT_EQ(wizard::SetDeviceClock(), 0);
  EXPECT_TRUE(rapidouble::Handheld().files.empty());
}

// A handheld that does not come back into ActiveSync within the wait: no
// remote call is made on the pending start, the start is ended, and the
// transfer log says the clock was not set instead of passing over it.
TEST_F(ActiveSyncTest, SetDeviceClockWithoutAConnectionCallsNothingAndLogsIt) {
  std::strcpy(Wizard.BaseFolder, folder_.path().c_str());
  std::strcpy(wizard::ImageHeader.ImageLanguage, "English");
  WriteFile("English/SetSystemTime.dll", "MZ library");
  rapidouble::Handheld().connects = false;
  EXPECT_EQ(wizard::SetDeviceClock(), 1);
  auto& handheld = rapidouble::Handheld();
  EXPECT_TRUE(handheld.files.empty());
  EXPECT_TRUE(handheld.invocations.empty());
  EXPECT_EQ(handheld.initCalls, 1);
  EXPECT_EQ(handheld.uninitCalls, 1);
  const std::string log = TransferLog();
  EXPECT_NE(log.find("clock not set: the handheld did not answer through ActiveSync"), std::string::npos) << log;

  rapidouble::Reset();
  rapidouble::Handheld().connects = true;
  EXPECT_EQ(wizard::SetDeviceClock(), 1);
  EXPECT_NE(TransferLog().find("clock set"), std::string::npos);
}

}  // namespace
