#include "startup/takeover.h"

#include "loader/install.h"
#include "startup/agent_state.h"
#include "startup/board_latch.h"
#include "startup/memory_controller.h"
#include "startup/serial_port.h"

void RunTakeover() {
  TuneMemoryController();
  SetupSerialPort();
  SetBoardLatchBits(kLatchFlashProgramEnable);
  // With interrupt handling stopped there is no way back to Windows CE: the
  // handheld is reset whatever the installation returned.
  InstallLoader();
  RestartDevice();
}

extern "C" void TakeoverEntry(int32_t modelCode, uint32_t loaderBuffer) {
  Agent.modelCode = modelCode;
  if (!FillHardwareMap(Agent.hardwareMap, modelCode, loaderBuffer)) {
    RestartDevice();  // unknown board: reset without touching the flash
  }
  Agent.hardwareMap.loaderBuffer = loaderBuffer;
  RunTakeover();
}
