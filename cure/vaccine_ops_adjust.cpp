// Vaccine operations that adjust an MZ header or the saved entry words by
// constants: the virus changed a field of the host's header by a known
// amount (grew the minimum allocation, moved the stack) and the cure takes
// it back.
//
// State: none; works on the executor's CleaningContext. Called only
// through the operation table, by the MZ recipe.
#include "cure/vaccine_ops.h"

// H.minpara -= n.
uint16_t OpLowerMinPara(int32_t n) {
  AddH(kHdrMinPara, -n);
  return 1;
}

// H.sig := "MZ".
uint16_t OpSetSignature() {
  SetH(kHdrSig, 0x5A4D);
  return 1;
}

// H.csum := 0.
uint16_t OpClearChecksum() {
  SetH(kHdrCsum, 0);
  return 1;
}

// S.CS -= 16 (the virus kept the segment relative to the header's end);
// H.SS -= ss.
uint16_t OpLowerCsAndSs(int32_t ss) {
  CleaningContext& c = Cleaning();
  c.saved[kSavedCS] = (uint16_t)(c.saved[kSavedCS] - 16);
  AddH(kHdrSS, -ss);
  return 1;
}

// x := w(end-keyAt); each of the four saved words += x; H.csum := 0.
uint16_t OpAddToSavedWords(int32_t keyAt) {
  uint16_t x;
  if (!WordEnd(keyAt, &x)) return 0;
  CleaningContext& c = Cleaning();
  for (uint16_t& w : c.saved) w = (uint16_t)(w + x);
  SetH(kHdrCsum, 0);
  return 1;
}

// Code 160: S.CS -= 16; S.SS -= 16.
uint16_t Op160() {
  CleaningContext& c = Cleaning();
  c.saved[kSavedCS] = (uint16_t)(c.saved[kSavedCS] - 16);
  c.saved[kSavedSS] = (uint16_t)(c.saved[kSavedSS] - 16);
  return 1;
}

// Code 240: H.minpara -= 19, only when it is at least 20.
uint16_t Op240() {
  if (H(kHdrMinPara) >= 20) AddH(kHdrMinPara, -19);
  return 1;
}
