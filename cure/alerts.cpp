// Network alerts, first cut: see alerts.h.
//
// RaiseAlert here checks what the sender will check before any network work
// (is anything to be sent, is the text within its limit) and then queues the
// text in the outbox synchronously. The network sender, with its worker
// thread and its mutex, takes over this body.
#include "cure/alerts.h"

#include <cstring>

#include "common/config.h"

char alertText[kAlertTextMax + 1];

static struct {
  char text[kAlertOutboxSize][kAlertTextMax + 1];  // ring of raised texts
  size_t first;                                    // slot of the oldest text
  size_t count;                                    // texts held
} gOutbox;

int RaiseAlert() {
  if (!gConfig.sendToConsole && !gConfig.sendToUsers) return 1;
  // A text without a terminator in its buffer is longer than the limit.
  const void* end = memchr(alertText, 0, sizeof alertText);
  if (!end) return 0;
  size_t len = (size_t)((const char*)end - alertText);
  size_t slot = (gOutbox.first + gOutbox.count) % kAlertOutboxSize;
  if (gOutbox.count == kAlertOutboxSize)
    gOutbox.first = (gOutbox.first + 1) % kAlertOutboxSize;
  else
    gOutbox.count++;
  memcpy(gOutbox.text[slot], alertText, len + 1);
  return 1;
}

size_t AlertOutboxCount() { return gOutbox.count; }

const char* AlertOutboxText(size_t i) {
  if (i >= gOutbox.count) return nullptr;
  return gOutbox.text[(gOutbox.first + i) % kAlertOutboxSize];
}

void AlertOutboxClear() {
  gOutbox.first = 0;
  gOutbox.count = 0;
}
