// Inert infections, one per vaccine operation: see infections.h.
//
// Every routine below builds the file that one kind of virus leaves and the
// vaccine record that cures it, working backwards from what the operation
// reads: it appends (or prepends, or writes over the start) a body of
// filler, puts the caller's prologue where the virus code begins, and
// stores the host bytes that the virus overwrote where the operation looks
// for them, encoded so that the operation's decoding gives them back.
// Routines that serve several operation codes take the row's constants;
// the comment above each routine says what its constants mean.
#include "tools/samplegen/infections.h"

#include <algorithm>
#include <cstring>

#include "common/le.h"

// MZ header words, by index.
enum : int {
  kWSig = 0, kWLastPage, kWPages, kWRelocs, kWHdrParas, kWMinPara, kWMaxPara,
  kWSS, kWSP, kWCsum, kWIP, kWCS, kWRelOff, kWOverlay,
};

// Origins of the COM recipe's savedOffset.
enum : uint16_t { kFromStart = 0, kFromHere = 1, kFromEnd = 2 };

// ---------------------------------------------------------------------------
// Drafts: an infected file under construction

namespace {
struct Draft {
  Bytes f;            // the infected file
  int32_t host;       // length of the clean host: where an appended body begins
  int32_t entry;      // where the virus code (the prologue) begins
  bool bad;           // a write fell outside the file
};
}  // namespace

// The virus bytes that carry nothing the cure reads: one-byte instructions
// (inc, dec, push and pop of a register), so that a body at the start of a
// file holds no branch for the scanner to follow, and no two neighbours
// alike, so that a read at a wrong offset finds other bytes.
static uint8_t Filler(size_t i) { return (uint8_t)(0x40 + (i * 7) % 32); }

static int32_t Size(const Draft& d) { return (int32_t)d.f.size(); }
static int32_t End(const Draft& d, int32_t n) { return Size(d) - n; }

static void PutBytes(Draft* d, int64_t at, const uint8_t* p, size_t n) {
  if (at < 0 || (size_t)at + n > d->f.size()) {
    d->bad = true;
    return;
  }
  if (n) std::memcpy(&d->f[(size_t)at], p, n);
}
static void PutBytes(Draft* d, int64_t at, const Bytes& b) { PutBytes(d, at, b.data(), b.size()); }
static void PutB(Draft* d, int64_t at, uint8_t v) { PutBytes(d, at, &v, 1); }
static void PutW(Draft* d, int64_t at, uint16_t v) {
  uint8_t w[2];
  PutU16(w, v);
  PutBytes(d, at, w, 2);
}
static uint8_t GetB(Draft* d, int64_t at) {
  if (at < 0 || (size_t)at >= d->f.size()) {
    d->bad = true;
    return 0;
  }
  return d->f[(size_t)at];
}
static uint16_t GetW(Draft* d, int64_t at) { return (uint16_t)(GetB(d, at) | GetB(d, at + 1) << 8); }

static uint16_t HW(const Bytes& b, int word) { return b.size() >= 28 ? GetU16(&b[2 * (size_t)word]) : 0; }
static uint16_t HW(Draft* d, int word) { return GetW(d, 2 * word); }
static void SetHW(Draft* d, int word, uint16_t v) { PutW(d, 2 * word, v); }
static bool StartsMz(const Bytes& b) { return b.size() >= 2 && b[0] == 'M' && b[1] == 'Z'; }

// The host with `body` bytes of filler appended.
static Draft Append(const Bytes& host, int32_t body) {
  Draft d{host, (int32_t)host.size(), 0, false};
  for (int32_t i = 0; i < body; i++) d.f.push_back(Filler((size_t)i));
  return d;
}

// An appending COM virus: `body` bytes after the host, its code `at` bytes
// in, reached by a near jump written over the host's first three bytes.
static Draft ComAppend(const Bytes& host, const Bytes& prologue, int32_t body, int32_t at) {
  Draft d = Append(host, body);
  d.entry = d.host + at;
  PutB(&d, 0, 0xE9);
  PutW(&d, 1, (uint16_t)(d.entry - 3));
  PutBytes(&d, d.entry, prologue);
  return d;
}

// An appending MZ virus: `body` bytes after the host, its code `at` bytes
// in, CS:IP pointing there.
static Draft MzAppend(const Bytes& host, const Bytes& prologue, int32_t body, int32_t at) {
  Draft d = Append(host, body);
  d.entry = d.host + at;
  int32_t module = d.entry - 16 * HW(host, kWHdrParas);
  SetHW(&d, kWCS, (uint16_t)(module / 16));
  SetHW(&d, kWIP, (uint16_t)(module % 16));
  PutBytes(&d, d.entry, prologue);
  return d;
}

// A prepending virus: `body` bytes in front of the host, its code first.
static Draft Prepend(const Bytes& host, const Bytes& prologue, int32_t body) {
  Draft d{Bytes(), body, 0, false};
  for (int32_t i = 0; i < body; i++) d.f.push_back(Filler((size_t)i));
  d.f.insert(d.f.end(), host.begin(), host.end());
  PutBytes(&d, 0, prologue);
  return d;
}

// The host's entry registers.
namespace {
struct Regs {
  uint16_t cs, ip, ss, sp;
};
}  // namespace
static Regs HostRegs(const Bytes& h) { return {HW(h, kWCS), HW(h, kWIP), HW(h, kWSS), HW(h, kWSP)}; }

// The virus's own stack, in its segment.
static void MoveStack(Draft* d) {
  SetHW(d, kWSS, (uint16_t)(HW(d, kWCS) + 0x20));
  SetHW(d, kWSP, 0x0800);
}

// Writes four words in a row from `at`.
static void PutRegs(Draft* d, int64_t at, uint16_t a, uint16_t b, uint16_t c, uint16_t e) {
  PutW(d, at, a);
  PutW(d, at + 2, b);
  PutW(d, at + 4, c);
  PutW(d, at + 6, e);
}

// The record with the row's code in the field its point names.
static CtlVaccineRecord Named(const InfectionRow& row) {
  CtlVaccineRecord r{};
  switch (row.point) {
    case kPointExeRoutine: r.exeRoutine = row.code; break;
    case kPointExePreOp: r.exePreOp = row.code; break;
    case kPointComRoutine: r.comRoutine = row.code; break;
    case kPointComPreOp: r.comPreOp = row.code; break;
    case kPointComPostOp: r.comPostOp = row.code; break;
  }
  return r;
}

static void ComRecipe(CtlVaccineRecord* r, int32_t savedOffset, uint16_t origin, uint16_t savedLength,
                      uint16_t restoreLength, int32_t cut) {
  r->savedOffset = savedOffset;
  r->savedOrigin = origin;
  r->savedLength = savedLength;
  r->restoreLength = restoreLength;
  r->comCutLength = (uint16_t)cut;
}

static void MzDistances(CtlVaccineRecord* r, uint16_t cs, uint16_t ip, uint16_t ss, uint16_t sp) {
  r->csFromEnd = cs;
  r->ipFromEnd = ip;
  r->ssFromEnd = ss;
  r->spFromEnd = sp;
}

// The host's CS, IP, SS and SP (given, possibly encoded) as the last eight
// bytes of the body, read by the MZ recipe with the distances 8, 6, 4, 2.
static void SaveRegsAtEnd(Draft* d, Regs v, CtlVaccineRecord* r) {
  PutRegs(d, End(*d, 8), v.cs, v.ip, v.ss, v.sp);
  MzDistances(r, 8, 6, 4, 2);
}

// Completes an infection that the cure must undo byte for byte.
static bool Done(Draft* d, const CtlVaccineRecord& r, const Bytes& expected, Infection* out) {
  if (d->bad) return false;
  if (StartsMz(d->f)) FixMzSize(&d->f);
  out->file = d->f;
  out->companion.clear();
  out->vaccine = r;
  out->entry = d->entry;
  out->virusPosition = d->entry;
  std::memset(out->scannerHeader, 0, sizeof out->scannerHeader);
  if (StartsMz(d->f)) std::memcpy(out->scannerHeader, d->f.data(), sizeof out->scannerHeader);
  out->outcome = kCureRestores;
  out->expected = expected;
  out->message = nullptr;
  out->markers.clear();
  return true;
}

static uint8_t RotR8(uint8_t v, int n) { return (uint8_t)(n ? (v >> n | v << (8 - n)) : v); }
static uint16_t RotL16(uint16_t v, int n) { return (uint16_t)(n ? (v << n | v >> (16 - n)) : v); }

// XORs the word at buf + i with keys[i] for i = 0 .. steps - 1, one byte
// apart. The mask this applies does not depend on the data, so the same
// call encodes and decodes.
static void OverlapXor(uint8_t* buf, int steps, const uint16_t* keys) {
  for (int i = 0; i < steps; i++) {
    buf[i] ^= (uint8_t)keys[i];
    buf[i + 1] ^= (uint8_t)(keys[i] >> 8);
  }
}

// XORs the words at even offsets of buf (n bytes, n even) with x.
static void WordXor(uint8_t* buf, int n, uint16_t x) {
  for (int i = 0; i + 1 < n; i += 2) {
    buf[i] ^= (uint8_t)x;
    buf[i + 1] ^= (uint8_t)(x >> 8);
  }
}

// Byte i of the host, 0 past its end.
static uint8_t H(const Bytes& host, int i) { return i < (int)host.size() ? host[(size_t)i] : 0; }

// ---------------------------------------------------------------------------
// Adjust: header words changed by constants

// The virus moved CS:IP (and, where saved, SS:SP) into its body, keeping
// the host's values as the body's last eight bytes, and added k[1] to
// header word k[0]. k[2]: bit 0 the host's SS is saved (else SS stays the
// host's), bit 1 the host's SP is saved. k[3], k[4]: added to the saved CS
// and SS.
static bool InfectMzAdjust(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 512, 16);
  CtlVaccineRecord r = Named(row);
  Regs v = HostRegs(host);
  bool ss = row.k[2] & 1, sp = row.k[2] & 2;
  PutRegs(&d, End(d, 8), (uint16_t)(v.cs + row.k[3]), v.ip, (uint16_t)(v.ss + row.k[4]), v.sp);
  MzDistances(&r, 8, 6, ss ? 4 : 0, sp ? 2 : 0);
  if (ss) SetHW(&d, kWSS, (uint16_t)(HW(&d, kWCS) + 0x20));
  if (sp) SetHW(&d, kWSP, 0x0800);
  SetHW(&d, row.k[0], (uint16_t)(HW(host, row.k[0]) + row.k[1]));
  r.exeCutLength = 512;
  return Done(&d, r, host, out);
}

// The saved registers minus a key word at end-k[0]; the checksum marks the
// file.
static bool InfectMzSavedMinusKey(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                  Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0x1234;
  PutW(&d, End(d, row.k[0]), x);
  Regs v = HostRegs(host);
  SaveRegsAtEnd(&d, {(uint16_t)(v.cs - x), (uint16_t)(v.ip - x), (uint16_t)(v.ss - x), (uint16_t)(v.sp - x)}, &r);
  MoveStack(&d);
  SetHW(&d, kWCsum, 0x4B56);
  r.exeCutLength = (uint16_t)body;
  return Done(&d, r, host, out);
}

// Every byte of the saved registers XORed with a key: the byte at end-k[0],
// or (k[1] = 1) the sum of the two bytes there.
static bool InfectMzSavedXorByte(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                 Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = 0x93;
  if (row.k[1]) {
    PutB(&d, End(d, row.k[0]), 0x31);
    PutB(&d, End(d, row.k[0]) + 1, (uint8_t)(k - 0x31));
  } else {
    PutB(&d, End(d, row.k[0]), k);
  }
  Regs v = HostRegs(host);
  uint16_t kk = (uint16_t)(k | k << 8);
  SaveRegsAtEnd(&d, {(uint16_t)(v.cs ^ kk), (uint16_t)(v.ip ^ kk), (uint16_t)(v.ss ^ kk), (uint16_t)(v.sp ^ kk)},
                &r);
  MoveStack(&d);
  r.exeCutLength = (uint16_t)body;
  return Done(&d, r, host, out);
}

// Code 230: the low byte x at end-597 makes y = 257x; CS and IP XORed with
// y, CS and SS raised by 16.
static bool InfectMz230(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 700, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, End(d, 597), 0x5E9C);
  uint16_t y = 257 * 0x9C;
  Regs v = HostRegs(host);
  SaveRegsAtEnd(&d, {(uint16_t)((v.cs + 16) ^ y), (uint16_t)(v.ip ^ y), (uint16_t)(v.ss + 16), v.sp}, &r);
  MoveStack(&d);
  r.exeCutLength = 700;
  return Done(&d, r, host, out);
}

