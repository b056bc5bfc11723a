// Integrity database: see integrity.h.
//
// The lists. Each directory record heads two doubly linked lists, its
// subdirectories (KVNET.IMP) and its files (KVNET.ORT), kept in the order of
// the directory's last enumeration. A pass over a directory walks its list
// with a cursor while it enumerates the disk: an entry whose name is at the
// cursor costs one record read; one found further on, or a new one, is
// linked in just before the cursor; when the enumeration has run to its
// end, the cursor and every record after it belong to names that are gone
// and go to the free list. Records before the cursor are therefore exactly
// those matched by this pass, so a search looks forward from the cursor
// only: a name behind it would be a second entry spelled the same without
// regard to case, which gets a record of its own.
//
// Damage. A record is used only when its own position is where it was read,
// its state is in use or free, its links are -1 or record positions other
// than its own, and its counts are within the sampling constants and its
// length. Links are checked against their neighbours before a change, a
// search gives up after kSearchStepLimit records and a chain freed at once
// after kFreeDirectoryLimit or kFreeFileLimit. Any failure marks the
// database inconsistent; the walk then ends and the files are deleted.
#include "engine/integrity.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/le.h"
#include "cure/alerts.h"
#include "cure/report_log.h"
#include "engine/dispatch.h"
#include "engine/file_scanner.h"
#include "engine/status.h"
#include "engine/target_file.h"
#include "engine/walker.h"
#include "platform/files.h"
#include "platform/machine.h"

constexpr const char* kFileListHeaderName = "********.***";
constexpr int kDriveFirst = 'C' - 'A';   // drives with a database: C: to Z:
constexpr int kDriveLast = 'Z' - 'A';

// The three files of a drive, in the order they are opened.
enum DbFile : int { kOrt, kAnt, kImp, kDbFiles };
static const char* const kDbFileNames[kDbFiles] = {"KVNET.ORT", "KVNET.ANT", "KVNET.IMP"};

static struct {
  FileHandle files[kDbFiles];          // the open database, kNoFile when closed
  char drive;                          // its drive letter, 0 when none is open
  bool dirty;                          // the drive's marker is kMarkerDirty since the opening
  bool fresh;                          // the files were created by this opening
  bool inconsistent;                   // damage was found
  DirectorySwitches switches;          // of the directory whose files are examined
  FileHandle stateFile;                // QUELTAN.CDI, kNoFile when not open
  bool dirtyInMemory[kDriveStates];    // drive states kept without the state file
  uint8_t samples[3 * kSampleBytes];   // head, tail and middle sample of one file
} gDb = {{kNoFile, kNoFile, kNoFile}, 0, false, false, false, {true, true}, kNoFile, {}, {}};

static FileHandle Ort() { return gDb.files[kOrt]; }
static FileHandle Ant() { return gDb.files[kAnt]; }
static FileHandle Imp() { return gDb.files[kImp]; }

static char Upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 32) : c; }

static bool SameName(const char* a, const char* b) {
  for (; *a && *b; a++, b++)
    if (Upper(*a) != Upper(*b)) return false;
  return *a == *b;
}

static bool ContainsNoCase(const char* text, const char* word) {
  size_t n = std::strlen(word);
  for (const char* p = text; *p; p++) {
    size_t i = 0;
    while (i < n && p[i] && Upper(p[i]) == word[i]) i++;
    if (i == n) return true;
  }
  return false;
}

// Programs whose body the sample check compares.
static bool IsProgramName(const char* name) {
  return ContainsNoCase(name, ".EXE") || ContainsNoCase(name, ".COM");
}

// ---------------------------------------------------------------------------
// Raw access

// Reads up to n bytes at pos; the count read, -1 on failure.
static int32_t ReadSome(FileHandle h, int64_t pos, uint8_t* buf, uint32_t n) {
  if (n == 0) return 0;
  if (pos < 0 || PlatSeek(h, pos, kSeekBegin) != pos) return -1;
  return PlatReadFile(h, buf, n);
}

static bool ReadAt(FileHandle h, int64_t pos, uint8_t* buf, uint32_t n) {
  return ReadSome(h, pos, buf, n) == (int32_t)n;
}

static bool WriteAt(FileHandle h, int64_t pos, const uint8_t* buf, uint32_t n) {
  if (n == 0) return true;
  if (pos < 0 || PlatSeek(h, pos, kSeekBegin) != pos) return false;
  return PlatWriteFile(h, buf, n) == (int32_t)n;
}

// Where a record appended to the file goes: its length, rounded up to a
// whole record so that a partly written last record is overwritten.
static int32_t AppendPosition(FileHandle h, uint32_t size) {
  int64_t length = PlatFileSize(h);
  if (length < 0) return -1;
  int64_t pos = (length + size - 1) / size * size;
  return pos > INT32_MAX - (int64_t)size ? -1 : (int32_t)pos;
}

// ---------------------------------------------------------------------------
// Checksums

void HeadSums(const uint8_t* bytes, size_t n, uint16_t* a, uint16_t* b) {
  uint16_t sa = 0, sb = 0;
  for (size_t i = 0; i < n; i++) {
    int v = (int8_t)bytes[i];
    int k = (int)(i & 0xFF);
    sa = (uint16_t)(sa + (uint16_t)(v ^ k));
    sb = (uint16_t)(sb + (uint16_t)(v ^ (255 - k)));
  }
  *a = sa;
  *b = sb;
}

void SampleSums(const uint8_t* bytes, size_t n, uint32_t* a, uint32_t* b) {
  uint32_t sa = 0, sb = 0;
  for (size_t i = 0; i < n; i++) {
    int32_t v = (int8_t)bytes[i];
    int32_t k = (int32_t)(i & 0xFF);
    sa += (uint32_t)(v ^ k);
    sb += (uint32_t)(v ^ (255 - k));
  }
  *a = sa;
  *b = sb;
}

// ---------------------------------------------------------------------------
// Layouts

static void PutI32(uint8_t* p, int32_t v) { PutU32(p, (uint32_t)v); }

// Copies a name field; a field without its terminator gives a name of 256
// characters, which no record in use may have.
static void DecodeName(const uint8_t* field, char* out) {
  size_t n = 0;
  while (n < kRecordNameField && field[n]) n++;
  std::memcpy(out, field, n);
  out[n] = 0;
}

