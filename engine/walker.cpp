// Path walker: see walker.h.
//
// Both walks keep one stack entry per level entered below the start: the
// plain walk the enumeration of the level's subdirectories, the catalog
// walk the level's directory record and how many of its subdirectories the
// directory pass listed (a sibling list that runs longer than that is
// damaged). A subdirectory that cannot be entered, or would be the
// kWalkDepthMax + 1st level, is passed over. Each walk ends back in its
// start directory.
#include "engine/walker.h"

#include <cstring>
#include <string>

#include "common/config.h"
#include "engine/dispatch.h"
#include "engine/file_scanner.h"
#include "engine/integrity.h"
#include "engine/status.h"
#include "platform/files.h"

constexpr size_t kStartPathSize = 1024;   // the start path as the platform spells it
constexpr size_t kSpecNameChars = 255;    // characters of a name tried against FILESPEC

// One level of the plain walk: the enumeration of its subdirectories.
struct PlainLevel {
  FindHandle handle;      // kNoFind when none is open
  FindData entry;         // the entry PlatFindFirst returned, until taken
  bool pending;           // entry has not been looked at yet
};

// One level above the current directory of the catalog walk.
struct CatalogLevel {
  DirectoryRecord record;     // the directory's record
  int32_t remaining;          // subdirectories of its list not visited yet
};

static struct {
  char pattern[kNameMax];                  // singleFilePattern, valid when single
  bool single;                             // a single file is being scanned
  char start[kStartPathSize];              // the start directory of the walk
  PlainLevel plain[kWalkDepthMax];         // plain walk stack
  CatalogLevel catalog[kWalkDepthMax];     // catalog walk stack
  DirectoryRecord current;                 // catalog walk: the current directory's record
  BootSectorScan bootScan;                 // diskette boot sectors, or null
} gWalk;

static char Upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 32) : c; }

void SetBootSectorScan(BootSectorScan scan) { gWalk.bootScan = scan; }
const char* SingleFilePattern() { return gWalk.single ? gWalk.pattern : nullptr; }
const char* CurrentDirectoryText() { return Request().directory; }

static bool StopOrAbort() { return stopRequested.load() != 0 || abortRequested.load() != 0; }

bool WalkMustEnd() {
  if (commandPending.load() == 0) PollConsoleCommand();
  return StopOrAbort();
}

// ---------------------------------------------------------------------------
// Names

size_t NormalizePath(const char* in, char* out, size_t outSize) {
  if (outSize == 0) return 0;
  const char* p = in;
  if (const char* colon = std::strchr(in, ':'))
    for (const char* q = in; q < colon; q++)
      if (*q == '/') p = q + 1;
  size_t n = 0;
  for (; *p && n + 1 < outSize; p++) {
    out[n++] = *p == '/' ? '\\' : *p;
    if (*p == ':' && p[1] != '/' && p[1] != '\\' && n + 1 < outSize) out[n++] = '\\';
  }
  out[n] = 0;
  return n;
}

bool MatchFileSpecPattern(const char* p, const char* n) {
  // One backtracking point, the last "*": what it takes grows one character
  // at a time until the rest of the pattern fits.
  const char* star = nullptr;   // pattern just after the last "*"
  const char* mark = nullptr;   // where that "*" started taking characters
  for (;;) {
    if (*n == 0) {
      if (*p == 0 || *p == '*') return true;
      if (!star || *mark == 0) return false;
      p = star;
      n = ++mark;
      continue;
    }
    if (*p == '*') {
      star = ++p;
      mark = n;
      if (*p == 0) return true;
      continue;
    }
    if (*p != 0 && *p == *n) {
      p++;
      n++;
      continue;
    }
    if (!star) return false;
    p = star;
    n = ++mark;
  }
}

bool MatchesFileSpec(const char* name) {
  const char* base = name;
  for (const char* p = name; *p; p++)
    if (*p == '\\' || *p == ':') base = p + 1;
  char upper[kSpecNameChars + 1];
  size_t n = 0;
  for (; base[n] && n < kSpecNameChars; n++) upper[n] = Upper(base[n]);
  upper[n] = 0;
  for (const FileSpec* f = gConfig.fileSpecs; f; f = f->next)
    if (MatchFileSpecPattern(f->pattern, upper)) return true;
  return false;
}

// Compares n characters without regard to case: a directory named "Temp"
// on the disk is the \TEMP of the skip list, whose names the configuration
// reader upper-cases (Windows names are case-insensitive).
static bool PrefixEqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = (char)(x - 32);
    if (y >= 'a' && y <= 'z') y = (char)(y - 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
  return true;
}

