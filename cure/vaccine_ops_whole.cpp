// Vaccine operations that do the whole cleaning themselves: refuse it
// (code 1), rename a dropper (86), delete a companion (221), decode a
// virus body to find the host's header or start and rebuild the file from
// it (149, 150, 244, 253 to 255, 271), repair relocations the virus
// patched (179), or write a fixed header piece (225, 276).
//
// Those that end the cleaning close the file through FinishCleaning (or,
// for 1 and 221, CloseTargetFile); the executor's own FinishCleaning after
// them then does nothing.
//
// State: none; works on the executor's CleaningContext, the work buffer and
// the scanner's header copy. Called only through the operation table.
#include "cure/vaccine_ops.h"

#include <cctype>
#include <cstring>

#include "common/le.h"
#include "engine/file_scanner.h"
#include "platform/files.h"

// Code 1: the database marks this kind of file as not curable for the
// virus. The file is closed unchanged.
uint16_t Op1() {
  CleaningContext& c = Cleaning();
  c.message = kMsgNoVaccine;
  CloseTargetFile(c.path, &c.target);
  return 0;
}

// Code 86: rename the file as a dropper.
uint16_t Op86() { return RenameDropper(); }

// The key chain of codes 149 and 150 over wb[297..2422]: k starts as wb[0];
// each byte is XORed with k, and the decoded byte chooses the next key,
// wb[255 - byte].
constexpr size_t kChainFirst = 297;
constexpr size_t kChainLast = 2422;
static void KeyChain(uint8_t* wb) {
  uint8_t k = wb[0];
  for (size_t i = kChainFirst; i <= kChainLast; i++) {
    wb[i] ^= k;
    k = wb[255 - wb[i]];
  }
}

// Code 149: read 28 at 0 -> L; cut 2169; read 2167 at (entry of L) - 256
// -> wb; the key chain; L.CS := wbw[1151]; L.IP := wbw[1149];
// L.SS := wbw[1153]; L.SP := wbw[1155]; L.sig := "MZ"; page fields from
// len; write L at 0.
uint16_t Op149() {
  uint8_t l[28];
  if (!ReadAt(0, l, 28)) return 0;
  int64_t from = (int64_t)MzEntry(l) - 256;
  Cut(2169);
  uint8_t* wb = Wb();
  if (!ReadAt(from, wb, 2167)) return 0;
  KeyChain(wb);
  SetCopyWord(l, kHdrCS, Wbw(1151));
  SetCopyWord(l, kHdrIP, Wbw(1149));
  SetCopyWord(l, kHdrSS, Wbw(1153));
  SetCopyWord(l, kHdrSP, Wbw(1155));
  SetCopyWord(l, kHdrSig, 0x5A4D);
  RecountPages(l, Len());
  return WriteAt(0, l, 28) ? 1 : 0;
}

// Code 150: E := jump(0); cut 2169; read 2423 at E-256 -> wb; the key
// chain; write wb[2382..2384] at 0.
uint16_t Op150() {
  int32_t e = JumpTarget();
  if (e < 0) return 0;
  Cut(2169);
  uint8_t* wb = Wb();
  if (!ReadAt((int64_t)e - 256, wb, 2423)) return 0;
  KeyChain(wb);
  return WriteAt(0, wb + 2382, 3) ? 1 : 0;
}

// Code 179: the host's 5 entry bytes, kept at p = end-1174, go back to the
// entry (base + H.IP, base the load module's segment); of the relocation
// entries (one unsigned 32-bit number each) all but the last that lie
// within rel..rel+5, rel = p - base, are moved by H.IP - rel, back to the
// entry; the last entry is zeroed and dropped; R.exeCut := 1600. A header
// without relocations has no entry to drop and is refused.
uint16_t Op179() {
  uint16_t relocs = H(kHdrRelocs);
  if (relocs == 0) return 0;
  int64_t base = MzBase(Cleaning().header);
  int64_t size = FileEnd();
  if (size < 0) return 0;
  int64_t p = size - 1174;
  uint8_t host[5];
  if (!ReadAt(p, host, 5) || !WriteAt(base + H(kHdrIP), host, 5)) return 0;
  int64_t rel = p - base;
  int64_t table = H(kHdrRelOff);
  for (uint32_t i = 0; i + 1 < relocs; i++) {
    uint8_t e[4];
    int64_t at = table + 4 * (int64_t)i;
    if (!ReadAt(at, e, 4)) return 0;
    int64_t entry = GetU32(e);
    if (entry < rel || entry > rel + 5) continue;
    PutU32(e, (uint32_t)(entry + H(kHdrIP) - rel));
    if (!WriteAt(at, e, 4)) return 0;
  }
  relocs--;
  SetH(kHdrRelocs, relocs);
  static const uint8_t kZero[4] = {};
  if (!WriteAt(table + 4 * (int64_t)relocs, kZero, 4)) return 0;
  Rec().exeCutLength = 1600;
  return 1;
}