// Code 247: the key byte at end-63 subtracted from the six bytes of CS, IP
// and SS, the low bytes of CS and SS raised by 16.
static bool InfectMz247(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = 0x35;
  PutB(&d, End(d, 63), k);
  Regs v = HostRegs(host);
  auto enc = [k](uint16_t w, int lowAdd) {
    uint8_t lo = (uint8_t)((uint8_t)w + lowAdd - k), hi = (uint8_t)((w >> 8) - k);
    return (uint16_t)(lo | hi << 8);
  };
  SaveRegsAtEnd(&d, {enc(v.cs, 16), enc(v.ip, 0), enc(v.ss, 16), v.sp}, &r);
  MoveStack(&d);
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// ---------------------------------------------------------------------------
// Header from the virus body (MZ)

// The whole host header at end-k[1], the host's length as the second word
// at end-k[0].
static bool InfectMzHeaderAtEnd(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                Infection* out) {
  int32_t body = std::max(row.k[0], row.k[1]) + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  SetHW(&d, kWMinPara, (uint16_t)(HW(host, kWMinPara) + 0x21));
  PutW(&d, End(d, row.k[0]), 0x7777);
  PutW(&d, End(d, row.k[0]) + 2, (uint16_t)host.size());
  PutBytes(&d, End(d, row.k[1]), host.data(), 28);
  return Done(&d, r, host, out);
}

// The whole host header at end-k[0]; the record gives the cut.
static bool InfectMzHeaderCopy(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  SetHW(&d, kWMaxPara, 0x0345);
  PutBytes(&d, End(d, row.k[0]), host.data(), 28);
  r.exeCutLength = (uint16_t)body;
  return Done(&d, r, host, out);
}

// The host header at offset 4 of a body of k[0] bytes that begins at the
// paragraph after the host.
static bool InfectMzRoundup(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t hostLen = (int32_t)host.size();
  int32_t para = (hostLen + 15) / 16 * 16;
  Draft d = MzAppend(host, pro, para - hostLen + row.k[0], para - hostLen + 32);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  SetHW(&d, kWMinPara, (uint16_t)(HW(host, kWMinPara) + 0x11));
  PutBytes(&d, para + 4, host.data(), 28);
  r.exeCutLength = (uint16_t)(Size(d) - hostLen);
  return Done(&d, r, host, out);
}

// Code 28: a key word at end-1813; the host length (XORed) at end-1725 and
// the host header (its words XORed) at end-1697.
static bool InfectMz28(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 1900, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  uint16_t x = 0x3A6C;
  PutW(&d, End(d, 1813), x);
  PutW(&d, End(d, 1725), (uint16_t)(host.size() ^ x));
  PutW(&d, End(d, 1723), (uint16_t)(0x1111 ^ x));
  uint8_t copy[32];
  std::memcpy(copy, host.data(), 28);
  for (int i = 28; i < 32; i++) copy[i] = Filler((size_t)i);
  WordXor(copy, 32, x);
  PutBytes(&d, End(d, 1697), copy, 32);
  return Done(&d, r, host, out);
}

// Code 213: the host header at end-2854 with stale entry words, and the
// entry words (segments raised by 16) at end-1565.
static bool InfectMz213(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 2900, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Bytes copy(host.begin(), host.begin() + 28);
  for (int w : {kWSS, kWSP, kWIP, kWCS}) PutU16(&copy[2 * (size_t)w], 0xBEEF);
  PutBytes(&d, End(d, 2854), copy);
  Regs v = HostRegs(host);
  PutRegs(&d, End(d, 1565), (uint16_t)(v.cs + 16), v.ip, (uint16_t)(v.ss + 16), v.sp);
  r.exeCutLength = 2900;
  return Done(&d, r, host, out);
}

// Code 227: the first 24 header bytes, inverted, at end-3898; the page
// fields come from that copy.
static bool InfectMz227(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 3950, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  uint8_t copy[24];
  for (int i = 0; i < 24; i++) copy[i] = (uint8_t)~host[(size_t)i];
  PutBytes(&d, End(d, 3898), copy, 24);
  r.exeCutLength = 3950;
  return Done(&d, r, host, out);
}

// The entry registers before the virus code: SP, SS, IP, CS at V-k[0].
// k[1] = 0: the host length as the word at end-1791; k[1] = 1: the body
// begins k[2] bytes before V.
static bool InfectMzRegsBeforeV(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  bool fromLength = row.k[1] == 0;
  Draft d = fromLength ? MzAppend(host, pro, 1900, 272) : MzAppend(host, pro, 512, row.k[2]);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Regs v = HostRegs(host);
  PutRegs(&d, d.entry - row.k[0], v.sp, v.ss, v.ip, v.cs);
  if (fromLength) PutW(&d, End(d, 1791), (uint16_t)host.size());
  return Done(&d, r, host, out);
}

// Code 87: IP and CS+16 at E-230, SS+16 and SP at E-124; a body of 3445.
static bool InfectMz87(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 3445, 240);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Regs v = HostRegs(host);
  PutW(&d, d.entry - 230, v.ip);
  PutW(&d, d.entry - 228, (uint16_t)(v.cs + 16));
  PutW(&d, d.entry - 124, (uint16_t)(v.ss + 16));
  PutW(&d, d.entry - 122, v.sp);
  return Done(&d, r, host, out);
}

// Code 61: IP, CS, SS, SP at E+1997.
static bool InfectMz61(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 2100, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Regs v = HostRegs(host);
  PutRegs(&d, d.entry + 1997, v.ip, v.cs, v.ss, v.sp);
  r.exeCutLength = 2100;
  return Done(&d, r, host, out);
}

// Code 89: the host length at end-2532; CS+16, IP, SS+16, SP at end-2661.
static bool InfectMz89(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 2700, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Regs v = HostRegs(host);
  PutW(&d, End(d, 2532), (uint16_t)host.size());
  PutRegs(&d, End(d, 2661), (uint16_t)(v.cs + 16), v.ip, (uint16_t)(v.ss + 16), v.sp);
  return Done(&d, r, host, out);
}

// Code 21: the host length as the first word at end-1045.
static bool InfectMz21(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 1100, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, End(d, 1045), (uint16_t)host.size());
  PutW(&d, End(d, 1043), 0x2222);
  SaveRegsAtEnd(&d, HostRegs(host), &r);
  MoveStack(&d);
  return Done(&d, r, host, out);
}

// Code 6: ten bytes at end-563: IP, CS+16, SS+16, SP; the recipe reads IP
// and SP there by distance.
static bool InfectMz6(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 640, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Regs v = HostRegs(host);
  PutRegs(&d, End(d, 563), v.ip, (uint16_t)(v.cs + 16), (uint16_t)(v.ss + 16), v.sp);
  MzDistances(&r, 0, 563, 0, 557);
  r.exeCutLength = 640;
  return Done(&d, r, host, out);
}

// Code 127: the host's minimum and maximum paragraphs at end-33.
static bool InfectMz127(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, End(d, 33), HW(host, kWMinPara));
  PutW(&d, End(d, 31), HW(host, kWMaxPara));
  SetHW(&d, kWMinPara, 0x0123);
  SetHW(&d, kWMaxPara, 0x0456);
  SaveRegsAtEnd(&d, HostRegs(host), &r);
  MoveStack(&d);
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// Code 136: the host's minimum paragraphs at end-23.
static bool InfectMz136(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, End(d, 23), HW(host, kWMinPara));
  SetHW(&d, kWMinPara, 0x0777);
  SaveRegsAtEnd(&d, HostRegs(host), &r);
  MoveStack(&d);
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// The host's checksum word at end-k[0]; the virus marks the checksum.
static bool InfectMzChecksumAt(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                               Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, End(d, row.k[0]), HW(host, kWCsum));
  SetHW(&d, kWCsum, 0x4B56);
  SaveRegsAtEnd(&d, HostRegs(host), &r);
  MoveStack(&d);
  r.exeCutLength = (uint16_t)body;
  return Done(&d, r, host, out);
}

// Code 161 and 163: a key word at E+k[0]; twelve bytes at E+k[1] whose
// words are XORed with it hold IP, CS, SS, SP from offset k[2].
static bool InfectMzEntryXor(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t body = 16 + row.k[1] + 12 + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  uint16_t x = GetW(&d, d.entry + row.k[0]);
  uint8_t y[12];
  for (int i = 0; i < 12; i++) y[i] = Filler((size_t)i + 3);
  Regs v = HostRegs(host);
  int o = row.k[2];
  PutU16(y + o, v.ip);
  PutU16(y + o + 2, v.cs);
  PutU16(y + o + 4, v.ss);
  PutU16(y + o + 6, v.sp);
  WordXor(y, 12, x);
  PutBytes(&d, d.entry + row.k[1], y, 12);
  r.exeCutLength = (uint16_t)body;
  return Done(&d, r, host, out);
}

// Code 165: at E+4 the host's IP and the distance of the virus's CS from
// the host's.
static bool InfectMz165(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  Regs v = HostRegs(host);
  PutW(&d, d.entry + 4, v.ip);
  PutW(&d, d.entry + 6, (uint16_t)(HW(&d, kWCS) - v.cs));
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// Code 168: a key byte at end-1596; IP, CS, SS, SP XORed with it at
// end-1428; a body of 1600.
static bool InfectMz168(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 1600, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  uint8_t k = 0x6B;
  PutB(&d, End(d, 1596), k);
  Regs v = HostRegs(host);
  uint8_t y[12];
  PutU16(y, v.ip);
  PutU16(y + 2, v.cs);
  PutU16(y + 4, v.ss);
  PutU16(y + 6, v.sp);
  for (int i = 8; i < 12; i++) y[i] = 0x22;
  for (uint8_t& b : y) b ^= k;
  PutBytes(&d, End(d, 1428), y, 12);
  return Done(&d, r, host, out);
}

// Code 204: the host's minimum and maximum paragraphs at end-2861, its
// length as the second word at end-2877.
static bool InfectMz204(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 2950, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, End(d, 2861), HW(host, kWMinPara));
  PutW(&d, End(d, 2859), HW(host, kWMaxPara));
  PutW(&d, End(d, 2877), 0x3333);
  PutW(&d, End(d, 2875), (uint16_t)host.size());
  SetHW(&d, kWMinPara, 0x0101);
  SetHW(&d, kWMaxPara, 0x0202);
  SaveRegsAtEnd(&d, HostRegs(host), &r);
  MoveStack(&d);
  return Done(&d, r, host, out);
}

// Code 207: IP, CS, SP, SS eleven bytes before the last paragraph boundary
// below the end.
static bool InfectMz207(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  int32_t rest = Size(d) % 16 ? Size(d) % 16 : 16;
  Regs v = HostRegs(host);
  PutRegs(&d, End(d, rest + 11), v.ip, v.cs, v.sp, v.ss);
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// Code 208: the host length where the recipe reads SP; SS and SP stay.
static bool InfectMz208(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  Regs v = HostRegs(host);
  SaveRegsAtEnd(&d, {v.cs, v.ip, 0xDEAD, (uint16_t)host.size()}, &r);
  return Done(&d, r, host, out);
}

// Code 216: the body begins 1061 bytes before V; at V-8 the host's IP and
// its CS counted back from the body's paragraph; one more minimum
// paragraph.
static bool InfectMz216(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 1200, 1061);
  CtlVaccineRecord r = Named(row);
  Regs v = HostRegs(host);
  int32_t u = d.entry - 1061;
  PutW(&d, d.entry - 8, v.ip);
  PutW(&d, d.entry - 6, (uint16_t)(u / 16 - HW(host, kWHdrParas) - v.cs));
  SetHW(&d, kWMinPara, (uint16_t)(HW(host, kWMinPara) + 1));
  return Done(&d, r, host, out);
}

// Code 222: twelve bytes at end-801, each from the third on XORed with the
// one two before it as stored; 131 more minimum paragraphs.
static bool InfectMz222(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 900, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  SetHW(&d, kWMinPara, (uint16_t)(HW(host, kWMinPara) + 131));
  Regs v = HostRegs(host);
  uint8_t p[12] = {0x12, 0x34, 0, 0, 0, 0, 0x56, 0x78, 0, 0, 0, 0};
  PutU16(p + 2, v.ss);
  PutU16(p + 4, v.sp);
  PutU16(p + 8, v.ip);
  PutU16(p + 10, v.cs);
  uint8_t c[12];
  c[0] = p[0];
  c[1] = p[1];
  for (int i = 2; i < 12; i++) c[i] = p[i] ^ c[i - 2];
  PutBytes(&d, End(d, 801), c, 12);
  r.exeCutLength = 900;
  return Done(&d, r, host, out);
}

// Code 237: the key byte k at end-635 gives the body length k + 731; the
// host's IP at end-630 and its CS distance at end-628; 12 fewer minimum
// paragraphs.
static bool InfectMz237(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  uint8_t k = 100;
  Draft d = MzAppend(host, pro, k + 731, 16);
  CtlVaccineRecord r = Named(row);
  Regs v = HostRegs(host);
  PutB(&d, End(d, 635), k);
  PutW(&d, End(d, 630), v.ip);
  PutW(&d, End(d, 628), (uint16_t)(HW(&d, kWCS) - v.cs));
  SetHW(&d, kWMinPara, (uint16_t)(HW(host, kWMinPara) - 12));
  return Done(&d, r, host, out);
}

// Code 238: the body begins 2220 bytes before V; at V-705 the host's IP
// and its CS distance.
static bool InfectMz238(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 2400, 2220);
  CtlVaccineRecord r = Named(row);
  Regs v = HostRegs(host);
  PutRegs(&d, d.entry - 705, v.ip, 0x4444, (uint16_t)(HW(&d, kWCS) - v.cs), 0x5555);
  return Done(&d, r, host, out);
}

