// What the engine tells the console, and the flags every walk obeys.
//
// The engine keeps the texts that every status record carries (the current
// action, file and virus, and the last infection's action, file, virus and
// user), the six counters and the Activity code, and fills them as it scans.
// SendStatusLine builds a StatusLine from them and hands it to the status
// sink: the service's pipe when the service runs, otherwise an in-process
// outbox that tests and tools read. PollConsoleCommand is the hand-off to
// the service's command pipe, and does nothing without a service.
//
// The service flags are set by the service's control handler (another
// thread) and by the command poll; walks test them between files.
//
// State: the status texts, counters, activity, the online user name, the
// sinks and the outbox (module state of status.cpp); the service flags
// (atomics). Service thread, except the flags.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/records.h"

// Service flags: 32-bit words read by every walk between files.
extern std::atomic<int32_t> stopRequested;
extern std::atomic<int32_t> commandPending;
extern std::atomic<int32_t> abortRequested;

// The six counters, in record order.
struct ScanCounters {
  int32_t totalFiles;
  int32_t copied;
  int32_t cleaned;
  int32_t infected;
  int32_t reconstructed;
  int32_t modified;
};
ScanCounters& Counters();

// The status texts with their sizes (limit + 1).
struct StatusTexts {
  char currentAction[40];
  char currentFile[300];
  char currentVirus[30];
  char lastAction[40];
  char lastFile[300];
  char lastVirus[30];
  char lastUser[20];
};
StatusTexts& Status();
// Copies src into a status text, cut to fit; the `size` is the text's size.
void SetStatusText(char* dst, size_t size, const char* src);

int32_t& CurrentActivity();

// The user whose file access is being scanned (online scan), empty
// otherwise.
char* OnlineUserName();
constexpr size_t kOnlineUserNameSize = 257;

// Builds the record (and, with an event, clears the current action and
// virus so the next record does not repeat them).
void BuildStatusLine(bool withEvent, StatusLine* out);
// Builds and delivers one record; returns whether it was delivered whole.
bool SendStatusLine(bool withEvent);
// Reads a console command if one arrived; sets commandPending and
// abortRequested. Returns false without a service.
bool PollConsoleCommand();

// The service installs its pipe ends here; null restores the outbox.
using StatusSink = bool (*)(const StatusLine& record);
using CommandPoll = bool (*)();
void SetStatusSink(StatusSink sink);
void SetCommandPoll(CommandPoll poll);

// The outbox: every record delivered while no sink is installed.
const std::vector<StatusLine>& StatusOutbox();
void ClearStatusOutbox();
