// The vaccine executor: see vaccine.h.
#include "cure/vaccine.h"

#include <cstring>
#include <string>

#include "common/le.h"
#include "engine/work_buffer.h"
#include "platform/files.h"
#include "platform/memory.h"

constexpr int32_t kBlockSize = 6000;          // RemoveLeadingBytes' block
// The largest file a cure will change: the copy that makes a failed cure
// undoable is held in memory. Programs are far smaller.
constexpr int64_t kUndoLimit = 64ll * 1024 * 1024;

static struct {
  CleaningContext ctx;       // the cleaning in progress
  int16_t action;            // kActionCleaned or kActionDropper
  bool failed;               // a finishing step failed after reporting success
  uint8_t* undo;             // the file as it was before the first change
  int32_t undoLength;        // its length
  bool undoTaken;            // undo holds the copy (taken lazily)
} gVac;

CleaningContext& Cleaning() { return gVac.ctx; }
const char* CleaningMessage() { return gVac.ctx.message ? gVac.ctx.message : ""; }
int16_t CleaningAction() { return gVac.action; }

void ResetCleaningResult() {
  gVac.ctx.message = nullptr;
  gVac.action = kActionCleaned;
}

uint16_t HeaderWord(int i) { return GetU16(gVac.ctx.header + 2 * i); }
void SetHeaderWord(int i, uint16_t v) { PutU16(gVac.ctx.header + 2 * i, v); }

static FileHandle Handle() { return gVac.ctx.target.handle; }

VaccineOp FindVaccineOp(uint16_t code) {
  for (const VaccineOpRow& row : kVaccineOpTable)
    if (row.code == code && row.routine) return row.routine;
  return nullptr;
}

// ---------------------------------------------------------------------------
// File access, with the copy that undoes a failed cure

static void DropUndo() {
  PlatFree(gVac.undo);
  gVac.undo = nullptr;
  gVac.undoTaken = false;
  gVac.undoLength = 0;
}

// Keeps the whole file before its first change. False when the copy cannot
// be had: the change must not be made then.
static bool TakeUndo() {
  if (gVac.undoTaken) return true;
  int64_t size = PlatFileSize(Handle());
  if (size < 0 || size > kUndoLimit) return false;
  uint8_t* copy = (uint8_t*)PlatAlloc((size_t)size);
  if (!copy) return false;
  int64_t here = PlatSeek(Handle(), 0, kSeekCurrent);
  bool ok = here >= 0 && PlatSeek(Handle(), 0, kSeekBegin) == 0 &&
            (size == 0 || PlatReadFile(Handle(), copy, (uint32_t)size) == (int32_t)size) &&
            PlatSeek(Handle(), here, kSeekBegin) == here;
  if (!ok) {
    PlatFree(copy);
    return false;
  }
  gVac.undo = copy;
  gVac.undoLength = (int32_t)size;
  gVac.undoTaken = true;
  return true;
}

// Puts the file back as it was before the cure changed it.
static void RestoreUndo() {
  if (!gVac.undoTaken) return;
  FileHandle h = Handle();
  int32_t n = gVac.undoLength;
  // Retry once: a write that failed for a passing reason should not leave
  // the file changed.
  for (int attempt = 0; attempt < 2; attempt++) {
    if (PlatSeek(h, 0, kSeekBegin) == 0 && (n == 0 || PlatWriteFile(h, gVac.undo, (uint32_t)n) == n) &&
        PlatSetFileLength(h, n))
      break;
  }
  DropUndo();
}

int64_t CleanSeek(int64_t offset, int origin) { return PlatSeek(Handle(), offset, origin); }

int32_t CleanRead(void* buf, uint32_t n) { return PlatReadFile(Handle(), buf, n); }

int32_t CleanReadAt(int64_t pos, void* buf, uint32_t n) {
  if (pos < 0 || PlatSeek(Handle(), pos, kSeekBegin) < 0) return -1;
  return PlatReadFile(Handle(), buf, n);
}

int32_t CleanWrite(const void* buf, uint32_t n) {
  if (!TakeUndo()) return -1;
  return PlatWriteFile(Handle(), buf, n);
}

int32_t CleanWriteAt(int64_t pos, const void* buf, uint32_t n) {
  if (pos < 0 || !TakeUndo() || PlatSeek(Handle(), pos, kSeekBegin) < 0) return -1;
  return PlatWriteFile(Handle(), buf, n);
}