void EncodeDirectoryRecord(const DirectoryRecord& r, uint8_t* b) {
  PutI32(b + 0, r.own);
  PutI32(b + 4, r.unused);
  std::memset(b + 8, 0, kRecordNameField);
  std::memcpy(b + 8, r.name, strnlen(r.name, kRecordNameField - 1));
  PutI32(b + 264, r.parent);
  PutI32(b + 268, r.firstChild);
  PutI32(b + 272, r.prev);
  PutI32(b + 276, r.next);
  b[280] = r.depth;
  b[281] = r.state;
  PutI32(b + 282, r.firstFile);
}

void DecodeDirectoryRecord(const uint8_t* b, DirectoryRecord* r) {
  r->own = GetI32(b + 0);
  r->unused = GetI32(b + 4);
  DecodeName(b + 8, r->name);
  r->parent = GetI32(b + 264);
  r->firstChild = GetI32(b + 268);
  r->prev = GetI32(b + 272);
  r->next = GetI32(b + 276);
  r->depth = b[280];
  r->state = b[281];
  r->firstFile = GetI32(b + 282);
}

void EncodeFileRecord(const FileRecord& r, uint8_t* b) {
  PutI32(b + 0, r.own);
  PutI32(b + 4, r.unused);
  size_t n = strnlen(r.name, kRecordNameField - 1);
  std::memset(b + 8, ' ', kRecordNameField);
  std::memcpy(b + 8, r.name, n);
  b[8 + n] = 0;
  PutI32(b + 264, r.prev);
  PutI32(b + 268, r.next);
  PutU16(b + 272, r.headSumA);
  PutU16(b + 274, r.headSumB);
  PutU32(b + 276, r.sampleSumA);
  PutU32(b + 280, r.sampleSumB);
  PutU16(b + 284, r.firstCount);
  PutU16(b + 286, r.lastCount);
  PutU16(b + 288, r.headLength);
  PutU16(b + 290, r.middleLength);
  PutU16(b + 292, r.tailLength);
  PutI32(b + 294, r.length);
  PutI32(b + 298, r.saveBlock);
  b[302] = r.state;
}

void DecodeFileRecord(const uint8_t* b, FileRecord* r) {
  r->own = GetI32(b + 0);
  r->unused = GetI32(b + 4);
  DecodeName(b + 8, r->name);
  r->prev = GetI32(b + 264);
  r->next = GetI32(b + 268);
  r->headSumA = GetU16(b + 272);
  r->headSumB = GetU16(b + 274);
  r->sampleSumA = GetU32(b + 276);
  r->sampleSumB = GetU32(b + 280);
  r->firstCount = GetU16(b + 284);
  r->lastCount = GetU16(b + 286);
  r->headLength = GetU16(b + 288);
  r->middleLength = GetU16(b + 290);
  r->tailLength = GetU16(b + 292);
  r->length = GetI32(b + 294);
  r->saveBlock = GetI32(b + 298);
  r->state = b[302];
}

// ---------------------------------------------------------------------------
// The state file

static int DriveIndex(char letter) { return Upper(letter) - 'A'; }

bool IntegrityStateFileOpen() { return gDb.stateFile != kNoFile; }

void CloseIntegrityStateFile() {
  PlatCloseFile(gDb.stateFile);
  gDb.stateFile = kNoFile;
}

bool OpenIntegrityStateFile() {
  CloseIntegrityStateFile();
  uint32_t attrs = PlatGetAttributes(kStateFilePath);
  if (attrs != kAttrInvalid && (attrs & kAttrReadOnly) && !(attrs & kAttrDirectory))
    PlatSetAttributes(kStateFilePath, attrs & ~(uint32_t)kAttrReadOnly);
  FileHandle h = PlatOpenFile(kStateFilePath, kAccessReadWrite);
  if (h == kNoFile) h = PlatOpenFile(kStateFilePath, kAccessReadWrite | kOpenCreate);
  if (h == kNoFile) return false;
  // A new file, or one cut short, gets its missing records, all clean; the
  // records it has keep their markers and reserved bytes.
  int64_t size = PlatFileSize(h);
  int64_t have = size < 0 ? 0 : size / kDriveStateSize;
  for (int64_t i = have; i < kDriveStates; i++) {
    uint8_t rec[kDriveStateSize] = {};
    PutU32(rec, kMarkerClean);
    if (!WriteAt(h, i * kDriveStateSize, rec, sizeof rec)) {
      PlatCloseFile(h);
      return false;
    }
  }
  gDb.stateFile = h;
  return true;
}

static uint32_t ReadDriveMarker(char letter) {
  int i = DriveIndex(letter);
  uint8_t b[4];
  if (gDb.stateFile != kNoFile && ReadAt(gDb.stateFile, (int64_t)i * kDriveStateSize, b, 4))
    return GetU32(b);
  return gDb.dirtyInMemory[i] ? kMarkerDirty : kMarkerClean;
}

// Only the marker is written: the reserved bytes stay as they are.
static void WriteDriveMarker(char letter, uint32_t marker) {
  int i = DriveIndex(letter);
  gDb.dirtyInMemory[i] = marker != kMarkerClean;
  if (gDb.stateFile == kNoFile) return;
  uint8_t b[4];
  PutU32(b, marker);
  WriteAt(gDb.stateFile, (int64_t)i * kDriveStateSize, b, 4);
}

// Before the first write to KVNET.ORT or KVNET.ANT (or to a file being
// rebuilt) of an opening.
static void MarkDirty() {
  if (gDb.dirty) return;
  WriteDriveMarker(gDb.drive, kMarkerDirty);
  gDb.dirty = true;
}

// ---------------------------------------------------------------------------
// Records

bool IntegrityFresh() { return gDb.fresh; }
bool IntegrityInconsistent() { return gDb.inconsistent; }
void MarkIntegrityInconsistent() { gDb.inconsistent = true; }

static bool Inconsistent() {
  gDb.inconsistent = true;
  return false;
}

