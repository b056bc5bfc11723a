// The file scanner: see file_scanner.h.
//
// Everything read here comes from a file that an attacker may have written:
// every position is checked against what was actually read, and pattern
// bytes that would lie beyond the end of the file never match.
#include "engine/file_scanner.h"

#include <cstring>

#include "common/le.h"
#include "engine/decoder.h"
#include "engine/dispatch.h"
#include "engine/target_file.h"
#include "engine/virus_db.h"
#include "platform/files.h"

static struct {
  ProgramLayout layout;          // the program being examined
  uint8_t mzHeader[28];          // its MZ header as read
  ScanWindow window;             // bytes around the entry point
  SignatureMatch match;          // the last confirmed signature
} gScan;

ProgramLayout* Layout() { return &gScan.layout; }
uint8_t* MzHeaderCopy() { return gScan.mzHeader; }
const SignatureMatch& LastMatch() { return gScan.match; }
void SetLastMatch(const SignatureMatch& match) { gScan.match = match; }
const ScanWindow& Window() { return gScan.window; }

static FileHandle File() { return ScannerFile()->handle; }

// Reads n bytes at pos; returns the count read or -1.
static int32_t ReadAt(int64_t pos, void* buf, uint32_t n) {
  if (pos < 0 || PlatSeek(File(), pos, kSeekBegin) < 0) return -1;
  return PlatReadFile(File(), buf, n);
}

// ---------------------------------------------------------------------------
// Names

static bool ContainsUpper(const char* name, size_t limit, const char* const* words, int n) {
  char up[300];
  size_t len = std::strlen(name);
  if (len > limit) len = limit;
  for (size_t i = 0; i < len; i++) {
    char c = name[i];
    up[i] = (c >= 'a' && c <= 'z') ? (char)(c - 32) : c;
  }
  up[len] = 0;
  for (int i = 0; i < n; i++)
    if (std::strstr(up, words[i])) return true;
  return false;
}

bool IsScanCandidateName(const char* name) {
  static const char* const kWords[] = {".EXE", ".COM", ".OVL", ".OVR", ".DOC", ".DOT"};
  return ContainsUpper(name, 299, kWords, 6);
}

bool IsExcludedSystemName(const char* name) {
  static const char* const kWords[] = {"CONFIG.SYS", "PAGEFILE.SYS"};
  return ContainsUpper(name, 299, kWords, 2);
}

// ---------------------------------------------------------------------------
// Entry point and branches

int32_t LocateEntryPoint() {
  TargetFile* tf = ScannerFile();
  ProgramLayout& L = gScan.layout;
  L.fileLength = tf->size;
  L.isMZ = tf->isMZ;
  L.followCalls = false;
  if (PlatSeek(File(), 0, kSeekBegin) < 0) return -1;
  if (L.isMZ) {
    if (PlatReadFile(File(), gScan.mzHeader, 28) != 28) return -1;
    L.moduleBase = (int32_t)(GetU16(gScan.mzHeader + 8) + GetU16(gScan.mzHeader + 22)) * 16;
    L.segmentEnd = L.moduleBase + 0xFFFF;
    L.entryOffset = L.moduleBase + GetU16(gScan.mzHeader + 20);
    if (PlatSeek(File(), L.entryOffset, kSeekBegin) < 0) return -1;
    return L.entryOffset;
  }
  L.moduleBase = 0;
  L.segmentEnd = 0xFFFF;
  int32_t target = FollowRelativeBranch(0);
  L.entryOffset = target < 0 ? 0 : target;
  return L.entryOffset;
}

int32_t RelativeBranchTarget(int32_t pos, const uint8_t* p, bool followCalls, int32_t moduleBase,
                             int32_t segmentEnd) {
  int32_t n, d, w;
  if (p[0] == 0xE9 || (p[0] == 0xE8 && followCalls)) {
    n = 3;
    d = GetU16(p + 1);
    w = 65536;
  } else if (p[0] == 0xEB) {
    n = 2;
    d = p[1];
    w = 256;
  } else {
    return kNotBranch;
  }
  int32_t t = pos + n + d;
  if (d < w / 2) return t > segmentEnd ? t - w : t;
  return (t - w < moduleBase - 1) ? t : t - w;
}

