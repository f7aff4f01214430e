// Process-wide state of the handheld agent: one instance, set during start-up,
// read by the takeover code. Tests call ResetAgentState between cases.
#pragma once
#include <stdint.h>

#include "startup/hardware_map.h"

constexpr uint32_t kNoticeChars = 256;
constexpr uint32_t kHalInformationWords = 21;  // 84 bytes
constexpr uint32_t kHalLoaderBufferWord = 3;

// ConnectionType codes from the command line.
constexpr uint8_t kConnectionSerial = 1;
constexpr uint8_t kConnectionUsb = 2;

struct AgentState {
  void* instance;
  uint8_t connectionType;  // ConnectionType code
  int32_t modelCode;       // ModelCode
  HardwareMap hardwareMap;
  uint32_t halInformation[kHalInformationWords];
  char16_t serialText[kNoticeChars];
  char16_t usbText[kNoticeChars];
};

extern AgentState Agent;

void ResetAgentState();