// Code 239: the body begins 21 bytes before V; the host's CS and IP at
// V+433.
static bool InfectMz239(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 600, 21);
  CtlVaccineRecord r = Named(row);
  Regs v = HostRegs(host);
  PutW(&d, d.entry + 433, v.cs);
  PutW(&d, d.entry + 435, v.ip);
  return Done(&d, r, host, out);
}

// Code 245: SS, SP, checksum, IP, CS at end-149, byte i XORed with 10 - i.
static bool InfectMz245(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  SetHW(&d, kWCsum, 0x4B56);
  Regs v = HostRegs(host);
  uint8_t y[10];
  PutU16(y, v.ss);
  PutU16(y + 2, v.sp);
  PutU16(y + 4, HW(host, kWCsum));
  PutU16(y + 6, v.ip);
  PutU16(y + 8, v.cs);
  for (int i = 0; i < 10; i++) y[i] ^= (uint8_t)(10 - i);
  PutBytes(&d, End(d, 149), y, 10);
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// A key word x at end-k[0]; k[2] words at end-k[1] hold CS, IP, SP and SS
// (k[4..7] their byte offsets, -1 for none), each word stored less x
// (k[3] = 0) or XORed with x byte-swapped (k[3] = 1).
static bool InfectMzKeyedWords(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                               Infection* out) {
  int32_t body = std::max(row.k[0], row.k[1]) + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  if (row.k[7] >= 0) MoveStack(&d);
  else SetHW(&d, kWSP, 0x0800);
  uint16_t x = 0x2468;
  PutW(&d, End(d, row.k[0]), x);
  Regs v = HostRegs(host);
  uint8_t y[16];
  for (int i = 0; i < 16; i++) y[i] = Filler((size_t)i + 5);
  const uint16_t value[4] = {v.cs, v.ip, v.sp, v.ss};
  for (int f = 0; f < 4; f++)
    if (row.k[4 + f] >= 0) PutU16(y + row.k[4 + f], value[f]);
  for (int i = 0; i < row.k[2]; i++) {
    uint16_t w = GetU16(y + 2 * i);
    w = row.k[3] ? (uint16_t)(w ^ (uint16_t)(x >> 8 | x << 8)) : (uint16_t)(w - x);
    PutU16(y + 2 * i, w);
  }
  PutBytes(&d, End(d, row.k[1]), y, 2 * (size_t)row.k[2]);
  r.exeCutLength = (uint16_t)body;
  return Done(&d, r, host, out);
}

// Code 274: a key byte at end-18; IP and CS XORed with it at end-1175, SP
// and SS at end-30.
static bool InfectMz274(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 1240, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  uint8_t k = 0xD2;
  PutB(&d, End(d, 18), k);
  Regs v = HostRegs(host);
  uint8_t a[4], b[4];
  PutU16(a, v.ip);
  PutU16(a + 2, v.cs);
  PutU16(b, v.sp);
  PutU16(b + 2, v.ss);
  for (int i = 0; i < 4; i++) {
    a[i] ^= k;
    b[i] ^= k;
  }
  PutBytes(&d, End(d, 1175), a, 4);
  PutBytes(&d, End(d, 30), b, 4);
  r.exeCutLength = 1240;
  return Done(&d, r, host, out);
}

// ---------------------------------------------------------------------------
// Decoders of the MZ header and saved words

// A key byte at the last byte; IP, CS, SP, SS XORed with it in eleven bytes
// at end-k[0].
static bool InfectMzXorLastByte(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = MzAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  uint8_t k = 0xA9;
  PutB(&d, End(d, 1), k);
  Regs v = HostRegs(host);
  uint8_t y[11];
  PutU16(y, v.ip);
  PutU16(y + 2, v.cs);
  PutU16(y + 4, v.sp);
  PutU16(y + 6, v.ss);
  y[8] = 0x61;
  y[9] = 0x62;
  y[10] = 0x63;
  for (uint8_t& b : y) b ^= k;
  PutBytes(&d, End(d, row.k[0]), y, 11);
  r.exeCutLength = (uint16_t)body;
  return Done(&d, r, host, out);
}

// Code 14: key and step bytes at end-5 and end-4; 24 bytes at end-117
// with SS, SP, IP, CS at 14, 16, 20, 22, the key growing by the step.
static bool InfectMz14(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  uint8_t k = 0xA3, step = 0x35;
  PutB(&d, End(d, 5), k);
  PutB(&d, End(d, 4), step);
  uint8_t y[24];
  for (int i = 0; i < 24; i++) y[i] = Filler((size_t)i + 9);
  Regs v = HostRegs(host);
  PutU16(y + 14, v.ss);
  PutU16(y + 16, v.sp);
  PutU16(y + 20, v.ip);
  PutU16(y + 22, v.cs);
  for (uint8_t& b : y) {
    b ^= k;
    k = (uint8_t)(k + step);
  }
  PutBytes(&d, End(d, 117), y, 24);
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// Code 140: a key byte at end-130; the checksum, IP and CS XORed with it in
// the last six bytes.
static bool InfectMz140(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  SetHW(&d, kWCsum, 0x4B56);
  uint8_t k = 0xE5;
  PutB(&d, End(d, 130), k);
  Regs v = HostRegs(host);
  uint8_t y[6];
  PutU16(y, HW(host, kWCsum));
  PutU16(y + 2, v.ip);
  PutU16(y + 4, v.cs);
  for (uint8_t& b : y) b ^= k;
  PutBytes(&d, End(d, 6), y, 6);
  r.exeCutLength = 256;
  return Done(&d, r, host, out);
}

// ---------------------------------------------------------------------------
// Decoders of the COM start bytes

// The host's first k[1] bytes XORed with the key byte at end-k[0].
static bool InfectComXorKey(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t body = row.k[0] + 96;
  Draft d = ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = 0xA7;
  PutB(&d, End(d, row.k[0]), k);
  int32_t s = d.host + 48;
  for (int i = 0; i < row.k[1]; i++) PutB(&d, s + i, H(host, i) ^ k);
  ComRecipe(&r, s - Size(d), kFromEnd, (uint16_t)row.k[1], (uint16_t)row.k[1], body);
  return Done(&d, r, host, out);
}

// Code 15: key and step bytes at end-5 and end-4, the key growing by the
// step after each of three bytes.
static bool InfectCom15(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = 0xA3, step = 0x35;
  PutB(&d, End(d, 5), k);
  PutB(&d, End(d, 4), step);
  int32_t s = d.host + 48;
  for (int i = 0; i < 3; i++) {
    PutB(&d, s + i, H(host, i) ^ k);
    k = (uint8_t)(k + step);
  }
  ComRecipe(&r, s, kFromStart, 3, 3, 128);
  return Done(&d, r, host, out);
}

// Code 5: the virus writes four bytes at the start, its key the fourth;
// the key becomes NOT (key + 1) before each saved byte.
static bool InfectCom5(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = 0xC6;
  PutB(&d, 3, k);
  int32_t s = d.host + 48;
  for (int i = 0; i < 4; i++) {
    k = (uint8_t)~(k + 1);
    PutB(&d, s + i, H(host, i) ^ k);
  }
  ComRecipe(&r, s, kFromHere, 4, 4, 128);
  return Done(&d, r, host, out);
}

// Code 8: a key word at end-7; four bytes at end-183, XORed by words, the
// host's start in the last three.
static bool InfectCom8(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0xC35A;
  PutW(&d, End(d, 7), x);
  uint8_t y[4] = {0x11, H(host, 0), H(host, 1), H(host, 2)};
  WordXor(y, 4, x);
  PutBytes(&d, End(d, 183), y, 4);
  ComRecipe(&r, 0, kFromStart, 0, 3, 256);
  return Done(&d, r, host, out);
}

// Code 29: a key word at end-1817; the host's first 32 bytes, XORed by
// words, at end-1701.
static bool InfectCom29(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 1900, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0x5D2E;
  PutW(&d, End(d, 1817), x);
  uint8_t y[32];
  for (int i = 0; i < 32; i++) y[i] = H(host, i);
  WordXor(y, 32, x);
  PutBytes(&d, End(d, 1701), y, 32);
  ComRecipe(&r, 0, kFromStart, 0, 32, 1900);
  return Done(&d, r, host, out);
}

// Codes 50 and 51: seven saved bytes, the third start byte kept at offset
// k[1] of them (k[0] the byte it restores).
static bool InfectComMovedByte(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  int32_t s = d.host + 48;
  for (int i = 0; i < 3; i++) PutB(&d, s + (i == row.k[0] ? row.k[1] : i), H(host, i));
  ComRecipe(&r, s - Size(d), kFromEnd, 7, 3, 128);
  return Done(&d, r, host, out);
}

// The saved start with bytes k[0] and k[1] swapped.
static bool InfectComSwap(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  int32_t s = d.host + 48;
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  std::swap(y[row.k[0]], y[row.k[1]]);
  PutBytes(&d, s, y, 3);
  ComRecipe(&r, s, kFromStart, 3, 3, 128);
  return Done(&d, r, host, out);
}

// Code 191: a host that starts with a near jump; the virus saved only its
// displacement.
static bool InfectComForcedJump(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  int32_t s = d.host + 48;
  uint8_t y[3] = {0x33, H(host, 1), H(host, 2)};
  PutBytes(&d, s, y, 3);
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, 128);
  return Done(&d, r, host, out);
}

// A host that starts with a near jump; its displacement at end-k[0].
static bool InfectComJumpDisplacement(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                      Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  PutB(&d, End(d, row.k[0]), H(host, 1));
  PutB(&d, End(d, row.k[0]) + 1, H(host, 2));
  ComRecipe(&r, 0, kFromStart, 0, 3, 128);
  return Done(&d, r, host, out);
}

// The start bytes in pieces: the recipe reads the first k[0] of them, then
// come pieces of k[2], k[4], k[6] bytes at end-k[1], end-k[3], end-k[5]
// (a count of 0 ends the list).
static bool InfectComPieces(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t far = std::max({row.k[1], row.k[3], row.k[5]});
  int32_t body = far + 64;
  Draft d = ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  int n = 0;
  int32_t s = d.host + 48;
  for (; n < row.k[0]; n++) PutB(&d, s + n, H(host, n));
  for (int p = 0; p < 3 && row.k[2 + 2 * p] > 0; p++)
    for (int i = 0; i < row.k[2 + 2 * p]; i++) PutB(&d, End(d, row.k[1 + 2 * p]) + i, H(host, n++));
  ComRecipe(&r, row.k[0] ? s : 0, kFromStart, (uint16_t)row.k[0], (uint16_t)n, body);
  return Done(&d, r, host, out);
}

// A key byte at end-k[0]; the saved bytes rotated right by the key plus
// k[1] (modulo 8), the key growing by one per byte.
static bool InfectComRotate(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t b = 0x2B;
  PutB(&d, End(d, row.k[0]), b);
  uint8_t k = (uint8_t)(b + row.k[1]);
  int32_t s = d.host + 48;
  for (int i = 0; i < 3; i++, k++) PutB(&d, s + i, RotR8(H(host, i), k % 8));
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, body);
  return Done(&d, r, host, out);
}

// Code 120: a host that starts with a near jump; a key word at end-312 and
// its displacement at end-14, under a key XORed word by word one byte
// apart over four bytes from end-16.
static bool InfectCom120(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 400, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0x6E2B;
  PutW(&d, End(d, 312), x);
  uint8_t y[5] = {0x21, 0x43, H(host, 1), H(host, 2), 0};
  const uint16_t keys[4] = {x, x, x, x};
  OverlapXor(y, 4, keys);
  PutBytes(&d, End(d, 16), y, 4);
  ComRecipe(&r, 0, kFromStart, 0, 3, 400);
  return Done(&d, r, host, out);
}

// Code 125: a key word at end-914; 24 saved bytes XORed by words, the
// host's first 22 bytes from the second on.
static bool InfectCom125(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 1000, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0x93C1;
  PutW(&d, End(d, 914), x);
  uint8_t y[24];
  y[0] = 0x66;
  for (int i = 0; i < 22; i++) y[i + 1] = H(host, i);
  y[23] = 0x77;
  WordXor(y, 24, x);
  int32_t s = d.host + 48;
  PutBytes(&d, s, y, 24);
  ComRecipe(&r, s, kFromStart, 24, 22, 1000);
  return Done(&d, r, host, out);
}

// Code 141: a key byte at end-130 for the three start bytes and for the
// host's bytes 18 and 19, which the virus also overwrote (kept at end-6).
static bool InfectCom141(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = 0x9B;
  PutB(&d, End(d, 130), k);
  PutB(&d, 18, 0xF1);
  PutB(&d, 19, 0xF2);
  PutB(&d, End(d, 6), H(host, 18) ^ k);
  PutB(&d, End(d, 5), H(host, 19) ^ k);
  int32_t s = d.host + 48;
  for (int i = 0; i < 3; i++) PutB(&d, s + i, H(host, i) ^ k);
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, 256);
  return Done(&d, r, host, out);
}

