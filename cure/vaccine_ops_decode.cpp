// Vaccine operations that undo a virus's encryption of the host bytes it
// saved: in the work buffer (the start of a COM program), in the header or
// in the saved entry words of an MZ program. The keys are bytes or words
// read from the file; the schemes are XOR with a key, running keys, keys
// that count with the position, chained XOR, NOT, add and subtract,
// rotations, and one fixed arithmetic sequence (code 154).
//
// Byte arithmetic wraps modulo 256 and word arithmetic modulo 65536. Every
// work-buffer offset below is a constant well inside the buffer.
//
// State: none; works on the executor's CleaningContext and the work buffer.
// Called only through the operation table, by the recipes.
#include "cure/vaccine_ops.h"

#include <cstring>

#include "common/le.h"
#include "engine/decoder.h"
#include "engine/work_buffer.h"

// wb[0..n-1] ^= k.
static void XorBytes(uint8_t* p, int n, uint8_t k) {
  for (int i = 0; i < n; i++) p[i] ^= k;
}

// Every byte of the four saved words ^= k.
static void XorSavedBytes(uint8_t k) {
  uint16_t kk = (uint16_t)(k * 257);
  for (uint16_t& w : Cleaning().saved) w ^= kk;
}

// k := b(end-keyAt); wb[0..count-1] ^= k. With kKeyZeroWhenUnreadable a key
// that cannot be read is 0 and the operation goes on.
uint16_t OpXorByteFromEnd(int32_t keyAt, int count, KeyCheck check) {
  uint8_t k = 0;
  if (!ByteEnd(keyAt, &k) && check == kKeyChecked) return 0;
  XorBytes(Wb(), count, k);
  return 1;
}

// x := w(13); wbw[0] ^= x; H.sig := "MZ" when asked; lead 524.
uint16_t OpXorFirstWordAndLead(bool setSignature) {
  uint16_t x;
  if (!WordAt(13, &x)) return 0;
  SetWbw(0, Wbw(0) ^ x);
  if (setSignature) SetH(kHdrSig, 0x5A4D);
  return RemoveLeadingBytes(524);
}

// For i = 0 to steps-1 the word at p+i (one byte apart, overlapping)
// ^= (base + i - c1) and then ^= (c2 - i). p must have steps + 1 bytes.
static void CounterXorLoop(uint8_t* p, int steps, int32_t base, int32_t c1, int32_t c2) {
  for (int i = 0; i < steps; i++) {
    uint16_t w = GetU16(p + i);
    w ^= (uint16_t)(base + i - c1);
    w ^= (uint16_t)(c2 - i);
    PutU16(p + i, w);
  }
}

// read count at ((B - readAt) mod 65536) -> X, where B is len or size;
// the 15-step counter XOR over X with B, c1, c2; wb[0..2] := X[from..from+2].
uint16_t OpCounterXor(CounterBase base, int32_t readAt, int count, int32_t c1, int32_t c2,
                      int from) {
  int64_t b = Len();
  if (base == kBaseSize) b = FileEnd();
  if (b < 0) return 0;
  uint8_t x[16] = {};   // the loop's last word reaches X[15]
  if (count < 0 || count > 15 || from < 0 || from > 13) return 0;
  if (!ReadAt((uint16_t)(b - readAt), x, (uint32_t)count)) return 0;
  CounterXorLoop(x, 15, (int32_t)b, c1, c2);
  std::memcpy(Wb(), x + from, 3);
  return 1;
}

// k := b(end-1) (0 when unreadable); read 11 at end-dataAt -> wb;
// wb[0..10] ^= k; H.IP := wbw[0]; H.CS := wbw[2]; H.SP := wbw[4];
// H.SS := wbw[6].
uint16_t OpXorHeaderFromEnd(int32_t dataAt) {
  uint8_t k = 0;
  ByteEnd(1, &k);
  uint8_t* wb = Wb();
  if (!ReadEnd(dataAt, wb, 11)) return 0;
  XorBytes(wb, 11, k);
  SetH(kHdrIP, Wbw(0));
  SetH(kHdrCS, Wbw(2));
  SetH(kHdrSP, Wbw(4));
  SetH(kHdrSS, Wbw(6));
  return 1;
}

// k := b(end-keyAt) + add; for i = 0 to 2: wb[i] rotated left by k mod 8,
// then k += 1.
uint16_t OpRotateStart(int32_t keyAt, int add) {
  uint8_t k;
  if (!ByteEnd(keyAt, &k)) return 0;
  k = (uint8_t)(k + add);
  uint8_t* wb = Wb();
  for (int i = 0; i < 3; i++, k++) wb[i] = RotateLeft8(wb[i], k % 8);
  return 1;
}

