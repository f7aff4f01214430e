// The takeover phase: from the stop of interrupt handling to the reset. No
// operating-system call and no heap from here on.
#pragma once
#include <stdint.h>

// Memory controller, serial port, programming enable, loader installation and
// the restart. Never returns.
[[noreturn]] void RunTakeover();

// Entry of the bare takeover image: fills the map for the model (the loader
// buffer address is the one the Windows phase used) and runs the takeover.
extern "C" [[noreturn]] void TakeoverEntry(int32_t modelCode, uint32_t loaderBuffer);
