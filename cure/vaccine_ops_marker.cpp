// Vaccine operations that compare a text the virus carries at a fixed
// distance from the end of a COM program before anything is cut: only when
// the text is there is the virus body cut off and the host's first bytes
// read back into the work buffer. A file too short for the text, or
// without it, is left alone and the operation succeeds, so that a vaccine
// whose marker does not match leaves the file uncut rather than damaging
// it.
//
// State: none; works on the executor's CleaningContext and the work buffer.
// Called only through the operation table, by the COM recipe.
#include "cure/vaccine_ops.h"

#include <cstring>

// The longest marker text.
constexpr size_t kMarkerMax = 32;
static_assert(sizeof kMarkWarning - 1 == kMarkerMax);
static_assert(sizeof kMarkDown - 1 == 18 && sizeof kMarkCpuTest - 1 == 18 &&
              sizeof kMarkArrested - 1 == 18 && sizeof kMarkBeast - 1 == 18 &&
              sizeof kMarkInterceptor - 1 == 18 && sizeof kMarkViolator - 1 == 18);

// True when text stands at end-at. A file that cannot hold it has not got
// it.
static bool MarkerAt(const char* text, int32_t at) {
  size_t n = std::strlen(text);
  uint8_t got[kMarkerMax];
  if (n == 0 || n > sizeof got) return false;
  return ReadEnd(at, got, (uint32_t)n) && std::memcmp(got, text, n) == 0;
}

// Reads the host's first restoreCount bytes from end-restoreAt.
static bool RestoreStart(int32_t restoreAt, int restoreCount) {
  return restoreCount == 0 || ReadEnd(restoreAt, Wb(), (uint32_t)restoreCount);
}

// Unless len <= shortest: when text stands at end-at, cut cut and read
// restoreCount bytes at end-restoreAt -> wb. Fails only when the marker is
// there and the host's bytes cannot be read.
uint16_t OpMarker(const char* text, int32_t shortest, int32_t at, int32_t cut, int32_t restoreAt,
                  int restoreCount) {
  if (Len() <= shortest || !MarkerAt(text, at)) return 1;
  Cut(cut);
  return RestoreStart(restoreAt, restoreCount) ? 1 : 0;
}

// As OpMarker, but the guard is on the file's present size and the cut is
// added to the recipe's comCutLength.
uint16_t OpMarkerBySize(const char* text, int32_t shortest, int32_t at, int32_t cut,
                        int32_t restoreAt, int restoreCount) {
  int64_t size = FileEnd();
  if (size < 0) return 0;
  if (size <= shortest || !MarkerAt(text, at)) return 1;
  VaccineRecord& r = Rec();
  r.comCutLength = (uint16_t)(r.comCutLength + cut);
  return RestoreStart(restoreAt, restoreCount) ? 1 : 0;
}

// Code 70: two marker checks in turn. First, unless len <= 29:
// "CPU test:" 0x07 "  all ri" at end-27: cut 29, read 3 at end-162 -> wb.
// Then, unless len <= 138: "This file was down" at end-128: cut 128, read
// 6 at end-256 -> wb.
uint16_t Op70() {
  if (!OpMarker(kMarkCpuTest, 29, 27, 29, 162, 3)) return 0;
  return OpMarker(kMarkDown, 138, 128, 128, 256, 6);
}