// The branch at pos under the layout of the program being examined.
static int32_t RelativeTarget(int32_t pos, const uint8_t* p) {
  const ProgramLayout& L = gScan.layout;
  return RelativeBranchTarget(pos, p, L.followCalls, L.moduleBase, L.segmentEnd);
}

int32_t FollowRelativeBranch(int32_t position) {
  uint8_t p[5];
  if (ReadAt(position, p, 5) != 5) return -1;
  int32_t t = RelativeTarget(position, p);
  if (t == kNotBranch) {
    PlatSeek(File(), 0, kSeekBegin);
    return 0;
  }
  if (PlatSeek(File(), t, kSeekBegin) < 0) return -1;
  return t;
}

// Position of the first MOV BX,imm16 among the first 100 bytes, stepping
// with the decoder and stopping at the first E9 or EB; -1 if none. The
// bytes read are left in buf, their count in *got.
static int32_t FindMovBx(uint8_t* buf, int32_t* got) {
  *got = ReadAt(0, buf, 100);
  if (*got <= 0) return -1;
  int32_t i = 0;
  while (i < *got) {
    if (buf[i] == 0xE9 || buf[i] == 0xEB) return -1;
    if (buf[i] == 0xBB) return i;
    InstructionInfo info;
    DecodeInstruction(buf + i, (size_t)(*got - i), &info);
    i += info.length;
  }
  return -1;
}

int32_t FollowBranch(int32_t position) {
  uint8_t p[50];
  if (ReadAt(position, p, 50) != 50) return -1;
  int32_t t = RelativeTarget(position, p);
  if (t != kNotBranch) {
    PlatSeek(File(), t, kSeekBegin);
    return t;
  }
  if (p[0] != 0xFF) return -1;
  if (p[1] == 0x26) {
    uint16_t a = GetU16(p + 2);
    uint16_t ptr = gScan.layout.isMZ ? a : (uint16_t)(a - 0x100);
    if (ptr >= 45) return -1;
    return (uint16_t)(GetU16(p + ptr) - 0x100);
  }
  if (p[1] == 0xE3 && !gScan.layout.isMZ) {
    uint8_t buf[100];
    int32_t got;
    int32_t at = FindMovBx(buf, &got);
    if (at < 0 || at > position) return -1;
    uint8_t imm[2];
    if (ReadAt(at + 1, imm, 2) != 2) return -1;
    return (uint16_t)(GetU16(imm) - 0x100);
  }
  return -1;
}

