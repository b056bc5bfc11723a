// Fault injection for tests: any open, read, write, seek, length change,
// rename or allocation of the platform layer can be made to fail on request,
// so that every failure path of the engine (and the message it sets) can be
// reached.
//
// State: one counter pair per kind (module state of faults.cpp). Only tests
// arm faults; in normal runs every check is one load of a zero counter.
#pragma once

enum FaultKind : int {
  kFaultOpen,
  kFaultRead,
  kFaultWrite,
  kFaultSeek,
  kFaultSetLength,
  kFaultRename,
  kFaultDelete,
  kFaultAlloc,
  kFaultKinds
};

// Lets `skip` calls of the kind pass, then fails the next `count`.
// A pathPart (opens only) limits the fault to paths containing it.
void FaultArm(FaultKind kind, int skip, int count = 1, const char* pathPart = nullptr);
void FaultReset();

// Used inside the platform layer: true when this call must fail.
bool FaultHit(FaultKind kind, const char* path = nullptr);
