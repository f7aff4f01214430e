// The handheld-sim program as a script uses it: create, serve as a daemon,
// control it while it runs, stop it, restart it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/remote_api.h"
#include "wire/rapi_protocol.h"
#include "sim_test_support.h"

namespace {

const std::string kProgram = HANDHELD_SIM_PROGRAM;

std::string ReadText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = simtest::ReadHostFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::uint16_t FreePort() {
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

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port = FreePort();
    ::setenv(RAPI_ADDRESS_VARIABLE, ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    platform::SetTimeScale(10);
  }
  void TearDown() override {
    rapi::CeRapiUninit();
    Sim("stop " + dir);
    platform::SetTimeScale(1);
  }
  // The daemon's command line; its link peers publish into the scratch folder.
  std::string Serve() const {
    return "serve " + dir + " --daemon --dosdevices " + scratch.Path() + "/dosdevices --port " + std::to_string(port);
  }
  int Sim(const std::string& arguments) { return simtest::Run(kProgram + " " + arguments + " >/dev/null 2>&1"); }
  bool Connected() {
    rapi::InitRecord init;
    return rapi::CeRapiInitEx(&init) == 0 && rapi::WaitForConnection(init, testsupport::kConditionBoundMs) && init.result == 0;
  }

  simtest::ScratchFolder scratch;
  std::string dir = scratch.Path() + "/hh";
  std::uint16_t port = 0;
};

TEST_F(DaemonTest, ServesStopsAndContinuesAfterARestart) {
  ASSERT_EQ(Sim("create " + dir + " --model 5300 --language JPN --version 2.00.00 --flash-mb 64"), 0);
  ASSERT_EQ(Sim(Serve()), 0);
  EXPECT_TRUE(std::filesystem::exists(dir + "/daemon.pid"));
  ASSERT_TRUE(Connected());

  rapi::Handle file =
      rapi::CeCreateFile(u"\\My Documents\\note.txt", rapi::kGenericWrite, 0, rapi::kCreateNew, rapi::kAttributeHidden);
  ASSERT_NE(file, rapi::kInvalidHandle);
  std::uint32_t written = 0;
  ASSERT_TRUE(rapi::CeWriteFile(file, "kept", 4, &written));
  ASSERT_TRUE(rapi::CeCloseHandle(file));

  // Control commands reach the running daemon.
  ASSERT_EQ(Sim("power " + dir + " battery"), 0);
  rapi::PowerStatus status;
  ASSERT_TRUE(rapi::CeGetSystemPowerStatusEx(&status, true));
  EXPECT_EQ(status.ACLineStatus, 0);
  ASSERT_EQ(Sim("fault " + dir + " fail-call CeDeleteFile"), 0);
  EXPECT_FALSE(rapi::CeDeleteFile(u"\\My Documents\\note.txt"));
  ASSERT_EQ(Sim("fault " + dir + " clear"), 0);

  ASSERT_EQ(Sim("stop " + dir), 0);
  EXPECT_FALSE(std::filesystem::exists(dir + "/daemon.pid"));
  EXPECT_FALSE(rapi::CeGetSystemPowerStatusEx(&status, true));
  EXPECT_FALSE(Connected());

  ASSERT_EQ(Sim(Serve()), 0);
  ASSERT_TRUE(Connected());
  ASSERT_TRUE(rapi::CeGetSystemPowerStatusEx(&status, true));
  EXPECT_EQ(status.ACLineStatus, 0);  // still on battery
  rapi::FindData found;
  rapi::Handle search = rapi::CeFindFirstFile(u"\\my documents\\NOTE.TXT", &found);
  ASSERT_NE(search, rapi::kInvalidHandle);
  EXPECT_EQ(found.sizeLow, 4u);
  EXPECT_NE(found.attributes & rapi::kAttributeHidden, 0u);
  rapi::CeFindClose(search);
  ASSERT_TRUE(rapi::CeCreateProcess(u"\\Temp\\..\\Windows\\CreateAssetFile.exe", u"", nullptr) == false);
  ASSERT_TRUE(rapi::CeCreateProcess(u"\\Windows\\CreateAssetFile.exe", u"", nullptr));
}

TEST_F(DaemonTest, ModeChangeSilencesTheRemoteApi) {
  ASSERT_EQ(Sim("create " + dir), 0);
  ASSERT_EQ(Sim(Serve()), 0);
  ASSERT_EQ(Sim("mode " + dir + " loader"), 0);
  EXPECT_FALSE(Connected());
  // The daemon runs the loader on the link meanwhile (its watcher publishes
  // the link on its own time, not in step with the refused connection).
  const std::string link = scratch.Path() + "/dosdevices/com1";
  EXPECT_TRUE(simtest::Eventually([&] { return std::filesystem::is_symlink(link); }));
  ASSERT_EQ(Sim("mode " + dir + " wince"), 0);
  EXPECT_TRUE(Connected());
}

TEST_F(DaemonTest, FlashCommandChangesTheReportedRom) {
  ASSERT_EQ(Sim("create " + dir + " --version 1.14.00"), 0);
  ASSERT_EQ(Sim("distribution " + scratch.Path() + "/dist --version 1.41.00"), 0);
  ASSERT_EQ(Sim("flash " + dir + " " + scratch.Path() + "/dist/English/LUMO5800_ENG_141.nbf"), 0);
  ASSERT_EQ(simtest::Run(kProgram + " status " + dir + " | grep -qx 'rom=LUMO-5800 1.41.00 ENG'"), 0);
}

TEST_F(DaemonTest, CommandsRefuseBadInput) {
  EXPECT_NE(Sim("serve " + dir + " --port " + std::to_string(port)), 0);  // no handheld there
  EXPECT_NE(Sim("create " + dir + " --model 4000"), 0);
  ASSERT_EQ(Sim("create " + dir), 0);
  EXPECT_NE(Sim("create " + dir), 0);  // an existing handheld is kept
  EXPECT_EQ(Sim("create " + dir + " --replace --version 1.60.00"), 0);
  EXPECT_NE(Sim("fault " + dir + " fail-call NotACall"), 0);
  EXPECT_NE(Sim("mode " + dir + " sleeping"), 0);
  EXPECT_NE(Sim("power " + dir + " solar"), 0);
  EXPECT_EQ(Sim("stop " + dir), 0);  // nothing running: nothing to do
}

// A mistyped option or command is refused before anything is made: a typo in
// --flash-mb must not silently give the default flash.
TEST_F(DaemonTest, UnknownOptionsAndCommandsAreRefusedWithTheirName) {
  const std::string fresh = scratch.Path() + "/fresh";
  const std::string err = scratch.Path() + "/err";
  EXPECT_NE(simtest::Run(kProgram + " create " + fresh + " --no-such-option 5 2>" + err), 0);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_NE(ReadText(err).find("--no-such-option"), std::string::npos);
  EXPECT_NE(simtest::Run(kProgram + " create " + fresh + " --flash-mbb 64 2>/dev/null"), 0);
  EXPECT_NE(simtest::Run(kProgram + " create " + fresh + " extra 2>/dev/null"), 0);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_NE(simtest::Run(kProgram + " serve " + fresh + " --agent-cpu sparc 2>/dev/null"), 0);
  EXPECT_NE(simtest::Run(kProgram + " creat " + fresh + " 2>" + err), 0);
  EXPECT_NE(ReadText(err).find("creat"), std::string::npos);

  const std::string out = scratch.Path() + "/out";
  ASSERT_EQ(simtest::Run(kProgram + " --help >" + out), 0);
  const std::string usage = ReadText(out);
  for (const char* command : {"create DIR", "serve DIR", "--takeover FILE", "--agent-cpu arm|host", "status DIR"})
    EXPECT_NE(usage.find(command), std::string::npos) << command;
}

}  // namespace