int32_t FindFirstBranch(const uint8_t* bytes) {
  int32_t i = 0;
  while (i < 20) {
    uint8_t op = bytes[i];
    if (op == 0xE9 || op == 0xEB || op == 0xE8) return i;
    if (op == 0xFF && (bytes[i + 1] == 0x26 || bytes[i + 1] == 0xE3)) return i;
    InstructionInfo info;
    DecodeInstruction(bytes + i, (size_t)(50 - i), &info);
    i += info.length;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Signature search

// Compares n pattern bytes with the data bytes; avail is how many data
// bytes exist (the rest lie beyond the end of the file and never match).
static bool PatternMatches(const uint8_t* pattern, int n, const uint8_t* data, int32_t avail) {
  if (n > avail) return false;
  for (int i = 0; i < n; i++)
    if (pattern[i] != 0x90 && pattern[i] != data[i]) return false;
  return true;
}

// Compares n pattern bytes at window position p (which may be past the
// window's end).
static bool WindowMatches(const uint8_t* pattern, int n, int32_t p) {
  const ScanWindow& w = gScan.window;
  if (p < 0 || p > w.length) return false;
  return PatternMatches(pattern, n, w.bytes + p, w.length - p);
}

static bool FileMatches(const uint8_t* pattern, int n, int64_t pos) {
  uint8_t buf[16];
  if (n > (int)sizeof buf) return false;
  int32_t got = ReadAt(pos, buf, (uint32_t)n);
  return got == n && PatternMatches(pattern, n, buf, got);
}

// The confirmation patterns of a virus: every one that lies within the
// data read must match.
static bool Confirm(int16_t virusNumber, int32_t e) {
  const VirusDatabase& db = VirusDb();
  const ScanWindow& w = gScan.window;
  int32_t k = 0;
  while (k < db.confirmCount && db.confirmIndex[k].virusNumber != virusNumber) k++;
  for (; k < db.confirmCount && db.confirmIndex[k].virusNumber == virusNumber; k++) {
    ConfirmPattern cp;
    if (!ReadConfirmPattern(db.confirmIndex[k].patternNumber, &cp)) return false;
    int32_t o = gScan.layout.isMZ ? cp.exeOffset : cp.comOffset;
    if (o > w.length - w.before || o + w.before < 0) continue;
    if (o > kFarOffset) {
      uint8_t buf[12];
      if (ReadAt((int64_t)e + o, buf, (uint32_t)cp.length) != cp.length) continue;
      if (!PatternMatches(cp.bytes, cp.length, buf, cp.length)) return false;
    } else if (!WindowMatches(cp.bytes, cp.length, o + w.before)) {
      return false;
    }
  }
  return true;
}

void SearchSignatures(const char* path) {
  ProgramLayout& L = gScan.layout;
  ScanWindow& w = gScan.window;
  const VirusDatabase& db = VirusDb();

  // 1-2. The entry point.
  if (LocateEntryPoint() < 0) return;
  int32_t e;
  if (L.isMZ) {
    e = L.entryOffset;
  } else {
    uint8_t first[50];
    if (ReadAt(0, first, 50) != 50) return;
    int32_t q = FindFirstBranch(first);
    if (q >= 0) {
      L.followCalls = true;
      e = FollowBranch(q);
      if (e < 0) e = 0;
      L.followCalls = false;
    } else {
      e = 0;
    }
  }

  // 3. An entry that is itself a near jump is followed, at most twice.
  uint8_t b;
  if (ReadAt(e, &b, 1) != 1) return;
  for (int hop = 0; hop < 2 && b == 0xE9; hop++) {
    int32_t t = FollowBranch(e);
    if (t < 0) break;
    e = t;
    if (ReadAt(e, &b, 1) != 1) return;
  }
  L.entryOffset = e;

  // 4. The window.
  w.before = (uint16_t)(e < kWindowBefore ? e : kWindowBefore);
  int64_t start = (int64_t)e - w.before;
  int64_t want = (int64_t)L.fileLength - start;
  if (want > kWindowSize) want = kWindowSize;
  if (want <= 0) return;
  w.length = (int32_t)want;
  if (ReadAt(start, w.bytes, (uint32_t)w.length) != w.length) return;

  // 5. Candidates filed under the entry byte.
  const FirstByteEntry& fb = L.isMZ ? db.exeFirst[b] : db.comFirst[b];
  const int16_t* list = L.isMZ ? db.exeList : db.comList;
  int32_t listCount = L.isMZ ? db.exeListCount : db.comListCount;

  // 6. Each candidate in list order; the first confirmed one counts.
  for (int32_t pos = fb.start; pos < (int32_t)fb.start + fb.count && pos < listCount; pos++) {
    int32_t sig = list[pos];
    if (sig < 0 || sig >= db.signatureCount) continue;
    const SignatureHead& h = db.heads[sig];
    int32_t o = L.isMZ ? h.exeOffset : h.comOffset;
    if (o > w.length - w.before) continue;
    bool far = o > kFarOffset;
    int32_t p = o + w.before;
    if (!far && p < 0) continue;
    if (far ? !FileMatches(h.head, 4, (int64_t)e + o) : !WindowMatches(h.head, 4, p)) continue;
    SignatureTail t;
    if (!GetSignatureTail(sig, &t)) return;
    if (far ? !FileMatches(t.tail, t.tailLength, (int64_t)e + o + 4)
            : !WindowMatches(t.tail, t.tailLength, p + 4))
      continue;
    if (t.needsConfirmation && !Confirm(t.virusNumber, e)) continue;
    gScan.match.virusNumber = t.virusNumber;
    gScan.match.position = e + t.comOffset;
    gScan.match.length = (uint8_t)(4 + t.tailLength);
    HandleSignatureMatch(path, t.virusNumber);
    return;
  }
}