// Code 143: a key word at end-7; four saved bytes XORed by words, the
// start in the last three.
static bool InfectCom143(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0x71A4;
  PutW(&d, End(d, 7), x);
  uint8_t lo = (uint8_t)x, hi = (uint8_t)(x >> 8);
  uint8_t y[4] = {0x5C, (uint8_t)(H(host, 0) ^ hi), (uint8_t)(H(host, 1) ^ lo), (uint8_t)(H(host, 2) ^ hi)};
  int32_t s = d.host + 48;
  PutBytes(&d, s, y, 4);
  ComRecipe(&r, s, kFromStart, 4, 3, 128);
  return Done(&d, r, host, out);
}

// Two key bytes p, q at end-7: the start XORed with q, p, q. With k[0] = 1
// the body begins at the entry and the jump gives the host's length.
static bool InfectComPairXor(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  bool toJump = row.k[0] == 1;
  Draft d = ComAppend(host, pro, 128, toJump ? 0 : 16);
  CtlVaccineRecord r = Named(row);
  uint8_t p = 0xA1, q = 0xB2;
  PutB(&d, End(d, 7), p);
  PutB(&d, End(d, 6), q);
  int32_t s = d.host + 48;
  uint8_t y[3] = {(uint8_t)(H(host, 0) ^ q), (uint8_t)(H(host, 1) ^ p), (uint8_t)(H(host, 2) ^ q)};
  PutBytes(&d, s, y, 3);
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, toJump ? 0 : 128);
  return Done(&d, r, host, out);
}

// Byte i of the saved start XORed with k[1] - k[2] * i, for k[0] bytes.
static bool InfectComFixedXor(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  int32_t s = d.host + 48;
  for (int i = 0; i < row.k[0]; i++) PutB(&d, s + i, H(host, i) ^ (uint8_t)(row.k[1] - row.k[2] * i));
  ComRecipe(&r, s - Size(d), kFromEnd, (uint16_t)row.k[0], (uint16_t)row.k[0], 128);
  return Done(&d, r, host, out);
}

// The body begins at the entry; k[1] + 1 saved bytes, the host's first
// k[1] from the second on, under a key XORed word by word one byte apart:
// the constant k[0], or (k[0] = 0) the jump's displacement.
static bool InfectComJumpKeyShift(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                  Infection* out) {
  Draft d = ComAppend(host, pro, 128, 0);
  CtlVaccineRecord r = Named(row);
  int m = row.k[1];
  uint16_t x = row.k[0] ? (uint16_t)row.k[0] : (uint16_t)(d.entry - 3);
  uint8_t y[16];
  y[0] = 0x66;
  for (int i = 0; i < m; i++) y[i + 1] = H(host, i);
  uint16_t keys[16];
  for (int i = 0; i < m; i++) keys[i] = x;
  OverlapXor(y, m, keys);
  int32_t s = d.host + 48;
  PutBytes(&d, s, y, (size_t)m + 1);
  ComRecipe(&r, s - Size(d), kFromEnd, (uint16_t)(m + 1), (uint16_t)m, 0);
  return Done(&d, r, host, out);
}

// The word transform of code 154, and its inverse.
static constexpr uint16_t Lo(uint16_t w, int add) { return (uint16_t)((w & 0xFF00) | (uint8_t)((w & 0xFF) + add)); }
static constexpr uint16_t Transform154(uint16_t w) {
  w = (uint16_t)(w + 1 + 27309 + 1123 + 1);
  w = Lo(w, -57);
  w = (uint16_t)(w + 26959 + 1);
  w = Lo(w, 1);
  w = (uint16_t)(w - 25142 - 20409);
  w = (uint16_t)(w ^ 0xEAA0 ^ 0x2FF5);
  w = Lo(w, 1);
  return (uint16_t)(w ^ 0x00FF);
}
static constexpr uint16_t Untransform154(uint16_t w) {
  w = (uint16_t)(w ^ 0x00FF);
  w = Lo(w, -1);
  w = (uint16_t)(w ^ 0x2FF5 ^ 0xEAA0);
  w = (uint16_t)(w + 20409 + 25142);
  w = Lo(w, -1);
  w = (uint16_t)(w - 1 - 26959);
  w = Lo(w, 57);
  return (uint16_t)(w - 1 - 1123 - 27309 - 1);
}
static_assert(Transform154(Untransform154(0x0000)) == 0x0000 && Transform154(Untransform154(0xB409)) == 0xB409 &&
              Transform154(Untransform154(0xFFC7)) == 0xFFC7);

// Code 154: 729 bytes at E+92 whose words go through a fixed sequence of
// steps; the start, XORed with 1, in the words at 544 and 546.
static bool InfectCom154(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 900, 16);
  CtlVaccineRecord r = Named(row);
  int32_t base = d.entry + 92;
  uint16_t a = (uint16_t)((H(host, 0) ^ 1) | (H(host, 1) ^ 1) << 8);
  uint16_t b = (uint16_t)((H(host, 2) ^ 1) | 0x5500);
  PutW(&d, base + 544, Untransform154(a));
  PutW(&d, base + 546, Untransform154(b));
  ComRecipe(&r, 0, kFromStart, 0, 3, 900);
  return Done(&d, r, host, out);
}

// Code 158: the body begins at the entry; the start at E+935.
static bool InfectCom158(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 1000, 0);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.entry + 935, y, 3);
  ComRecipe(&r, 0, kFromStart, 0, 3, 0);
  return Done(&d, r, host, out);
}

// A key word at end-k[0]; four saved bytes XORed by words.
static bool InfectComWordXorKey(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0x5E3C;
  PutW(&d, End(d, row.k[0]), x);
  uint8_t y[4] = {H(host, 0), H(host, 1), H(host, 2), H(host, 3)};
  WordXor(y, 4, x);
  int32_t s = d.host + 48;
  PutBytes(&d, s, y, 4);
  ComRecipe(&r, s - Size(d), kFromEnd, 4, 4, body);
  return Done(&d, r, host, out);
}

// The key is the word at E+k[0] in the virus code; k[1] saved words XORed
// with it hold the host's first k[2] bytes from the second byte on.
static bool InfectComEntryKeyShift(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                   Infection* out) {
  Draft d = ComAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = GetW(&d, d.entry + row.k[0]);
  uint8_t y[8];
  for (int i = 0; i < 8; i++) y[i] = 0x2A;
  y[0] = 0x19;
  for (int i = 0; i < row.k[2]; i++) y[i + 1] = H(host, i);
  WordXor(y, 2 * row.k[1], x);
  int32_t s = d.host + 48;
  PutBytes(&d, s, y, 2 * (size_t)row.k[1]);
  ComRecipe(&r, s, kFromStart, (uint16_t)(2 * row.k[1]), (uint16_t)row.k[2], 256);
  return Done(&d, r, host, out);
}

// Code 195: key bytes p, q at end-546; the four start bytes XORed with p,
// q, p, q.
static bool InfectCom195(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 610, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t p = 0x8D, q = 0xE4;
  PutB(&d, End(d, 546), p);
  PutB(&d, End(d, 545), q);
  int32_t s = d.host + 48;
  uint8_t y[4] = {(uint8_t)(H(host, 0) ^ p), (uint8_t)(H(host, 1) ^ q), (uint8_t)(H(host, 2) ^ p),
                  (uint8_t)(H(host, 3) ^ q)};
  PutBytes(&d, s, y, 4);
  ComRecipe(&r, s - Size(d), kFromEnd, 4, 4, 610);
  return Done(&d, r, host, out);
}

// Code 196: four bytes at end-1535 that, shifted left by one bit as one
// big-endian string, begin with the start.
static bool InfectCom196(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 1600, 16);
  CtlVaccineRecord r = Named(row);
  uint32_t v = 0x80000000u | (uint32_t)H(host, 0) << 23 | (uint32_t)H(host, 1) << 15 |
               (uint32_t)H(host, 2) << 7 | 0x35;
  uint8_t y[4] = {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
  PutBytes(&d, End(d, 1535), y, 4);
  ComRecipe(&r, 0, kFromStart, 0, 3, 1600);
  return Done(&d, r, host, out);
}

// Code 201: five saved bytes, the start from the second on, under keys
// that depend on the file's length, XORed word by word one byte apart.
static bool InfectCom201(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  int32_t len = Size(d);
  uint8_t y[5] = {0x4F, H(host, 0), H(host, 1), H(host, 2), 0x71};
  uint16_t keys[4];
  for (int i = 0; i < 4; i++) keys[i] = (uint16_t)((uint16_t)(len - 1400 + i) ^ (uint16_t)(1656 - i));
  OverlapXor(y, 4, keys);
  int32_t s = d.host + 48;
  PutBytes(&d, s, y, 5);
  ComRecipe(&r, s - Size(d), kFromEnd, 5, 3, 256);
  return Done(&d, r, host, out);
}

// Code 214: the host's first 120 bytes, word i rotated left by
// (60 - i) modulo 16 bits.
static bool InfectCom214(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 240, 16);
  CtlVaccineRecord r = Named(row);
  int32_t s = d.host + 48;
  for (int i = 0; i < 60; i++) {
    uint16_t w = (uint16_t)(H(host, 2 * i) | H(host, 2 * i + 1) << 8);
    PutW(&d, s + 2 * i, RotL16(w, (60 - i) % 16));
  }
  ComRecipe(&r, s, kFromStart, 120, 120, 240);
  return Done(&d, r, host, out);
}

// Code 224: 30 saved bytes, byte i of the host's first 28 XORed with saved
// byte i + 2.
static bool InfectCom224(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 160, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t c[30];
  c[28] = 0x13;
  c[29] = 0x57;
  for (int i = 27; i >= 0; i--) c[i] = H(host, i) ^ c[i + 2];
  int32_t s = d.host + 48;
  PutBytes(&d, s, c, 30);
  ComRecipe(&r, s - Size(d), kFromEnd, 30, 28, 160);
  return Done(&d, r, host, out);
}

// Code 231: key bytes p, q at end-1018; the start XORed with p, q, q at
// end-1000 and end-995.
static bool InfectCom231(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 1080, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t p = 0xC4, q = 0x2D;
  PutB(&d, End(d, 1018), p);
  PutB(&d, End(d, 1017), q);
  PutB(&d, End(d, 1000), H(host, 0) ^ p);
  PutB(&d, End(d, 999), H(host, 1) ^ q);
  PutB(&d, End(d, 995), H(host, 2) ^ q);
  ComRecipe(&r, 0, kFromStart, 0, 3, 1080);
  return Done(&d, r, host, out);
}

// Code 234: the key is the sum of the jump's displacement bytes, plus 3.
static bool InfectCom234(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = (uint8_t)(GetB(&d, 1) + GetB(&d, 2) + 3);
  int32_t s = d.host + 48;
  for (int i = 0; i < 3; i++) PutB(&d, s + i, H(host, i) ^ k);
  ComRecipe(&r, s, kFromStart, 3, 3, 128);
  return Done(&d, r, host, out);
}

// Code 236: the key is the byte at E+8 in the virus code; the start,
// XORed with it, 277 bytes after the key's successor.
static bool InfectCom236(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 400, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = GetB(&d, d.entry + 8);
  for (int i = 0; i < 3; i++) PutB(&d, d.entry + 286 + i, H(host, i) ^ k);
  ComRecipe(&r, 0, kFromStart, 0, 3, 400);
  return Done(&d, r, host, out);
}

// Code 248: the key byte at end-63 subtracted from the start.
static bool InfectCom248(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t k = 0x9E;
  PutB(&d, End(d, 63), k);
  int32_t s = d.host + 48;
  for (int i = 0; i < 3; i++) PutB(&d, s + i, (uint8_t)(H(host, i) - k));
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, 128);
  return Done(&d, r, host, out);
}

// The running key of 132 bytes at end-k[0]: its start at end-12, its step
// chosen by the byte k[1] at end-8 (0x40 up, else down). COM hosts: the
// start in bytes 126-129; MZ hosts: SP at 121, IP at 126, CS+16 at 128,
// SS+16 at 130.
static bool InfectRunningKey(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  bool mz = IsMzHost(row.host);
  int32_t body = row.k[0] + 64;
  Draft d = mz ? MzAppend(host, pro, body, 16) : ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t key = 0xB7;
  PutB(&d, End(d, 8), (uint8_t)row.k[1]);
  PutB(&d, End(d, 12), key);
  uint8_t plain[132];
  for (int i = 0; i < 132; i++) plain[i] = Filler((size_t)i + 1);
  if (mz) {
    MoveStack(&d);
    Regs v = HostRegs(host);
    PutU16(plain + 121, v.sp);
    PutU16(plain + 126, v.ip);
    PutU16(plain + 128, (uint16_t)(v.cs + 16));
    PutU16(plain + 130, (uint16_t)(v.ss + 16));
    r.exeCutLength = (uint16_t)body;
  } else {
    for (int i = 0; i < 4; i++) plain[126 + i] = H(host, i);
    ComRecipe(&r, 0, kFromStart, 0, 4, body);
  }
  for (int i = 0; i < 132; i++) {
    key = (uint8_t)(row.k[1] == 0x40 ? key + 1 : key - 1);
    PutB(&d, End(d, row.k[0]) + i, plain[i] ^ key);
  }
  return Done(&d, r, host, out);
}

