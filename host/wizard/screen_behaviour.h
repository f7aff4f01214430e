// What the few screens that do more than show text do beyond the screen
// table: the connection choice (158), the power warning (105), the
// incompatible-image highlight (123), the backup offer (125), the ready
// screen (130), the progress screens (102, 132), the after-transfer screen
// (167), the closing screens (133, 160) and the transfer errors (142, 114).
// ScreenSession calls these hooks; nothing else should.
#pragma once

namespace screens {

class ScreenSession;

namespace behaviour {

// After the table has filled the controls, before the screen is drawn.
void Opened(ScreenSession& session);

enum class Outcome {
  UseTable,  // end by the table's result for the command, or ignore it if unlisted
  Ignore,    // the command does nothing
  End,       // end with `result`
};
Outcome Command(ScreenSession& session, int command, int& result);

void Timer(ScreenSession& session, int timer);
// The user toggled a radio button or check box (already recorded).
void UserChecked(ScreenSession& session, int control, bool checked);
// Red background: the differing pair on screen 123.
bool Highlighted(const ScreenSession& session, int control);
// On the GUI thread once the screen has ended. False when a thread of the
// screen (power poller, worker) did not end in time and may still use the
// session: the caller must then not free it.
bool Closed(ScreenSession& session);

}  // namespace behaviour

// Screen 102 in its resume form (duration text by Serial or Critical, the
// resume worker, abandon by timers 1 and 2 only). Returns its result.
int ShowResumeProgressScreen();

}  // namespace screens