// A link to a record of a list: none, or a record position (record 0 is
// the root or the header, never in a list).
static bool ListLink(int32_t p, uint32_t size) { return p == -1 || (p > 0 && p % (int32_t)size == 0); }

static bool UsableState(uint8_t state) { return state == kRecordInUse || state == kRecordFree; }

static bool UsableDirectory(const DirectoryRecord& r, int32_t pos) {
  bool parentOk = r.parent == -1 || (r.parent >= 0 && r.parent % (int32_t)kDirectoryRecordSize == 0);
  return r.own == pos && std::strlen(r.name) < kRecordNameField && UsableState(r.state) && parentOk &&
         ListLink(r.firstChild, kDirectoryRecordSize) && ListLink(r.prev, kDirectoryRecordSize) &&
         ListLink(r.next, kDirectoryRecordSize) && ListLink(r.firstFile, kFileRecordSize) &&
         r.parent != pos && r.firstChild != pos && r.prev != pos && r.next != pos;
}

static bool UsableFile(const FileRecord& r, int32_t pos) {
  return r.own == pos && std::strlen(r.name) < kRecordNameField && UsableState(r.state) &&
         ListLink(r.prev, kFileRecordSize) && ListLink(r.next, kFileRecordSize) && r.prev != pos &&
         r.next != pos && r.firstCount <= kFirstBytes && r.lastCount <= kLastBytes &&
         r.headLength <= kSampleBytes && r.middleLength <= kSampleBytes && r.tailLength <= kSampleBytes &&
         r.length >= 0 && r.saveBlock >= -1 && r.firstCount + r.lastCount <= r.length &&
         r.headLength + r.middleLength + r.tailLength <= r.length;
}

static bool Load(int32_t pos, DirectoryRecord* r) {
  uint8_t b[kDirectoryRecordSize];
  if (!ReadAt(Imp(), pos, b, sizeof b)) return Inconsistent();
  DecodeDirectoryRecord(b, r);
  return UsableDirectory(*r, pos) || Inconsistent();
}

static bool Store(const DirectoryRecord& r) {
  uint8_t b[kDirectoryRecordSize];
  EncodeDirectoryRecord(r, b);
  return WriteAt(Imp(), r.own, b, sizeof b) || Inconsistent();
}

static bool Load(int32_t pos, FileRecord* r) {
  uint8_t b[kFileRecordSize];
  if (pos <= 0 || !ReadAt(Ort(), pos, b, sizeof b)) return Inconsistent();
  DecodeFileRecord(b, r);
  return UsableFile(*r, pos) || Inconsistent();
}

static bool Store(const FileRecord& r) {
  uint8_t b[kFileRecordSize];
  EncodeFileRecord(r, b);
  MarkDirty();
  return WriteAt(Ort(), r.own, b, sizeof b) || Inconsistent();
}

static bool LoadHeader(FileRecord* h) {
  uint8_t b[kFileRecordSize];
  if (!ReadAt(Ort(), 0, b, sizeof b)) return Inconsistent();
  DecodeFileRecord(b, h);
  return (h->own == 0 && ListLink(h->next, kFileRecordSize)) || Inconsistent();
}

static DirectoryRecord NewRootRecord() {
  DirectoryRecord r{};
  r.own = 0;
  r.unused = -1;
  std::strcpy(r.name, "\\");
  r.parent = r.firstChild = r.prev = r.next = r.firstFile = -1;
  r.depth = 0;
  r.state = kRecordInUse;
  return r;
}

static FileRecord NewHeaderRecord() {
  FileRecord h{};
  h.own = 0;
  h.unused = -1;
  std::strcpy(h.name, kFileListHeaderName);
  h.prev = h.next = -1;
  h.headSumA = (uint16_t)kFileListFormat;
  h.headSumB = (uint16_t)kFileListRevision;
  h.saveBlock = -1;
  h.state = 0;
  return h;
}

// The free lists' heads: the root's next sibling, the header's next file.
// The root may be the directory at hand, whose copy in memory is the one to
// change.
static bool ReadFreeHead(DirectoryRecord* dir, const DirectoryRecord*, int32_t* head) {
  if (dir->own == 0) {
    *head = dir->next;
    return true;
  }
  DirectoryRecord root;
  if (!Load(0, &root)) return false;
  *head = root.next;
  return true;
}

static bool WriteFreeHead(DirectoryRecord* dir, const DirectoryRecord*, int32_t head) {
  if (dir->own == 0) {
    dir->next = head;
    return Store(*dir);
  }
  DirectoryRecord root;
  if (!Load(0, &root)) return false;
  root.next = head;
  return Store(root);
}

static bool ReadFreeHead(DirectoryRecord*, const FileRecord*, int32_t* head) {
  FileRecord h;
  if (!LoadHeader(&h)) return false;
  *head = h.next;
  return true;
}

static bool WriteFreeHead(DirectoryRecord*, const FileRecord*, int32_t head) {
  FileRecord h;
  if (!LoadHeader(&h)) return false;
  h.next = head;
  uint8_t b[kFileRecordSize];
  EncodeFileRecord(h, b);
  MarkDirty();
  return WriteAt(Ort(), 0, b, sizeof b) || Inconsistent();
}

static int FreeChainLimit(const DirectoryRecord*) { return kFreeDirectoryLimit; }
static int FreeChainLimit(const FileRecord*) { return kFreeFileLimit; }
static int32_t NewRecordPosition(const DirectoryRecord*) { return AppendPosition(Imp(), kDirectoryRecordSize); }
static int32_t NewRecordPosition(const FileRecord*) { return AppendPosition(Ort(), kFileRecordSize); }

// A subdirectory record must name the directory whose list holds it.
static bool BelongsTo(const DirectoryRecord& r, const DirectoryRecord& dir) { return r.parent == dir.own; }
static bool BelongsTo(const FileRecord&, const DirectoryRecord&) { return true; }

// ---------------------------------------------------------------------------
// Lists: the same steps for a directory's subdirectories and its files.

template <class R>
struct ListPass {
  DirectoryRecord* dir;   // the directory whose list this is (written when its head moves)
  int32_t* head;          // &dir->firstChild or &dir->firstFile
  int32_t last;           // the record before the cursor, -1 for the head
  int32_t cursor;         // the first record not matched yet, -1 at the end
  R at;                   // the cursor's record
  bool oneName;           // the enumeration shows one name only
};

