// What the few screens that do more than show text do beyond the screen
// table: the connection choice (158), the power warning (105), the
// incompatible-image highlight (123), the backup offer (125), the ready
// screen (130), the progress screens (102, 132), the after-transfer screen
// (167), the closing screens (133, 160) and the transfer errors (142, 114).
// They implement the hooks of wizard/screen_hooks.h.
#pragma once
#include "wizard/screen_hooks.h"

namespace screens {


// Screen 102 in its resume form (duration text by Serial or Critical, the
// resume worker, abandon by timers 1 and 2 only). Returns its result.
int ShowResumeProgressScreen();

}  // namespace screens
