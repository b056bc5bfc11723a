// Vaccine operations that take an MZ program's entry values, or its whole
// header, back from the virus body: the virus kept the host's CS, IP, SS,
// SP (or a copy of the 28-byte header) at a place relative to the end of
// the file, to the virus position V or to the entry E, sometimes encrypted,
// and often with the segments relative to the load module (+16).
//
// State: none; works on the executor's CleaningContext and the work buffer.
// Called only through the operation table, by the MZ recipe.
#include "cure/vaccine_ops.h"

#include <cstring>

#include "common/le.h"

// Sets the header's entry words from four words in the order the row names
// them; a null pointer leaves that word.
static void SetEntry(const uint16_t* cs, const uint16_t* ip, const uint16_t* ss,
                     const uint16_t* sp) {
  if (cs) SetH(kHdrCS, *cs);
  if (ip) SetH(kHdrIP, *ip);
  if (ss) SetH(kHdrSS, *ss);
  if (sp) SetH(kHdrSP, *sp);
}

// Reads the whole header from pos.
static bool HeaderFrom(int64_t pos) {
  uint8_t h[28];
  if (!ReadAt(pos, h, 28)) return false;
  std::memcpy(Cleaning().header, h, 28);
  return true;
}

// roundup16(len - virusLength) + 4: where a virus that pads the host to a
// paragraph keeps the host's header.
static int64_t RoundedHostEnd(int32_t virusLength) {
  int64_t x = (int64_t)Len() - virusLength;
  return ((x + 15) & ~(int64_t)15) + 4;
}

// read 28 at (roundup16(len - virusLength) + 4) -> header.
uint16_t OpHeaderAtRoundedLength(int32_t virusLength) {
  return HeaderFrom(RoundedHostEnd(virusLength)) ? 1 : 0;
}

// read 4 at end-cutAt -> (x, y); R.exeCut := len - y;
// read 28 at end-headerAt -> header.
uint16_t OpHeaderAndCut(int32_t cutAt, int32_t headerAt) {
  uint8_t xy[4];
  if (!ReadEnd(cutAt, xy, 4)) return 0;
  Rec().exeCutLength = (uint16_t)(Len() - GetU16(xy + 2));
  int64_t size = FileEnd();
  return size >= 0 && HeaderFrom(size - headerAt) ? 1 : 0;
}