// Code 221: a companion virus, a program of 8064 bytes beside the .EXE it
// stands for. When the same name with ".EXE" for its last four characters
// is another file that exists, and len is exactly 8064, the file is closed
// and deleted; otherwise "File is corrupted.".
uint16_t Op221() {
  CleaningContext& c = Cleaning();
  size_t n = std::strlen(c.path);
  char exe[kCleanPathMax];
  bool isExe = n >= 4;
  for (size_t i = 0; isExe && i < 4; i++)
    isExe = std::toupper((unsigned char)c.path[n - 4 + i]) == ".EXE"[i];
  if (n < 4 || isExe || Len() != 8064) {
    c.message = kMsgCorrupted;
    return 0;
  }
  std::memcpy(exe, c.path, n - 4);
  std::memcpy(exe + n - 4, ".EXE", 5);
  if (!PlatFileExists(exe)) {
    c.message = kMsgCorrupted;
    return 0;
  }
  CloseTargetFile(c.path, &c.target);
  return PlatDeleteFile(c.path) ? 1 : 0;
}

// Code 225: wb[0..1] := "MZ"; write wb[0..9] at 96.
uint16_t Op225() {
  uint8_t* wb = Wb();
  wb[0] = 'M';
  wb[1] = 'Z';
  if (WriteAt(96, wb, 10)) return 1;
  Cleaning().message = kMsgCannotWrite;
  return 0;
}

// Code 244: read 28 at 0 -> header; k := w(V+1510); read 987 at V+76 -> wb;
// each of its first 494 words c becomes c ^ k, and c is the next k; header
// bytes 2 to 25 := wb[957..980]; write the header at 0; H.pages -= 1 unless
// 0; len := H.pages x 512 + H.lastpage; the file is cut to len.
uint16_t Op244() {
  CleaningContext& c = Cleaning();
  int64_t v = VirusPosition();
  uint16_t k;
  uint8_t* wb = Wb();
  if (!ReadAt(0, c.header, 28) || !WordAt(v + 1510, &k) || !ReadAt(v + 76, wb, 987)) return 0;
  for (size_t j = 0; j < 494; j++) {
    uint16_t w = Wbw(2 * j);
    SetWbw(2 * j, w ^ k);
    k = w;
  }
  std::memcpy(c.header + 2, wb + 957, 24);
  if (!WriteAt(0, c.header, 28)) return 0;
  if (H(kHdrPages) != 0) AddH(kHdrPages, -1);
  Len() = (int32_t)H(kHdrPages) * 512 + H(kHdrLastPage);
  return CleanSetLength(Len()) ? 1 : 0;
}

// E for codes 253 and 254: the entry, one byte earlier for an MZ file.
// A non-MZ file without a jump at its start would be cut to nothing: -1.
static int32_t VirusEntry(bool minusOne) {
  int32_t e = EntryPosition();
  if (e > 0 && minusOne && Cleaning().target.isMZ) e--;
  return e > 0 ? e : -1;
}

// Writes the scanner's copy of the MZ header at 0 with the given entry
// words (null: as they are) and the page fields of a file of length bytes.
static bool WriteScannerHeader(const uint16_t* ip, const uint16_t* cs, const uint16_t* ss,
                               const uint16_t* sp, int32_t length) {
  uint8_t h[28];
  std::memcpy(h, MzHeaderCopy(), 28);
  if (ip) SetCopyWord(h, kHdrIP, *ip);
  if (cs) SetCopyWord(h, kHdrCS, *cs);
  if (ss) SetCopyWord(h, kHdrSS, *ss);
  if (sp) SetCopyWord(h, kHdrSP, *sp);
  RecountPages(h, length);
  return WriteAt(0, h, 28);
}

