// System clock: see clock.h.
#include "platform/clock.h"

#include <ctime>
#include <time.h>
#include <unistd.h>

static int64_t gPinnedTime = -1;   // pinned Unix time, or -1 for the real clock

void PlatGetSystemTimeUtc(SystemTime* out) {
  time_t now = gPinnedTime >= 0 ? (time_t)gPinnedTime : time(nullptr);
  struct tm tmv;
  gmtime_r(&now, &tmv);
  out->year = tmv.tm_year + 1900;
  out->month = tmv.tm_mon + 1;
  out->day = tmv.tm_mday;
  out->hour = tmv.tm_hour;
  out->minute = tmv.tm_min;
  out->second = tmv.tm_sec;
}

void PlatSetTestClock(int64_t unixSeconds) { gPinnedTime = unixSeconds; }

uint64_t PlatTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

void PlatSleep(unsigned milliseconds) { usleep(milliseconds * 1000u); }
