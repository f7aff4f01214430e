// The power poller behind the power warning (screen 105): every 100 ms it asks
// the handheld for its power state and enables the screen's Next button only
// while the handheld is on external power. It keeps its own status record
// (the GUI thread reads Wizard.PowerStatus) and stops when screen 105 closes
// or when StopWorkers is set.
#pragma once

namespace screens { class ScreenSession; }

namespace wizard {

constexpr unsigned kPowerPollMs = 100;

// Starts polling for `screen`; false when the thread cannot be started (the
// button then keeps its state and Next still re-checks the power).
bool StartPowerPoller(screens::ScreenSession& screen);
// Stops the poller and waits (bounded) for it; true when it has ended, or
// when none was running. After false the poller may still touch the screen.
bool StopPowerPoller();

}  // namespace wizard