// x := w(end-keyAt), or w(jump(0)+keyAt); the words wbw[0], wbw[2], ...
// (words of them) ^= x or += x; then wb[0..shift-1] := wb[1..shift].
uint16_t OpKeyedWords(KeyFrom from, int32_t keyAt, WordOp op, int words, int shift) {
  uint16_t x;
  if (from == kKeyFromEntry) {
    int32_t e = JumpTarget();
    if (e < 0 || !WordAt((int64_t)e + keyAt, &x)) return 0;
  } else if (!WordEnd(keyAt, &x)) {
    return 0;
  }
  for (int j = 0; j < words; j++) {
    uint16_t w = Wbw(2 * j);
    SetWbw(2 * j, op == kWordXor ? (uint16_t)(w ^ x) : (uint16_t)(w + x));
  }
  uint8_t* wb = Wb();
  for (int i = 0; i < shift; i++) wb[i] = wb[i + 1];
  return 1;
}

// (len := jump(0) when asked); read readCount at end-7 -> (p, q, ...);
// wb[0] ^= q; the word at wb[1] ^= (p + 256 q).
uint16_t OpXorPairFromEnd(bool lengthFromJump, int readCount) {
  if (lengthFromJump) {
    int32_t e = JumpTarget();
    if (e <= 0) return 0;   // no jump: the cut would leave nothing
    Len() = e;
  }
  uint8_t y[3];
  if (readCount < 2 || readCount > 3 || !ReadEnd(7, y, (uint32_t)readCount)) return 0;
  uint8_t* wb = Wb();
  wb[0] ^= y[1];
  SetWbw(1, Wbw(1) ^ GetU16(y));
  return 1;
}

// len := jump(0); x := w(1), or the constant key; for i = 0 to count-1
// the word at wb[i] (overlapping) ^= x; then wb[i] := wb[i+1] for i = 0 to
// count-1.
uint16_t OpOverlapXorShift(bool keyFromStart, int key, int count) {
  int32_t e = JumpTarget();
  if (e <= 0) return 0;   // unreadable start, or no jump to cut at
  Len() = e;
  uint16_t x = (uint16_t)key;
  if (keyFromStart && !WordAt(1, &x)) return 0;
  uint8_t* wb = Wb();
  for (int i = 0; i < count; i++) SetWbw(i, Wbw(i) ^ x);
  for (int i = 0; i < count; i++) wb[i] = wb[i + 1];
  return 1;
}

// DecodeRunningKey(fromEnd); H.SP := wbw[121]; H.IP := wbw[126];
// H.CS := wbw[128] - 16; H.SS := wbw[130] - 16.
uint16_t OpRunningKeyHeader(int32_t fromEnd) {
  if (!DecodeRunningKey(fromEnd)) return 0;
  SetH(kHdrSP, Wbw(121));
  SetH(kHdrIP, Wbw(126));
  SetH(kHdrCS, (uint16_t)(Wbw(128) - 16));
  SetH(kHdrSS, (uint16_t)(Wbw(130) - 16));
  return 1;
}

// DecodeRunningKey(fromEnd); wb[0..3] := wb[126..129].
uint16_t OpRunningKeyStart(int32_t fromEnd) {
  if (!DecodeRunningKey(fromEnd)) return 0;
  uint8_t* wb = Wb();
  std::memmove(wb, wb + 126, 4);
  return 1;
}

// Code 5: k := b(3); for i = 0 to 3: k := NOT (k + 1), wb[i] ^= k.
uint16_t Op5() {
  uint8_t k;
  if (!ByteAt(3, &k)) return 0;
  uint8_t* wb = Wb();
  for (int i = 0; i < 4; i++) {
    k = (uint8_t)~(uint8_t)(k + 1);
    wb[i] ^= k;
  }
  return 1;
}

// Code 8: x := w(end-7); read 4 at end-183 -> Y, both words ^= x;
// wb[0..2] := Y[1..3].
uint16_t Op8() {
  uint16_t x;
  uint8_t y[4];
  if (!WordEnd(7, &x) || !ReadEnd(183, y, 4)) return 0;
  PutU16(y, GetU16(y) ^ x);
  PutU16(y + 2, GetU16(y + 2) ^ x);
  std::memcpy(Wb(), y + 1, 3);
  return 1;
}

// The stepping XOR of codes 14 and 15: wb[i] ^= k, then k += d.
static bool SteppingKey(uint8_t* k, uint8_t* d) { return ByteEnd(5, k) && ByteEnd(4, d); }
static void XorStepping(uint8_t* p, int n, uint8_t k, uint8_t d) {
  for (int i = 0; i < n; i++, k = (uint8_t)(k + d)) p[i] ^= k;
}

