// Console seam: what a command-line program of the system (romwiz-flash)
// needs of the terminal it runs in. Linux: signals and isatty; Win32: the
// console control handler and the console mode.
#pragma once

namespace platform {

// From now on Ctrl-C (on Windows also Ctrl-Break) does not end the process
// but is remembered; the program looks at Interrupted() between its steps and
// stops in order (port closed, log written).
void CatchInterrupt();
// True once Ctrl-C was pressed after CatchInterrupt.
bool Interrupted();
// True when standard error is a terminal (a console window on Windows), so
// that a progress line may be rewritten in place.
bool StandardErrorIsTerminal();

}  // namespace platform
