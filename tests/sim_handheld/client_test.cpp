// The Linux remote-API client (rapi::) against the service in this process.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "distribution.h"
#include "handheld.h"
#include "platform/clock.h"
#include "platform/remote_api.h"
#include "wire/rapi_protocol.h"
#include "rapi_service.h"
#include "sim_test_support.h"

using namespace handheld;

namespace {

constexpr std::uint32_t kConnectionWaitMs = 3000;  // the wizard's wait for the connection

void PointClientAt(std::uint16_t port) {
  ::setenv(RAPI_ADDRESS_VARIABLE, ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
}

// A port nobody listens on: bound once and released.
std::uint16_t UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simtest::MakeHandheld(folder.Path());
    hh = std::make_unique<Handheld>(folder.Path());
    service = std::make_unique<RapiService>(*hh);
    std::string error;
    ASSERT_TRUE(service->Start(0, error)) << error;
    PointClientAt(service->Port());
    platform::SetTimeScale(10);  // the 3000 ms waits take 300 ms
  }
  void TearDown() override {
    rapi::CeRapiUninit();
    service->Stop();
    platform::SetTimeScale(1);
  }

  // CeRapiInitEx plus the wizard's wait; true when the connection is up.
  bool Connect(rapi::InitRecord& init) {
    if (rapi::CeRapiInitEx(&init) != 0) return false;
    return rapi::WaitForConnection(init, kConnectionWaitMs) && init.result == 0;
  }

  void Fault(const std::function<void(HandheldState&)>& change) { ASSERT_TRUE(hh->ChangeState(change)); }

  simtest::ScratchFolder folder;
  std::unique_ptr<Handheld> hh;
  std::unique_ptr<RapiService> service;
};

TEST_F(ClientTest, IdentifiesTheHandheldThroughItsAssetFile) {
  rapi::InitRecord init;
  ASSERT_TRUE(Connect(init));
  rapi::ProcessInfo info;
  ASSERT_TRUE(rapi::CeCreateProcess(u"\\Windows\\CreateAssetFile.exe", u"", &info));
  EXPECT_TRUE(rapi::CeCloseHandle(info.process));
  EXPECT_TRUE(rapi::CeCloseHandle(info.thread));
  rapi::Handle file = rapi::CeCreateFile(u"\\Windows\\nrvAssetData.dat", rapi::kGenericRead, rapi::kShareRead,
                                         rapi::kOpenExisting, rapi::kAttributeNormal);
  ASSERT_NE(file, rapi::kInvalidHandle);
  std::uint32_t high = 7;
  EXPECT_EQ(rapi::CeGetFileSize(file, &high), 4096u);
  EXPECT_EQ(high, 0u);
  std::vector<std::uint8_t> data(12000);
  std::uint32_t read = 0;
  ASSERT_TRUE(rapi::CeReadFile(file, data.data(), 12000, &read));
  EXPECT_EQ(read, 4096u);
  std::string version;
  for (int i = 0; i < 11; ++i) version += static_cast<char>(data[2556 + 2 * i]);
  EXPECT_EQ(version, "1.14.00 ENG");
  EXPECT_TRUE(rapi::CeCloseHandle(file));
  EXPECT_FALSE(rapi::CeCloseHandle(file));
  EXPECT_EQ(rapi::CeGetLastError(), RAPI_ERROR_INVALID_HANDLE);
}

