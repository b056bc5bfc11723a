// The one file that the scanner, or the cleaner, has open.
//
// Every part of the engine that reads or changes a program file opens it
// with OpenTargetFile and closes it with CloseTargetFile. Scan mode opens
// read-only and denies other writers; clean mode makes the file writable
// first (so read-only, hidden and system files can be cleaned) and puts the
// attributes back at close. Whether a file is an MZ program is decided by
// its first two bytes, never by its name.
//
// State: two instances, the scanner's (ScannerFile) and the vaccine
// executor's; each holds one open file at a time. Service thread only.
#pragma once

#include <cstdint>

#include "platform/files.h"

enum TargetMode : int { kModeNotOpen = 0, kModeScan = 1, kModeClean = 2 };

struct TargetFile {
  uint32_t savedAttributes;   // attributes read before a clean-mode open
  bool haveSavedAttributes;   // false in scan mode or when unreadable
  FileHandle handle;          // kNoFile when not open
  int32_t size;               // size taken at opening; -1 when unknown
  bool isMZ;                  // first two bytes are 'M','Z'
  TargetMode mode;
};

// Opens path in the given mode into *tf; returns the handle or kNoFile.
// A clean-mode failure has already put the attributes back.
FileHandle OpenTargetFile(const char* path, TargetMode mode, TargetFile* tf);
// Closes the handle if open; in clean mode restores the saved attributes.
// Safe to call on a state that is not open.
void CloseTargetFile(const char* path, TargetFile* tf);

// The scanner's instance, used by the file scanner, the special detectors,
// scan dispatch and the integrity database's reconstruction.
TargetFile* ScannerFile();
