#include "prepare_fixture.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/clock.h"
#include "platform/remote_api.h"
#include "prepare/upgrade.h"
#include "programs.h"
#include "rom_image.h"
#include "image/image_file.h"
#include "port/port.h"
#include "port/transfer_log.h"
#include "violations.h"

namespace preparetest {

AgentStart agentStart;

namespace {

std::string g_pcRegistryFile;  // read by the agent's stand-in
handheld::ProgramHandler g_savedAgent = nullptr;

std::uint32_t RecordAgentStart(const handheld::ProgramStart& start) {
  ++agentStart.starts;
  agentStart.commandLine = start.commandLine;
  agentStart.recordExisted = ReadHostFile(g_pcRegistryFile).find("Veltrom") != std::string::npos;
  return 0;
}

}  // namespace

Scratch::Scratch() {
  std::string pattern = (std::filesystem::temp_directory_path() / "romwiz-prepare-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
}

Scratch::~Scratch() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PrepareTest::SetUp() {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  hadConfig_ = old != nullptr;
  if (old) oldConfig_ = old;
  ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  ::setenv("XDG_STATE_HOME", config.Path().c_str(), 1);  // the transfer log
  std::filesystem::create_directories(config / "romwiz");
  g_pcRegistryFile = config / "romwiz/registry.reg";
  std::ofstream(g_pcRegistryFile, std::ios::binary)
      << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows CE Services]\r\n"
         "\"MajorVersion\"=dword:00000003\r\n\"MinorVersion\"=dword:00000005\r\n";
  // ActiveSync's stop: one line per window title, with whether the resume
  // record was already in the store at that moment.
  ::setenv("ROMWIZ_ACTIVESYNC_STOP",
           ("printf '%s %s\\n' \"$1\" \"$(grep -c Veltrom '" + g_pcRegistryFile + "')\" >> '" +
            (config / "activesync.log") + "'")
               .c_str(),
           1);

  handheld::CreateOptions options;
  options.identity = {"LUMO-5800", "1.14.00", "ENG"};
  options.flashMb = 4;
  options.romMb = 1;
  ASSERT_EQ(handheld::CreateHandheld(state.Path(), options), "");
  hh = std::make_unique<handheld::Handheld>(state.Path());
  service = std::make_unique<handheld::RapiService>(*hh);
  std::string error;
  ASSERT_TRUE(service->Start(0, error)) << error;
  ::setenv("ROMWIZ_HANDHELD", ("127.0.0.1:" + std::to_string(service->Port())).c_str(), 1);
  platform::SetTimeScale(kTimeScale);
  agentStart = AgentStart{};
  g_savedAgent = handheld::FindProgram("devflash.exe");
  handheld::RegisterProgram("devflash.exe", RecordAgentStart);

  // An old ROM's menus.
  for (const char16_t* folder : {u"\\Windows\\Start Menu", u"\\Windows\\Start Menu\\Programs",
                                 u"\\Windows\\Start Menu\\Settings", u"\\Norvane Menu", u"\\Norvane Menu\\Main",
                                 u"\\Norvane Menu\\Utilities", u"\\Norvane Menu\\PIM"})
    MakeDeviceFolder(folder);
  for (const char16_t* file : {u"\\Windows\\Start Menu\\Programs\\Brannock.lnk",
                               u"\\Windows\\Start Menu\\Programs\\Backup.lnk",
                               u"\\Windows\\Start Menu\\Programs\\Expansion Pack.lnk",
                               u"\\Windows\\Start Menu\\Settings\\Corvell.lnk",
                               u"\\Windows\\Start Menu\\Settings\\Auto Run.lnk",
                               u"\\Windows\\Start Menu\\Settings\\Microphone AGC.lnk",
                               u"\\Norvane Menu\\Main\\Notes.lnk", u"\\Norvane Menu\\Utilities\\Brannock.lnk",
                               u"\\Norvane Menu\\Utilities\\Backup.lnk", u"\\Norvane Menu\\PIM\\Calendar.lnk",
                               u"\\Norvane Menu\\PIM\\Contacts.lnk"})
    PutDeviceFile(file, "old");

  testsupport::ResetWizardForTest();
  ui = std::make_unique<testsupport::ScriptedFrontEnd>();
}

void PrepareTest::TearDown() {
  wizard::ShutDownLink();
  translog::EndSession("test ended");
  if (peer) peer->Stop();
  // The wizard never does what a handheld would refuse.
  if (peer) {
    EXPECT_EQ(peer->Status().violations, std::vector<std::string>{});
  }
  if (hh) {
    EXPECT_EQ(handheld::LoadViolations(hh->Folder()), std::vector<std::string>{});
  }
  rapi::CeRapiUninit();
  ui.reset();
  service->Stop();
  handheld::RegisterProgram("devflash.exe", g_savedAgent);
  platform::SetTimeScale(1);
  ::unsetenv("ROMWIZ_ACTIVESYNC_STOP");
  if (hadConfig_) ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_STATE_HOME");
}

void PrepareTest::UseImage(const std::string& code, const std::string& version) {
  handheld::DistributionOptions options;
  options.identity = {"LUMO-5800", version, code};
  options.sizeMb = 1;
  std::string imagePath;
  ASSERT_EQ(handheld::WriteDistribution(dist.Path(), options, &imagePath), "");
  const std::string language = handheld::LanguageFolderForCode(code);
  languageFolder = dist / language;
  wizard::WizardState& w = wizard::Wizard;
  std::snprintf(w.BaseFolder, sizeof w.BaseFolder, "%s", dist.Path().c_str());
  std::snprintf(w.FlashFile, sizeof w.FlashFile, "%s", imagePath.c_str());
  std::snprintf(w.DeviceInfo.ModelID, sizeof w.DeviceInfo.ModelID, "LUMO-5800");
  std::snprintf(w.DeviceInfo.Version, sizeof w.DeviceInfo.Version, "1.14");
  std::snprintf(w.DeviceInfo.Lang, sizeof w.DeviceInfo.Lang, "%s", code.c_str());
  std::snprintf(w.DeviceInfo.Language, sizeof w.DeviceInfo.Language, "%s", language.c_str());
  ASSERT_EQ(wizard::ReadImageHeader(imagePath.c_str()), 1);
}

void PrepareTest::ConnectRemoteApi() {
  wizard::Wizard.RapiInit.size = 12;
  rapi::CeRapiInitEx(&wizard::Wizard.RapiInit);
  ASSERT_TRUE(rapi::WaitForConnection(wizard::Wizard.RapiInit, 3000));
}

void PrepareTest::Connect(wizard::Connection connection) {
  wizard::Wizard.ConnectionType = connection;
  ConnectRemoteApi();
  flash = std::make_unique<peers::FileFlashStore>(hh->FlashPath());
  peers::PeerOptions options;
  options.kind = connection == wizard::Connection::Usb ? peers::PeerKind::UsbLoader : peers::PeerKind::SerialLoader;
  options.dosdevices = config / "romwiz/dosdevices";
  std::string error;
  peer = peers::StartPeer(options, *flash, &error);
  ASSERT_TRUE(peer) << error;
}

void PrepareTest::Prepare() {
  wizard::Wizard.UpgradeStarted = true;
  wizard::RunUpgradePreparation();
}

bool PrepareTest::DeviceHas(const std::u16string& path) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  handheld::ResolvedPath resolved;
  return hh->Fs().Resolve(path, resolved) == 0 && resolved.exists;
}

