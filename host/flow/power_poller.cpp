#include "flow/power_poller.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/remote_api.h"
#include "flow/driver.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace wizard {
namespace {

constexpr int kNextButton = 1;
constexpr std::uint8_t kOnExternalPower = 1;  // ACLineStatus
// Real milliseconds StopPowerPoller waits: one poll interval plus a slow
// remote call.
constexpr std::uint32_t kPollerJoinMs = 5000;

struct Poller {
  screens::ScreenSession* screen = nullptr;
  std::atomic<bool> stop{false};
  rapi::PowerStatus status;  // the poller's own record
  platform::Thread* thread = nullptr;
};

Poller* running = nullptr;  // GUI thread only

bool MustStop(const Poller& poller) { return poller.stop || Workers.StopWorkers; }

unsigned long PollPower(void* argument) {
  auto& poller = *static_cast<Poller*>(argument);
  while (!MustStop(poller)) {
    platform::SleepMs(kPowerPollMs);
    if (MustStop(poller)) break;
    // A failed call leaves the button as it is.
    if (Ops.CeGetSystemPowerStatusEx(&poller.status, true) && !MustStop(poller)) {
      poller.screen->Enable(kNextButton, poller.status.ACLineStatus == kOnExternalPower);
    }
  }
  return 0;
}

}  // namespace

bool StartPowerPoller(screens::ScreenSession& screen) {
  StopPowerPoller();  // one poller per opening of screen 105
  auto* poller = new Poller;
  poller->screen = &screen;
  poller->thread = platform::StartThread(PollPower, poller);
  if (poller->thread == nullptr) {
    delete poller;
    return false;
  }
  running = poller;
  return true;
}

bool StopPowerPoller() {
  Poller* poller = running;
  if (poller == nullptr) return true;
  running = nullptr;
  poller->stop = true;
  bool ended = platform::JoinThread(poller->thread, kPollerJoinMs);
  platform::ReleaseThread(poller->thread);
  // A poller stuck in a remote call keeps its record: it is not freed under it.
  if (ended) delete poller;
  return ended;
}

}  // namespace wizard
