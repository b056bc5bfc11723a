// Vaccine operations that rebuild the first bytes of a COM program: they
// fill the start of the work buffer, which the COM recipe writes back at
// offset 0 (restoreLength), or write the host's start themselves. The
// bytes come from fixed places near the end of the file, from the virus
// entry, or are built (a near jump with the displacement the virus kept).
//
// State: none; works on the executor's CleaningContext and the work buffer.
// Called only through the operation table, by the COM recipe.
#include "cure/vaccine_ops.h"

#include "engine/work_buffer.h"

// wb[to] := wb[from].
uint16_t OpCopyStartByte(int to, int from) {
  Wb()[to] = Wb()[from];
  return 1;
}

// wb[at] := value.
uint16_t OpSetStartByte(int at, int value) {
  Wb()[at] = (uint8_t)value;
  return 1;
}

// Swap wb[i] and wb[j].
uint16_t OpSwapStartBytes(int i, int j) {
  uint8_t* wb = Wb();
  uint8_t t = wb[i];
  wb[i] = wb[j];
  wb[j] = t;
  return 1;
}

// read 2 at end-a -> wb[0..1]; read 2 at end-b -> wb[2..3];
// read 2 at end-c -> wb[4..5].
uint16_t OpThreePairs(int32_t a, int32_t b, int32_t c) {
  uint8_t* wb = Wb();
  return ReadEnd(a, wb, 2) && ReadEnd(b, wb + 2, 2) && ReadEnd(c, wb + 4, 2) ? 1 : 0;
}

// read count at end-at -> wb[index..].
uint16_t OpStartFromEnd(int32_t at, int count, int index) {
  return ReadEnd(at, Wb() + index, (uint32_t)count) ? 1 : 0;
}

// wb[0] := 0xE9; read 2 at end-at -> wb[1..2]: the host's own near jump.
uint16_t OpJumpFromEnd(int32_t at) {
  uint8_t* wb = Wb();
  wb[0] = 0xE9;
  return ReadEnd(at, wb + 1, 2) ? 1 : 0;
}

// k := b(end-keyAt); read count at end-dataAt -> Y, bytes ^= k;
// len := size - virusLength; write Y at 0.
uint16_t OpXorStartFromEnd(int32_t keyAt, int32_t dataAt, int count, int32_t virusLength) {
  uint8_t k, y[16];
  if (count < 0 || count > (int)sizeof y) return 0;
  if (!ByteEnd(keyAt, &k) || !ReadEnd(dataAt, y, (uint32_t)count)) return 0;
  for (int i = 0; i < count; i++) y[i] ^= k;
  int64_t size = FileEnd();
  if (size < 0) return 0;
  Len() = (int32_t)(size - virusLength);
  return WriteAt(0, y, (uint32_t)count) ? 1 : 0;
}

// read count at end-count -> Y, every byte ^= key (0: as they are); write Y
// at 0; len := size - count. The virus moved the host's start to the end.
uint16_t OpTailToStart(int32_t count, int key) {
  uint8_t y[1600];
  if (count < 0 || count > (int)sizeof y) return 0;
  if (!ReadEnd(count, y, (uint32_t)count)) return 0;
  for (int i = 0; i < count; i++) y[i] ^= (uint8_t)key;
  if (!WriteAt(0, y, (uint32_t)count)) return 0;
  int64_t size = FileEnd();
  if (size < 0) return 0;
  Len() = (int32_t)(size - count);
  return 1;
}

// Code 60: read 2 at end-930 -> wb[0..1]; read 1 at end-923 -> wb[2].
uint16_t Op60() {
  uint8_t* wb = Wb();
  return ReadEnd(930, wb, 2) && ReadEnd(923, wb + 2, 1) ? 1 : 0;
}

// Code 88: E := jump(0); read 3 at E-11 and write them at 0;
// len := size - 3445.
uint16_t Op88() {
  int32_t e = JumpTarget();
  uint8_t y[3];
  if (e < 0 || !ReadAt((int64_t)e - 11, y, 3) || !WriteAt(0, y, 3)) return 0;
  int64_t size = FileEnd();
  if (size < 0) return 0;
  Len() = (int32_t)(size - 3445);
  return 1;
}

// Code 132: d := w(3); n := (len - d) mod 65536; read n at d -> wb; write
// them at 0; cut 2219. The virus put itself in front of the host's first n
// bytes; n beyond the work buffer is refused.
uint16_t Op132() {
  uint16_t d;
  if (!WordAt(3, &d)) return 0;
  uint32_t n = (uint16_t)(Len() - d);
  if (n > kWorkBufferSize) return 0;
  uint8_t* wb = Wb();
  if (!ReadAt(d, wb, n) || !WriteAt(0, wb, n)) return 0;
  Cut(2219);
  return 1;
}

// Code 138: E := jump(0); len := E; read 3 at E+21 -> wb[0..2]. A file
// that does not start with a jump would be cut to nothing: refused.
uint16_t Op138() {
  int32_t e = JumpTarget();
  if (e <= 0) return 0;
  Len() = e;
  return ReadAt((int64_t)e + 21, Wb(), 3) ? 1 : 0;
}

// Code 158: d := (w(1) + 938) mod 65536; read 3 at d -> wb[0..2];
// len := d - 935.
uint16_t Op158() {
  uint16_t w;
  if (!WordAt(1, &w)) return 0;
  uint16_t d = (uint16_t)(w + 938);
  if (!ReadAt(d, Wb(), 3)) return 0;
  Len() = (int32_t)d - 935;
  return 1;
}

// Code 181: read 6 at end-221, unchecked (unreadable bytes count as
// zeros); invert every byte; write them at 0; len := size - 1308. The write
// is checked: a start that could not be put back must not be reported as
// cleaned.
uint16_t Op181() {
  uint8_t y[6] = {};
  ReadEnd(221, y, 6);
  for (uint8_t& b : y) b = (uint8_t)~b;
  if (!WriteAt(0, y, 6)) return 0;
  int64_t size = FileEnd();
  if (size < 0) return 0;
  Len() = (int32_t)(size - 1308);
  return 1;
}

// Code 272: wb[0] := b(0); wb[1] -= 3; wb[2] -= 1.
uint16_t Op272() {
  uint8_t* wb = Wb();
  if (!ByteAt(0, &wb[0])) return 0;
  wb[1] = (uint8_t)(wb[1] - 3);
  wb[2] = (uint8_t)(wb[2] - 1);
  return 1;
}

// Code 273: len := w(end-8); wb[0] := b(end-1); wb[1] -= 3; wb[2] -= 1.
uint16_t Op273() {
  uint16_t n;
  uint8_t* wb = Wb();
  if (!WordEnd(8, &n) || !ByteEnd(1, &wb[0])) return 0;
  Len() = n;
  wb[1] = (uint8_t)(wb[1] - 3);
  wb[2] = (uint8_t)(wb[2] - 1);
  return 1;
}
