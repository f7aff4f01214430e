#include "startup/hardware_map.h"

bool FillHardwareMap(HardwareMap& map, int32_t modelCode, uint32_t halWord3) {
  if (modelCode != kModel5800 && modelCode != kModel5300) return false;
  map.flashWindow = lumo::kFlashWindow;
  map.resetController = lumo::kResetController;
  map.memoryController = lumo::kMemoryController;
  map.serialPort = lumo::kSerialPort;
  map.osTimer = lumo::kOsTimer;
  map.boardLatch = lumo::kBoardLatch;
  map.boardLatchShadow = lumo::kBoardLatchShadow;
  map.debugPort = lumo::kDebugPort;
  map.loaderBuffer = modelCode == kModel5800 ? lumo::kLoaderBuffer5800
                                             : (halWord3 | lumo::kUncachedBase);
  return true;
}
