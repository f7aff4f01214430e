#include "platform/services.h"
#include "startup/agent_state.h"
#include "startup/wide_text.h"
#include "startup/windows_phase.h"

namespace {
constexpr uint32_t kOemInfoBytes = 400;
constexpr uint32_t kOemInfoChars = kOemInfoBytes / 2;
}  // namespace

int32_t DetectModel() {
  char16_t oem[kOemInfoChars];
  ClearBytes(oem, sizeof oem);
  devos::GetOemInfo(oem, sizeof oem);
  oem[kOemInfoChars - 1] = u'\0';  // searched only within the buffer
  if (WideContains(oem, u"5800")) {
    devos::OutputDebugString(u"\nPetrel 5800\n");
    return kModel5800;
  }
  if (WideContains(oem, u"5300")) {
    devos::OutputDebugString(u"\nPetrel-Lite 5300\n");
    return kModel5300;
  }
  return kModelNone;
}