bool CleanSetLength(int64_t length) {
  if (length < 0 || !TakeUndo()) return false;
  return PlatSetFileLength(Handle(), length);
}

int64_t CleanFileSize() { return PlatSeek(Handle(), 0, kSeekEnd); }

// ---------------------------------------------------------------------------
// Finishing

void FinishCleaning(uint16_t result) {
  CleaningContext& c = gVac.ctx;
  if (c.target.handle == kNoFile) return;
  if (result != 0) {
    // The cut that removes the virus body. A length the file cannot take
    // (a cut longer than the file) means the vaccine does not fit it: the
    // cure fails rather than reporting success over a file still infected.
    if (!CleanSetLength(c.length)) {
      gVac.failed = true;
      if (c.length >= 0 || !c.message) c.message = kMsgCannotWrite;
      result = 0;
    }
  }
  if (result == 0) {
    if (!c.message) c.message = kMsgUnknown;
    RestoreUndo();
  }
  DropUndo();
  CloseTargetFile(c.path, &c.target);
}

uint16_t RemoveLeadingBytes(int32_t count) {
  CleaningContext& c = gVac.ctx;
  c.length -= count;
  int32_t remaining = c.length;
  uint8_t* block = (uint8_t*)PlatAlloc(kBlockSize);
  if (!block) {
    c.message = kMsgNoMemory;
    return 0;
  }
  uint16_t result = 1;
  for (int64_t k = 0; remaining > 0; k++) {
    int32_t n = remaining < kBlockSize ? remaining : kBlockSize;
    if (CleanReadAt((int64_t)count + kBlockSize * k, block, (uint32_t)n) != n) {
      result = 0;
      break;
    }
    if (CleanWriteAt(kBlockSize * k, block, (uint32_t)n) != n) {
      c.message = kMsgCannotWrite;
      result = 0;
      break;
    }
    remaining -= n;
  }
  PlatFree(block);
  return result;
}

uint16_t RemoveLeadingBytesAndFinish(int32_t count) {
  uint16_t r = RemoveLeadingBytes(count);
  FinishCleaning(r);
  return r;
}

// The dropper name: everything after the first '.' becomes "VXE" when it
// reads "EXE", else "VOM"; without a '.', ".VOM" is appended. The name is
// formed from the whole path, however long.
static std::string DropperName(const std::string& path) {
  size_t dot = path.find('.');
  if (dot == std::string::npos) return path + ".VOM";
  std::string ext = path.substr(dot + 1);
  bool exe = ext.size() == 3 && (ext[0] == 'E' || ext[0] == 'e') &&
             (ext[1] == 'X' || ext[1] == 'x') && (ext[2] == 'E' || ext[2] == 'e');
  return path.substr(0, dot + 1) + (exe ? "VXE" : "VOM");
}