TEST_F(ClientTest, StagesProbesAndListsLikeTheWizard) {
  rapi::InitRecord init;
  ASSERT_TRUE(Connect(init));
  const std::u16string probe = rapi::AnsiToDevicePath("\\Temp\\GetType.exe");
  rapi::Handle file = rapi::CeCreateFile(probe.c_str(), rapi::kGenericRead | rapi::kGenericWrite,
                                         rapi::kShareRead | rapi::kShareWrite, rapi::kCreateNew,
                                         rapi::kAttributeHidden);
  ASSERT_NE(file, rapi::kInvalidHandle);
  std::uint32_t written = 0;
  const std::string program = handheld::DistributedProgramText("GetType.exe");
  const auto length = static_cast<std::uint32_t>(program.size());
  ASSERT_TRUE(rapi::CeWriteFile(file, program.data(), length, &written));
  EXPECT_EQ(written, length);
  ASSERT_TRUE(rapi::CeCloseHandle(file));
  ASSERT_TRUE(rapi::CeCreateProcess(probe.c_str(), u"", nullptr));

  rapi::FindData found;
  rapi::Handle search = rapi::CeFindFirstFile(u"\\temp\\type.dat", &found);
  ASSERT_NE(search, rapi::kInvalidHandle);
  EXPECT_EQ(std::u16string(found.name), u"type.dat");
  EXPECT_TRUE(rapi::CeFindClose(search));
  file = rapi::CeCreateFile(u"\\temp\\type.dat", rapi::kGenericRead, 0, rapi::kOpenExisting, rapi::kAttributeNormal);
  std::uint8_t bytes[2] = {};
  std::uint32_t read = 0;
  ASSERT_TRUE(rapi::CeReadFile(file, bytes, 2, &read));
  EXPECT_EQ(bytes[1], 32);
  ASSERT_TRUE(rapi::CeCloseHandle(file));
  EXPECT_TRUE(rapi::CeDeleteFile(u"\\temp\\type.dat"));
  EXPECT_FALSE(rapi::CeDeleteFile(u"\\temp\\type.dat"));
  EXPECT_EQ(rapi::CeGetLastError(), RAPI_ERROR_FILE_NOT_FOUND);

  // The listed modules go; a listing walks to the end.
  EXPECT_TRUE(rapi::CeDeleteFile(u"\\Windows\\LumoKeys.dll"));
  search = rapi::CeFindFirstFile(u"\\Windows\\*.*", &found);
  ASSERT_NE(search, rapi::kInvalidHandle);
  int count = 1;
  bool hidden = false;
  while (rapi::CeFindNextFile(search, &found)) {
    ++count;
    EXPECT_NE(std::u16string(found.name), u"LumoKeys.dll");
  }
  EXPECT_EQ(rapi::CeGetLastError(), RAPI_ERROR_NO_MORE_FILES);
  EXPECT_TRUE(rapi::CeFindClose(search));
  EXPECT_EQ(count, 5);
  search = rapi::CeFindFirstFile(u"\\Temp\\*.*", &found);
  hidden = (found.attributes & rapi::kAttributeHidden) != 0;
  rapi::CeFindClose(search);
  EXPECT_TRUE(hidden);
}

TEST_F(ClientTest, SetSysTimeBlockReachesTheClock) {
  rapi::InitRecord init;
  ASSERT_EQ(rapi::CeRapiInitEx(&init), 0);
  // No wait on the event: the clock setting calls right away, as the wizard does.
  rapi::Handle file = rapi::CeCreateFile(u"\\Windows\\SetSystemTime.dll", rapi::kGenericWrite, rapi::kShareRead,
                                         rapi::kCreateAlways, rapi::kAttributeNormal);
  ASSERT_NE(file, rapi::kInvalidHandle);
  const std::string library = handheld::DistributedProgramText("SetSystemTime.dll");
  std::uint32_t libraryWritten = 0;
  ASSERT_TRUE(rapi::CeWriteFile(file, library.data(), static_cast<std::uint32_t>(library.size()), &libraryWritten));
  rapi::CeCloseHandle(file);
  std::uint8_t* block = rapi::AllocInvokeBlock(188);
  std::memset(block, 0, 188);
  const std::uint16_t utc[8] = {2030, 6, 1, 15, 12, 0, 0, 0};  // 2030-06-15 12:00:00
  std::memcpy(block + 172, utc, sizeof utc);
  std::uint32_t outputSize = 1;
  std::uint8_t* output = reinterpret_cast<std::uint8_t*>(1);
  EXPECT_EQ(rapi::CeRapiInvoke(u"SetSystemTime.dll", u"SetSysTime", 188, block, &outputSize, &output), 0);
  EXPECT_EQ(outputSize, 0u);
  EXPECT_EQ(output, nullptr);
  EXPECT_NEAR(static_cast<double>(hh->ClockUtcMs()), 1907755200000.0, 5000.0);
}