// Code 253: b(E+701) chooses the key step (0x48 down, 0x40 up, else none);
// k := b(E+697); read 131 at E+4 -> X, each byte XORed with the stepped
// key. MZ: the scanner's header with SP := w(X+123), SS := w(X+120) - 16,
// IP := w(X+126), CS := w(X+128) - 16 and the pages of E, at 0; other
// files: X[126..129] at 0. The file is cut to E and len := E.
uint16_t Op253() {
  int32_t e = VirusEntry(true);
  uint8_t s, k, x[131];
  if (e < 0 || !ByteAt((int64_t)e + 701, &s) || !ByteAt((int64_t)e + 697, &k) ||
      !ReadAt((int64_t)e + 4, x, sizeof x))
    return 0;
  int step = s == 0x48 ? -1 : s == 0x40 ? 1 : 0;
  for (uint8_t& b : x) {
    k = (uint8_t)(k + step);
    b ^= k;
  }
  bool written;
  if (Cleaning().target.isMZ) {
    uint16_t sp = GetU16(x + 123), ss = (uint16_t)(GetU16(x + 120) - 16);
    uint16_t ip = GetU16(x + 126), cs = (uint16_t)(GetU16(x + 128) - 16);
    written = WriteScannerHeader(&ip, &cs, &ss, &sp, e);
  } else {
    written = WriteAt(0, x + 126, 4);
  }
  if (!written || !CleanSetLength(e)) return 0;
  Len() = e;
  return 1;
}

// Code 254: s := b(E+504); read 488 at E+4 -> wb; k := b(E+492); before
// each byte k becomes NOT k (s = 0xD0) or -k (otherwise), and the byte is
// XORed with it. MZ: the scanner's header with IP := wbw[119],
// CS := wbw[121] - 16 and the pages of E, at 0; other files: wb[119..122]
// at 0. len := E.
uint16_t Op254() {
  int32_t e = VirusEntry(true);
  uint8_t s, k;
  uint8_t* wb = Wb();
  if (e < 0 || !ByteAt((int64_t)e + 504, &s) || !ReadAt((int64_t)e + 4, wb, 488) ||
      !ByteAt((int64_t)e + 492, &k))
    return 0;
  for (size_t i = 0; i < 488; i++) {
    k = s == 0xD0 ? (uint8_t)~k : (uint8_t)-k;
    wb[i] ^= k;
  }
  bool written;
  if (Cleaning().target.isMZ) {
    uint16_t ip = Wbw(119), cs = (uint16_t)(Wbw(121) - 16);
    written = WriteScannerHeader(&ip, &cs, nullptr, nullptr, e);
  } else {
    written = WriteAt(0, wb + 119, 4);
  }
  if (!written) return 0;
  Len() = e;
  return 1;
}

// Code 255: read 8 at end-8 -> wb. MZ: the scanner's header with
// IP, CS, SS, SP := wbw[0], wbw[2], wbw[4], wbw[6] and the pages of E, at
// 0; other files: wb[0..3] at 0. len := E.
uint16_t Op255() {
  int32_t e = VirusEntry(false);
  uint8_t* wb = Wb();
  if (e < 0 || !ReadEnd(8, wb, 8)) return 0;
  bool written;
  if (Cleaning().target.isMZ) {
    uint16_t ip = Wbw(0), cs = Wbw(2), ss = Wbw(4), sp = Wbw(6);
    written = WriteScannerHeader(&ip, &cs, &ss, &sp, e);
  } else {
    written = WriteAt(0, wb, 4);
  }
  if (!written) return 0;
  Len() = e;
  return 1;
}

// Code 271: read 28 at 0 -> L; p := jump(0) (the file is left there);
// len := p - 20; L.sig := "MZ"; page fields from len; write L at 0. A jump
// that leaves nothing of the file is refused.
uint16_t Op271() {
  uint8_t l[28];
  if (!ReadAt(0, l, 28)) return 0;
  int32_t p = JumpTarget();
  if (p - 20 <= 0) return 0;
  Len() = p - 20;
  SetCopyWord(l, kHdrSig, 0x5A4D);
  RecountPages(l, Len());
  return WriteAt(0, l, 28) ? 1 : 0;
}

// Code 276: wb[0..1] := "MZ"; write 448 zero bytes at 62.
uint16_t Op276() {
  uint8_t* wb = Wb();
  wb[0] = 'M';
  wb[1] = 'Z';
  static const uint8_t kZeros[448] = {};
  if (WriteAt(62, kZeros, sizeof kZeros)) return 1;
  Cleaning().message = kMsgCannotWrite;
  return 0;
}