// A key word at end-k[0] subtracted from the two saved words; the start
// from the second saved byte on, its fourth byte the fifth saved byte.
static bool InfectComAddWordShift(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                  Infection* out) {
  int32_t body = row.k[0] + 64;
  Draft d = ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  uint16_t x = 0x4D2C;
  PutW(&d, End(d, row.k[0]), x);
  int32_t s = d.host + 48;
  PutW(&d, s, (uint16_t)((0x3E | H(host, 0) << 8) - x));
  PutW(&d, s + 2, (uint16_t)((H(host, 1) | H(host, 2) << 8) - x));
  PutB(&d, s + 4, H(host, 3));
  ComRecipe(&r, s, kFromStart, 5, 4, body);
  return Done(&d, r, host, out);
}

// k[0] bytes at end-k[1]; the start at offset k[4] of them; the 15 words
// one byte apart XORed with (length + i - k[2]) and (k[3] - i).
static bool InfectComLengthKeys(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                Infection* out) {
  int32_t body = row.k[1] + 64;
  Draft d = ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  int32_t len = Size(d);
  uint8_t y[16];
  for (int i = 0; i < 16; i++) y[i] = Filler((size_t)i + 11);
  for (int i = 0; i < 3; i++) y[row.k[4] + i] = H(host, i);
  uint16_t keys[15];
  for (int i = 0; i < 15; i++) keys[i] = (uint16_t)((uint16_t)(len + i - row.k[2]) ^ (uint16_t)(row.k[3] - i));
  OverlapXor(y, 15, keys);
  PutBytes(&d, End(d, row.k[1]), y, (size_t)row.k[0]);
  ComRecipe(&r, 0, kFromStart, 0, 3, body);
  return Done(&d, r, host, out);
}

// Codes 272 and 273: the displacement of the host's own jump kept raised
// by 3 and 1. 272: the host starts with a near jump, as the file still
// does; 273 (k[0] = 1): the host's first byte as the last byte, its length
// as the word at end-8.
static bool InfectComJumpStep(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  bool keepsLength = row.k[0] == 1;
  Draft d = ComAppend(host, pro, 128, 16);
  CtlVaccineRecord r = Named(row);
  int32_t s = d.host + 48;
  uint8_t y[3] = {0x29, (uint8_t)(H(host, 1) + 3), (uint8_t)(H(host, 2) + 1)};
  PutBytes(&d, s, y, 3);
  if (keepsLength) {
    PutW(&d, End(d, 8), (uint16_t)host.size());
    PutB(&d, End(d, 1), H(host, 0));
  }
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, keepsLength ? 0 : 128);
  return Done(&d, r, host, out);
}

// ---------------------------------------------------------------------------
// Lengths and offsets from the file (COM)

// A body of k[0] bytes at the paragraph after the host, the start at its
// offset 4.
static bool InfectComRoundup(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t hostLen = (int32_t)host.size();
  int32_t para = (hostLen + 15) / 16 * 16;
  Draft d = ComAppend(host, pro, para - hostLen + row.k[0], para - hostLen + 32);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, para + 4, y, 3);
  ComRecipe(&r, 0, kFromStart, 3, 3, Size(d) - hostLen);
  return Done(&d, r, host, out);
}

// The start at the jump's displacement plus k[0].
static bool InfectComSavedFromJump(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                   Infection* out) {
  int32_t body = std::max(48, 32 + row.k[0] + 3) + 64;
  Draft d = ComAppend(host, pro, body, 32);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.entry - 3 + row.k[0], y, 3);
  ComRecipe(&r, 0, kFromStart, 3, 3, body);
  return Done(&d, r, host, out);
}

// Code 205: the start 1991 bytes before the entry; the host's length as
// the word at end-2879.
static bool InfectCom205(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 3000, 2000);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.entry - 1991, y, 3);
  PutW(&d, End(d, 2879), (uint16_t)host.size());
  ComRecipe(&r, 0, kFromStart, 3, 3, 0);
  return Done(&d, r, host, out);
}

// Code 206: a body of exactly 648 bytes from the entry, the start 515 in.
static bool InfectCom206(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 648, 0);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.entry + 515, y, 3);
  ComRecipe(&r, 0, kFromStart, 3, 3, 648);
  return Done(&d, r, host, out);
}

// Code 209: the host's length as the word at end-2766.
static bool InfectCom209(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 2800, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, End(d, 2766), (uint16_t)host.size());
  int32_t s = d.host + 48;
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, s, y, 3);
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, 0);
  return Done(&d, r, host, out);
}

// Code 215: the virus overwrote six start bytes, the host's length in
// paragraphs as the word at 4; the six kept 11 bytes into the body.
static bool InfectCom215(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  if (host.size() % 16) return false;
  Draft d = ComAppend(host, pro, 128, 32);
  CtlVaccineRecord r = Named(row);
  PutB(&d, 3, 0x5B);
  PutW(&d, 4, (uint16_t)(host.size() / 16));
  for (int i = 0; i < 6; i++) PutB(&d, d.host + 11 + i, H(host, i));
  ComRecipe(&r, 0, kFromStart, 6, 6, 0);
  return Done(&d, r, host, out);
}

// Code 219: "COMMAND.COM" 327 bytes into a body of 2900 (its offset in the
// 522 bytes read at end-2756 gives the body's length), the start 2231 in.
static bool InfectCom219(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 2900, 16);
  CtlVaccineRecord r = Named(row);
  static const char kName[] = "COMMAND.COM";
  PutBytes(&d, d.host + 327, (const uint8_t*)kName, 11);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.host + 2231, y, 3);
  ComRecipe(&r, 0, kFromEnd, 3, 3, 0);
  return Done(&d, r, host, out);
}

// Code 223: the virus overwrote the host's first 24 bytes, a paragraph
// number at 22; the 24 kept at (that number + 16) x 16 + 1015.
static bool InfectCom223(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t hostLen = (int32_t)host.size();
  int32_t at = std::max(hostLen + 48, 1271);
  while ((at - 1015) % 16) at++;
  int32_t body = at - hostLen + 24 + 64;
  Draft d = ComAppend(host, pro, body, 16);
  CtlVaccineRecord r = Named(row);
  PutW(&d, 22, (uint16_t)((at - 1015) / 16 - 16));
  for (int i = 0; i < 24; i++) PutB(&d, at + i, H(host, i));
  ComRecipe(&r, 0, kFromStart, 24, 24, body);
  return Done(&d, r, host, out);
}

// Code 145: the body begins at the entry.
static bool InfectCom145(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 0);
  CtlVaccineRecord r = Named(row);
  int32_t s = d.host + 48;
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, s, y, 3);
  ComRecipe(&r, s - Size(d), kFromEnd, 3, 3, 0);
  return Done(&d, r, host, out);
}

// Code 138: the body begins at the entry, the start 21 bytes in.
static bool InfectCom138(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 128, 0);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.entry + 21, y, 3);
  ComRecipe(&r, 0, kFromStart, 0, 3, 0);
  return Done(&d, r, host, out);
}

// ---------------------------------------------------------------------------
// Markers (COM)

// The first 16-byte spot in a body of `body` bytes, from offset 16, that
// overlaps none of the n ranges [at[i], at[i] + len[i]) (body offsets).
static int32_t FreeSpot(int32_t body, const int32_t* at, const int32_t* len, int n) {
  for (int32_t spot = 16; spot + 16 <= body; spot += 16) {
    bool clear = true;
    for (int i = 0; i < n; i++)
      if (spot < at[i] + len[i] && at[i] < spot + 16) clear = false;
    if (clear) return spot;
  }
  return -1;
}

// The marker text at end-k[0]; the operation cuts k[1] and reads the
// start (k[3] bytes) at end-k[2]; the record cuts the rest of the body.
// The recipe first reads the file's own start, so that without the marker
// the start is written back unchanged.
static bool InfectComMarker(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t body = std::max({row.k[0], row.k[1], row.k[2]});
  int32_t textLen = (int32_t)std::strlen(row.text);
  int32_t at[2] = {body - row.k[0], body - row.k[2]}, len[2] = {textLen, row.k[3]};
  int32_t spot = FreeSpot(body, at, len, 2);
  if (spot < 0) return false;
  Draft d = ComAppend(host, pro, body, spot);
  CtlVaccineRecord r = Named(row);
  PutBytes(&d, End(d, row.k[0]), (const uint8_t*)row.text, (size_t)textLen);
  for (int i = 0; i < row.k[3]; i++) PutB(&d, End(d, row.k[2]) + i, H(host, i));
  ComRecipe(&r, 0, kFromStart, (uint16_t)row.k[3], (uint16_t)row.k[3], body - row.k[1]);
  if (!Done(&d, r, host, out)) return false;
  out->markers = {Size(d) - row.k[0]};
  return true;
}

// Code 70: two markers, "CPU test..." at end-27 (cut 29, start at end-162)
// and "This file was down" at end-128 (cut 128, six start bytes at
// end-256).
static bool InfectCom70(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  static const char kCpu[] = "CPU test:\x07  all ri";
  static const char kDown[] = "This file was down";
  PutBytes(&d, End(d, 27), (const uint8_t*)kCpu, 18);
  PutBytes(&d, End(d, 128), (const uint8_t*)kDown, 18);
  for (int i = 0; i < 3; i++) PutB(&d, End(d, 162) + i, H(host, i));
  for (int i = 0; i < 6; i++) PutB(&d, End(d, 256) + i, H(host, i));
  ComRecipe(&r, 0, kFromStart, 6, 6, 256 - 29 - 128);
  if (!Done(&d, r, host, out)) return false;
  out->markers = {Size(d) - 27, Size(d) - 128};
  return true;
}

// Code 59: the warning text at end-471 of a body of 474 that the operation
// cuts; the recipe reads the start at the body's beginning.
static bool InfectCom59(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 474, 48);
  CtlVaccineRecord r = Named(row);
  PutBytes(&d, End(d, 471), (const uint8_t*)row.text, 32);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, End(d, 474), y, 3);
  ComRecipe(&r, -474, kFromEnd, 3, 3, 0);
  if (!Done(&d, r, host, out)) return false;
  out->markers = {Size(d) - 471};
  return true;
}

// ---------------------------------------------------------------------------
// Prepending viruses

// k[0] virus bytes in front of the host and k[1] after it; k[2] = 1: the
// host's first byte raised by 11, 2: its first two bytes inverted.
static bool InfectLead(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Bytes changed = host;
  if (row.k[2] == 1) changed[0] = (uint8_t)(changed[0] + 11);
  if (row.k[2] == 2) {
    changed[0] = (uint8_t)~changed[0];
    changed[1] = (uint8_t)~changed[1];
  }
  Draft d = Prepend(changed, pro, row.k[0]);
  for (int32_t i = 0; i < row.k[1]; i++) d.f.push_back(Filler((size_t)i + 3));
  CtlVaccineRecord r = Named(row);
  return Done(&d, r, host, out);
}

// Code 139: the virus wrote itself over the host's first 879 bytes and
// appended them.
static bool InfectLead139(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  if (host.size() <= 879) return false;
  Draft d = Prepend(Bytes(host.begin() + 879, host.end()), pro, 879);
  d.f.insert(d.f.end(), host.begin(), host.begin() + 879);
  CtlVaccineRecord r = Named(row);
  return Done(&d, r, host, out);
}

// Codes 55 and 56: 524 virus bytes in front of the host, whose first word
// is XORed with the virus's word at 13.
static bool InfectLeadKeyed(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = Prepend(host, pro, 524);
  CtlVaccineRecord r = Named(row);
  uint16_t x = GetW(&d, 13);
  PutW(&d, 524, (uint16_t)(GetW(&d, 524) ^ x));
  ComRecipe(&r, 524, kFromStart, 2, 2, 0);
  return Done(&d, r, host, out);
}

// ---------------------------------------------------------------------------
// Start bytes written back by the operation (COM)

// The host's first k[0] bytes at end-k[1], XORed with the key byte at
// end-k[3] (or, k[3] = 0, with k[4]), a body of k[2]. When the saved bytes
// are the whole body, the virus wrote itself over the host's start.
static bool InfectComStartFromEnd(const InfectionRow& row, const Bytes& host, const Bytes& pro,
                                  Infection* out) {
  int32_t n = row.k[0];
  if ((int32_t)host.size() < n) return false;
  bool over = n == row.k[2] && n == row.k[1];
  Draft d;
  if (over) {
    d = Prepend(Bytes(host.begin() + n, host.end()), pro, n);
    d.host = (int32_t)host.size();
    for (int32_t i = 0; i < n; i++) d.f.push_back(0);
  } else {
    d = ComAppend(host, pro, row.k[2], 16);
    for (int32_t i = 3; i < n; i++) PutB(&d, i, Filler((size_t)i));
  }
  CtlVaccineRecord r = Named(row);
  uint8_t k = (uint8_t)row.k[4];
  if (row.k[3]) {
    k = 0x8B;
    PutB(&d, End(d, row.k[3]), k);
  }
  for (int32_t i = 0; i < n; i++) PutB(&d, End(d, row.k[1]) + i, H(host, i) ^ k);
  return Done(&d, r, host, out);
}

