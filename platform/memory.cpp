// Engine memory: see memory.h.
#include "platform/memory.h"

#include <cstdlib>

#include "platform/faults.h"

void* PlatAlloc(size_t n) {
  if (FaultHit(kFaultAlloc)) return nullptr;
  return std::calloc(n ? n : 1, 1);
}

void PlatFree(void* p) { std::free(p); }
