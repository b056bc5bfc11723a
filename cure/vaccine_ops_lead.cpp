// Vaccine operations for prepending viruses: the virus sits in front of the
// host, so the cure moves the host down over it with RemoveLeadingBytes
// (lead N). Variants cut a few more bytes off the end, take the cleaning
// length from the file's present size, fix the first bytes of the host, or
// finish the cleaning themselves.
//
// State: none; works on the executor's CleaningContext. Called only
// through the operation table.
#include "cure/vaccine_ops.h"

// lead count; cut cut; with kFinish, FinishCleaning with the result of the
// removal right after.
uint16_t OpLead(int32_t count, int32_t cut, Finish finish) {
  uint16_t r = RemoveLeadingBytes(count);
  Cut(cut);
  if (finish == kFinish) FinishCleaning(r);
  return r;
}

// lead count; len := size - fromSize.
uint16_t OpLeadFromSize(int32_t count, int32_t fromSize) {
  if (!RemoveLeadingBytes(count)) return 0;
  int64_t size = FileEnd();
  if (size < 0) return 0;
  Len() = (int32_t)(size - fromSize);
  return 1;
}

// lead count; b(0) -= 11 (read, change, write back); FinishCleaning with
// success. With setMessage a failing write says "Unable to read the file.".
uint16_t OpLeadLowerFirstByte(int32_t count, bool setMessage) {
  if (!RemoveLeadingBytes(count)) return 0;
  uint8_t b;
  if (!ByteAt(0, &b)) return 0;
  b = (uint8_t)(b - 11);
  if (!WriteAt(0, &b, 1)) {
    if (setMessage) Cleaning().message = kMsgCannotRead;
    return 0;
  }
  FinishCleaning(1);
  return 1;
}

// Code 90: lead 3044; read 2 at 0, invert both bytes, write them at 0 (a
// failing move or write says "Unable to read the file."); FinishCleaning
// with success.
uint16_t Op90() {
  if (!RemoveLeadingBytes(3044)) return 0;
  uint8_t b[2];
  if (!ReadAt(0, b, 2)) return 0;
  b[0] = (uint8_t)~b[0];
  b[1] = (uint8_t)~b[1];
  if (!WriteAt(0, b, 2)) {
    Cleaning().message = kMsgCannotRead;
    return 0;
  }
  FinishCleaning(1);
  return 1;
}

// Code 139: the virus moved the host's first 879 bytes to the end and put
// itself in their place. a := len - 879; lead a (the last 879 bytes come to
// the front); len := a.
uint16_t Op139() {
  int32_t a = Len() - 879;
  if (a < 0) return 0;
  if (!RemoveLeadingBytes(a)) return 0;
  Len() = a;
  return 1;
}