TEST_F(ClientTest, PowerStatusFollowsTheControlWhileConnected) {
  rapi::InitRecord init;
  ASSERT_TRUE(Connect(init));
  rapi::PowerStatus status;
  ASSERT_TRUE(rapi::CeGetSystemPowerStatusEx(&status, true));
  EXPECT_EQ(status.ACLineStatus, 1);
  Fault([](HandheldState& s) { s.onAdapter = false; });
  // The power poller asks from its own thread while the GUI thread uses the connection.
  std::atomic<int> onBattery{0};
  std::thread poller([&] {
    for (int i = 0; i < 50; ++i) {
      rapi::PowerStatus s;
      if (rapi::CeGetSystemPowerStatusEx(&s, true) && s.ACLineStatus == 0) ++onBattery;
    }
  });
  for (int i = 0; i < 50; ++i) {
    rapi::FindData found;
    rapi::Handle h = rapi::CeFindFirstFile(u"\\Windows\\*.dll", &found);
    EXPECT_NE(h, rapi::kInvalidHandle);
    rapi::CeFindClose(h);
  }
  poller.join();
  EXPECT_EQ(onBattery.load(), 50);
}

TEST_F(ClientTest, FailingCallFaultFailsOnlyThatCall) {
  rapi::InitRecord init;
  ASSERT_TRUE(Connect(init));
  Fault([](HandheldState& s) { s.faults.failCalls.insert("CeCreateProcess"); });
  EXPECT_FALSE(rapi::CeCreateProcess(u"\\Windows\\CreateAssetFile.exe", u"", nullptr));
  EXPECT_EQ(rapi::CeGetLastError(), RAPI_ERROR_GEN_FAILURE);
  rapi::PowerStatus status;
  EXPECT_TRUE(rapi::CeGetSystemPowerStatusEx(&status, true));
}

TEST_F(ClientTest, InitFailureSignalsTheEventWithAFailureCode) {
  Fault([](HandheldState& s) { s.faults.initFails = true; });
  rapi::InitRecord init;
  ASSERT_EQ(rapi::CeRapiInitEx(&init), 0);
  EXPECT_TRUE(rapi::WaitForConnection(init, kConnectionWaitMs));  // the event comes ...
  EXPECT_LT(init.result, 0);                                      // ... with a failure
  EXPECT_FALSE(rapi::CeDeleteFile(u"\\Windows\\LumoKeys.dll"));   // and nothing is connected
  EXPECT_EQ(rapi::CeGetLastError(), RAPI_ERROR_NOT_CONNECTED);
}

TEST_F(ClientTest, SilentHandheldIsNotReachableWithinTheWait) {
  for (Mode mode : {Mode::Loader, Mode::BootLoader, Mode::Off}) {
    Fault([&](HandheldState& s) { s.mode = mode; });
    rapi::InitRecord init;
    ASSERT_EQ(rapi::CeRapiInitEx(&init), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(rapi::WaitForConnection(init, kConnectionWaitMs)) << ModeName(mode);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(platform::ScaledMs(kConnectionWaitMs)));
    EXPECT_NE(init.result, 0);
  }
  Fault([](HandheldState& s) { s.mode = Mode::WinCE; s.faults.noAnswer = true; });
  rapi::InitRecord init;
  ASSERT_EQ(rapi::CeRapiInitEx(&init), 0);
  EXPECT_FALSE(rapi::WaitForConnection(init, kConnectionWaitMs));
  // Answering again: a new attempt connects.
  Fault([](HandheldState& s) { s.faults.noAnswer = false; });
  rapi::InitRecord again;
  EXPECT_TRUE(Connect(again));
}

TEST_F(ClientTest, NoDaemonMeansNotReachable) {
  PointClientAt(UnusedPort());
  rapi::InitRecord init;
  ASSERT_EQ(rapi::CeRapiInitEx(&init), 0);
  const bool signalled = rapi::WaitForConnection(init, kConnectionWaitMs);
  EXPECT_FALSE(signalled && init.result == 0);
  rapi::PowerStatus status;
  EXPECT_FALSE(rapi::CeGetSystemPowerStatusEx(&status, true));
}