uint16_t RenameDropper() {
  CleaningContext& c = gVac.ctx;
  gVac.action = kActionDropper;
  std::string newName = DropperName(c.path);
  PlatDeleteFile(newName.c_str());
  FinishCleaning(1);
  if (gVac.failed) return 0;
  return PlatRenameFile(c.path, newName.c_str()) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// The recipes

static uint16_t RunOp(uint16_t code) {
  VaccineOp op = FindVaccineOp(code);
  if (!op) return 0;
  gVac.ctx.currentOp = op;
  return op();
}

// A recipe step that runs an operation. Some operations finish the
// cleaning themselves (they cut, close and restore the file); the recipe
// then has nothing left to do, and the operation's result is the result.
// Returns true when the recipe goes on; *result holds the step's answer
// otherwise.
static bool RecipeStep(uint16_t code, uint16_t* result) {
  if (code == 0) return true;
  uint16_t r = RunOp(code);
  if (gVac.ctx.target.handle == kNoFile) {
    *result = r;
    return false;
  }
  if (r == 0) {
    *result = 0;
    return false;
  }
  return true;
}

static uint16_t RunMzRecipe() {
  CleaningContext& c = gVac.ctx;
  VaccineRecord& r = *c.record;
  // 1. The words the virus saved, counted from the end of the file.
  const uint16_t* distance[4] = {&r.csFromEnd, &r.ipFromEnd, &r.ssFromEnd, &r.spFromEnd};
  for (int i = 0; i < 4; i++) {
    if (*distance[i] == 0) continue;
    uint8_t w[2];
    if (CleanSeek(-(int64_t)*distance[i], kSeekEnd) < 0 || CleanRead(w, 2) != 2) return 0;
    c.saved[i] = GetU16(w);
  }
  // 2. The operation that prepares them.
  uint16_t stepResult = 0;
  if (!RecipeStep(r.exePreOp, &stepResult)) return stepResult;
  // 3. Into the header, each whose distance field is (still) set.
  static const int kTarget[4] = {kHdrCS, kHdrIP, kHdrSS, kHdrSP};
  for (int i = 0; i < 4; i++)
    if (*distance[i] != 0) SetHeaderWord(kTarget[i], c.saved[i]);
  // 4-5. The cut, and the page fields recounted for the new length.
  c.length -= r.exeCutLength;
  if (r.exePreOp != 227) {
    uint32_t len = (uint32_t)c.length;
    uint16_t pages = (uint16_t)(len / 512);
    uint16_t last = (uint16_t)(len % 512);
    if (last != 0) pages++;
    SetHeaderWord(kHdrPages, pages);
    SetHeaderWord(kHdrLastPage, last);
  }
  // 6. The header back at the start.
  if (CleanWriteAt(0, c.header, 28) != 28) {
    c.message = kMsgCannotWrite;
    return 0;
  }
  return 1;
}

static uint16_t RunComRecipe() {
  CleaningContext& c = gVac.ctx;
  VaccineRecord& r = *c.record;
  uint8_t* wb = WorkBuffer();
  uint16_t stepResult = 0;
  if (!RecipeStep(r.comPreOp, &stepResult)) return stepResult;
  if (r.savedLength != 0) {
    // The saved bytes go into the work buffer; a count it cannot hold is
    // refused instead of overrunning it.
    if (r.savedLength > kWorkBufferSize || r.savedOrigin > 2) return 0;
    int origin = r.savedOrigin == 0 ? kSeekBegin : r.savedOrigin == 1 ? kSeekCurrent : kSeekEnd;
    if (CleanSeek(r.savedOffset, origin) < 0) return 0;
    if (CleanRead(wb, r.savedLength) != r.savedLength) return 0;
  }
  if (!RecipeStep(r.comPostOp, &stepResult)) return stepResult;
  c.length -= r.comCutLength;
  if (r.restoreLength != 0) {
    if (r.restoreLength > kWorkBufferSize) return 0;
    if (CleanWriteAt(0, wb, r.restoreLength) != r.restoreLength) return 0;
  }
  return 1;
}

uint16_t RunVaccine(const char* path, VaccineRecord* record) {
  CleaningContext& c = gVac.ctx;
  DropUndo();
  gVac.failed = false;
  c.message = nullptr;
  c.record = record;
  c.currentOp = nullptr;
  c.searchResult = 0;
  std::memset(c.saved, 0, sizeof c.saved);
  // 1. The path is kept whole; one that does not fit cannot be cleaned.
  if (std::strlen(path) >= sizeof c.path) {
    c.message = kMsgCannotOpen;
    return 0;
  }
  std::strcpy(c.path, path);
  if (OpenTargetFile(c.path, kModeClean, &c.target) == kNoFile) {
    c.message = kMsgCannotOpen;
    return 0;
  }
  // 2-3. Length, header, kind.
  c.length = c.target.size;
  if (c.length < 0 || CleanReadAt(0, c.header, 28) != 28) {
    CloseTargetFile(c.path, &c.target);
    c.message = kMsgCannotRead;
    return 0;
  }
  CleanSeek(0, kSeekBegin);
  bool mz = c.header[0] == 'M' && c.header[1] == 'Z';
  // 4. The message of every later failure that sets none of its own.
  c.message = kMsgCannotRead;
  // 5. One operation, or the recipe of the file's kind.
  uint16_t result;
  uint16_t routine = mz ? record->exeRoutine : record->comRoutine;
  if (routine != 0)
    result = RunOp(routine);
  else
    result = mz ? RunMzRecipe() : RunComRecipe();
  // 6. Finish; an operation that finished the cleaning itself has closed
  // the file already.
  FinishCleaning(result);
  if (gVac.failed) result = 0;
  if (result != 0) c.message = nullptr;
  DropUndo();
  return result;
}