// Code 88: the start eleven bytes before the entry, in a body of 3445.
static bool InfectCom88(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 3445, 16);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.entry - 11, y, 3);
  return Done(&d, r, host, out);
}

// Code 132: the virus wrote its first 600 bytes over the host's (the word
// at 3 saying where they went) and keeps them as the last 600 of a body of
// 2219.
static bool InfectCom132(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  const int32_t n = 600;
  if ((int32_t)host.size() < n) return false;
  Draft d = ComAppend(host, pro, 2219, 16);
  CtlVaccineRecord r = Named(row);
  for (int32_t i = 5; i < n; i++) PutB(&d, i, Filler((size_t)i));
  int32_t saved = Size(d) - n;
  PutW(&d, 3, (uint16_t)saved);
  PutBytes(&d, saved, host.data(), (size_t)n);
  return Done(&d, r, host, out);
}

// The key chain of codes 149 and 150 over wb[297..last], wb being the
// bytes from `base` on: each byte XORed with the key, the next key the byte
// at 255 minus the plain byte.
static void EncodeKeyChain(Draft* d, int32_t base, int32_t last) {
  uint8_t k = GetB(d, base);
  for (int32_t i = 297; i <= last; i++) {
    uint8_t plain = GetB(d, base + i);
    PutB(d, base + i, plain ^ k);
    k = GetB(d, base + 255 - plain);
  }
}

// Code 150: the body begins at the entry; the start at E+2126 under the
// key chain that begins 256 bytes before the entry.
static bool InfectCom150(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  if (host.size() < 256) return false;
  Draft d = ComAppend(host, pro, 2169, 0);
  CtlVaccineRecord r = Named(row);
  uint8_t y[3] = {H(host, 0), H(host, 1), H(host, 2)};
  PutBytes(&d, d.entry + 2126, y, 3);
  EncodeKeyChain(&d, d.entry - 256, 2422);
  return Done(&d, r, host, out);
}

// ---------------------------------------------------------------------------
// Whole-file cleaners

// Code 149: the body begins 256 bytes before the entry; the host's IP, CS,
// SS and SP at E+893 under the key chain that begins at the body.
static bool InfectMz149(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 2169, 256);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Regs v = HostRegs(host);
  int32_t base = d.entry - 256;
  PutRegs(&d, base + 1149, v.ip, v.cs, v.ss, v.sp);
  EncodeKeyChain(&d, base, 2166);
  return Done(&d, r, host, out);
}

// Code 179: the virus leaves CS:IP alone and writes a far jump over the
// host's first five bytes at the entry, keeping them at end-1174; the
// host's relocation inside them is moved to the copy, and the virus adds
// one for its jump's segment.
static bool InfectMz179(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  int32_t base = 16 * (HW(host, kWHdrParas) + HW(host, kWCS));
  int32_t entry = base + HW(host, kWIP);
  int32_t relOff = HW(host, kWRelOff);
  if (HW(host, kWRelocs) != 1 || relOff + 8 > 16 * HW(host, kWHdrParas)) return false;
  Draft d = Append(host, 1600);
  d.entry = d.host + 16;
  PutBytes(&d, d.entry, pro);
  CtlVaccineRecord r = Named(row);
  PutBytes(&d, End(d, 1174), host.data() + entry, 5);
  int32_t target = d.entry - 16 * HW(host, kWHdrParas);
  uint8_t jump[5] = {0xEA, (uint8_t)(target % 16), 0, 0, 0};
  PutU16(jump + 3, (uint16_t)(target / 16));
  PutBytes(&d, entry, jump, 5);
  uint32_t rel = (uint32_t)(Size(d) - 1174 - base);
  uint32_t moved = GetU32(host.data() + relOff) - HW(host, kWIP) + rel;
  uint8_t entries[8];
  PutU32(entries, moved);
  PutU16(entries + 4, (uint16_t)(HW(host, kWIP) + 3));
  PutU16(entries + 6, HW(host, kWCS));
  PutBytes(&d, relOff, entries, 8);
  SetHW(&d, kWRelocs, 2);
  if (!Done(&d, r, host, out)) return false;
  out->entry = entry;
  return true;
}

// Code 244: the host header's bytes 2-25 at V+76+957 under a chain of
// words (each XORed with the stored word before it, the first with the
// word at V+1510).
static bool InfectMz244(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  if (host.size() % 512 == 0) return false;
  Draft d = MzAppend(host, pro, 1600, 16);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  SetHW(&d, kWMinPara, 0x0999);
  int32_t base = d.entry + 76;
  PutBytes(&d, base + 957, host.data() + 2, 24);
  uint16_t k = GetW(&d, d.entry + 1510);
  for (int32_t j = 0; j < 493; j++) {
    uint16_t c = (uint16_t)(GetW(&d, base + 2 * j) ^ k);
    PutW(&d, base + 2 * j, c);
    k = c;
  }
  return Done(&d, r, host, out);
}

// The key stream of codes 253 and 254 for n bytes: the key steps before
// each byte (step: +1, -1, 0, or the NOT / negation forms of 254).
namespace {
enum KeyStep { kStepUp, kStepDown, kStepNone, kStepNot, kStepNegate };
}  // namespace
static void KeyStream(uint8_t k, KeyStep step, int n, uint8_t* keys) {
  for (int i = 0; i < n; i++) {
    switch (step) {
      case kStepUp: k = (uint8_t)(k + 1); break;
      case kStepDown: k = (uint8_t)(k - 1); break;
      case kStepNone: break;
      case kStepNot: k = (uint8_t)~k; break;
      case kStepNegate: k = (uint8_t)-k; break;
    }
    keys[i] = k;
  }
}

// Code 253 (MZ): the body begins one byte before the entry E; its step
// selector (0x48, down) at E-1+701, key at E-1+697, and 131 bytes from
// E-1+4 with SS+16 at 120, SP at 123, IP at 126, CS+16 at 128.
static bool InfectMz253(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 800, 1);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  int32_t e = d.entry - 1;
  PutB(&d, e + 701, 0x48);
  uint8_t keys[131];
  KeyStream(GetB(&d, e + 697), kStepDown, 131, keys);
  Regs v = HostRegs(host);
  uint8_t x[10];
  PutU16(x, (uint16_t)(v.ss + 16));
  x[2] = 0x24;
  PutU16(x + 3, v.sp);
  x[5] = 0x25;
  PutU16(x + 6, v.ip);
  PutU16(x + 8, (uint16_t)(v.cs + 16));
  for (int i = 0; i < 10; i++) PutB(&d, e + 4 + 120 + i, x[i] ^ keys[120 + i]);
  return Done(&d, r, host, out);
}

// Code 254 (COM): the body begins at the entry; the selector 0xD0 (NOT)
// at E+504, the key at E+492, and 488 bytes from E+4 with the start at
// 119-122.
static bool InfectCom254(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 600, 0);
  CtlVaccineRecord r = Named(row);
  PutB(&d, d.entry + 504, 0xD0);
  uint8_t keys[123];
  KeyStream(GetB(&d, d.entry + 492), kStepNot, 123, keys);
  for (int i = 0; i < 4; i++) PutB(&d, d.entry + 4 + 119 + i, H(host, i) ^ keys[119 + i]);
  return Done(&d, r, host, out);
}

// Code 255 (MZ): the body begins at the entry; IP, CS, SS, SP as its last
// eight bytes.
static bool InfectMz255(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = MzAppend(host, pro, 256, 0);
  CtlVaccineRecord r = Named(row);
  MoveStack(&d);
  Regs v = HostRegs(host);
  PutRegs(&d, End(d, 8), v.ip, v.cs, v.ss, v.sp);
  return Done(&d, r, host, out);
}

// Code 271: an MZ host whose first three bytes the virus turned into a
// near jump to its code, 20 bytes into its body.
static bool InfectMz271(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = Append(host, 256);
  d.entry = d.host + 20;
  PutB(&d, 0, 0xE9);
  PutW(&d, 1, (uint16_t)(d.entry - 3));
  PutBytes(&d, d.entry, pro);
  CtlVaccineRecord r = Named(row);
  return Done(&d, r, host, out);
}

// Code 225: the host keeps a copy of its first ten bytes at 96; the virus
// wrote a short jump (EB 5E) over "MZ" and its code over the copy, and
// keeps the copy, "MZ" spoiled, at the start of its 128-byte body.
static bool InfectMz225(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  if (host.size() < 128) return false;
  Draft d = Append(host, 128);
  d.entry = 96;
  PutB(&d, 0, 0xEB);
  PutB(&d, 1, 0x5E);
  for (int i = 0; i < 10; i++) PutB(&d, 96 + i, Filler((size_t)i));
  PutBytes(&d, 96, pro);
  PutB(&d, d.host, 0x5A);
  PutB(&d, d.host + 1, 0x4D);
  PutBytes(&d, d.host + 2, host.data() + 98, 8);
  CtlVaccineRecord r = Named(row);
  ComRecipe(&r, -128, kFromEnd, 10, 2, 128);
  return Done(&d, r, host, out);
}

// Code 276: a header of 512 bytes; the virus wrote a short jump (EB 3C)
// over "MZ" and its 448 bytes at 62.
static bool InfectMz276(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  if (host.size() < 512) return false;
  Draft d{host, (int32_t)host.size(), 62, false};
  PutB(&d, 0, 0xEB);
  PutB(&d, 1, 0x3C);
  for (int i = 0; i < 448; i++) PutB(&d, 62 + i, Filler((size_t)i));
  PutBytes(&d, 62, pro);
  CtlVaccineRecord r = Named(row);
  ComRecipe(&r, 0, kFromStart, 0, 2, 0);
  return Done(&d, r, host, out);
}

// Code 221: a companion virus, an 8064-byte program beside the host that
// has its name with .EXE.
static bool InfectCompanion(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = Prepend(Bytes(), pro, 8064);
  CtlVaccineRecord r = Named(row);
  if (!Done(&d, r, Bytes(), out)) return false;
  out->companion = host;
  out->outcome = kCureDeletes;
  return true;
}

// Code 1: a file type the database marks as not curable; the cure refuses
// and changes nothing.
static bool InfectRefused(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  if (!Done(&d, r, d.f, out)) return false;
  out->outcome = kCureRefuses;
  out->message = "No vaccine for this type of extention.";
  return true;
}

// Code 86: a dropper; the cure renames it and leaves its bytes.
static bool InfectDropper(const InfectionRow& row, const Bytes& host, const Bytes& pro, Infection* out) {
  Draft d = ComAppend(host, pro, 256, 16);
  CtlVaccineRecord r = Named(row);
  if (!Done(&d, r, d.f, out)) return false;
  out->outcome = kCureRenames;
  return true;
}

// ---------------------------------------------------------------------------
// The table

// Short names for the rows.
constexpr InfectionPoint XR = kPointExeRoutine, XP = kPointExePreOp, CR = kPointComRoutine,
                         CP = kPointComPreOp, CO = kPointComPostOp;
constexpr HostKind COM = kHostCom, JMP = kHostComJump, MZ = kHostMz, RELOC = kHostMzReloc,
                   WIDE = kHostMzWide, BACKUP = kHostMzBackup;