// Moves the cursor to pos; a free record ends a list.
template <class R>
static bool SetCursor(ListPass<R>* lp, int32_t pos) {
  lp->cursor = -1;
  if (pos == -1) return true;
  if (!Load(pos, &lp->at)) return false;
  if (lp->at.state == kRecordFree) return true;
  if (!BelongsTo(lp->at, *lp->dir)) return Inconsistent();
  lp->cursor = pos;
  return true;
}

template <class R>
static bool BeginList(ListPass<R>* lp, DirectoryRecord* dir, int32_t* head, bool oneName) {
  lp->dir = dir;
  lp->head = head;
  lp->last = -1;
  lp->oneName = oneName;
  return SetCursor(lp, *head);
}

// Looks for name after the cursor. 1 found (in *r), 0 not found, -1 the
// database is inconsistent.
template <class R>
static int SearchForward(ListPass<R>* lp, const char* name, R* r) {
  if (lp->cursor == -1) return 0;
  int32_t p = lp->at.next;
  for (int steps = 0; p != -1; steps++) {
    if (steps >= kSearchStepLimit || !Load(p, r)) {
      Inconsistent();
      return -1;
    }
    if (r->state == kRecordFree) return 0;
    if (!BelongsTo(*r, *lp->dir)) {
      Inconsistent();
      return -1;
    }
    if (SameName(r->name, name)) return 1;
    p = r->next;
  }
  return 0;
}

// Takes r out of the list, after checking that its neighbours point at it.
template <class R>
static bool Unlink(ListPass<R>* lp, const R& r) {
  if (r.prev == -1) {
    if (*lp->head != r.own) return Inconsistent();
    *lp->head = r.next;
    if (!Store(*lp->dir)) return false;
  } else {
    R p;
    if (!Load(r.prev, &p)) return false;
    if (p.next != r.own || !BelongsTo(p, *lp->dir)) return Inconsistent();
    p.next = r.next;
    if (!Store(p)) return false;
  }
  if (r.next != -1) {
    R n;
    if (!Load(r.next, &n)) return false;
    if (n.prev != r.own || !BelongsTo(n, *lp->dir)) return Inconsistent();
    n.prev = r.prev;
    if (!Store(n)) return false;
  }
  return true;
}

// Links r in just before the cursor and writes it; r becomes the last
// record matched.
template <class R>
static bool LinkBeforeCursor(ListPass<R>* lp, R* r) {
  R l, c;
  if (lp->last != -1) {
    if (!Load(lp->last, &l)) return false;
    if ((lp->cursor != -1 && l.next != lp->cursor) || !BelongsTo(l, *lp->dir)) return Inconsistent();
  } else if (lp->cursor != -1 && *lp->head != lp->cursor) {
    return Inconsistent();
  }
  if (lp->cursor != -1) {
    if (!Load(lp->cursor, &c)) return false;
    if (c.prev != lp->last || !BelongsTo(c, *lp->dir)) return Inconsistent();
  }
  r->prev = lp->last;
  r->next = lp->cursor;
  if (!Store(*r)) return false;
  if (lp->last == -1) {
    *lp->head = r->own;
    if (!Store(*lp->dir)) return false;
  } else {
    l.next = r->own;
    if (!Store(l)) return false;
  }
  if (lp->cursor != -1) {
    c.prev = r->own;
    if (!Store(c)) return false;
    lp->at = c;
  }
  lp->last = r->own;
  return true;
}

// The record of an entry found in the list: at the cursor it stays where it
// is and the cursor moves on; elsewhere it moves before the cursor. A pass
// that sees one name (a single file, a step down the start path) ends with
// it and leaves the list in its order: the next full pass keeps the order.
template <class R>
static bool TakeFound(ListPass<R>* lp, R* r, bool atCursor) {
  if (atCursor) {
    lp->last = r->own;
    return SetCursor(lp, r->next);
  }
  return lp->oneName || (Unlink(lp, *r) && LinkBeforeCursor(lp, r));
}

// A record for a new entry: the first free one, or one appended. *reused
// tells which; a reused record keeps its position fields.
template <class R>
static bool TakeRecord(ListPass<R>* lp, R* r, bool* reused) {
  int32_t head;
  if (!ReadFreeHead(lp->dir, r, &head)) return false;
  if (head != -1) {
    if (!Load(head, r)) return false;
    if (r->state != kRecordFree) return Inconsistent();
    int32_t next = r->next;
    if (next != -1) {
      R n;
      if (!Load(next, &n)) return false;
      if (n.state != kRecordFree) return Inconsistent();
      n.prev = -1;
      if (!Store(n)) return false;
    }
    if (!WriteFreeHead(lp->dir, r, next)) return false;
    *reused = true;
    return true;
  }
  int32_t pos = NewRecordPosition(r);
  if (pos < 0) return Inconsistent();
  *r = R{};
  r->own = pos;
  r->unused = -1;
  *reused = false;
  return true;
}

// After an enumeration that ran to its end: the cursor and every record
// after it are gone. The list is cut before the cursor and the chain is put
// at the head of the free list, each record marked free.
template <class R>
static bool FreeRest(ListPass<R>* lp) {
  if (lp->cursor == -1) return true;
  int32_t freeHead;
  if (!ReadFreeHead(lp->dir, &lp->at, &freeHead)) return false;
  R oldHead;
  if (freeHead != -1) {
    if (!Load(freeHead, &oldHead)) return false;
    if (oldHead.state != kRecordFree) return Inconsistent();
  }
  if (lp->last == -1) {
    *lp->head = -1;
    if (!Store(*lp->dir)) return false;
  } else {
    R l;
    if (!Load(lp->last, &l)) return false;
    l.next = -1;
    if (!Store(l)) return false;
  }
  const int32_t first = lp->cursor;
  R r = lp->at;
  int32_t prev = -1;
  for (int count = 1;; count++) {
    if (count > FreeChainLimit(&r)) return Inconsistent();
    R n;
    bool end = r.next == -1;
    if (!end) {
      if (!Load(r.next, &n)) return false;
      // A free record ends the chain (and catches a chain that loops back
      // on the records just freed).
      end = n.state == kRecordFree;
      if (!end && (n.prev != r.own || !BelongsTo(n, *lp->dir))) return Inconsistent();
    }
    r.state = kRecordFree;
    r.prev = prev;
    if (end) r.next = freeHead;
    if (!Store(r)) return false;
    if (end) break;
    prev = r.own;
    r = n;
  }
  if (freeHead != -1) {
    oldHead.prev = r.own;
    if (!Store(oldHead)) return false;
  }
  lp->cursor = -1;
  return WriteFreeHead(lp->dir, &r, first);
}

