// The host system seam on Windows: ActiveSync stopped through its windows
// (against the ActiveSync stand-in), programs started, the clock block.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "checks/activesync.h"
#include "platform/host_system.h"

namespace {

// The stand-in's path, given by the Wine test script.
std::string StandInPath() {
  const char* path = std::getenv("ROMWIZ_ACTIVESYNC_STANDIN");
  return path != nullptr ? path : "";
}

// A running ActiveSync stand-in with both of its windows up.
class StandIn {
 public:
  bool Start() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    ready_ = std::string(temp) + "romwiz-standin-" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA(ready_.c_str());
    std::string commandLine = "\"" + StandInPath() + "\" " + ready_;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
      return false;
    }
    CloseHandle(info_.hThread);
    for (int i = 0; i < 200; ++i) {  // up to 20 s for a cold start under Wine
      if (GetFileAttributesA(ready_.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
      Sleep(100);
    }
    return false;
  }
  // True when the process ended within `ms`; its exit code in `code`.
  bool Ended(DWORD ms, DWORD& code) {
    if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(info_.hProcess, &code);
    return true;
  }
  ~StandIn() {
    if (info_.hProcess != nullptr) {
      TerminateProcess(info_.hProcess, 1);
      CloseHandle(info_.hProcess);
    }
    DeleteFileA(ready_.c_str());
  }

 private:
  PROCESS_INFORMATION info_{};
  std::string ready_;
};

class ActiveSyncControl : public ::testing::Test {
 protected:
  void SetUp() override {
    if (StandInPath().empty()) GTEST_SKIP() << "ROMWIZ_ACTIVESYNC_STANDIN is not set";
  }
};

TEST_F(ActiveSyncControl, StopActiveSyncEndsTheProcessOwningItsWindows) {
  StandIn standIn;
  ASSERT_TRUE(standIn.Start());
  ASSERT_NE(FindWindowA(nullptr, "DccMan"), nullptr);
  ASSERT_NE(FindWindowA(nullptr, "WCES Manager Thunk Window"), nullptr);
  wizard::StopActiveSync();
  DWORD code = 1;
  ASSERT_TRUE(standIn.Ended(5000, code));
  EXPECT_EQ(code, 0u);  // TerminateProcess with exit code 0
  EXPECT_EQ(FindWindowA(nullptr, "DccMan"), nullptr);
}

TEST_F(ActiveSyncControl, TitlesCompareWithoutCaseAndUnknownTitlesLeaveItRunning) {
  StandIn standIn;
  ASSERT_TRUE(standIn.Start());
  hostsys::TerminateWindowOwner("No Such Window");
  DWORD code = 0;
  EXPECT_FALSE(standIn.Ended(300, code));
  hostsys::TerminateWindowOwner("wces manager THUNK window");
  EXPECT_TRUE(standIn.Ended(5000, code));
}

TEST_F(ActiveSyncControl, StartProgramStartsAnExistingProgramOnly) {
  EXPECT_FALSE(hostsys::StartProgram("C:\\no\\such\\WCESCOMM.EXE"));
  ASSERT_TRUE(hostsys::StartProgram(StandInPath().c_str()));
  // The stand-in started without a ready file; wait for its windows, then stop it.
  HWND window = nullptr;
  for (int i = 0; i < 200 && window == nullptr; ++i) {
    Sleep(100);
    window = FindWindowA(nullptr, "DccMan");
  }
  ASSERT_NE(window, nullptr);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  wizard::StopActiveSync();
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0);
  CloseHandle(process);
}

TEST(ClockBlock, TimeZoneThenUtcTime) {
  std::uint8_t block[hostsys::kClockBlockSize];
  std::memset(block, 0xEE, sizeof block);
  hostsys::ReadClockBlock(block);
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  SYSTEMTIME now;
  GetSystemTime(&now);
  LONG bias = 0;
  std::memcpy(&bias, block, sizeof bias);
  EXPECT_EQ(bias, zone.Bias);
  EXPECT_EQ(std::memcmp(block + 4, zone.StandardName, sizeof zone.StandardName), 0);
  SYSTEMTIME utc;
  std::memcpy(&utc, block + 172, sizeof utc);
  EXPECT_EQ(utc.wYear, now.wYear);
  EXPECT_EQ(utc.wMonth, now.wMonth);
  EXPECT_EQ(utc.wDay, now.wDay);
}

}  // namespace