std::string PrepareTest::DeviceFile(const std::u16string& path) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  std::vector<std::uint8_t> bytes;
  if (!hh->ReadDeviceFile(path, bytes)) return "<missing>";
  return std::string(bytes.begin(), bytes.end());
}

void PrepareTest::PutDeviceFile(const std::u16string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  ASSERT_TRUE(hh->WriteDeviceFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
}

void PrepareTest::MakeDeviceFolder(const std::u16string& path) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  ASSERT_EQ(hh->CreateDirectory(path), 0u);
}

handheld::DeviceRegistry PrepareTest::DeviceRegistry() {
  handheld::DeviceRegistry registry;
  EXPECT_TRUE(registry.Load(handheld::RegistryPath(state.Path())));
  return registry;
}

std::string PrepareTest::RegText(const std::string& key, const std::string& name) {
  handheld::DeviceRegistry registry = DeviceRegistry();
  const handheld::RegValue* v = registry.Find("HKEY_LOCAL_MACHINE\\" + key, name);
  return v ? handheld::DeviceRegistry::Text(*v) : "<none>";
}

std::uint32_t PrepareTest::RegNumber(const std::string& key, const std::string& name) {
  handheld::DeviceRegistry registry = DeviceRegistry();
  const handheld::RegValue* v = registry.Find("HKEY_LOCAL_MACHINE\\" + key, name);
  return v ? handheld::DeviceRegistry::Dword(*v) : ~0u;
}

bool PrepareTest::RegHas(const std::string& key, const std::string& name) {
  return DeviceRegistry().Find("HKEY_LOCAL_MACHINE\\" + key, name) != nullptr;
}

std::string PrepareTest::PcRegistry() { return ReadHostFile(g_pcRegistryFile); }

}  // namespace preparetest