// ---------------------------------------------------------------------------
// Opening and closing

static void DbPath(char drive, int file, char* out, size_t size) {
  std::snprintf(out, size, "%c:\\%s", drive, kDbFileNames[file]);
}

static void CloseFiles() {
  for (FileHandle& h : gDb.files) {
    PlatCloseFile(h);
    h = kNoFile;
  }
}

void DeleteIntegrityFiles(char driveLetter) {
  for (int f = 0; f < kDbFiles; f++) {
    char path[16];
    DbPath(Upper(driveLetter), f, path, sizeof path);
    PlatSetAttributes(path, kAttrNormal);
    PlatDeleteFile(path);
  }
}

// Opens one file of the database read-write, denying other writers. A
// read-only file is made writable first. *held is set when the file is
// there, a plain file, and still cannot be opened: another program has it.
static FileHandle OpenDbFile(const char* path, bool* held) {
  const unsigned flags = kAccessReadWrite | kShareDenyWrite;
  FileHandle h = PlatOpenFile(path, flags);
  if (h != kNoFile || !PlatFileExists(path)) return h;
  uint32_t attrs = PlatGetAttributes(path);
  if (attrs == kAttrInvalid || (attrs & (kAttrDirectory | kAttrReparse))) return kNoFile;
  if (attrs & kAttrReadOnly) {
    PlatSetAttributes(path, attrs & ~(uint32_t)kAttrReadOnly);
    h = PlatOpenFile(path, flags);
  }
  if (h == kNoFile) *held = true;
  return h;
}

// The open files can be used as they are: the header's format and
// revision, and a root record. A newer revision is taken as this one.
static bool FilesUsable() {
  FileRecord h;
  DirectoryRecord root;
  if (!LoadHeader(&h) || (int16_t)h.headSumA != kFileListFormat ||
      (int16_t)h.headSumB < kFileListRevision || !Load(0, &root) || root.state != kRecordInUse)
    return false;
  if ((int16_t)h.headSumB > kFileListRevision) {
    h.headSumB = (uint16_t)kFileListRevision;
    uint8_t b[kFileRecordSize];
    EncodeFileRecord(h, b);
    MarkDirty();
    if (!WriteAt(Ort(), 0, b, sizeof b)) return false;
  }
  return true;
}

static bool CreateFiles(char drive) {
  for (int f = 0; f < kDbFiles; f++) {
    char path[16];
    DbPath(drive, f, path, sizeof path);
    gDb.files[f] = PlatOpenFile(path, kAccessReadWrite | kShareDenyWrite | kOpenCreate | kOpenTruncate);
    if (gDb.files[f] == kNoFile) return false;
  }
  uint8_t b[kFileRecordSize];
  EncodeDirectoryRecord(NewRootRecord(), b);
  if (!WriteAt(Imp(), 0, b, kDirectoryRecordSize)) return false;
  EncodeFileRecord(NewHeaderRecord(), b);
  MarkDirty();
  return WriteAt(Ort(), 0, b, kFileRecordSize);
}

bool OpenIntegrityDatabase() {
  CloseIntegrityDatabase();
  std::string cwd = PlatGetCurrentDirectory();
  if (cwd.size() < 2 || cwd[1] != ':') return false;
  char drive = Upper(cwd[0]);
  int index = DriveIndex(drive);
  if (index < kDriveFirst || index > kDriveLast || GetDriveType(drive) != kDriveFixed) return false;
  gDb.drive = drive;
  gDb.dirty = gDb.fresh = gDb.inconsistent = false;
  gDb.switches = {true, true};
  // Files another program holds are left alone: deleting them would pull
  // the database from under that program's walk.
  bool held = false;
  for (int f = 0; f < kDbFiles; f++) {
    char path[16];
    DbPath(drive, f, path, sizeof path);
    gDb.files[f] = OpenDbFile(path, &held);
  }
  if (held) {
    CloseFiles();
    gDb.drive = 0;
    return false;
  }
  // A drive whose files were left open by a scan that never ended, or whose
  // files are incomplete or of another format, gets new ones.
  bool ready = Ort() != kNoFile && Ant() != kNoFile && Imp() != kNoFile &&
               ReadDriveMarker(drive) == kMarkerClean && FilesUsable();
  if (!ready) {
    CloseFiles();
    gDb.inconsistent = false;
    DeleteIntegrityFiles(drive);
    if (!CreateFiles(drive)) {
      CloseIntegrityDatabase();
      return false;
    }
    gDb.fresh = true;
  }
  return true;
}

void CloseIntegrityDatabase() {
  CloseFiles();
  if (gDb.drive && gDb.dirty) WriteDriveMarker(gDb.drive, kMarkerClean);
  gDb.dirty = false;
  gDb.drive = 0;
}

bool ReadRootDirectory(DirectoryRecord* root) {
  return Load(0, root) && (root->state == kRecordInUse || Inconsistent());
}

// ---------------------------------------------------------------------------
// Fingerprints of files

// What RecordNewFile reads from a file.
struct Fingerprint {
  int32_t length;
  uint16_t firstCount, lastCount;
  uint8_t saved[kSaveBlockSize];   // first bytes, then last bytes, zero-filled
  uint16_t headSumA, headSumB;
  uint16_t headLength, middleLength, tailLength;
  uint32_t sampleSumA, sampleSumB;
};

