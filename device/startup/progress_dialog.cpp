#include "platform/services.h"
#include "resources/progress_templates.h"
#include "startup/agent_state.h"
#include "startup/windows_phase.h"

namespace {

// The handheld's portrait screen, which the notice covers.
constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr uint32_t kFullScreenFlags =
    devos::kShfsHideTaskbar | devos::kShfsHideSipButton | devos::kShfsHideStartIcon;

uint32_t TemplateFor(uint8_t connectionType, int32_t modelCode) {
  const bool small = modelCode == kModel5300;
  if (connectionType == kConnectionSerial) return small ? kTemplateSerial5300 : kTemplateSerial5800;
  if (connectionType == kConnectionUsb) return small ? kTemplateUsb5300 : kTemplateUsb5800;
  return 0;
}

void PlaceFullScreen(devos::Window dialog) {
  devos::Rect rect{};
  devos::GetWindowRect(dialog, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int cx = devos::GetSystemMetrics(devos::kSmCxScreen);
  const int cy = devos::GetSystemMetrics(devos::kSmCyScreen);
  devos::MoveWindow(dialog, (cx - width) / 2, (cy - height) / 2, width, height, false);
  devos::MoveWindow(dialog, 0, 0, kScreenWidth, kScreenHeight, true);
  devos::SHFullScreen(devos::GetForegroundWindow(), kFullScreenFlags);
}

intptr_t ProgressDialogProc(devos::Window dialog, uint32_t message, uintptr_t, intptr_t) {
  if (message == devos::kWmInitDialog) {
    if (Agent.connectionType == kConnectionSerial) {
      devos::SetDlgItemText(dialog, kMessageControlId, Agent.serialText);
    } else if (Agent.connectionType == kConnectionUsb) {
      devos::SetDlgItemText(dialog, kMessageControlId, Agent.usbText);
    }
    PlaceFullScreen(dialog);
    return 1;
  }
  return message == devos::kWmCommand ? 1 : 0;
}

}  // namespace

uintptr_t ShowProgressDialog() {
  const uint32_t id = TemplateFor(Agent.connectionType, Agent.modelCode);
  if (id == 0) return 0;
  return devos::CreateDialogFromTemplate(Agent.instance, id, ProgressDialogProc, 0);
}