DirectorySwitches DirectoryOptions(const char* currentDirectory) {
  char cur[kNameMax];
  NormalizePath(currentDirectory, cur, sizeof cur);
  const char* colon = std::strchr(cur, ':');
  const size_t c = colon ? (size_t)(colon - cur) : 0;
  const size_t afterColon = colon ? c + 1 : 0;
  DirectorySwitches sw{true, true};
  for (const SkipDirectory* s = gConfig.skipDirectories; s; s = s->next) {
    char entry[kNameMax];
    size_t n = NormalizePath(s->name, entry, sizeof entry);
    if (n <= c) continue;
    // An entry with a drive is compared from the start, one without from
    // the current directory's colon on; the prefix need not end at a "\".
    const char* at = cur + (entry[c] == ':' ? 0 : afterColon);
    if (!PrefixEqualNoCase(at, entry, n)) continue;
    if (s->SubDirsAlso || at[n] == 0) {
      sw.scanKnown = s->PreventKnownVirus != 0;
      sw.checkNew = s->PreventNewVirus != 0;
    }
  }
  return sw;
}

// The current directory text, refreshed when a directory is entered.
static void RefreshDirectoryText() {
  std::string cwd = PlatGetCurrentDirectory();
  NormalizePath(cwd.c_str(), Request().directory, sizeof Request().directory);
}

void SetDisplayName(const char* name, size_t limit) {
  ScanRequest& r = Request();
  const size_t dl = std::strlen(r.directory);
  const size_t nl = std::strlen(name);
  const size_t sep = (dl > 0 && r.directory[dl - 1] == '\\') ? 0 : 1;
  if (limit >= sizeof r.displayName) limit = sizeof r.displayName - 1;
  if (dl + sep + nl <= limit) {
    std::memmove(r.displayName, r.directory, dl);
    if (sep) r.displayName[dl] = '\\';
    std::memcpy(r.displayName + dl + sep, name, nl + 1);
  } else {
    SetStatusText(r.displayName, sizeof r.displayName, name);
  }
  SetStatusText(Status().currentFile, sizeof Status().currentFile, r.displayName);
}

// ---------------------------------------------------------------------------
// Plain walk

// The files of the current directory: every candidate name and every name
// FILESPEC takes.
static void PlainFiles() {
  FindData fd;
  FindHandle h = PlatFindFirst(gWalk.single ? gWalk.pattern : "*.*", &fd, kFindNamesOnly);
  if (h == kNoFind) return;
  do {
    if (WalkMustEnd()) break;
    if (fd.attributes & (kAttrDirectory | kAttrReparse)) continue;
    if (!IsScanCandidateName(fd.name) && !MatchesFileSpec(fd.name)) continue;
    SetDisplayName(fd.name, kScanDisplayLimit);
    SendStatusLine(true);
    DispatchFile(fd.name, true);
  } while (PlatFindNext(h, &fd));
  PlatFindClose(h);
}

enum SubdirectoryStep { kNoMoreSubdirectories, kSubdirectoryFound, kWalkEnds };

// The next subdirectory of a level whose name does not begin with ".".
static SubdirectoryStep NextPlainSubdirectory(PlainLevel* level) {
  for (;;) {
    if (StopOrAbort()) return kWalkEnds;
    if (level->pending)
      level->pending = false;
    else if (level->handle == kNoFind || !PlatFindNext(level->handle, &level->entry))
      return kNoMoreSubdirectories;
    const FindData& e = level->entry;
    if ((e.attributes & kAttrDirectory) && !(e.attributes & kAttrReparse) && e.name[0] != '.')
      return kSubdirectoryFound;
  }
}

static void PlainWalk() {
  int depth = 0;   // levels on the stack
  PlainLevel level{kNoFind, {}, false};
  bool enter = true;
  for (;;) {
    if (enter) {
      enter = false;
      if (StopOrAbort()) break;
      RefreshDirectoryText();
      PlainFiles();
      if (gWalk.single || StopOrAbort()) break;
      level.handle = PlatFindFirst("*.*", &level.entry, kFindDirectoriesOnly);
      level.pending = level.handle != kNoFind;
    }
    SubdirectoryStep step = NextPlainSubdirectory(&level);
    if (step == kWalkEnds) break;
    if (step == kSubdirectoryFound) {
      if (depth < kWalkDepthMax && PlatSetCurrentDirectory(level.entry.name)) {
        gWalk.plain[depth++] = level;
        level = PlainLevel{kNoFind, {}, false};
        enter = true;
      }
      continue;
    }
    PlatFindClose(level.handle);
    level.handle = kNoFind;
    if (depth == 0 || !PlatSetCurrentDirectory("..")) break;
    level = gWalk.plain[--depth];
  }
  PlatFindClose(level.handle);
  while (depth > 0) PlatFindClose(gWalk.plain[--depth].handle);
}

// ---------------------------------------------------------------------------
// Catalog walk

