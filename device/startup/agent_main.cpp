#include "loader/load_image.h"
#include "platform/bus.h"
#include "platform/services.h"
#include "platform/takeover_start.h"
#include "startup/agent_state.h"
#include "startup/debug_print.h"
#include "startup/takeover.h"
#include "startup/wide_text.h"
#include "startup/windows_phase.h"

namespace {

constexpr uint32_t kCommandLineChars = 3;
constexpr char16_t kCommandMarker = u'U';
constexpr uint32_t kNoticePauseMs = 100;
constexpr uint32_t kLoaderBufferClearBytes = 0x20000;

void DebugLineWithNumber(uint32_t value, const char16_t* text) {
  char16_t digits[12];
  WideFromUnsigned(value, digits, 12);
  devos::OutputDebugString(digits);
  devos::OutputDebugString(text);
}

// The HAL record is cleared first, so a failed request leaves zeros. On the
// 5300 the loader buffer comes from word 3: without a usable address there
// is no buffer to load into, and the agent gives up before touching RAM.
bool ReadHalInformation() {
  ClearBytes(Agent.halInformation, sizeof Agent.halInformation);
  const uint16_t request = kHalInformationRequest;
  const bool ok = devos::KernelIoControl(kIoctlHalInformation, &request, sizeof request,
                                         Agent.halInformation, sizeof Agent.halInformation);
  if (Agent.modelCode != kModel5300) return true;
  if (!ok || Agent.halInformation[kHalLoaderBufferWord] == 0) return false;
  Agent.halInformation[kHalLoaderBufferWord] |= lumo::kUncachedBase;
  return true;
}

void StopInterrupts() {
  DebugPrint("interrupts off\n");
  const uint32_t none = 0;
  devos::KernelIoControl(kIoctlStopInterrupts, &none, sizeof none, nullptr, 0);
}

}  // namespace

int DevflashMain(void* instance, const char16_t* commandLine) {
  // The length is checked before the third character is read.
  if (WideLength(commandLine) < kCommandLineChars || commandLine[2] != kCommandMarker) {
    devos::OutputDebugString(u"No Argument\n");
    return 0;
  }
  Agent.instance = instance;
  SelectLanguageTexts();
  Agent.connectionType = static_cast<uint8_t>(commandLine[0] & 0xFF);
  DebugLineWithNumber(commandLine[0], u" Program start\n");

  Agent.modelCode = DetectModel();
  const bool halUsable = ReadHalInformation();
  if (!halUsable ||
      !FillHardwareMap(Agent.hardwareMap, Agent.modelCode,
                       Agent.halInformation[kHalLoaderBufferWord])) {
    devos::OutputDebugString(u"PhysicalToVirtual Fail!\n");
    return 0;
  }

  ShowProgressDialog();
  devos::Sleep(kNoticePauseMs);
  devos::OutputDebugString(u"Close Ras\n");
  CloseRasConnections();

  DebugPrint("Begin \n");
  ClearBytes(devbus::RamPointer(Agent.hardwareMap.loaderBuffer), kLoaderBufferClearBytes);
  if (LoadLoaderImage() == 0) return 0;

  StopInterrupts();
  devplatform::StartTakeover(Agent.modelCode, Agent.hardwareMap.loaderBuffer);
}