// The first bytes (up to 127 from offset 0) and, when all 127 were there,
// the last bytes (up to 128 from the end) of a file just opened, into
// saved. False when a read fails.
static bool ReadEdges(FileHandle h, int32_t length, uint8_t* saved, uint16_t* first, uint16_t* last) {
  int32_t n = PlatReadFile(h, saved, kFirstBytes);   // a new handle is at offset 0
  if (n < 0) return false;
  int32_t t = 0;
  if (n == kFirstBytes) {
    int32_t want = std::min<int32_t>(kLastBytes, length - kFirstBytes);
    if (want > 0) t = ReadSome(h, length - want, saved + n, (uint32_t)want);
    if (t < 0) return false;
  }
  std::memset(saved + n + t, 0, kSaveBlockSize - (size_t)(n + t));
  *first = (uint16_t)n;
  *last = (uint16_t)t;
  return true;
}

// The middle sample's start: centred between head and tail, but never
// inside the head.
static int32_t MiddleStart(int32_t length, int32_t head, int32_t tail) {
  int32_t start = (length + head - tail) / 2 - kSampleBytes / 2;
  return start < head ? head : start;
}

static bool ReadFingerprint(const char* name, Fingerprint* fp) {
  FileHandle h = PlatOpenFile(name, kAccessRead);
  if (h == kNoFile) return false;
  int64_t size = PlatFileSize(h);
  bool ok = size >= 0 && size <= INT32_MAX;
  int32_t length = ok ? (int32_t)size : 0;
  ok = ok && ReadEdges(h, length, fp->saved, &fp->firstCount, &fp->lastCount);
  int32_t s1 = 0, s2 = 0, s3 = 0;
  uint8_t* buf = gDb.samples;
  if (ok) s1 = ReadSome(h, 0, buf, kSampleBytes);
  if (s1 == kSampleBytes) {
    int32_t want = std::min<int32_t>(kSampleBytes, length - kSampleBytes);
    s3 = want > 0 ? ReadSome(h, length - want, buf + s1, (uint32_t)want) : 0;
    if (s3 == kSampleBytes) {
      // Centred; a start inside the head takes what lies between head and tail.
      int32_t start = (length + s1 - s3) / 2 - kSampleBytes / 2;
      int32_t n = kSampleBytes;
      if (start < s1) {
        start = s1;
        n = length - s3 - s1;
      }
      s2 = n > 0 ? ReadSome(h, start, buf + s1 + s3, (uint32_t)n) : 0;
    }
  }
  PlatCloseFile(h);
  if (!ok || s1 < 0 || s2 < 0 || s3 < 0) return false;
  fp->length = length;
  HeadSums(fp->saved, (size_t)fp->firstCount + fp->lastCount, &fp->headSumA, &fp->headSumB);
  fp->headLength = (uint16_t)s1;
  fp->tailLength = (uint16_t)s3;
  fp->middleLength = (uint16_t)s2;
  SampleSums(buf, (size_t)(s1 + s2 + s3), &fp->sampleSumA, &fp->sampleSumB);
  return true;
}

// Writes the file's SaveBlock (in place when the record has one, else at
// the end of KVNET.ANT) and fills r from the fingerprint.
static bool ApplyFingerprint(FileRecord* r, const char* name, const Fingerprint& fp) {
  if (fp.headLength + fp.middleLength + fp.tailLength > 0) {
    int64_t antSize = PlatFileSize(Ant());
    int32_t pos = r->saveBlock;
    if (pos < 0 || antSize < 0 || pos + (int64_t)kSaveBlockSize > antSize)
      pos = AppendPosition(Ant(), kSaveBlockSize);
    MarkDirty();
    if (pos < 0 || !WriteAt(Ant(), pos, fp.saved, kSaveBlockSize)) return Inconsistent();
    r->saveBlock = pos;
  }
  std::snprintf(r->name, sizeof r->name, "%s", name);
  r->state = kRecordInUse;
  r->headSumA = fp.headSumA;
  r->headSumB = fp.headSumB;
  r->sampleSumA = fp.sampleSumA;
  r->sampleSumB = fp.sampleSumB;
  r->firstCount = fp.firstCount;
  r->lastCount = fp.lastCount;
  r->headLength = fp.headLength;
  r->middleLength = fp.middleLength;
  r->tailLength = fp.tailLength;
  r->length = fp.length;
  return true;
}

bool RecordNewFile(FileRecord* r, const char* name) {
  Fingerprint fp;
  return ReadFingerprint(name, &fp) && ApplyFingerprint(r, name, fp);
}

// ---------------------------------------------------------------------------
// Checking and rebuilding

// Lays the saved first and last bytes over a sample read from file offset
// at, wherever they fall inside it.
static void Overlay(uint8_t* sample, int32_t at, int32_t n, const uint8_t* saved, const FileRecord& r) {
  int32_t end = at + n;
  for (int32_t i = std::max<int32_t>(at, 0); i < std::min<int32_t>(end, r.firstCount); i++) sample[i - at] = saved[i];
  int32_t lastAt = r.length - r.lastCount;
  for (int32_t i = std::max<int32_t>(at, lastAt); i < std::min<int32_t>(end, r.length); i++)
    sample[i - at] = saved[r.firstCount + (i - lastAt)];
}

// True when the samples at the positions the record gives, with the saved
// bytes laid over them, have the recorded checksums: the program's body is
// as recorded and only its start and end changed.
static bool BodyAsRecorded(FileHandle h, const FileRecord& r) {
  uint8_t saved[kSaveBlockSize];
  uint32_t keep = (uint32_t)r.firstCount + r.lastCount;
  if (keep > 0 && !ReadAt(Ant(), r.saveBlock, saved, keep)) return false;
  int32_t s1 = r.headLength, s2 = r.middleLength, s3 = r.tailLength;
  int32_t tailAt = r.length - s3;
  int32_t middleAt = MiddleStart(r.length, s1, s3);
  if (s2 > 0 && middleAt + s2 > tailAt) return false;
  uint8_t* buf = gDb.samples;
  if (!ReadAt(h, 0, buf, (uint32_t)s1) || !ReadAt(h, tailAt, buf + s1, (uint32_t)s3) ||
      !ReadAt(h, middleAt, buf + s1 + s3, (uint32_t)s2))
    return false;
  Overlay(buf, 0, s1, saved, r);
  Overlay(buf + s1, tailAt, s3, saved, r);
  Overlay(buf + s1 + s3, middleAt, s2, saved, r);
  uint32_t a, b;
  SampleSums(buf, (size_t)(s1 + s2 + s3), &a, &b);
  return a == r.sampleSumA && b == r.sampleSumB;
}