// Brings the catalog in step along the start path, from the root down,
// entering each directory; *cur ends as the start directory's record.
static bool DescendToStart(char drive, DirectoryRecord* cur) {
  const char root[4] = {drive, ':', '\\', 0};
  if (!ReadRootDirectory(cur) || !PlatSetCurrentDirectory(root)) return false;
  const char* p = gWalk.start + 3;
  while (*p) {
    const char* end = std::strchr(p, '\\');
    size_t n = end ? (size_t)(end - p) : std::strlen(p);
    if (n > 0) {
      char component[kRecordNameField];
      if (n >= sizeof component) return false;
      std::memcpy(component, p, n);
      component[n] = 0;
      DirectoryRecord child;
      if (!DescendPass(cur, component, &child) || !PlatSetCurrentDirectory(child.name)) return false;
      *cur = child;
    }
    p += n + (end ? 1 : 0);
  }
  return true;
}

// A catalog record is entered by its name: only a plain directory name can
// have come from an enumeration.
static bool PlainName(const char* name) {
  return name[0] != 0 && name[0] != '.' && !std::strpbrk(name, "\\/:");
}

static void CatalogLoop(DirectoryRecord* cur) {
  int depth = 0;            // levels on the stack
  DirectoryRecord next;     // the subdirectory to try next
  bool haveNext = false;
  int32_t remaining = 0;    // of the current directory's subdirectories
  bool enter = true;
  for (;;) {
    if (enter) {
      enter = false;
      if (StopOrAbort()) return;
      RefreshDirectoryText();
      if (!DirectoryPass(cur, &next, &haveNext, &remaining)) return;
      if (gWalk.single || StopOrAbort()) return;
    }
    if (haveNext) {
      if (StopOrAbort()) return;
      if (remaining-- <= 0 || !PlainName(next.name)) {
        MarkIntegrityInconsistent();
        return;
      }
      if (depth < kWalkDepthMax && PlatSetCurrentDirectory(next.name)) {
        gWalk.catalog[depth++] = CatalogLevel{*cur, remaining};
        *cur = next;
        enter = true;
        continue;
      }
      DirectoryRecord passed = next;
      if (!NextSiblingRecord(*cur, passed, &next, &haveNext)) return;
      continue;
    }
    if (depth == 0 || !PlatSetCurrentDirectory("..")) return;
    DirectoryRecord child = *cur;
    depth--;
    *cur = gWalk.catalog[depth].record;
    remaining = gWalk.catalog[depth].remaining;
    if (!NextSiblingRecord(*cur, child, &next, &haveNext)) return;
  }
}

static void CatalogWalk(char drive) {
  bool catalog = DescendToStart(drive, &gWalk.current);
  if (PlatSetCurrentDirectory(gWalk.start)) {
    if (catalog)
      CatalogLoop(&gWalk.current);
    else
      PlainWalk();
  }
  CloseIntegrityDatabase();
  if (IntegrityInconsistent()) {
    PlatSetCurrentDirectory(gWalk.start);
    DeleteIntegrityFiles(drive);
  }
}

// ---------------------------------------------------------------------------
// Entries

int ScanPath(const char* path) {
  if (!path || !path[0] || !PlatSetCurrentDirectory(path)) return kWalkNoPath;
  std::string cwd = PlatGetCurrentDirectory();
  if (cwd.size() < 3 || cwd.size() >= sizeof gWalk.start) return kWalkNoPath;
  std::memcpy(gWalk.start, cwd.c_str(), cwd.size() + 1);
  const char drive = Upper(cwd[0]);
  if (drive == 'A' || drive == 'B') {
    if (gWalk.bootScan) {
      gWalk.bootScan(drive);
      if (!PlatSetCurrentDirectory(gWalk.start)) return kWalkDone;
    }
    PlainWalk();
  } else {
    if (!OpenIntegrityDatabase()) return kWalkNoDatabase;
    CatalogWalk(drive);
  }
  PlatSetCurrentDirectory(gWalk.start);
  return kWalkDone;
}

int ScanSingleFile(const char* fullPath) {
  if (!fullPath || !fullPath[0]) return kWalkDone;
  char dir[kNameMax + 1];
  if (NormalizePath(fullPath, dir, sizeof dir) >= kNameMax) return kWalkNoPath;   // too long for a path
  char* cut = std::strrchr(dir, '\\');
  if (!cut || cut[1] == 0) return kWalkNoPath;
  std::memcpy(gWalk.pattern, cut + 1, std::strlen(cut + 1) + 1);
  // A file of a root directory: the directory keeps its "\".
  if (cut > dir && cut[-1] == ':')
    cut[1] = 0;
  else
    *cut = 0;
  gWalk.single = true;
  int result = ScanPath(dir);
  gWalk.single = false;
  gWalk.pattern[0] = 0;
  return result;
}