// Code 14: k := b(end-5), d := b(end-4); read 24 at end-117 -> wb, decoded
// with the stepping key; H.SS := wbw[14]; H.SP := wbw[16]; H.IP := wbw[20];
// H.CS := wbw[22].
uint16_t Op14() {
  uint8_t k, d;
  uint8_t* wb = Wb();
  if (!SteppingKey(&k, &d) || !ReadEnd(117, wb, 24)) return 0;
  XorStepping(wb, 24, k, d);
  SetH(kHdrSS, Wbw(14));
  SetH(kHdrSP, Wbw(16));
  SetH(kHdrIP, Wbw(20));
  SetH(kHdrCS, Wbw(22));
  return 1;
}

// Code 15: k := b(end-5), d := b(end-4); wb[0..2] decoded with the
// stepping key.
uint16_t Op15() {
  uint8_t k, d;
  if (!SteppingKey(&k, &d)) return 0;
  XorStepping(Wb(), 3, k, d);
  return 1;
}

// Code 28: x := w(end-1813); read 4 at end-1725 -> (p, q), both ^= x;
// R.exeCut := len - p; read 32 at end-1697 -> wb, its 16 words ^= x;
// header := wb[0..27].
uint16_t Op28() {
  uint16_t x;
  uint8_t pq[4];
  if (!WordEnd(1813, &x) || !ReadEnd(1725, pq, 4)) return 0;
  Rec().exeCutLength = (uint16_t)(Len() - (GetU16(pq) ^ x));
  uint8_t* wb = Wb();
  if (!ReadEnd(1697, wb, 32)) return 0;
  for (size_t i = 0; i < 32; i += 2) SetWbw(i, Wbw(i) ^ x);
  std::memcpy(Cleaning().header, wb, 28);
  return 1;
}

// Code 29: x := w(end-1817); read 32 at end-1701 -> Y, its 16 words ^= x;
// wb[0..31] := Y.
uint16_t Op29() {
  uint16_t x;
  uint8_t y[32];
  if (!WordEnd(1817, &x) || !ReadEnd(1701, y, 32)) return 0;
  for (int i = 0; i < 32; i += 2) PutU16(y + i, GetU16(y + i) ^ x);
  std::memcpy(Wb(), y, 32);
  return 1;
}

// Code 120: x := w(end-312); read 4 at end-16 -> Y; for i = 0 to 3 the
// word at Y+i (overlapping) ^= x; wb[0] := 0xE9; wb[1..2] := Y[2..3].
uint16_t Op120() {
  uint16_t x;
  uint8_t y[5] = {};   // the last word reaches Y[4]
  if (!WordEnd(312, &x) || !ReadEnd(16, y, 4)) return 0;
  for (int i = 0; i < 4; i++) PutU16(y + i, GetU16(y + i) ^ x);
  uint8_t* wb = Wb();
  wb[0] = 0xE9;
  wb[1] = y[2];
  wb[2] = y[3];
  return 1;
}

// Code 140: k := b(end-130); read 6 at end-6 -> Y, bytes ^= k;
// H.CS := w(Y+4); H.IP := w(Y+2); H.csum := w(Y+0).
uint16_t Op140() {
  uint8_t k, y[6];
  if (!ByteEnd(130, &k) || !ReadEnd(6, y, 6)) return 0;
  XorBytes(y, 6, k);
  SetH(kHdrCS, GetU16(y + 4));
  SetH(kHdrIP, GetU16(y + 2));
  SetH(kHdrCsum, GetU16(y));
  return 1;
}

// Code 141: k := b(end-130); wb[0..2] ^= k; read 2 at end-6 -> Y, bytes
// ^= k; write Y at 18 (the host's checksum word). A failed write fails.
uint16_t Op141() {
  uint8_t k, y[2];
  if (!ByteEnd(130, &k)) return 0;
  XorBytes(Wb(), 3, k);
  if (!ReadEnd(6, y, 2)) return 0;
  XorBytes(y, 2, k);
  return WriteAt(18, y, 2) ? 1 : 0;
}

// Code 143: x := w(end-7); wbw[0] ^= x; wb[0] := wb[1]; wbw[2] ^= x;
// wb[1] := wb[2]; wb[2] := wb[3].
uint16_t Op143() {
  uint16_t x;
  if (!WordEnd(7, &x)) return 0;
  uint8_t* wb = Wb();
  SetWbw(0, Wbw(0) ^ x);
  wb[0] = wb[1];
  SetWbw(2, Wbw(2) ^ x);
  wb[1] = wb[2];
  wb[2] = wb[3];
  return 1;
}

