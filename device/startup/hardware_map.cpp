#include "startup/hardware_map.h"

bool FillHardwareMap(HardwareMap& map, int32_t modelCode, uint32_t halWord3) {
  map.flashWindow = lumo::kFlashWindow;
  map.resetController = lumo::kResetController;
  map.memoryController = lumo::kMemoryController;
  map.serialPort = lumo::kSerialPort;
  map.osTimer = lumo::kOsTimer;
  map.boardLatch = lumo::kBoardLatch;
  map.boardLatchShadow = lumo::kBoardLatchShadow;
  map.debugPort = lumo::kDebugPort;
  map.loaderBuffer = 0;
  if (modelCode == kModel5800) {
    map.loaderBuffer = lumo::kLoaderBuffer5800;
  } else if (modelCode == kModel5300) {
    map.loaderBuffer = halWord3 | lumo::kUncachedBase;
  } else {
    return false;
  }
  return true;
}
