// Test doubles of the operations the wizard calls, over one plain record of
// what the fake handheld, PC and image files hold, and counters of the calls.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "scripted_front_end.h"

namespace fake {

constexpr const char* kBaseFolder = "C:\\Romwiz";
constexpr const char* kFolderImage = "C:\\Romwiz\\English\\rom.nbf";
constexpr std::uint8_t kFlashMB = 32;

struct Image {
  std::string model = "PP5800", lang = "ENG", version = "1.41", language = "English";
  std::uint32_t bytes = 30u << 20;
  bool sound = true;  // its checksum holds
};

struct World {
  // PC
  bool windows95 = false, oldNt = false, activeSyncOk = true;
  bool resumePending = false;
  std::map<std::string, Image> images;  // by path; a path not here cannot be opened
  bool sizeReadable = true;
  bool fileExists = false;
  bool freeBytesReadable = true;
  std::uint64_t freeBytes = 1ull << 30;
  // Handheld
  std::string model = "PP5800", version = "1.14", lang = "ENG", language = "English";
  bool identifies = true, identifyEnds = true;
  bool chooseUsb = false;               // USB chosen on the connection screen
  bool powerReadable = true;
  std::uint8_t acAtStart = 1;           // the driver's first reading
  std::atomic<std::uint8_t> acLater{1};  // every later reading (Next of 105, the poller)
  bool verifies = true, verifyEnds = false;
  bool preparationEnds = false;
  // Transfer: what the download worker does.
  int transferResult = 1;
  std::uint32_t bytesLeftAfterTransfer = 0;
  bool touchBytesToSend = true;
  bool workerEndsScreen = true;  // false: leaves the screen to its timers
  // Calls seen.
  int initCommonControls = 0, serialPortReads = 0, identifyCalls = 0, powerCalls = 0;
  int verifyCalls = 0, headerReads = 0, sizeReads = 0, preparations = 0;
  int restartActiveSync = 0, setDeviceClock = 0, markCritical = 0, closePort = 0;
  int shutDownTransfer = 0, releaseBuffers = 0;
  std::atomic<int> pollerCalls{0};
  std::vector<std::string> readmeFolders, freeSpaceQueries;
  std::thread::id guiThread;
};

World& The();
// A fresh world, fresh wizard state and every operation bound to its double.
void Install();

}  // namespace fake
