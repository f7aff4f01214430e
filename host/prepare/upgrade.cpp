#include "prepare/upgrade.h"

#include <cctype>
#include <string>
#include <vector>

#include "checks/activesync.h"
#include "base/bounded_text.h"
#include "checks/identify.h"
#include "checks/resume_record.h"
#include "platform/clock.h"
#include "platform/pc_files.h"
#include "platform/remote_api.h"
#include "handheld_files/device_files.h"
#include "prepare/settings_carry_over.h"
#include "port/port.h"
#include "wizard/screen_session.h"

namespace wizard {
namespace {

constexpr char16_t kCommandLineMode = u'U';

// The text of a fixed-size field, read no further than the field.
template <std::size_t N>
std::string Field(const char (&text)[N]) {
  std::size_t length = 0;
  while (length < N && text[length] != 0) ++length;
  return std::string(text, length);
}

// `folder` + "\" + `name` on the PC and "\Temp\" + `name` on the handheld;
// false when either would not fit its path (such a file is not staged).
bool StagingPaths(const std::string& folder, const std::string& name, std::string& pcPath,
                  std::string& devicePath) {
  pcPath = folder + "\\" + name;
  devicePath = kDeviceTempFolder + name;
  return pcPath.size() < kPathCapacity && devicePath.size() < kDevicePathCapacity;
}

// Steps 4 and 5: stages the agent and the loader file from the language
// folder, in listing order. False when the folder cannot be listed.
bool StageAgentFiles(const char* loaderName) {
  const std::string folder = Field(Wizard.BaseFolder) + "\\" + Field(Wizard.DeviceInfo.Language);
  std::vector<pc::DirEntry> entries;
  if (folder.size() >= kPathCapacity || !pc::ListFolder(folder.c_str(), entries)) return false;
  for (const pc::DirEntry& entry : entries) {
    // Any folder is passed over, whatever its other attribute bits: only
    // files are staged.
    if (entry.attributes & pc::kAttributeDirectory) continue;
    if (!EqualNoCase(entry.name.c_str(), kAgentFileName) && !EqualNoCase(entry.name.c_str(), loaderName)) continue;
    std::string pcPath, devicePath;
    if (!StagingPaths(folder, entry.name, pcPath, devicePath)) continue;
    StageFileOnDevice(pcPath.c_str(), devicePath.c_str(), entry.name.c_str());  // results are not examined
  }
  return true;
}

// Step 8: the agent did not start.
void ReportAgentStartFailure() {
  rapi::CeRapiUninit();
  screens::ShowScreen(kProgramFailureScreen);
  EndWizard();
}

// Step 9: the agent runs; the handheld is about to restart into its loader.
void HandOverToLink() {
  // The record is written first: from here on the handheld's flash may be
  // rewritten, and a later run must be able to resume.
  SaveUpgradeState();
  StopActiveSync();
  rapi::CeRapiUninit();
  platform::SleepMs(kAgentStartSettleMs);
  StartMessageLink();
}

}  // namespace

const char* LoaderFileName(Connection connection) {
  return connection == Connection::Usb ? kUsbLoaderFileName : kSerialLoaderFileName;
}

std::u16string AgentCommandLine(Connection connection) {
  const char16_t code = connection == Connection::Usb ? kUsbConnectionCode : kSerialConnectionCode;
  return std::u16string{code, u' ', kCommandLineMode};
}

void RunUpgradePreparation() {
  if (!Wizard.UpgradeStarted) return;
  const char* loaderName = LoaderFileName(Wizard.ConnectionType);
  DeleteDeviceFile((std::string(kDeviceTempFolder) + loaderName).c_str());  // the result is ignored
  const std::u16string commandLine = AgentCommandLine(Wizard.ConnectionType);
  DeleteDeviceFile(kAgentDevicePath);  // an older agent must not be started instead of this one
  // A language folder that cannot be listed ends the preparation here: the
  // agent is not started and the handheld keeps its ROM untouched.
  if (!StageAgentFiles(loaderName)) return;
  CarrySettingsOver();

  const std::u16string agent = rapi::AnsiToDevicePath(kAgentDevicePath);
  rapi::ProcessInfo process;
  if (!rapi::CeCreateProcess(agent.c_str(), commandLine.c_str(), &process)) {
    ReportAgentStartFailure();
    return;
  }
  // The process and thread handles are not closed one by one: the agent is
  // taking the handheld over, a further call could stall on a connection
  // that is going away, and closing the connection releases them.
  HandOverToLink();
}

}  // namespace wizard
