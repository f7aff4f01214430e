// The handheld OS as the simulator gives it to the agent: the state behind
// the services seam (platform/services.h). A simulator or a test fills a
// HostedHandheld, makes it current with ScopedServices and runs the agent;
// afterwards the records show what the agent did (dialogs, debug lines,
// hang-ups, HAL requests).
//
// Running the agent as the program "\Temp\Devflash.exe":
//   soc::Soc soc(board);            soc::ScopedBus bus(soc);
//   hosted::HostedHandheld os;      hosted::ScopedServices services(os);
//   ResetAgentState(); ResetFlashDriver();
//   try { DevflashMain(instance, commandLine); }  // 0: gave up, Windows CE runs on
//   catch (const soc::DeviceReset&) { ... }       // the takeover ended in the reset
// The agent's state (Agent, FlashDriver) is process-wide: one agent at a time.
#pragma once
#include <stdint.h>

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/services.h"

namespace hosted {

struct WindowMove {
  int x, y, width, height;
  bool repaint;
};

struct DialogRecord {
  uint32_t templateId;
  devos::Window window;
  std::u16string messageText;  // control 1021: built-in text until set
  devos::Rect rect;            // current window rectangle in pixels
  std::vector<WindowMove> moves;
  bool fullScreen = false;
  uint32_t fullScreenFlags = 0;
};

struct HostedFile {
  std::vector<uint8_t> bytes;
  uint32_t attributes = 0;  // 16 for a folder
  bool openFails = false;
  bool sizeFails = false;
  bool readFails = false;
};

struct RasLine {
  uint32_t handle;
  uint32_t hangUpError = 0;
};

struct HostedHandheld {
  // What the OS reports.
  std::u16string oemInfo;
  std::u16string halLanguage;
  bool halLanguageFails = false;
  std::array<uint32_t, 21> halInformation{};
  bool halInformationFails = false;
  // Files by full path ("\temp\flash_usb.nb"); folders list their entries
  // in name order. Paths compare without regard to case, as on the handheld.
  std::map<std::u16string, HostedFile> files;
  std::vector<RasLine> rasConnections;
  uint32_t rasEnumError = 0;
  int screenWidth = 240;
  int screenHeight = 320;
  // Dialog size in pixels for a 150 x 168 unit template (System font 10).
  int dialogWidth = 225;
  int dialogHeight = 273;

  // Runs the takeover phase elsewhere (the simulator's StrongARM core) when
  // set; it ends by throwing, as the handheld's reset does. Unset: the x86
  // build of the takeover code runs here.
  std::function<void(int32_t modelCode, uint32_t loaderBuffer)> takeover;

  // What the agent did.
  std::vector<uint32_t> ioctlCodes;  // every KernelIoControl code, in order
  bool interruptsStopped = false;
  std::vector<std::u16string> debugLines;
  std::vector<DialogRecord> dialogs;
  std::vector<uint32_t> hungUp;
  uint32_t sleptMs = 0;
  int openHandles = 0;  // files and searches not yet closed
  // Requests a handheld would refuse: HAL requests with an unknown code or
  // the wrong input or output size. Empty after a correct run.
  std::vector<std::string> violations;
};

// Makes a handheld the one the services act on, for the scope's lifetime.
class ScopedServices {
 public:
  explicit ScopedServices(HostedHandheld& handheld);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  HostedHandheld* previous_;
};

// Adds a file with the given bytes.
void AddFile(HostedHandheld& handheld, const std::u16string& path, std::vector<uint8_t> bytes);

// All debug lines joined, as UTF-8 for easy comparison (ASCII only).
std::string DebugText(const HostedHandheld& handheld);

}  // namespace hosted
