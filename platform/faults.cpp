// Fault injector: see faults.h.
#include "platform/faults.h"

#include <cstring>
#include <string>

static struct {
  int skip[kFaultKinds];       // calls still to let through
  int count[kFaultKinds];      // calls to fail after that
  std::string pathPart;        // open faults: only paths containing this
  bool armed;                  // any counter non-zero
} gFaults;

void FaultArm(FaultKind kind, int skip, int count, const char* pathPart) {
  gFaults.skip[kind] = skip;
  gFaults.count[kind] = count;
  if (kind == kFaultOpen) gFaults.pathPart = pathPart ? pathPart : "";
  gFaults.armed = true;
}

void FaultReset() {
  for (int k = 0; k < kFaultKinds; k++) gFaults.skip[k] = gFaults.count[k] = 0;
  gFaults.pathPart.clear();
  gFaults.armed = false;
}

bool FaultHit(FaultKind kind, const char* path) {
  if (!gFaults.armed || gFaults.count[kind] <= 0) return false;
  if (kind == kFaultOpen && !gFaults.pathPart.empty() &&
      (path == nullptr || std::strstr(path, gFaults.pathPart.c_str()) == nullptr))
    return false;
  if (gFaults.skip[kind] > 0) {
    gFaults.skip[kind]--;
    return false;
  }
  gFaults.count[kind]--;
  return true;
}
