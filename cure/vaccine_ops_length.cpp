// Vaccine operations that compute a recipe's lengths and offsets from the
// file: the cut (exeCutLength, comCutLength), the position of the saved
// host bytes (savedOffset) or the cleaning length itself, from a length the
// virus stored, from the near jump at the start of a COM file, or from len.
// The recipe that runs them reads the changed fields afterwards.
//
// Offsets computed from 16-bit words wrap modulo 65536, as the virus's own
// arithmetic does, and are stored as unsigned values.
//
// State: none; works on the executor's CleaningContext and the record being
// run. Called only through the operation table, by the recipes.
#include "cure/vaccine_ops.h"

#include "common/le.h"

// R.savedOffset := (roundup16(len - virusLength) + 4) mod 65536.
uint16_t OpSavedOffsetAtRoundedLength(int32_t virusLength) {
  int64_t x = (int64_t)Len() - virusLength;
  Rec().savedOffset = (uint16_t)(((x + 15) & ~(int64_t)15) + 4);
  return 1;
}

// Fails unless b(0) is a near jump (0xE9); R.savedOffset := w(1) + delta.
uint16_t OpSavedOffsetFromJump(int32_t delta) {
  uint8_t j[3];
  if (!ReadAt(0, j, 3) || j[0] != 0xE9) return 0;
  Rec().savedOffset = (uint16_t)(GetU16(j + 1) + delta);
  return 1;
}

// Code 21: read 4 at end-1045 -> (x, y); R.exeCut := len - x.
uint16_t Op21() {
  uint8_t xy[4];
  if (!ReadEnd(1045, xy, 4)) return 0;
  Rec().exeCutLength = (uint16_t)(Len() - GetU16(xy));
  return 1;
}

// Code 145: len := jump(0). A file that does not start with a jump would
// be cut to nothing: it is refused.
uint16_t Op145() {
  int32_t e = JumpTarget();
  if (e <= 0) return 0;
  Len() = e;
  return 1;
}

// Code 205: R.savedOffset := w(1) + 6 - 1994;
// R.comCut := len - w(len - 2879).
uint16_t Op205() {
  uint16_t d, stored;
  if (!WordAt(1, &d)) return 0;
  Rec().savedOffset = (uint16_t)(d + 6 - 1994);
  if (!WordAt((int64_t)Len() - 2879, &stored)) return 0;
  Rec().comCutLength = (uint16_t)(Len() - stored);
  return 1;
}

// Code 206: d := w(1) + 3, the virus entry; the virus is 648 bytes from
// there to the end, else "File is corrupted."; R.savedOffset := d + 515.
uint16_t Op206() {
  uint16_t w;
  if (!WordAt(1, &w)) return 0;
  uint16_t d = (uint16_t)(w + 3);
  if (Len() - (int32_t)d != 648) {
    Cleaning().message = kMsgCorrupted;
    return 0;
  }
  Rec().savedOffset = (uint16_t)(d + 515);
  return 1;
}

// Code 208: R.exeCut := len - S.SP; SS and SP are then not copied into the
// header (their distance fields become 0).
uint16_t Op208() {
  VaccineRecord& r = Rec();
  r.exeCutLength = (uint16_t)(Len() - Cleaning().saved[kSavedSP]);
  r.ssFromEnd = 0;
  r.spFromEnd = 0;
  return 1;
}

// Code 209: R.comCut := len - w(end-2766).
uint16_t Op209() {
  uint16_t x;
  if (!WordEnd(2766, &x)) return 0;
  Rec().comCutLength = (uint16_t)(Len() - x);
  return 1;
}

// Code 215: t := w(4) x 16; R.savedOffset := t + 11; R.comCut := len - t
// (all modulo 65536).
uint16_t Op215() {
  uint16_t w;
  if (!WordAt(4, &w)) return 0;
  uint16_t t = (uint16_t)(w * 16);
  Rec().savedOffset = (uint16_t)(t + 11);
  Rec().comCutLength = (uint16_t)(Len() - t);
  return 1;
}

// Code 219: the virus carries "COMMAND.COM" within 512 bytes of end-2756;
// without it the file is not as the vaccine expects ("File is corrupted.").
// With c its offset, the file is left at (end-2234) - 531 + c - 321, where
// the saved bytes are counted from: R.savedOffset := c - 852, and
// R.comCut := len - that position - 3.
uint16_t Op219() {
  static const uint8_t kName[] = {'C', 'O', 'M', 'M', 'A', 'N', 'D', '.', 'C', 'O', 'M'};
  uint8_t* wb = Wb();
  if (!ReadEnd(2756, wb, 522)) return 0;
  if (!FindPattern(wb, 512, kName, sizeof kName)) {
    Cleaning().message = kMsgCorrupted;
    return 0;
  }
  int32_t c = Cleaning().searchResult;
  int64_t after = CleanSeek(0, kSeekCurrent);
  if (after < 0) return 0;
  int64_t pos = after - (531 - c) - 321;
  if (pos < 0 || CleanSeek(pos, kSeekBegin) != pos) return 0;
  Rec().savedOffset = c - 852;
  Rec().comCutLength = (uint16_t)(Len() - pos - 3);
  return 1;
}

// Code 223: d := w(22); R.savedOffset := ((d + 16) x 16 + 1015) mod 65536.
uint16_t Op223() {
  uint16_t d;
  if (!WordAt(22, &d)) return 0;
  Rec().savedOffset = (uint16_t)((d + 16) * 16 + 1015);
  return 1;
}

// Code 233: R.savedOffset := w(1) + 5442.
uint16_t Op233() {
  uint16_t d;
  if (!WordAt(1, &d)) return 0;
  Rec().savedOffset = (uint16_t)(d + 5442);
  return 1;
}
