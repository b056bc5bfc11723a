// The user.DOSATTRIB extended attribute, as Samba stores DOS attributes.
//
// Three forms are read: the bare hex string of old releases ("0x22"), and
// the NDR blobs of version 3 and version 4 (an empty or hex string, then
// the version twice, valid flags, the attributes and times). Version 4 is
// written, as current Samba releases do, keeping the times of a blob that
// was there before.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr const char* kDosAttribName = "user.DOSATTRIB";

struct DosAttribTimes {
  uint64_t itime;          // version 4 instantiation time, 0 if none
  uint64_t createTime;     // NT time of creation, 0 if none
  uint32_t validFlags;     // which of the above are valid
};

// Returns false when the blob is in none of the known forms.
bool DecodeDosAttrib(const uint8_t* blob, size_t n, uint32_t* attrib, DosAttribTimes* times);
// Writes a version 4 blob; returns its length (at most 31 bytes).
size_t EncodeDosAttrib(uint32_t attrib, const DosAttribTimes* keep, uint8_t* out, size_t cap);
