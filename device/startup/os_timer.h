// Busy waits on the OS timer (OSCR, 3,686,400 Hz, free-running 32-bit).
#pragma once
#include <stdint.h>

uint32_t ReadOsTimer();

// True once `ticks` have passed since `start`. Compares elapsed ticks, so a
// wrap of the counter neither ends the wait early nor stretches it.
bool TicksElapsed(uint32_t start, uint32_t ticks);

// Waits whole milliseconds only: n below 1000 returns at once.
void WaitMicroseconds(uint32_t microseconds);