bool ReconstructFile(const FileRecord& r, const char* name, bool infected) {
  uint8_t block[kSaveBlockSize];
  const int32_t h = r.firstCount, t = r.lastCount;
  if (h + t > 0 && !ReadAt(Ant(), r.saveBlock, block, (uint32_t)(h + t))) return false;
  MarkDirty();
  TargetFile* tf = ScannerFile();
  if (OpenTargetFile(name, kModeClean, tf) == kNoFile) return false;
  FileHandle f = tf->handle;
  // What the rebuild overwrites, so that a failed one can be undone: the
  // length and the bytes under the two saved runs. The saved runs lie
  // inside the recorded length, so a cut never needs to be undone beyond
  // the length itself.
  uint8_t oldHead[kFirstBytes], oldTail[kLastBytes];
  const int64_t oldLength = PlatFileSize(f);
  const int32_t tailAt = r.length - t;
  const int32_t headKept = (int32_t)std::clamp<int64_t>(oldLength, 0, h);
  const int32_t tailKept = (int32_t)std::clamp<int64_t>(oldLength - tailAt, 0, t);
  bool ok = oldLength >= 0 && tailAt >= 0 && ReadAt(f, 0, oldHead, (uint32_t)headKept) &&
            ReadAt(f, tailAt, oldTail, (uint32_t)tailKept);
  if (ok) {
    ok = WriteAt(f, 0, block, (uint32_t)h) && WriteAt(f, tailAt, block + h, (uint32_t)t) &&
         PlatSetFileLength(f, r.length);
    // Undo a rebuild cut short (twice, for a write that failed for a
    // passing reason).
    for (int attempt = 0; !ok && attempt < 2; attempt++) {
      if (WriteAt(f, 0, oldHead, (uint32_t)headKept) && WriteAt(f, tailAt, oldTail, (uint32_t)tailKept) &&
          PlatSetFileLength(f, oldLength))
        break;
    }
  }
  if (ok && !infected) Counters().reconstructed++;
  CloseTargetFile(name, tf);
  return ok;
}

// Appends to alertText; false once it is full.
static bool AppendAlert(size_t* used, const char* format, const char* text) {
  if (*used >= sizeof alertText) return false;
  int n = std::snprintf(alertText + *used, sizeof alertText - *used, format, text);
  if (n < 0) return false;
  *used += (size_t)n;
  return *used < sizeof alertText;
}

// The console record and the alert of a modification, and the tool's event.
static void ReportModification(const char* action) {
  const char* user = ScanUserName();
  const char* display = Request().displayName;
  StatusTexts& st = Status();
  SetStatusText(st.currentAction, sizeof st.currentAction, action);
  SetStatusText(st.currentVirus, sizeof st.currentVirus, kUnknownVirusText);
  SetStatusText(st.lastAction, sizeof st.lastAction, action);
  SetStatusText(st.lastVirus, sizeof st.lastVirus, kUnknownVirusText);
  SetStatusText(st.lastFile, sizeof st.lastFile, display);
  SetStatusText(st.lastUser, sizeof st.lastUser, user[0] ? user : "System");
  SendStatusLine(true);
  size_t used = 0;
  if (AppendAlert(&used, "%s", kModificationText) && AppendAlert(&used, "\nFile Name   : %s", display) &&
      (!user[0] || AppendAlert(&used, "\nModified by : %s", user)))
    AppendAlert(&used, "\nAction Taken : %s", action);
  RaiseAlert();
  NotifyScanEvent(ScanEvent{kEventModified, display, Request().reportName, "", user, action, ""});
}

void CheckFileIntegrity(FileRecord* r, const char* name) {
  // Names scan dispatch never opens are left as they are.
  if (IsExcludedSystemName(name)) return;
  SetDisplayName(name, kCheckDisplayLimit);
  SendStatusLine(true);
  bool rescanned = false;
  bool infected = false;
  for (;;) {
    if (WalkMustEnd()) return;
    FileHandle h = PlatOpenFile(name, kAccessRead);
    if (h == kNoFile) return;
    int64_t size = PlatFileSize(h);
    if (size < 0 || size > INT32_MAX) {
      PlatCloseFile(h);
      ReportNotice(kInvalidSizeNotice);
      return;
    }
    const int32_t length = (int32_t)size;
    uint8_t saved[kSaveBlockSize];
    uint16_t first, last, a, b;
    if (!ReadEdges(h, length, saved, &first, &last)) {
      PlatCloseFile(h);
      return;
    }
    HeadSums(saved, (size_t)first + last, &a, &b);
    if (a == r->headSumA && b == r->headSumB && first == r->firstCount && last == r->lastCount &&
        length <= r->length) {
      PlatCloseFile(h);
      return;
    }
    if (!rescanned) {
      // Changed: scan it once more (a known virus is cured there), then look
      // again.
      PlatCloseFile(h);
      rescanned = true;
      Verdict().infected = false;
      DispatchFile(name, gDb.switches.scanKnown);
      infected = gDb.switches.scanKnown && Verdict().infected;
      continue;
    }
    bool modified = length >= r->length && gDb.switches.checkNew && IsProgramName(name) &&
                    BodyAsRecorded(h, *r);
    PlatCloseFile(h);
    if (!modified) {
      // Any other change is taken into the record.
      if (RecordNewFile(r, name)) Store(*r);
      return;
    }
    if (!infected) {
      Counters().modified++;
      ReportDetection(Request().reportName, nullptr, ScanUserName());
    }
    if (!CureEnabled()) {
      // Detect only: the file and its record stay as they are.
      if (!infected)
        NotifyScanEvent(ScanEvent{kEventModified, Request().displayName, Request().reportName, "",
                                  ScanUserName(), "", ""});
      return;
    }
    if (ReconstructFile(*r, name, infected)) {
      Store(*r);
      if (!infected) {
        WriteReport("\r\nResult : %s", kReconstructedText);
        ReportModification(kReconstructedText);
      }
    } else {
      ReportModification(kReconstructionErrorText);
      WriteReport("\r\nResult : %s", kReconstructionErrorText);
    }
    return;
  }
}

