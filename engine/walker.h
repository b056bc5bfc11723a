// Path walker: turns a request to scan a drive, a directory or one file into
// a sequence of single-file scans through scan dispatch.
//
// Drives A: and B: are walked plainly: their boot sector is handed to the
// boot-sector scan first, then the directories are enumerated directly.
// Every other drive is walked through its integrity database (integrity.h):
// the directory catalog leads the walk and the file records decide which
// files need scanning at all; a drive without a usable database is not
// scanned. Both walks are depth first and pre-order, a directory's files
// before its subdirectories, at most kWalkDepthMax levels below the start.
// Every directory is entered with a change of current directory and files
// are opened by their bare names; links are never entered or scanned.
// Before each file the walk polls for a console command and ends when a
// stop, an abort or a command is pending.
//
// State: the single-file pattern, the start path, the current directory
// text, the two walk stacks and the boot-sector hand-off (module state of
// walker.cpp). Service thread only; walks do not nest, and a walk owns the
// process's current directory while it runs.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kWalkDepthMax = 100;          // levels entered below the start
constexpr size_t kScanDisplayLimit = 295;   // display name of a file that is scanned
constexpr size_t kCheckDisplayLimit = 298;  // display name of a file that is checked

// What ScanPath did.
enum WalkResult : int {
  kWalkNoPath = -1,       // the path cannot be made the current directory
  kWalkDone = 0,          // the walk ran (to its end, or until stopped)
  kWalkNoDatabase = 1,    // not A: or B:, and no usable integrity database: nothing scanned
};

// Walks a drive root ("C:\") or a directory.
int ScanPath(const char* path);
// Scans one file by its full path: the walk of its directory limited to
// that name, entering no subdirectory. An empty path does nothing (kWalkDone).
int ScanSingleFile(const char* fullPath);

// Rewrites a path the way the walker keeps paths: everything up to a "/"
// that stands before the drive colon is dropped, "/" becomes "\", and a
// colon not followed by a separator gets a "\". Writes at most outSize - 1
// characters and the terminator; returns the length written.
size_t NormalizePath(const char* in, char* out, size_t outSize);

// True when the name (its part after the last "\" or ":", upper-cased, at
// most 255 characters) matches a FILESPEC pattern of the configuration.
bool MatchesFileSpec(const char* name);
// The matching rule: only "*" is special; when the name is used up the
// pattern matches if what remains of it is empty or begins with "*".
bool MatchFileSpecPattern(const char* pattern, const char* upperName);

// What the skip list says for a directory: scanKnown (scan new and changed
// files for known viruses) and checkNew (check known files against their
// records). Both are on unless an entry matches; the last matching entry
// decides.
struct DirectorySwitches {
  bool scanKnown;
  bool checkNew;
};
DirectorySwitches DirectoryOptions(const char* currentDirectory);

// For the file pass of the integrity database, which examines a catalog
// walk's files.
const char* SingleFilePattern();      // null unless a single file is scanned
const char* CurrentDirectoryText();   // normalized, at most 299 characters
// Polls for a console command unless one is pending; true when the walk
// must end (stop or abort requested).
bool WalkMustEnd();
// Sets the display name of a file of the current directory (directory, "\"
// and name when that fits in `limit` characters, else the name alone) into
// the scan request and the status record's current file.
void SetDisplayName(const char* name, size_t limit);

// The boot-sector scan of a diskette drive, run before a walk of A: or B:.
// Null (the default) scans nothing.
using BootSectorScan = void (*)(char driveLetter);
void SetBootSectorScan(BootSectorScan scan);