TEST_F(ClientTest, CallsFailCleanlyOnceTheHandheldIsGone) {
  rapi::InitRecord init;
  ASSERT_TRUE(Connect(init));
  rapi::Handle file = rapi::CeCreateFile(u"\\Temp\\a.bin", rapi::kGenericWrite, 0, rapi::kCreateAlways,
                                         rapi::kAttributeNormal);
  ASSERT_NE(file, rapi::kInvalidHandle);
  service->Stop();  // the handheld went away (reset into its loader)
  std::uint32_t written = 0;
  EXPECT_FALSE(rapi::CeWriteFile(file, "x", 1, &written));
  EXPECT_EQ(rapi::CeGetLastError(), RAPI_ERROR_NOT_CONNECTED);
  EXPECT_EQ(rapi::CeGetFileSize(file, nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(rapi::CeCreateFile(u"\\Temp\\b.bin", rapi::kGenericWrite, 0, rapi::kCreateAlways, 0), rapi::kInvalidHandle);
  EXPECT_NE(rapi::CeRapiInvoke(u"SetSystemTime.dll", u"SetSysTime", 4, rapi::AllocInvokeBlock(4), nullptr, nullptr), 0);
}

TEST_F(ClientTest, UninitEndsTheConnection) {
  rapi::InitRecord init;
  ASSERT_TRUE(Connect(init));
  rapi::CeRapiUninit();
  EXPECT_FALSE(rapi::CeDeleteFile(u"\\Windows\\LumoKeys.dll"));
  EXPECT_FALSE(rapi::WaitForConnection(init, 10));  // the old record's event is gone
}

// A service that answers every request with success and a zero word: the
// connection comes up, and a write "succeeds" with 0 bytes written.
class ZeroWordService {
 public:
  ZeroWordService() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 4);
    socklen_t n = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ZeroWordService() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  std::uint16_t Port() const { return port_; }
  int WriteRequests() const { return writes_; }

 private:
  static bool ReadAll(int fd, unsigned char* p, std::size_t n) {
    while (n > 0) {
      const ssize_t got = ::read(fd, p, n);
      if (got <= 0) return false;
      p += got;
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }
  void Serve() {
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    unsigned char head[8];
    while (ReadAll(fd, head, sizeof head)) {
      std::vector<unsigned char> rest(rapi_get_u32(head) - 4);
      if (!ReadAll(fd, rest.data(), rest.size())) break;
      const std::uint32_t op = rapi_get_u32(head + 4);
      if (op == RAPI_OP_WRITE_FILE) ++writes_;
      unsigned char answer[16];
      rapi_put_u32(answer, 12);
      rapi_put_u32(answer + 4, op);
      rapi_put_u32(answer + 8, 0);   // no error
      rapi_put_u32(answer + 12, 0);  // RAPI_S_OK, or 0 bytes written
      if (::write(fd, answer, sizeof answer) != static_cast<ssize_t>(sizeof answer)) break;
      // Stop answering writes after a few: a client that loops on them
      // then fails this test instead of hanging it.
      if (writes_ > 3) break;
    }
    ::close(fd);
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<int> writes_{0};
  std::thread thread_;
};

TEST(ClientWrite, ASuccessWithNothingWrittenIsAFailureNotAnEndlessLoop) {
  ZeroWordService service;
  PointClientAt(service.Port());
  rapi::InitRecord init;
  ASSERT_EQ(rapi::CeRapiInitEx(&init), 0);
  ASSERT_TRUE(rapi::WaitForConnection(init, kConnectionWaitMs));
  ASSERT_EQ(init.result, 0);
  std::uint32_t written = 99;
  EXPECT_FALSE(rapi::CeWriteFile(reinterpret_cast<rapi::Handle>(1), "abc", 3, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(service.WriteRequests(), 1);
  rapi::CeRapiUninit();
}

TEST(AnsiToDevicePath, UsesWindows1252) {
  EXPECT_EQ(rapi::AnsiToDevicePath("\\Temp\\a.exe"), u"\\Temp\\a.exe");
  EXPECT_EQ(rapi::AnsiToDevicePath("\x80\xE9\x9F"), u"\u20AC\u00E9\u0178");
  EXPECT_EQ(rapi::AnsiToDevicePath(""), u"");
}

}  // namespace
