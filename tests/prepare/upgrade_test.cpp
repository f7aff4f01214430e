// The upgrade preparation against the simulated handheld: what is staged,
// how the agent is started, and what happens around its start.
#include <algorithm>
#include <filesystem>
#include <ostream>

#include "checks/identify.h"
#include "checks/resume_record.h"
#include "platform/remote_api.h"
#include "prepare/upgrade.h"
#include "prepare_fixture.h"
#include "port/port.h"
#include "flow/driver.h"

namespace preparetest {
namespace {

using Walk = std::vector<int>;
constexpr int kExit = 2;

bool RemoteApiClosed() {
  rapi::PowerStatus status;
  return !rapi::CeGetSystemPowerStatusEx(&status, true);
}

struct ConnectionCase {
  wizard::Connection connection;
  char16_t code;
  const char16_t* loader;
  const char16_t* otherLoader;
  const char* loaderFile;
};
// Readable parameter names in test logs.
void PrintTo(const ConnectionCase& c, std::ostream* os) { *os << "loader file " << c.loaderFile; }

class StagingTest : public PrepareTest, public ::testing::WithParamInterface<ConnectionCase> {};

TEST_P(StagingTest, StagesTheAgentAndOnlyTheChosenLoaderThenStartsTheAgentAndOpensTheLink) {
  const ConnectionCase& c = GetParam();
  UseImage("ENG", "1.41.00");
  ASSERT_TRUE(std::filesystem::exists(languageFolder + "/flash_serial.nb"));
  ASSERT_TRUE(std::filesystem::exists(languageFolder + "/flash_usb.nb"));
  Connect(c.connection);
  // An older agent and loader file from an earlier attempt are on the handheld.
  PutDeviceFile(u"\\Temp\\Devflash.exe", "an older agent");
  PutDeviceFile(c.loader, "an older loader");

  wizard::Wizard.UpgradeStarted = true;
  // Through the driver's binding.
  EXPECT_TRUE(wizard::DefaultOperations().RunUpgradePreparation());

  EXPECT_EQ(agentStart.starts, 1);
  EXPECT_EQ(agentStart.commandLine, (std::u16string{c.code, u' ', u'U'}));
  EXPECT_EQ(DeviceFile(u"\\Temp\\Devflash.exe"), ReadHostFile(languageFolder + "/Devflash.exe"));
  EXPECT_EQ(DeviceFile(c.loader), ReadHostFile(languageFolder + "/" + c.loaderFile));
  EXPECT_FALSE(DeviceHas(c.otherLoader));
  EXPECT_TRUE(ui->Walk().empty());
  EXPECT_FALSE(wizard::Wizard.WizardEnded);
  EXPECT_NE(wizard::LinkHandle.load(), nullptr);
  EXPECT_TRUE(wizard::ReaderReady);
  EXPECT_TRUE(RemoteApiClosed());
}

INSTANTIATE_TEST_SUITE_P(
    Connections, StagingTest,
    ::testing::Values(ConnectionCase{wizard::Connection::Usb, 2, u"\\Temp\\flash_usb.nb", u"\\Temp\\flash_serial.nb",
                                     "flash_usb.nb"},
                      ConnectionCase{wizard::Connection::Serial, 1, u"\\Temp\\flash_serial.nb",
                                     u"\\Temp\\flash_usb.nb", "flash_serial.nb"}),
    [](const ::testing::TestParamInfo<ConnectionCase>& info) {
      return info.param.connection == wizard::Connection::Usb ? "Usb" : "Serial";
    });

TEST_F(PrepareTest, TheResumeRecordIsWrittenAfterTheAgentStartedAndBeforeActiveSyncIsStopped) {
  UseImage("ENG", "1.41.00");
  Connect(wizard::Connection::Usb);
  Prepare();

  ASSERT_EQ(agentStart.starts, 1);
  EXPECT_FALSE(agentStart.recordExisted);
  // Both ActiveSync windows were stopped, each time with the record in place.
  EXPECT_EQ(ReadHostFile(config / "activesync.log"), "DccMan 1\nWCES Manager Thunk Window 1\n");
  testsupport::ResetWizardForTest();
  EXPECT_TRUE(wizard::LoadUpgradeState());
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Usb);
  EXPECT_STREQ(wizard::Wizard.DeviceInfo.Language, "English");
  EXPECT_EQ(std::string(wizard::Wizard.FlashFile).find(languageFolder), 0u);
}

struct AgentFault {
  const char* name;
  std::function<void(handheld::HandheldState&)> apply;
};
void PrintTo(const AgentFault& f, std::ostream* os) { *os << "fault " << f.name; }

class AgentStartFailureTest : public PrepareTest, public ::testing::WithParamInterface<AgentFault> {};

TEST_P(AgentStartFailureTest, ShowsError106AndLeavesNoRecord) {
  UseImage("ENG", "1.41.00");
  Connect(wizard::Connection::Serial);
  ASSERT_TRUE(hh->ChangeState(GetParam().apply));
  ui->Answer(wizard::kProgramFailureScreen, kExit);
  Prepare();

  EXPECT_EQ(agentStart.starts, 0);
  EXPECT_EQ(ui->Walk(), (Walk{wizard::kProgramFailureScreen}));
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
  EXPECT_EQ(PcRegistry().find("Veltrom"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(config / "activesync.log"));
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
  EXPECT_TRUE(RemoteApiClosed());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AgentStartFailureTest,
    ::testing::Values(AgentFault{"NoStart", [](handheld::HandheldState& s) { s.faults.noStart.insert("devflash.exe"); }},
                      AgentFault{"FailCall",
                                 [](handheld::HandheldState& s) { s.faults.failCalls.insert("CeCreateProcess"); }}),
    [](const ::testing::TestParamInfo<AgentFault>& info) { return std::string(info.param.name); });

TEST_F(PrepareTest, AMissingAgentFileIsAnAgentThatCannotStart) {
  UseImage("ENG", "1.41.00");
  std::filesystem::remove(languageFolder + "/Devflash.exe");
  Connect(wizard::Connection::Serial);
  PutDeviceFile(u"\\Temp\\Devflash.exe", "an older agent");
  ui->Answer(wizard::kProgramFailureScreen, kExit);
  Prepare();

  // The older agent was deleted first, so it is not started in its place.
  EXPECT_EQ(agentStart.starts, 0);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\Devflash.exe"));
  EXPECT_EQ(ui->Walk(), (Walk{wizard::kProgramFailureScreen}));
  EXPECT_EQ(PcRegistry().find("Veltrom"), std::string::npos);
}

TEST_F(PrepareTest, ALanguageFolderThatCannotBeListedStopsBeforeTheAgent) {
  UseImage("ENG", "1.41.00");
  std::snprintf(wizard::Wizard.DeviceInfo.Language, sizeof wizard::Wizard.DeviceInfo.Language, "Missing");
  Connect(wizard::Connection::Serial);
  Prepare();

  EXPECT_EQ(agentStart.starts, 0);
  EXPECT_TRUE(ui->Walk().empty());
  EXPECT_EQ(PcRegistry().find("Veltrom"), std::string::npos);
  EXPECT_FALSE(RegHas("Drivers\\NrvDisk", "WindowBase"));  // no settings either
}

TEST_F(PrepareTest, DoesNothingUnlessTheUpgradeWasStarted) {
  UseImage("ENG", "1.41.00");
  Connect(wizard::Connection::Serial);
  wizard::RunUpgradePreparation();

  EXPECT_EQ(agentStart.starts, 0);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\Devflash.exe"));
  EXPECT_FALSE(RemoteApiClosed());
}

// The folder the wizard starts from (the driver asks for the current folder).
std::string g_startFolder;

TEST_F(PrepareTest, AFreshUpgradeRunsFromTheChoiceScreenThroughTheDownload) {
  constexpr int kProceed = 1181, kNext = 1, kUpgrade = 1035, kSerialRadio = 1151;
  UseImage("ENG", "1.41.00");
  testsupport::ResetWizardForTest();  // the driver reads everything itself
  g_startFolder = dist.Path();
  wizard::Ops.CurrentFolder = [] { return g_startFolder; };
  wizard::Ops.CeRapiInitEx = testsupport::StartRemoteApiAndWait;
  // The handheld restarts into its loader once the agent has run: the loader
  // answers on the serial link.
  flash = std::make_unique<peers::FileFlashStore>(hh->FlashPath());
  peers::PeerOptions options;
  options.dosdevices = config / "romwiz/dosdevices";
  peer = peers::StartPeer(options, *flash);
  ASSERT_TRUE(peer);
  for (int screen : {166}) ui->Answer(screen, kProceed);
  for (int screen : {103, 121, 161}) ui->Answer(screen, kNext);
  ui->Answer(wizard::kConnectionTypeScreen, {{kSerialRadio, true}}, kNext);
  ui->Answer(109, kUpgrade);
  for (int screen : {124, 125, 130}) ui->Answer(screen, kNext);
  ui->Answer(167, kProceed);
  ui->Answer(160, kNext);

  wizard::RunWizard();

  const Walk walk = ui->Walk();
  const Walk tail(walk.end() - std::min<std::size_t>(walk.size(), 7), walk.end());
  EXPECT_EQ(tail, (Walk{124, 125, 130, 153, 102, 167, 160}));
  EXPECT_EQ(agentStart.starts, 1);
  EXPECT_EQ(agentStart.commandLine, (std::u16string{1, u' ', u'U'}));
  EXPECT_TRUE(peer->WaitRestarted(5000));
  // The handheld now runs the image that was sent, and the record is gone.
  handheld::RomIdentity identity;
  ASSERT_TRUE(hh->Identity(identity));
  EXPECT_EQ(identity.version, "1.41.00");
  EXPECT_EQ(PcRegistry().find("Veltrom"), std::string::npos);
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "Index"), 8u);
}

}  // namespace
}  // namespace preparetest
