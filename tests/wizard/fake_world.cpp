#include "fake_world.h"

#include <cstdio>
#include <memory>

#include "image/image_file.h"
#include "flow/driver.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace fake {
namespace {

std::unique_ptr<World> world;

template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

bool Identify() {
  World& w = The();
  ++w.identifyCalls;
  if (!w.identifies) {
    if (w.identifyEnds) wizard::EndWizard();
    return false;
  }
  if (w.chooseUsb) wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  auto& device = wizard::Wizard.DeviceInfo;
  Put(device.ModelID, w.model);
  Put(device.Version, w.version);
  Put(device.Lang, w.lang);
  Put(device.Language, w.language);
  Put(wizard::Wizard.FolderImagePath, kFolderImage);
  Put(wizard::Wizard.FlashFile, kFolderImage);
  wizard::Wizard.ImageSizeKB = w.images[kFolderImage].bytes >> 10;
  return true;
}

bool Power(rapi::PowerStatus* status, bool) {
  World& w = The();
  if (std::this_thread::get_id() != w.guiThread) {
    ++w.pollerCalls;
    status->ACLineStatus = w.acLater;
    return w.powerReadable;
  }
  status->ACLineStatus = w.powerCalls++ == 0 ? w.acAtStart : w.acLater.load();
  return w.powerReadable;
}

bool Verify() {
  World& w = The();
  ++w.verifyCalls;
  wizard::Wizard.DeviceInfo.FlashSizeMB = kFlashMB;
  if (w.verifyEnds) wizard::EndWizard();
  return w.verifies;
}

bool ReadHeader(const char* path) {
  World& w = The();
  ++w.headerReads;
  auto found = w.images.find(path);
  if (found == w.images.end()) {
    wizard::EndWizard();  // as the real reader, after its "ERROR 104"
    return false;
  }
  Put(wizard::ImageHeader.ImageModelID, found->second.model);
  Put(wizard::ImageHeader.ImageLang, found->second.lang);
  Put(wizard::ImageHeader.ImageVersion, found->second.version);
  Put(wizard::ImageHeader.ImageLanguage, found->second.language);
  return true;
}

std::uint32_t ImageSize(const char* path) {
  World& w = The();
  ++w.sizeReads;
  auto found = w.images.find(path);
  if (!w.sizeReadable || found == w.images.end()) {
    wizard::EndWizard();
    return 0;
  }
  return found->second.bytes;
}

unsigned long DownloadWorker(void*) {
  World& w = The();
  if (w.touchBytesToSend) wizard::Workers.BytesToSend = w.bytesLeftAfterTransfer;
  if (w.workerEndsScreen) wizard::ProgressScreen.load()->End(w.transferResult);
  return 0;
}

unsigned long BackupWorker(void*) {
  wizard::Workers.BackupDone = true;
  wizard::BackupScreen.load()->End(1);
  return 0;
}

}  // namespace

World& The() { return *world; }

void Install() {
  testsupport::ResetWizardForTest();
  world = std::make_unique<World>();
  world->guiThread = std::this_thread::get_id();
  world->images[kFolderImage] = Image{};
  auto& ops = wizard::Ops;
  ops.IsWindows95 = [] { return The().windows95; };
  ops.IsOldWindowsNT = [] { return The().oldNt; };
  ops.ActiveSyncVersionOk = [] { return The().activeSyncOk; };
  ops.InitCommonControls = [] { ++The().initCommonControls; };
  ops.CurrentFolder = [] { return std::string(kBaseFolder); };
  ops.LoadUpgradeState = [] { return The().resumePending; };
  ops.MarkCriticalState = [] { ++The().markCritical; };
  ops.ReadSerialPortSetting = [](char* out) {
    ++The().serialPortReads;
    std::snprintf(out, 100, "%s", "COM2:");
  };
  ops.RestartActiveSync = [] { ++The().restartActiveSync; };
  ops.SetDeviceClock = [] { ++The().setDeviceClock; };
  ops.CeRapiInitEx = [](rapi::InitRecord*) { return std::int32_t{0}; };
  ops.CeGetSystemPowerStatusEx = Power;
  ops.IdentifyDevice = Identify;
  ops.VerifyImageAndDevice = Verify;
  ops.ReadImageHeader = ReadHeader;
  ops.GetImageFileSize = ImageSize;
  ops.ImageChecksumHolds = [](const char* path) {
    auto found = The().images.find(path);
    return found != The().images.end() && found->second.sound;
  };
  ops.RunUpgradePreparation = [] {
    ++The().preparations;
    if (The().preparationEnds) wizard::EndWizard();
    return !The().preparationEnds;
  };
  ops.UpgradeDownloadWorker = DownloadWorker;
  ops.ResumeDownloadWorker = DownloadWorker;
  ops.BackupWorker = BackupWorker;
  ops.ReleaseTransferBuffers = [] { ++The().releaseBuffers; };
  ops.ShutDownTransfer = [] { ++The().shutDownTransfer; };
  ops.ClosePort = [] { ++The().closePort; };
  ops.FileExists = [](const char*) { return The().fileExists; };
  ops.FreeBytes = [](const char* path, std::uint64_t& bytes) {
    The().freeSpaceQueries.push_back(path);
    bytes = The().freeBytes;
    return The().freeBytesReadable;
  };
  ops.OpenReadme = [](const char* folder) { The().readmeFolders.push_back(folder); };
}

}  // namespace fake
