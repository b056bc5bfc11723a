// Pipe records: see records.h.
#include "common/records.h"

#include <cstring>

#include "common/le.h"

void CopyField(char* dst, size_t size, const char* src, size_t limit) {
  std::memset(dst, 0, size);
  if (!src) return;
  size_t n = 0;
  while (n < limit && n + 1 < size && src[n]) n++;
  std::memcpy(dst, src, n);
}

// Byte offsets of the StatusLine fields.
enum : size_t {
  kSlCounters = 0,
  kSlActivity = 24,
  kSlLastAction = 28,
  kSlLastFile = 78,
  kSlLastVirus = 378,
  kSlLastUser = 408,
  kSlCurAction = 428,
  kSlCurFile = 478,
  kSlCurVirus = 778,
  kSlCurUser = 808,
  kSlCurTime = 828,
};
static_assert(kSlCurTime + 25 == kStatusLineSize, "StatusLine is 853 bytes");

// The text fields in record order, with their offsets and sizes.
#define STATUS_TEXTS(X)                 \
  X(lastAction, kSlLastAction, 50)      \
  X(lastFile, kSlLastFile, 300)         \
  X(lastVirus, kSlLastVirus, 30)        \
  X(lastUser, kSlLastUser, 20)          \
  X(currentAction, kSlCurAction, 50)    \
  X(currentFile, kSlCurFile, 300)       \
  X(currentVirus, kSlCurVirus, 30)      \
  X(currentUser, kSlCurUser, 20)        \
  X(currentTime, kSlCurTime, 25)

void EncodeStatusLine(const StatusLine& s, uint8_t out[kStatusLineSize]) {
  std::memset(out, 0, kStatusLineSize);
  for (int i = 0; i < 6; i++) PutU32(out + kSlCounters + 4 * i, (uint32_t)s.counters[i]);
  PutU32(out + kSlActivity, (uint32_t)s.activity);
#define PUT(f, off, size) CopyField((char*)out + off, size, s.f, size - 1);
  STATUS_TEXTS(PUT)
#undef PUT
}

void DecodeStatusLine(const uint8_t in[kStatusLineSize], StatusLine* s) {
  for (int i = 0; i < 6; i++) s->counters[i] = GetI32(in + kSlCounters + 4 * i);
  s->activity = GetI32(in + kSlActivity);
#define GET(f, off, size)                \
  std::memcpy(s->f, in + off, size);     \
  s->f[size - 1] = 0;
  STATUS_TEXTS(GET)
#undef GET
}

void EncodeConsoleCommand(const ConsoleCommand& c, uint8_t out[kConsoleCommandSize]) {
  std::memset(out, 0, kConsoleCommandSize);
  PutU32(out, (uint32_t)c.code);
  CopyField((char*)out + 4, 300, c.text, 299);
}

void DecodeConsoleCommand(const uint8_t in[kConsoleCommandSize], ConsoleCommand* c) {
  c->code = GetI32(in);
  // The last byte of the text is not significant and never read.
  std::memcpy(c->text, in + 4, 299);
  c->text[299] = 0;
}
