// Memory for the engine's tables and buffers. Goes through the fault
// injector so that tests can make an allocation fail.
#pragma once

#include <cstddef>

void* PlatAlloc(size_t n);     // zero-filled; null on failure
void PlatFree(void* p);
