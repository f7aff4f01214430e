// The hooks through which a screen session hands the few screens that do
// more than show text to the flow above it. The engine declares them; the
// flow (flow/screen_behaviour.cpp) defines them, so the engine stands below
// the flow without knowing it. ScreenSession calls these; nothing else should.
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

}  // namespace screens