// Code 151: wb[0..2] ^= 1.
uint16_t Op151() {
  XorBytes(Wb(), 3, 1);
  return 1;
}

// The word steps of code 154, applied in order: the whole word, or only its
// low byte (without carry into the high byte).
enum StepKind : int { kStepAdd, kStepXor, kStepLowAdd, kStepLowNot };
struct WordStep {
  StepKind kind;     // what the step does
  int32_t value;     // the constant it adds or XORs (unused for kStepLowNot)
};

static uint16_t ApplyStep(uint16_t w, const WordStep& s) {
  switch (s.kind) {
    case kStepAdd: return (uint16_t)(w + s.value);
    case kStepXor: return (uint16_t)(w ^ s.value);
    case kStepLowAdd: return (uint16_t)((w & 0xFF00) | (uint8_t)(w + s.value));
    case kStepLowNot: return (uint16_t)((w & 0xFF00) | (uint8_t)~w);
  }
  return w;
}

// Rows: {kind, constant}, in the order the virus's decoder applies them.
static const WordStep kSteps154[] = {
    {kStepAdd, 1},        {kStepAdd, 27309},    {kStepAdd, 1123},     {kStepAdd, 1},
    {kStepLowAdd, -57},   {kStepAdd, 26959},    {kStepAdd, 1},        {kStepLowAdd, 1},
    {kStepAdd, -25142},   {kStepAdd, -20409},   {kStepXor, 0xEAA0},   {kStepXor, 0x2FF5},
    {kStepLowAdd, 1},     {kStepLowNot, 0},
};
static_assert(sizeof kSteps154 / sizeof kSteps154[0] == 14);

// The last word decoded by code 154 starts at byte 1076 (it ends at 1077).
constexpr size_t kLastWord154 = 1076;
static_assert(kLastWord154 + 2 <= kWorkBufferSize, "code 154 decodes inside the work buffer");

// Code 154: E := jump(0); read 729 at E+92 -> wb; every word at an even
// offset 0 to 1076 goes through the fixed steps; then
// wb[i] := wb[i+544] ^ 1 for i = 0 to 2.
uint16_t Op154() {
  int32_t e = JumpTarget();
  uint8_t* wb = Wb();
  if (e < 0 || !ReadAt((int64_t)e + 92, wb, 729)) return 0;
  for (size_t i = 0; i <= kLastWord154; i += 2) {
    uint16_t w = Wbw(i);
    for (const WordStep& s : kSteps154) w = ApplyStep(w, s);
    SetWbw(i, w);
  }
  for (int i = 0; i < 3; i++) wb[i] = wb[i + 544] ^ 1;
  return 1;
}

// Code 195: read 2 at end-546 -> (p, q); wb[0] ^= p; wb[1] ^= q;
// wb[2] ^= p; wb[3] ^= q.
uint16_t Op195() {
  uint8_t pq[2];
  if (!ReadEnd(546, pq, 2)) return 0;
  uint8_t* wb = Wb();
  for (int i = 0; i < 4; i++) wb[i] ^= pq[i % 2];
  return 1;
}

// Code 196: read 4 at end-1535 -> Y[1..4]; the four bytes, as one bit
// string with Y[1] first, are shifted left by one bit; wb[0..2] := the new
// Y[1..3].
uint16_t Op196() {
  uint8_t y[4];
  if (!ReadEnd(1535, y, 4)) return 0;
  uint8_t* wb = Wb();
  for (int i = 0; i < 3; i++) wb[i] = (uint8_t)(y[i] << 1 | y[i + 1] >> 7);
  return 1;
}

// Code 201: for i = 0 to 3 the word at wb[i] (overlapping)
// ^= (len - 1400 + i) and then ^= (1656 - i); then wb[0..2] := wb[1..3].
uint16_t Op201() {
  uint8_t* wb = Wb();
  CounterXorLoop(wb, 4, Len(), 1400, 1656);
  std::memmove(wb, wb + 1, 3);
  return 1;
}

// Code 214: for i = 0 to 59 the i-th word of the work buffer is rotated
// right by (60 - i) mod 16 bits.
uint16_t Op214() {
  for (int i = 0; i < 60; i++) {
    size_t at = 2 * (size_t)i;
    SetWbw(at, RotateRight16(Wbw(at), (unsigned)(60 - i) % 16));
  }
  return 1;
}

// Code 224: for i = 0 to 27: wb[i] ^= wb[i+2].
uint16_t Op224() {
  uint8_t* wb = Wb();
  for (int i = 0; i < 28; i++) wb[i] ^= wb[i + 2];
  return 1;
}

