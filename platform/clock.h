// The system time in UTC. Tests may pin the clock to a fixed instant.
//
// State: the pinned instant, if any (module state of clock.cpp).
#pragma once

#include <cstdint>

struct SystemTime {
  int year, month, day, hour, minute, second;
};

void PlatGetSystemTimeUtc(SystemTime* out);
// Pins the clock to a Unix time; a negative value returns to the real clock.
void PlatSetTestClock(int64_t unixSeconds);
// Milliseconds since an arbitrary start, for timing.
uint64_t PlatTickCount();
void PlatSleep(unsigned milliseconds);
