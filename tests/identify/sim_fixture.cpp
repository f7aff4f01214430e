#include "sim_fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/clock.h"
#include "platform/remote_api.h"
#include "wizard/wizard_state.h"
#include "violations.h"

namespace identifytest {

Scratch::Scratch() {
  std::string pattern = (std::filesystem::temp_directory_path() / "romwiz-identify-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
}

Scratch::~Scratch() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void WriteHostFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ProgramOverride::ProgramOverride(const std::string& fileName, handheld::ProgramHandler handler)
    : name_(handheld::LowerAscii(fileName)), saved_(handheld::FindProgram(name_)) {
  handheld::RegisterProgram(name_, handler);
}

ProgramOverride::~ProgramOverride() { handheld::RegisterProgram(name_, saved_); }

void SimWorld::SetUp() {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  hadConfig_ = old != nullptr;
  if (old) oldConfig_ = old;
  ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  WriteActiveSyncKey();

  ASSERT_EQ(handheld::CreateHandheld(state.Path(), HandheldOptions()), "");
  hh = std::make_unique<handheld::Handheld>(state.Path());
  service = std::make_unique<handheld::RapiService>(*hh);
  std::string error;
  ASSERT_TRUE(service->Start(0, error)) << error;
  ::setenv("ROMWIZ_HANDHELD", ("127.0.0.1:" + std::to_string(service->Port())).c_str(), 1);
  platform::SetTimeScale(kTimeScale);

  testsupport::ResetWizardForTest();
  ui = std::make_unique<testsupport::ScriptedFrontEnd>();
  Distribute(DistributionFor());
}

void SimWorld::TearDown() {
  // The wizard never does what a handheld would refuse.
  if (hh) {
    EXPECT_EQ(handheld::LoadViolations(hh->Folder()), std::vector<std::string>{});
  }
  rapi::CeRapiUninit();
  ui.reset();
  service->Stop();
  platform::SetTimeScale(1);
  if (hadConfig_) ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
}

handheld::CreateOptions SimWorld::HandheldOptions() const {
  handheld::CreateOptions options;
  options.identity = {"LUMO-5800", "1.14.00", "ENG"};
  options.flashMb = 32;
  options.romMb = 1;
  return options;
}

handheld::DistributionOptions SimWorld::DistributionFor(const std::string& code) const {
  handheld::DistributionOptions options;
  options.identity = {"LUMO-5800", "1.20.00", code};
  options.sizeMb = 1;
  return options;
}

void SimWorld::Distribute(const handheld::DistributionOptions& options) {
  imagePath.clear();
  ASSERT_EQ(handheld::WriteDistribution(dist.Path(), options, &imagePath), "");
  language = handheld::LanguageFolderForCode(options.identity.language);
  std::snprintf(wizard::Wizard.BaseFolder, sizeof wizard::Wizard.BaseFolder, "%s", dist.Path().c_str());
}

void SimWorld::Connect() {
  wizard::Wizard.RapiInit.size = 12;
  // The attempt is waited for here, unscaled: the identification's own wait
  // is 3000 ms divided by the fixture's time scale, which a busy machine can
  // overrun.
  testsupport::StartRemoteApiAndWait(&wizard::Wizard.RapiInit);
}

void SimWorld::StartConnecting() {
  wizard::Wizard.RapiInit.size = 12;
  rapi::CeRapiInitEx(&wizard::Wizard.RapiInit);
}

void SimWorld::WriteActiveSyncKey() {
  WriteHostFile(config / "romwiz/registry.reg",
                "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows CE Services]\r\n"
                "\"MajorVersion\"=dword:00000003\r\n\"MinorVersion\"=dword:00000005\r\n"
                "\"SerialPort\"=\"COM1\"\r\n");
}

bool SimWorld::DeviceHas(const std::u16string& path) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  handheld::ResolvedPath resolved;
  return hh->Fs().Resolve(path, resolved) == 0 && resolved.exists;
}

std::string SimWorld::DeviceFile(const std::u16string& path) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  std::vector<std::uint8_t> bytes;
  if (!hh->ReadDeviceFile(path, bytes)) return "<missing>";
  return std::string(bytes.begin(), bytes.end());
}

void SimWorld::PutDeviceFile(const std::u16string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  ASSERT_TRUE(hh->WriteDeviceFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
}

std::uint32_t SimWorld::DeviceAttributes(const std::u16string& path) {
  std::lock_guard<std::mutex> guard(hh->Lock());
  handheld::ResolvedPath resolved;
  if (hh->Fs().Resolve(path, resolved) != 0 || !resolved.exists) return 0;
  return hh->Fs().Attributes(resolved);
}

void SimWorld::Change(const std::function<void(handheld::HandheldState&)>& change) {
  ASSERT_TRUE(hh->ChangeState(change));
}

}  // namespace identifytest