// ---------------------------------------------------------------------------
// The passes

static void ScanFile(const char* name, size_t displayLimit) {
  SetDisplayName(name, displayLimit);
  SendStatusLine(true);
  DispatchFile(name, true);
}

// One candidate file of the file pass. False when the database proved
// inconsistent.
static bool ExamineCandidate(ListPass<FileRecord>* lp, const char* name) {
  Counters().totalFiles++;
  FileRecord r;
  if (lp->cursor != -1 && SameName(lp->at.name, name)) {
    r = lp->at;
    if (!TakeFound(lp, &r, true)) return false;
    CheckFileIntegrity(&r, name);
    return !gDb.inconsistent;
  }
  int found = gDb.fresh ? 0 : SearchForward(lp, name, &r);
  if (found < 0) return false;
  if (found > 0) {
    if (!TakeFound(lp, &r, false)) return false;
    CheckFileIntegrity(&r, name);
    return !gDb.inconsistent;
  }
  // New.
  Counters().copied++;
  if (gDb.switches.scanKnown) {
    ScanFile(name, kScanDisplayLimit);
    if (Verdict().notClean) return true;   // examined again as new next time
  }
  Fingerprint fp;
  if (!ReadFingerprint(name, &fp)) return true;
  bool reused;
  if (!TakeRecord(lp, &r, &reused)) return false;
  if (!reused) r.saveBlock = -1;
  return ApplyFingerprint(&r, name, fp) && LinkBeforeCursor(lp, &r);
}

// The files of the current directory, whose record is *d.
static bool FilePass(DirectoryRecord* d) {
  gDb.switches = DirectoryOptions(CurrentDirectoryText());
  if (!gDb.switches.scanKnown && !gDb.switches.checkNew) return true;
  const char* single = SingleFilePattern();
  ListPass<FileRecord> lp;
  if (!BeginList(&lp, d, &d->firstFile, single != nullptr)) return false;
  // An enumeration limited to one name does not show which files are gone.
  bool ranToEnd = single == nullptr;
  FindData fd;
  FindHandle h = PlatFindFirst(single ? single : "*.*", &fd, kFindNamesOnly);
  if (h != kNoFind) {
    do {
      if (WalkMustEnd()) {
        ranToEnd = false;
        break;
      }
      if (fd.attributes & (kAttrDirectory | kAttrReparse)) continue;
      Verdict().notClean = false;
      if (!IsScanCandidateName(fd.name)) {
        if (gDb.fresh && gDb.switches.scanKnown && MatchesFileSpec(fd.name)) ScanFile(fd.name, kCheckDisplayLimit);
        continue;
      }
      if (!ExamineCandidate(&lp, fd.name) || single) break;
    } while (PlatFindNext(h, &fd));
    PlatFindClose(h);
  }
  if (gDb.inconsistent) return false;
  return !ranToEnd || FreeRest(&lp);
}

// One subdirectory of the directory pass; *r gets its record.
static bool MatchSubdirectory(ListPass<DirectoryRecord>* lp, const char* name, DirectoryRecord* r) {
  if (lp->cursor != -1 && SameName(lp->at.name, name)) {
    *r = lp->at;
    return TakeFound(lp, r, true);
  }
  int found = SearchForward(lp, name, r);
  if (found < 0) return false;
  if (found > 0) return TakeFound(lp, r, false);
  bool reused;
  if (!TakeRecord(lp, r, &reused)) return false;
  std::snprintf(r->name, sizeof r->name, "%s", name);
  r->parent = lp->dir->own;
  r->firstChild = -1;
  r->firstFile = -1;
  r->depth = lp->dir->depth < 255 ? (uint8_t)(lp->dir->depth + 1) : 255;
  r->state = kRecordInUse;
  return LinkBeforeCursor(lp, r);
}

// Brings d's subdirectory list in step with the disk: every subdirectory,
// or only `component`, which is then yielded in *child.
static bool SyncSubdirectories(DirectoryRecord* d, const char* component, DirectoryRecord* child,
                               int32_t* count) {
  ListPass<DirectoryRecord> lp;
  if (!BeginList(&lp, d, &d->firstChild, component != nullptr)) return false;
  FindData fd;
  FindHandle h = PlatFindFirst(component ? component : "*.*", &fd, kFindDirectoriesOnly);
  bool found = false;
  int32_t n = 0;
  if (h != kNoFind) {
    do {
      if (!(fd.attributes & kAttrDirectory) || (fd.attributes & kAttrReparse) || fd.name[0] == '.') continue;
      DirectoryRecord r;
      if (!MatchSubdirectory(&lp, fd.name, &r)) break;
      n++;
      if (component) {
        *child = r;
        found = true;
        break;
      }
    } while (PlatFindNext(h, &fd));
    PlatFindClose(h);
  }
  if (gDb.inconsistent) return false;
  if (component) return found;
  *count = n;
  return FreeRest(&lp);
}

bool DirectoryPass(DirectoryRecord* d, DirectoryRecord* first, bool* haveFirst, int32_t* subdirectories) {
  *haveFirst = false;
  *subdirectories = 0;
  if (!FilePass(d) || !SyncSubdirectories(d, nullptr, nullptr, subdirectories)) return false;
  if (d->firstChild == -1) return true;
  if (!Load(d->firstChild, first)) return false;
  if (first->state == kRecordFree) return true;
  if (!BelongsTo(*first, *d)) return Inconsistent();
  *haveFirst = true;
  return true;
}

bool DescendPass(DirectoryRecord* d, const char* component, DirectoryRecord* child) {
  return SyncSubdirectories(d, component, child, nullptr);
}

bool NextSiblingRecord(const DirectoryRecord& parent, const DirectoryRecord& child, DirectoryRecord* next,
                       bool* have) {
  *have = false;
  int32_t pos = child.next;
  if (pos == -1) return true;
  DirectoryRecord r;
  if (!Load(pos, &r)) return false;
  if (r.state == kRecordFree) return true;
  if (!BelongsTo(r, parent)) return Inconsistent();
  *next = r;
  *have = true;
  return true;
}