// Code 229: wb[0..2] inverted.
uint16_t Op229() {
  uint8_t* wb = Wb();
  for (int i = 0; i < 3; i++) wb[i] = (uint8_t)~wb[i];
  return 1;
}

// Code 230: x := low byte of w(end-597); y := 257 x; S.SS -= 16;
// S.IP ^= y; S.CS ^= y; S.CS -= 16.
uint16_t Op230() {
  uint16_t w;
  if (!WordEnd(597, &w)) return 0;
  uint16_t y = (uint16_t)((w & 0xFF) * 257);
  uint16_t* s = Cleaning().saved;
  s[kSavedSS] = (uint16_t)(s[kSavedSS] - 16);
  s[kSavedIP] ^= y;
  s[kSavedCS] = (uint16_t)((s[kSavedCS] ^ y) - 16);
  return 1;
}

// Code 231: read 2 at end-1018 -> (p, q); read 2 at end-1000 -> wb[0..1];
// read 1 at end-995 -> wb[2]; wb[0] ^= p; wb[1] ^= q; wb[2] ^= q.
uint16_t Op231() {
  uint8_t pq[2];
  uint8_t* wb = Wb();
  if (!ReadEnd(1018, pq, 2) || !ReadEnd(1000, wb, 2) || !ReadEnd(995, wb + 2, 1)) return 0;
  wb[0] ^= pq[0];
  wb[1] ^= pq[1];
  wb[2] ^= pq[1];
  return 1;
}

// Code 232: read 2 at end-5376 -> (p, q); every byte of the four saved
// words ^= p + q.
uint16_t Op232() {
  uint8_t pq[2];
  if (!ReadEnd(5376, pq, 2)) return 0;
  XorSavedBytes((uint8_t)(pq[0] + pq[1]));
  return 1;
}

// Code 234: k := b(1) + b(2) + 3; wb[0..2] ^= k.
uint16_t Op234() {
  uint8_t b[2];
  if (!ReadAt(1, b, 2)) return 0;
  XorBytes(Wb(), 3, (uint8_t)(b[0] + b[1] + 3));
  return 1;
}

// Code 235: k := b(end-1553); every byte of the four saved words ^= k.
uint16_t Op235() {
  uint8_t k;
  if (!ByteEnd(1553, &k)) return 0;
  XorSavedBytes(k);
  return 1;
}

// Code 236: d := w(1); k := b((d + 11) mod 65536); 277 bytes after k,
// read 3 -> wb[0..2]; wb[0..2] ^= k.
uint16_t Op236() {
  uint16_t d;
  uint8_t k;
  if (!WordAt(1, &d)) return 0;
  uint16_t at = (uint16_t)(d + 11);
  if (!ByteAt(at, &k) || !ReadAt((int64_t)at + 1 + 277, Wb(), 3)) return 0;
  XorBytes(Wb(), 3, k);
  return 1;
}

// Code 246: wb[i] ^= 5 - i for i = 0 to 4.
uint16_t Op246() {
  uint8_t* wb = Wb();
  for (int i = 0; i < 5; i++) wb[i] ^= (uint8_t)(5 - i);
  return 1;
}

// The key of codes 247 and 248, b(end-63); without it the virus body is
// not what the vaccine expects.
static bool CorruptionKey(uint8_t* k) {
  if (ByteEnd(63, k)) return true;
  Cleaning().message = kMsgCorrupted;
  return false;
}

// Adds k to both bytes of a word, each without carry.
static uint16_t AddToBytes(uint16_t w, uint8_t k) {
  return (uint16_t)((uint8_t)((w >> 8) + k) << 8 | (uint8_t)(w + k));
}

// Code 247: k := b(end-63); the low bytes of S.CS and S.SS -= 16; then each
// of the six bytes of S.CS, S.IP, S.SS += k.
uint16_t Op247() {
  uint8_t k;
  if (!CorruptionKey(&k)) return 0;
  uint16_t* s = Cleaning().saved;
  for (int i : {kSavedCS, kSavedSS}) s[i] = (uint16_t)((s[i] & 0xFF00) | (uint8_t)(s[i] - 16));
  for (int i : {kSavedCS, kSavedIP, kSavedSS}) s[i] = AddToBytes(s[i], k);
  return 1;
}

// Code 248: k := b(end-63); wb[0..2] += k.
uint16_t Op248() {
  uint8_t k;
  if (!CorruptionKey(&k)) return 0;
  uint8_t* wb = Wb();
  for (int i = 0; i < 3; i++) wb[i] = (uint8_t)(wb[i] + k);
  return 1;
}
