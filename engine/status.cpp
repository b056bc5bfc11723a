// Status texts, counters and service flags: see status.h.
#include "engine/status.h"

#include <cstring>

#include "cure/report_log.h"

std::atomic<int32_t> stopRequested{0};
std::atomic<int32_t> commandPending{0};
std::atomic<int32_t> abortRequested{0};

// Records kept in the outbox at most; older ones are dropped first so that
// a long run without a reader cannot grow without bound.
constexpr size_t kOutboxLimit = 4096;

static struct {
  ScanCounters counters;              // the six counters
  StatusTexts texts;                  // what the next record carries
  int32_t activity;                   // Activity code
  char onlineUser[kOnlineUserNameSize];   // user of the online event
  StatusSink sink;                    // service's status pipe, or null
  CommandPoll poll;                   // service's command pipe, or null
  std::vector<StatusLine> outbox;     // records delivered without a sink
} gStatus = {{}, {}, kActivityInitialScan, {}, nullptr, nullptr, {}};

ScanCounters& Counters() { return gStatus.counters; }
StatusTexts& Status() { return gStatus.texts; }
int32_t& CurrentActivity() { return gStatus.activity; }
char* OnlineUserName() { return gStatus.onlineUser; }

void SetStatusText(char* dst, size_t size, const char* src) {
  size_t n = src ? std::strlen(src) : 0;
  if (n > size - 1) n = size - 1;
  if (n) std::memmove(dst, src, n);
  dst[n] = 0;
}

void BuildStatusLine(bool withEvent, StatusLine* s) {
  std::memset(s, 0, sizeof *s);
  const ScanCounters& c = gStatus.counters;
  int32_t counters[6] = {c.totalFiles, c.copied, c.cleaned, c.infected, c.reconstructed, c.modified};
  std::memcpy(s->counters, counters, sizeof counters);
  s->activity = gStatus.activity;
  StatusTexts& t = gStatus.texts;
  CopyField(s->lastAction, sizeof s->lastAction, t.lastAction, kActionChars);
  CopyField(s->lastFile, sizeof s->lastFile, t.lastFile, kFileChars);
  CopyField(s->lastVirus, sizeof s->lastVirus, t.lastVirus, kVirusChars);
  CopyField(s->lastUser, sizeof s->lastUser, t.lastUser, kUserChars);
  if (!withEvent) return;
  CopyField(s->currentAction, sizeof s->currentAction, t.currentAction, kActionChars);
  CopyField(s->currentFile, sizeof s->currentFile, t.currentFile, kFileChars);
  CopyField(s->currentVirus, sizeof s->currentVirus, t.currentVirus, kVirusChars);
  if (s->currentVirus[0]) {
    char stamp[32];
    FormatTimeStamp(stamp);
    CopyField(s->currentTime, sizeof s->currentTime, stamp, 24);
    const char* user = gStatus.onlineUser[0] ? gStatus.onlineUser : "System";
    CopyField(s->currentUser, sizeof s->currentUser, user, kUserChars);
  }
  t.currentAction[0] = 0;
  t.currentVirus[0] = 0;
}

bool SendStatusLine(bool withEvent) {
  StatusLine s;
  BuildStatusLine(withEvent, &s);
  if (gStatus.sink) return gStatus.sink(s);
  if (gStatus.outbox.size() >= kOutboxLimit) gStatus.outbox.erase(gStatus.outbox.begin());
  gStatus.outbox.push_back(s);
  return true;
}

bool PollConsoleCommand() { return gStatus.poll ? gStatus.poll() : false; }

void SetStatusSink(StatusSink sink) { gStatus.sink = sink; }
void SetCommandPoll(CommandPoll poll) { gStatus.poll = poll; }
const std::vector<StatusLine>& StatusOutbox() { return gStatus.outbox; }
void ClearStatusOutbox() { gStatus.outbox.clear(); }