// One row per operation code, in code order: {code, point, host, host
// size, routine, constants (as the routine's comment reads them), marker
// text}.
const InfectionRow kInfectionTable[kInfectionRows] = {
    {1, CR, COM, 200, InfectRefused, {}, nullptr},
    {2, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 88, 3}, nullptr},
    {3, XP, MZ, 300, InfectMzRoundup, {3584}, nullptr},
    {4, CP, COM, 200, InfectComRoundup, {3584}, nullptr},
    {5, CO, COM, 200, InfectCom5, {}, nullptr},
    {6, XP, MZ, 200, InfectMz6, {}, nullptr},
    {7, CO, COM, 200, InfectComXorKey, {1, 3}, nullptr},
    {8, CO, COM, 200, InfectCom8, {}, nullptr},
    {9, XP, MZ, 200, InfectMzAdjust, {kWSig, 0, 3}, nullptr},
    {10, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 28, 3}, nullptr},
    {11, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 93, 3}, nullptr},
    {12, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 107, 3}, nullptr},
    {13, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 108, 3}, nullptr},
    {14, XP, MZ, 200, InfectMz14, {}, nullptr},
    {15, CO, COM, 200, InfectCom15, {}, nullptr},
    {16, XP, MZ, 200, InfectMzHeaderAtEnd, {2752, 2746}, nullptr},
    {17, XP, MZ, 200, InfectMzHeaderAtEnd, {2928, 2922}, nullptr},
    {18, XP, MZ, 200, InfectMzHeaderAtEnd, {2989, 2983}, nullptr},
    {19, XP, MZ, 200, InfectMzHeaderAtEnd, {2893, 2887}, nullptr},
    {20, XP, MZ, 200, InfectMzHeaderAtEnd, {2973, 2967}, nullptr},
    {21, XP, MZ, 200, InfectMz21, {}, nullptr},
    {22, XP, MZ, 200, InfectMzHeaderAtEnd, {1103, 1148}, nullptr},
    {23, XP, MZ, 200, InfectMzHeaderAtEnd, {1155, 1200}, nullptr},
    {24, XP, MZ, 200, InfectMzHeaderAtEnd, {1901, 1895}, nullptr},
    {25, XP, MZ, 200, InfectMzHeaderAtEnd, {2964, 2958}, nullptr},
    {26, XP, MZ, 200, InfectMzHeaderAtEnd, {2970, 2964}, nullptr},
    {27, XP, MZ, 200, InfectMzHeaderAtEnd, {3041, 3035}, nullptr},
    {28, XP, MZ, 200, InfectMz28, {}, nullptr},
    {29, CO, COM, 200, InfectCom29, {}, nullptr},
    {30, XP, MZ, 200, InfectMzHeaderAtEnd, {3048, 3042}, nullptr},
    {31, XP, MZ, 200, InfectMzRegsBeforeV, {119, 0}, nullptr},
    {32, CR, COM, 200, InfectLead, {1808, 5}, nullptr},
    {33, XP, MZ, 200, InfectMzRegsBeforeV, {128, 1, 144}, nullptr},
    {34, CR, COM, 200, InfectLead, {1408, 5}, nullptr},
    {35, CR, COM, 200, InfectLead, {1792}, nullptr},
    {36, XP, MZ, 200, InfectMzRegsBeforeV, {119, 0}, nullptr},
    {37, XP, MZ, 200, InfectMzRegsBeforeV, {257, 0}, nullptr},
    {38, CR, COM, 200, InfectLead, {1244}, nullptr},
    {39, CR, COM, 200, InfectLead, {1600, 5}, nullptr},
    {40, CR, COM, 200, InfectLead, {1730, 5}, nullptr},
    {41, CR, COM, 200, InfectLead, {1503, 5}, nullptr},
    {42, CR, COM, 200, InfectLead, {2048, 5}, nullptr},
    {43, CR, COM, 200, InfectLead, {2080, 6}, nullptr},
    {44, CR, COM, 200, InfectLead, {1888, 5}, nullptr},
    {45, XP, MZ, 200, InfectMzAdjust, {kWSS, 74, 2, 16}, nullptr},
    {46, XP, MZ, 200, InfectMzAdjust, {kWSS, 77, 2, 16}, nullptr},
    {47, XP, MZ, 200, InfectMzAdjust, {kWSS, 87, 2, 16}, nullptr},
    {48, XP, MZ, 200, InfectMzAdjust, {kWSS, 87, 2, 16}, nullptr},
    {49, XP, MZ, 200, InfectMzAdjust, {kWSS, 90, 2, 16}, nullptr},
    {50, CO, COM, 200, InfectComMovedByte, {2, 6}, nullptr},
    {51, CO, COM, 200, InfectComMovedByte, {2, 6}, nullptr},
    {55, CO, MZ, 200, InfectLeadKeyed, {}, nullptr},
    {56, CO, COM, 200, InfectLeadKeyed, {}, nullptr},
    {57, CO, COM, 200, InfectComPieces, {0, 656, 2, 649, 2, 642, 2}, nullptr},
    {58, CO, COM, 200, InfectComPieces, {0, 725, 2, 718, 2, 711, 2}, nullptr},
    {59, CO, COM, 200, InfectCom59, {}, "! WARNING !! THIS IS A VIRUS !! "},
    {60, CO, COM, 200, InfectComPieces, {0, 930, 2, 923, 1}, nullptr},
    {61, XP, MZ, 200, InfectMz61, {}, nullptr},
    {62, CO, COM, 200, InfectComLengthKeys, {15, 1669, 1413, 1669, 11}, nullptr},
    {63, CO, COM, 200, InfectComLengthKeys, {9, 1626, 1370, 1626, 6}, nullptr},
    {64, CO, COM, 200, InfectComLengthKeys, {14, 6223, 5967, 6098, 11}, nullptr},
    {65, CO, COM, 200, InfectComLengthKeys, {15, 1666, 1410, 1666, 11}, nullptr},
    {66, CO, COM, 200, InfectComLengthKeys, {15, 1672, 1416, 1672, 11}, nullptr},
    {67, CO, COM, 200, InfectComMarker, {221, 473, 649, 3}, "ARRESTED DEVELOPME"},
    {68, CO, COM, 200, InfectComMarker, {128, 128, 529, 3}, "This file was down"},
    {69, CO, COM, 200, InfectComMarker, {65, 41, 445, 3}, "Beware the Beast-N"},
    {70, CO, COM, 200, InfectCom70, {}, nullptr},
    {71, CO, COM, 200, InfectComMarker, {128, 128, 1525, 3}, "This file was down"},
    {72, CO, COM, 200, InfectComMarker, {670, 473, 600, 3}, "Interceptor - (c) "},
    {73, CO, COM, 200, InfectComMarker, {128, 128, 261, 3}, "This file was down"},
    {74, CO, COM, 200, InfectComMarker, {221, 471, 604, 3}, "ARRESTED DEVELOPME"},
    {75, CR, COM, 200, InfectLead, {3982, 1770}, nullptr},
    {76, CO, COM, 200, InfectComPieces, {2, 827, 1}, nullptr},
    {77, CO, COM, 200, InfectComPieces, {2, 787, 1}, nullptr},
    {78, XP, MZ, 200, InfectMzAdjust, {kWCsum, 0x4B56, 3}, nullptr},
    {79, CR, COM, 200, InfectLead, {2454}, nullptr},
    {80, CR, COM, 200, InfectLead, {2576}, nullptr},
    {81, CR, COM, 200, InfectLead, {2646}, nullptr},
    {82, CR, COM, 200, InfectLead, {2900}, nullptr},
    {83, CR, COM, 200, InfectLead, {3004}, nullptr},
    {84, CR, COM, 200, InfectLead, {3012}, nullptr},
    {85, CR, MZ, 200, InfectLead, {4096}, nullptr},
    {86, CR, COM, 200, InfectDropper, {}, nullptr},
    {87, XP, MZ, 200, InfectMz87, {}, nullptr},
    {88, CR, COM, 200, InfectCom88, {}, nullptr},
    {89, XP, MZ, 200, InfectMz89, {}, nullptr},
    {90, CR, COM, 200, InfectLead, {3044, 0, 2}, nullptr},
    {91, CO, COM, 200, InfectComPieces, {0, 162, 2, 164, 2, 160, 2}, nullptr},
    {92, XP, MZ, 200, InfectMzHeaderCopy, {1568}, nullptr},
    {93, CO, COM, 200, InfectComXorKey, {1, 3}, nullptr},
    {94, XP, MZ, 200, InfectMzXorLastByte, {567}, nullptr},
    {95, CO, COM, 200, InfectComXorKey, {1, 5}, nullptr},
    {96, XP, MZ, 200, InfectMzXorLastByte, {628}, nullptr},
    {97, XP, MZ, 200, InfectMzXorLastByte, {639}, nullptr},
    {98, XP, MZ, 200, InfectMzXorLastByte, {486}, nullptr},
    {99, XP, MZ, 200, InfectMzXorLastByte, {469}, nullptr},
    {100, CO, COM, 200, InfectComXorKey, {11, 3}, nullptr},
    {101, XP, MZ, 200, InfectMzXorLastByte, {524}, nullptr},
    {102, CO, COM, 200, InfectComXorKey, {2, 3}, nullptr},
    {103, XP, MZ, 200, InfectMzXorLastByte, {494}, nullptr},
    {104, XP, MZ, 200, InfectMzXorLastByte, {1516}, nullptr},
    {105, CR, COM, 200, InfectLead, {1249}, nullptr},
    {106, CR, COM, 200, InfectLead, {897}, nullptr},
    {107, CR, COM, 200, InfectLead, {1413}, nullptr},
    {108, CR, COM, 200, InfectLead, {874}, nullptr},
    {109, CR, COM, 200, InfectLead, {130}, nullptr},
    {110, CR, COM, 200, InfectLead, {945}, nullptr},
    {111, CO, JMP, 200, InfectComJumpDisplacement, {8}, nullptr},
    {112, CO, JMP, 200, InfectComJumpDisplacement, {55}, nullptr},
    {113, CO, JMP, 200, InfectComJumpDisplacement, {71}, nullptr},
    {114, CO, JMP, 200, InfectComJumpDisplacement, {4}, nullptr},
    {115, CO, JMP, 200, InfectComJumpDisplacement, {47}, nullptr},
    {116, CO, JMP, 200, InfectComJumpDisplacement, {11}, nullptr},
    {117, CO, JMP, 200, InfectComJumpDisplacement, {12}, nullptr},
    {118, CO, COM, 200, InfectComRotate, {464, 100}, nullptr},
    {119, CO, COM, 200, InfectComRotate, {540, -122}, nullptr},
    {120, CO, JMP, 200, InfectCom120, {}, nullptr},
    {121, CR, COM, 200, InfectLead, {758}, nullptr},
    {122, CR, COM, 200, InfectLead, {114}, nullptr},
    {123, CR, COM, 200, InfectLead, {118}, nullptr},
    {124, CR, COM, 200, InfectLead, {122}, nullptr},
    {125, CO, COM, 200, InfectCom125, {}, nullptr},
    {126, CO, COM, 200, InfectComXorKey, {420, 3}, nullptr},
    {127, XP, MZ, 200, InfectMz127, {}, nullptr},
    {128, CR, COM, 200, InfectLead, {183}, nullptr},
    {129, XP, MZ, 200, InfectMzAdjust, {kWSS, 119, 0}, nullptr},
    {130, CR, COM, 200, InfectLead, {601}, nullptr},
    {131, XP, MZ, 200, InfectMzAdjust, {kWSig, 0, 3}, nullptr},
    {132, CR, COM, 1000, InfectCom132, {}, nullptr},
    {133, CR, COM, 200, InfectLead, {342}, nullptr},
    {134, CR, COM, 200, InfectLead, {376}, nullptr},
    {135, CR, COM, 200, InfectLead, {419}, nullptr},
    {136, XP, MZ, 200, InfectMz136, {}, nullptr},
    {137, CR, COM, 200, InfectLead, {1140}, nullptr},
    {138, CO, COM, 200, InfectCom138, {}, nullptr},
    {139, CR, COM, 2000, InfectLead139, {}, nullptr},
    {140, XP, MZ, 200, InfectMz140, {}, nullptr},
    {141, CO, COM, 200, InfectCom141, {}, nullptr},
    {142, CO, COM, 200, InfectComWordXorKey, {7}, nullptr},
    {143, CO, COM, 200, InfectCom143, {}, nullptr},
    {144, CO, COM, 200, InfectComPairXor, {0}, nullptr},
    {145, CP, COM, 200, InfectCom145, {}, nullptr},
    {146, CR, COM, 200, InfectLead, {1079, 0, 1}, nullptr},
    {147, CR, COM, 200, InfectLead, {1074, 0, 1}, nullptr},
    {148, CR, COM, 200, InfectLead, {372}, nullptr},
    {149, XR, MZ, 200, InfectMz149, {}, nullptr},
    {150, CR, COM, 600, InfectCom150, {}, nullptr},
    {151, CO, COM, 200, InfectComFixedXor, {3, 1, 0}, nullptr},
    {152, CO, COM, 200, InfectComJumpKeyShift, {0, 14}, nullptr},
    {153, CO, COM, 200, InfectComJumpKeyShift, {0x033D, 9}, nullptr},
    {154, CO, COM, 200, InfectCom154, {}, nullptr},
    {155, XP, MZ, 200, InfectMzChecksumAt, {887}, nullptr},
    {156, XP, MZ, 200, InfectMzChecksumAt, {717}, nullptr},
    {157, XP, MZ, 200, InfectMzAdjust, {kWSig, 0, 3}, nullptr},
    {158, CO, COM, 200, InfectCom158, {}, nullptr},
    {159, CO, COM, 200, InfectComSwap, {1, 2}, nullptr},
    {160, XP, MZ, 200, InfectMzAdjust, {kWSig, 0, 3, 16, 16}, nullptr},
    {161, XP, MZ, 200, InfectMzEntryXor, {24, 811, 0}, nullptr},
    {162, CO, COM, 200, InfectComEntryKeyShift, {24, 2, 3}, nullptr},
    {163, XP, MZ, 200, InfectMzEntryXor, {19, 426, 1}, nullptr},
    {164, CO, COM, 200, InfectComEntryKeyShift, {19, 3, 4}, nullptr},
    {165, XP, MZ, 200, InfectMz165, {}, nullptr},
    {166, CR, COM, 200, InfectLead, {427}, nullptr},
    {167, CR, COM, 200, InfectLead, {440}, nullptr},
    {168, XP, MZ, 200, InfectMz168, {}, nullptr},
    {169, CR, COM, 200, InfectComStartFromEnd, {12, 1445, 1600, 1596}, nullptr},
    {170, CR, COM, 200, InfectComStartFromEnd, {8, 1053, 1110, 1097}, nullptr},
    {171, CR, COM, 200, InfectComStartFromEnd, {8, 1058, 1117, 1104}, nullptr},
    {172, CR, COM, 200, InfectComStartFromEnd, {8, 1108, 1168, 1155}, nullptr},
    {173, CR, COM, 2000, InfectComStartFromEnd, {96, 96, 96, 0, 0}, nullptr},
    {174, CR, COM, 2000, InfectComStartFromEnd, {181, 181, 181, 0, 0}, nullptr},
    {175, CR, COM, 200, InfectLead, {215}, nullptr},
    {176, CR, COM, 2000, InfectComStartFromEnd, {370, 370, 370, 0, 0xBB}, nullptr},
    {177, CR, COM, 2000, InfectComStartFromEnd, {600, 600, 600, 0, 0xBB}, nullptr},
    {178, CR, COM, 2000, InfectComStartFromEnd, {650, 650, 650, 0, 0xCC}, nullptr},
    {179, XP, RELOC, 200, InfectMz179, {}, nullptr},
    {180, CR, COM, 2000, InfectComStartFromEnd, {1600, 1600, 1600, 0, 0xBB}, nullptr},
    {181, CR, COM, 200, InfectComStartFromEnd, {6, 221, 1308, 0, 0xFF}, nullptr},
    {182, CR, COM, 200, InfectLead, {343}, nullptr},
    {183, CR, COM, 200, InfectLead, {109}, nullptr},
    {184, CR, COM, 200, InfectLead, {93}, nullptr},
    {185, CO, COM, 200, InfectComPieces, {2, 692, 1}, nullptr},
    {186, XP, MZ, 200, InfectMzAdjust, {kWCsum, 0x4B56, 3}, nullptr},
    {187, CR, COM, 200, InfectLead, {1536}, nullptr},
    {188, CO, COM, 200, InfectComWordXorKey, {520}, nullptr},
    {189, CO, COM, 200, InfectComWordXorKey, {696}, nullptr},
    {190, CO, COM, 200, InfectComWordXorKey, {797}, nullptr},
    {191, CO, JMP, 200, InfectComForcedJump, {}, nullptr},
    {192, CO, COM, 200, InfectComSwap, {0, 1}, nullptr},
    {193, CR, COM, 200, InfectLead, {1302}, nullptr},
    {194, CR, COM, 200, InfectLead, {400}, nullptr},
    {195, CO, COM, 200, InfectCom195, {}, nullptr},
    {196, CO, COM, 200, InfectCom196, {}, nullptr},
    {197, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 64, 3}, nullptr},
    {198, XP, MZ, 200, InfectMzAdjust, {kWCsum, 0x4B56, 3}, nullptr},
    {199, CO, COM, 200, InfectComPieces, {2, 693, 2}, nullptr},
    {200, CR, COM, 200, InfectLead, {391}, nullptr},
    {201, CO, COM, 200, InfectCom201, {}, nullptr},
    {202, XP, MZ, 200, InfectMzRegsBeforeV, {119, 1, 186}, nullptr},
    {203, CR, COM, 200, InfectLead, {1808}, nullptr},
    {204, XP, MZ, 200, InfectMz204, {}, nullptr},
    {205, CP, COM, 200, InfectCom205, {}, nullptr},
    {206, CP, COM, 200, InfectCom206, {}, nullptr},
    {207, XP, MZ, 200, InfectMz207, {}, nullptr},
    {208, XP, MZ, 200, InfectMz208, {}, nullptr},
    {209, CP, COM, 200, InfectCom209, {}, nullptr},
    {210, XP, MZ, 300, InfectMzRoundup, {4096}, nullptr},
    {211, CP, COM, 200, InfectComRoundup, {4096}, nullptr},
    {212, XP, MZ, 200, InfectMzHeaderCopy, {917}, nullptr},
    {213, XP, MZ, 200, InfectMz213, {}, nullptr},
    {214, CO, COM, 200, InfectCom214, {}, nullptr},
    {215, CP, COM, 208, InfectCom215, {}, nullptr},
    {216, XP, MZ, 200, InfectMz216, {}, nullptr},
    {217, CR, MZ, 200, InfectLead, {4096}, nullptr},
    {218, CR, COM, 200, InfectLead, {1536}, nullptr},
    {219, CP, COM, 200, InfectCom219, {}, nullptr},
    {220, CR, COM, 200, InfectLead, {847}, nullptr},
    {221, CR, MZ, 200, InfectCompanion, {}, nullptr},
    {222, XP, MZ, 200, InfectMz222, {}, nullptr},
    {223, CP, COM, 200, InfectCom223, {}, nullptr},
    {224, CO, COM, 200, InfectCom224, {}, nullptr},
    {225, CO, BACKUP, 200, InfectMz225, {}, nullptr},
    {226, CP, COM, 200, InfectComSavedFromJump, {-22}, nullptr},
    {227, XP, MZ, 200, InfectMz227, {}, nullptr},
    {228, CP, COM, 200, InfectComSavedFromJump, {105}, nullptr},
    {229, CO, COM, 200, InfectComFixedXor, {3, 0xFF, 0}, nullptr},
    {230, XP, MZ, 200, InfectMz230, {}, nullptr},
    {231, CO, COM, 200, InfectCom231, {}, nullptr},
    {232, XP, MZ, 200, InfectMzSavedXorByte, {5376, 1}, nullptr},
    {233, CP, COM, 200, InfectComSavedFromJump, {5442}, nullptr},
    {234, CO, COM, 200, InfectCom234, {}, nullptr},
    {235, XP, MZ, 200, InfectMzSavedXorByte, {1553, 0}, nullptr},
    {236, CO, COM, 200, InfectCom236, {}, nullptr},
    {237, XP, MZ, 200, InfectMz237, {}, nullptr},
    {238, XP, MZ, 200, InfectMz238, {}, nullptr},
    {239, XP, MZ, 200, InfectMz239, {}, nullptr},
    {240, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 19, 3}, nullptr},
    {241, XP, MZ, 200, InfectMzAdjust, {kWCsum, 0x4B56, 3}, nullptr},
    {242, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 16, 3}, nullptr},
    {243, XP, MZ, 200, InfectMzAdjust, {kWMinPara, 9, 3}, nullptr},
    {244, XR, MZ, 200, InfectMz244, {}, nullptr},
    {245, XP, MZ, 200, InfectMz245, {}, nullptr},
    {246, CO, COM, 200, InfectComFixedXor, {5, 5, 1}, nullptr},
    {247, XP, MZ, 200, InfectMz247, {}, nullptr},
    {248, CO, COM, 200, InfectCom248, {}, nullptr},
    {249, XP, MZ, 200, InfectRunningKey, {688, 0x40}, nullptr},
    {250, CO, COM, 200, InfectRunningKey, {688, 0x3F}, nullptr},
    {251, XP, MZ, 200, InfectRunningKey, {692, 0x3F}, nullptr},
    {252, CO, COM, 200, InfectRunningKey, {692, 0x40}, nullptr},
    {253, XR, MZ, 200, InfectMz253, {}, nullptr},
    {254, CR, COM, 200, InfectCom254, {}, nullptr},
    {255, XR, MZ, 200, InfectMz255, {}, nullptr},
    {256, CO, COM, 200, InfectComXorKey, {277, 3}, nullptr},
    {257, XP, MZ, 200, InfectMzKeyedWords, {738, 592, 5, 0, 1, 3, 5, 7}, nullptr},
    {258, XP, MZ, 200, InfectMzKeyedWords, {821, 645, 4, 1, 0, 2, 4, 6}, nullptr},
    {259, XP, MZ, 200, InfectMzKeyedWords, {784, 637, 4, 0, 1, 3, 5, -1}, nullptr},
    {260, XP, MZ, 200, InfectMzKeyedWords, {790, 641, 3, 0, 0, 2, 4, -1}, nullptr},
    {261, CO, COM, 200, InfectComXorKey, {7, 4}, nullptr},
    {262, XP, MZ, 200, InfectMzSavedMinusKey, {884}, nullptr},
    {263, XP, MZ, 200, InfectMzSavedMinusKey, {922}, nullptr},
    {264, CO, COM, 200, InfectComAddWordShift, {922}, nullptr},
    {265, XP, MZ, 200, InfectMzSavedMinusKey, {928}, nullptr},
    {266, CO, COM, 200, InfectComAddWordShift, {928}, nullptr},
    {267, CO, COM, 200, InfectComMarker, {601, 601, 23722, 3}, "This file was down"},
    {268, CO, COM, 200, InfectComPairXor, {1}, nullptr},
    {269, CO, COM, 200, InfectComPairXor, {1}, nullptr},
    {270, CO, COM, 200, InfectComMarker, {4759, 128, 256, 3}, "Violator Strain B4"},
    {271, CR, MZ, 200, InfectMz271, {}, nullptr},
    {272, CO, JMP, 200, InfectComJumpStep, {0}, nullptr},
    {273, CO, COM, 200, InfectComJumpStep, {1}, nullptr},
    {274, XP, MZ, 200, InfectMz274, {}, nullptr},
    {275, CO, COM, 200, InfectComXorKey, {18, 3}, nullptr},
    {276, CP, WIDE, 200, InfectMz276, {}, nullptr},
};
static_assert(sizeof kInfectionTable / sizeof kInfectionTable[0] == 273);