// Reads SP, SS, IP, CS in sequence from V-back into the header.
static bool EntryBeforeVirus(int32_t back) {
  uint8_t w[8];
  if (!ReadAt((int64_t)VirusPosition() - back, w, 8)) return false;
  uint16_t sp = GetU16(w), ss = GetU16(w + 2), ip = GetU16(w + 4), cs = GetU16(w + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  return true;
}

// From V-back read in sequence H.SP, H.SS, H.IP, H.CS;
// R.exeCut := len - w(end-1791), with w(end-1682) readable too.
uint16_t OpWordsBeforeVirus(int32_t back) {
  if (!EntryBeforeVirus(back)) return 0;
  uint16_t x, unused;
  if (!WordEnd(1791, &x) || !WordEnd(1682, &unused)) return 0;
  Rec().exeCutLength = (uint16_t)(Len() - x);
  return 1;
}

// From V-back read in sequence H.SP, H.SS, H.IP, H.CS;
// R.exeCut := len - V + extra.
uint16_t OpWordsBeforeVirusCut(int32_t back, int32_t extra) {
  if (!EntryBeforeVirus(back)) return 0;
  Rec().exeCutLength = (uint16_t)((int64_t)Len() - VirusPosition() + extra);
  return 1;
}

// read 28 at end-at -> header.
uint16_t OpHeaderFromEnd(int32_t at) {
  int64_t size = FileEnd();
  return size >= 0 && HeaderFrom(size - at) ? 1 : 0;
}

// One header word := w(end-at).
uint16_t OpHeaderWordFromEnd(int word, int32_t at) {
  uint16_t x;
  if (!WordEnd(at, &x)) return 0;
  SetH(word, x);
  return 1;
}

// base := (H.CS + H.hdrparas) x 16; x := w(base + H.IP + keyAt);
// read 12 at (base + H.IP + dataAt) -> wb, its six words ^= x;
// H.IP, H.CS, H.SS, H.SP := the words at wb[first], wb[first+2], ...
uint16_t OpEntryKeyedWords(int32_t keyAt, int32_t dataAt, int first) {
  int64_t e = MzEntry(Cleaning().header);
  uint16_t x;
  if (!WordAt(e + keyAt, &x)) return 0;
  uint8_t* wb = Wb();
  if (!ReadAt(e + dataAt, wb, 12)) return 0;
  for (size_t i = 0; i < 12; i += 2) SetWbw(i, Wbw(i) ^ x);
  uint16_t ip = Wbw(first), cs = Wbw(first + 2), ss = Wbw(first + 4), sp = Wbw(first + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  return 1;
}

// x := w(end-keyAt) (0 when unreadable); read 2 x words at end-dataAt -> Y,
// its words += x; H.CS, H.IP, H.SP (and H.SS when fields is 4) := the words
// at Y+first, Y+first+2, ...
uint16_t OpAddKeyedWords(int32_t keyAt, int32_t dataAt, int words, int first, int fields) {
  uint16_t x = 0;
  WordEnd(keyAt, &x);
  uint8_t y[12] = {};   // room for 5 words and the odd start
  if (words < 1 || words > 5 || first < 0 || first > 1) return 0;
  if (!ReadEnd(dataAt, y, (uint32_t)(2 * words))) return 0;
  for (int i = 0; i < words; i++) PutU16(y + 2 * i, (uint16_t)(GetU16(y + 2 * i) + x));
  uint16_t cs = GetU16(y + first), ip = GetU16(y + first + 2), sp = GetU16(y + first + 4);
  uint16_t ss = GetU16(y + first + 6);
  SetEntry(&cs, &ip, fields == 4 ? &ss : nullptr, &sp);
  return 1;
}

// Code 6: read 10 at end-563 -> Y, unchecked (an unreadable Y counts as
// zeros); H.CS := w(Y+2) - 16; H.SS := w(Y+4) - 16.
uint16_t Op6() {
  uint8_t y[10] = {};
  ReadEnd(563, y, 10);
  SetH(kHdrCS, (uint16_t)(GetU16(y + 2) - 16));
  SetH(kHdrSS, (uint16_t)(GetU16(y + 4) - 16));
  return 1;
}

// Code 61: from E + 1997 read 8 -> H.IP, H.CS, H.SS, H.SP.
uint16_t Op61() {
  uint8_t w[8];
  if (!ReadAt((int64_t)MzEntry(Cleaning().header) + 1997, w, 8)) return 0;
  uint16_t ip = GetU16(w), cs = GetU16(w + 2), ss = GetU16(w + 4), sp = GetU16(w + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  return 1;
}

// Code 87: E as for an MZ file; H.IP := w(E-230); H.CS := w(E-228) - 16;
// H.SS := w(E-124) - 16; H.SP := w(E-122); R.exeCut := 3445.
uint16_t Op87() {
  int64_t e = MzEntry(Cleaning().header);
  uint8_t a[4], b[4];
  if (!ReadAt(e - 230, a, 4) || !ReadAt(e - 124, b, 4)) return 0;
  uint16_t ip = GetU16(a), cs = (uint16_t)(GetU16(a + 2) - 16);
  uint16_t ss = (uint16_t)(GetU16(b) - 16), sp = GetU16(b + 2);
  SetEntry(&cs, &ip, &ss, &sp);
  Rec().exeCutLength = 3445;
  return 1;
}

// Code 89: x := w(end-2532), with w(end-2522) readable; R.exeCut := len - x;
// read 11 at end-2661 -> words (a, b, c, d); H.CS := a - 16; H.IP := b;
// H.SS := c - 16; H.SP := d.
uint16_t Op89() {
  uint16_t x, unused;
  if (!WordEnd(2532, &x) || !WordEnd(2522, &unused)) return 0;
  Rec().exeCutLength = (uint16_t)(Len() - x);
  uint8_t y[11];
  if (!ReadEnd(2661, y, 11)) return 0;
  uint16_t cs = (uint16_t)(GetU16(y) - 16), ip = GetU16(y + 2);
  uint16_t ss = (uint16_t)(GetU16(y + 4) - 16), sp = GetU16(y + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  return 1;
}

// Code 127: read 4 at end-33 -> (x, y); H.minpara := x; H.maxpara := y.
uint16_t Op127() {
  uint8_t xy[4];
  if (!ReadEnd(33, xy, 4)) return 0;
  SetH(kHdrMinPara, GetU16(xy));
  SetH(kHdrMaxPara, GetU16(xy + 2));
  return 1;
}

// Code 129: H.SS := w(14) - 119.
uint16_t Op129() {
  uint16_t x;
  if (!WordAt(14, &x)) return 0;
  SetH(kHdrSS, (uint16_t)(x - 119));
  return 1;
}

// Code 165: read 28 at 0 -> L; read 4 at (entry of L) + 4 -> (x, y);
// H.CS := L.CS - y; H.IP := x.
uint16_t Op165() {
  uint8_t l[28], xy[4];
  if (!ReadAt(0, l, 28)) return 0;
  if (!ReadAt((int64_t)MzEntry(l) + 4, xy, 4)) return 0;
  SetH(kHdrCS, (uint16_t)(CopyWord(l, kHdrCS) - GetU16(xy + 2)));
  SetH(kHdrIP, GetU16(xy));
  return 1;
}

// Code 168: k := b(end-1596); read 12 at end-1428 -> Y, bytes ^= k;
// H.IP, H.CS, H.SS, H.SP := w(Y+0), w(Y+2), w(Y+4), w(Y+6);
// R.exeCut := 1600.
uint16_t Op168() {
  uint8_t k, y[12];
  if (!ByteEnd(1596, &k) || !ReadEnd(1428, y, 12)) return 0;
  for (uint8_t& b : y) b ^= k;
  uint16_t ip = GetU16(y), cs = GetU16(y + 2), ss = GetU16(y + 4), sp = GetU16(y + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  Rec().exeCutLength = 1600;
  return 1;
}

// Code 204: read 4 at end-2861 -> H.minpara, H.maxpara;
// read 4 at end-2877 -> (x, y); R.exeCut := len - y.
uint16_t Op204() {
  uint8_t m[4], xy[4];
  if (!ReadEnd(2861, m, 4)) return 0;
  SetH(kHdrMinPara, GetU16(m));
  SetH(kHdrMaxPara, GetU16(m + 2));
  if (!ReadEnd(2877, xy, 4)) return 0;
  Rec().exeCutLength = (uint16_t)(Len() - GetU16(xy + 2));
  return 1;
}

// Code 207: r := len mod 16, or 16 when that is 0; from end-(r + 11) read
// in sequence H.IP, H.CS, H.SP, H.SS.
uint16_t Op207() {
  int32_t r = (int32_t)((uint32_t)Len() % 16);
  if (r == 0) r = 16;
  uint8_t w[8];
  if (!ReadEnd(r + 11, w, 8)) return 0;
  uint16_t ip = GetU16(w), cs = GetU16(w + 2), sp = GetU16(w + 4), ss = GetU16(w + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  return 1;
}

// Code 213: read 28 at end-2854 -> header; read 8 at end-1565 -> words
// (a, b, c, d); H.CS := a - 16; H.IP := b; H.SS := c - 16; H.SP := d.
uint16_t Op213() {
  if (!OpHeaderFromEnd(2854)) return 0;
  uint8_t w[8];
  if (!ReadEnd(1565, w, 8)) return 0;
  uint16_t cs = (uint16_t)(GetU16(w) - 16), ip = GetU16(w + 2);
  uint16_t ss = (uint16_t)(GetU16(w + 4) - 16), sp = GetU16(w + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  return 1;
}

// Code 216: H.minpara -= 1 unless it is 0; u := V - 1061; from V-8 read
// H.IP, then H.CS; H.CS := u / 16 - H.hdrparas - H.CS; R.exeCut := len - u.
uint16_t Op216() {
  if (H(kHdrMinPara) != 0) AddH(kHdrMinPara, -1);
  int64_t v = VirusPosition();
  int64_t u = v - 1061;
  uint8_t w[4];
  if (!ReadAt(v - 8, w, 4)) return 0;
  SetH(kHdrIP, GetU16(w));
  SetH(kHdrCS, (uint16_t)(u / 16 - H(kHdrHdrParas) - GetU16(w + 2)));
  Rec().exeCutLength = (uint16_t)(Len() - u);
  return 1;
}

// Code 222: read 12 at end-801 -> wb; for i = 12 down to 2,
// wb[i] ^= wb[i-2]; H.IP := wbw[8]; H.CS := wbw[10]; H.SS := wbw[2];
// H.SP := wbw[4]; H.minpara -= 131.
uint16_t Op222() {
  uint8_t* wb = Wb();
  if (!ReadEnd(801, wb, 12)) return 0;
  for (int i = 12; i >= 2; i--) wb[i] ^= wb[i - 2];
  uint16_t ip = Wbw(8), cs = Wbw(10), ss = Wbw(2), sp = Wbw(4);
  SetEntry(&cs, &ip, &ss, &sp);
  AddH(kHdrMinPara, -131);
  return 1;
}

// Code 227: read 24 at end-3898 -> header words 0 to 11, every byte
// inverted. (The MZ recipe leaves the page fields as they come.)
uint16_t Op227() {
  uint8_t h[24];
  if (!ReadEnd(3898, h, 24)) return 0;
  for (int i = 0; i < 24; i++) Cleaning().header[i] = (uint8_t)~h[i];
  return 1;
}

// Code 237: k := b(end-635); x := w(end-628); H.IP := w(end-630);
// H.CS -= x; H.minpara += 12; R.exeCut := k + 731.
uint16_t Op237() {
  uint8_t k;
  uint16_t x, ip;
  if (!ByteEnd(635, &k) || !WordEnd(628, &x) || !WordEnd(630, &ip)) return 0;
  SetH(kHdrIP, ip);
  AddH(kHdrCS, -(int32_t)x);
  AddH(kHdrMinPara, 12);
  Rec().exeCutLength = (uint16_t)(k + 731);
  return 1;
}

// Code 238: read 8 at V-705 -> words (a, b, c, d); H.IP := a; H.CS -= c;
// R.exeCut := size - V + 2220.
uint16_t Op238() {
  int64_t v = VirusPosition();
  uint8_t w[8];
  if (!ReadAt(v - 705, w, 8)) return 0;
  SetH(kHdrIP, GetU16(w));
  AddH(kHdrCS, -(int32_t)GetU16(w + 4));
  int64_t size = FileEnd();
  if (size < 0) return 0;
  Rec().exeCutLength = (uint16_t)(size - v + 2220);
  return 1;
}

// Code 239: from V+433 read H.CS, then H.IP; R.exeCut := size - V + 21.
uint16_t Op239() {
  int64_t v = VirusPosition();
  uint8_t w[4];
  if (!ReadAt(v + 433, w, 4)) return 0;
  SetH(kHdrCS, GetU16(w));
  SetH(kHdrIP, GetU16(w + 2));
  int64_t size = FileEnd();
  if (size < 0) return 0;
  Rec().exeCutLength = (uint16_t)(size - v + 21);
  return 1;
}

// Code 245: read 10 at end-149 -> wb, unchecked; wb[i] ^= 10 - i for
// i = 0 to 9; read 28 at 0 -> header; H.SS := wbw[0]; H.SP := wbw[2];
// H.csum := wbw[4]; H.IP := wbw[6]; H.CS := wbw[8].
uint16_t Op245() {
  uint8_t* wb = Wb();
  ReadEnd(149, wb, 10);
  for (int i = 0; i < 10; i++) wb[i] ^= (uint8_t)(10 - i);
  if (!HeaderFrom(0)) return 0;
  SetH(kHdrSS, Wbw(0));
  SetH(kHdrSP, Wbw(2));
  SetH(kHdrCsum, Wbw(4));
  SetH(kHdrIP, Wbw(6));
  SetH(kHdrCS, Wbw(8));
  return 1;
}

// Code 258: x := w(end-821) with its two bytes swapped; read 8 at end-645
// -> Y, its four words ^= x; H.CS, H.IP, H.SP, H.SS := w(Y+0), w(Y+2),
// w(Y+4), w(Y+6).
uint16_t Op258() {
  uint16_t x;
  uint8_t y[8];
  if (!WordEnd(821, &x) || !ReadEnd(645, y, 8)) return 0;
  x = (uint16_t)(x << 8 | x >> 8);
  for (int i = 0; i < 8; i += 2) PutU16(y + i, GetU16(y + i) ^ x);
  uint16_t cs = GetU16(y), ip = GetU16(y + 2), sp = GetU16(y + 4), ss = GetU16(y + 6);
  SetEntry(&cs, &ip, &ss, &sp);
  return 1;
}

// Code 274: k := b(end-18); read 4 at end-1175 -> wb[0..3]; read 4 at
// end-30 -> wb[4..7]; wb[0..7] ^= k; H.IP := wbw[0]; H.CS := wbw[2];
// H.SP := wbw[4]; H.SS := wbw[6].
uint16_t Op274() {
  uint8_t k;
  uint8_t* wb = Wb();
  if (!ByteEnd(18, &k) || !ReadEnd(1175, wb, 4) || !ReadEnd(30, wb + 4, 4)) return 0;
  for (int i = 0; i < 8; i++) wb[i] ^= k;
  uint16_t ip = Wbw(0), cs = Wbw(2), sp = Wbw(4), ss = Wbw(6);
  SetEntry(&cs, &ip, &ss, &sp);
  return 1;
}