const InfectionRow* FindInfectionRow(uint16_t code) {
  for (const InfectionRow& row : kInfectionTable)
    if (row.code == code) return &row;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Hosts

bool IsMzHost(HostKind kind) { return kind != kHostCom && kind != kHostComJump; }

// A COM program whose first instruction jumps over its message to the
// code that prints it: jmp code / msg / mov ah,9 / mov dx,103h / int 21h /
// mov ax,4C00h / int 21h, padded with NOPs to at least `size` bytes.
static Bytes JumpComHost(size_t size) {
  Bytes b = {0xE9, 0, 0};
  for (const char* c = kComHostText; *c; c++) b.push_back((uint8_t)*c);
  for (uint8_t c : {'\r', '\n', '$'}) b.push_back(c);
  PutU16(&b[1], (uint16_t)(b.size() - 3));
  for (uint8_t c : {0xB4, 0x09, 0xBA, 0x03, 0x01, 0xCD, 0x21, 0xB8, 0x00, 0x4C, 0xCD, 0x21}) b.push_back(c);
  while (b.size() < size) b.push_back(0x90);
  return b;
}

// An MZ program with a header of `paras` paragraphs whose code at CS:IP =
// 0:0 prints the line. With `reloc` it loads DS by "mov ax,seg" (the one
// relocation, 0:1), else from CS.
static Bytes MzHost(size_t paras, size_t moduleSize, bool reloc) {
  Bytes code = reloc ? Bytes{0xB8, 0x00, 0x00, 0x8E, 0xD8} : Bytes{0x0E, 0x1F};
  size_t msgAt = code.size() + 12;
  const uint8_t print[12] = {0xBA, (uint8_t)msgAt, (uint8_t)(msgAt >> 8), 0xB4, 0x09, 0xCD,
                             0x21, 0xB8, 0x00,          0x4C,                0xCD, 0x21};
  code.insert(code.end(), print, print + 12);
  for (const char* c = kExeHostText; *c; c++) code.push_back((uint8_t)*c);
  for (uint8_t c : {'\r', '\n', '$'}) code.push_back(c);
  while (code.size() < moduleSize) code.push_back(0x90);
  Bytes b(paras * 16, 0);
  b.insert(b.end(), code.begin(), code.end());
  b[0] = 'M';
  b[1] = 'Z';
  PutU16(&b[6], reloc ? 1 : 0);
  PutU16(&b[8], (uint16_t)paras);
  PutU16(&b[10], 0x10);
  PutU16(&b[12], 0xFFFF);
  PutU16(&b[14], (uint16_t)((code.size() + 15) / 16 + 1));
  PutU16(&b[16], 0x100);
  PutU16(&b[24], 0x1C);
  if (reloc) PutU32(&b[0x1C], 0x00000001);
  FixMzSize(&b);
  return b;
}

Bytes MakeInfectionHost(const InfectionRow& row) {
  switch (row.host) {
    case kHostCom: return MakeComHost(kComHostText, row.hostSize);
    case kHostComJump: return JumpComHost(row.hostSize);
    case kHostMz: return MakeExeHost(kExeHostText, row.hostSize);
    case kHostMzReloc: return MzHost(4, row.hostSize, true);
    case kHostMzWide: return MzHost(32, row.hostSize, false);
    case kHostMzBackup: {
      Bytes b = MzHost(8, row.hostSize, false);
      std::copy(b.begin(), b.begin() + 10, b.begin() + 96);
      return b;
    }
  }
  return Bytes();
}

bool Infect(const InfectionRow& row, const Bytes& prologue, Infection* out) {
  return row.infect(row, MakeInfectionHost(row), prologue, out);
}

uint16_t VaccineOperation(const CtlVaccineRecord& r, InfectionPoint* point) {
  const struct {
    uint16_t code;
    InfectionPoint point;
  } fields[] = {
      {r.exeRoutine, kPointExeRoutine}, {r.exePreOp, kPointExePreOp}, {r.comRoutine, kPointComRoutine},
      {r.comPreOp, kPointComPreOp},     {r.comPostOp, kPointComPostOp},
  };
  for (const auto& f : fields)
    if (f.code) {
      *point = f.point;
      return f.code;
    }
  return 0;
}
