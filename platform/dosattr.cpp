// Samba's DOS attribute blob: see dosattr.h.
//
// NDR layout of the versioned forms, little-endian, no padding:
//   attrib_hex   NUL-terminated ASCII ("" in version 4, "0x20" in version 3)
//   uint16       version
//   uint32       version again (the union's level)
//   uint32       valid flags (1 = attrib, 0x10 = create time, 0x40 = itime)
//   uint32       attrib
//   version 3:   uint32 ea_size, uint64 size, uint64 alloc_size,
//                uint64 create_time, uint64 change_time
//   version 4:   uint64 itime, uint64 create_time
#include "platform/dosattr.h"

#include <cstdlib>
#include <cstring>

static uint32_t Le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static uint64_t Le64(const uint8_t* p) { return (uint64_t)Le32(p) | (uint64_t)Le32(p + 4) << 32; }
static void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}
static void Put64(uint8_t* p, uint64_t v) {
  Put32(p, (uint32_t)v);
  Put32(p + 4, (uint32_t)(v >> 32));
}

static bool ParseHex(const char* s, size_t n, uint32_t* out) {
  if (n < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
  uint32_t v = 0;
  for (size_t i = 2; i < n; i++) {
    char c = s[i];
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
          : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | (uint32_t)d;
  }
  *out = v;
  return true;
}

bool DecodeDosAttrib(const uint8_t* blob, size_t n, uint32_t* attrib, DosAttribTimes* times) {
  if (times) *times = DosAttribTimes{};
  const uint8_t* nul = (const uint8_t*)std::memchr(blob, 0, n);
  size_t hexLen = nul ? (size_t)(nul - blob) : n;
  uint32_t hexValue = 0;
  bool hexOk = ParseHex((const char*)blob, hexLen, &hexValue);
  size_t p = nul ? hexLen + 1 : n;
  if (n - p < 2 + 4 + 4 + 4) {
    // Only the hex string.
    if (!hexOk) return false;
    *attrib = hexValue;
    return true;
  }
  unsigned version = blob[p] | blob[p + 1] << 8;
  uint32_t level = Le32(blob + p + 2);
  uint32_t valid = Le32(blob + p + 6);
  uint32_t value = Le32(blob + p + 10);
  size_t q = p + 14;
  if (version != level) return hexOk ? (*attrib = hexValue, true) : false;
  if (version == 3) {
    if (n - q < 4 + 8 + 8 + 8 + 8) return false;
    if (times) {
      times->createTime = Le64(blob + q + 20);
      times->validFlags = valid & 0x10;
    }
  } else if (version == 4) {
    if (n - q < 16) return false;
    if (times) {
      times->itime = Le64(blob + q);
      times->createTime = Le64(blob + q + 8);
      times->validFlags = valid & 0x50;
    }
  } else {
    return hexOk ? (*attrib = hexValue, true) : false;
  }
  *attrib = (valid & 1) ? value : hexValue;
  return true;
}

size_t EncodeDosAttrib(uint32_t attrib, const DosAttribTimes* keep, uint8_t* out, size_t cap) {
  if (cap < 31) return 0;
  std::memset(out, 0, 31);
  size_t p = 1;                       // empty attrib_hex
  out[p] = 4;                         // version
  p += 2;
  Put32(out + p, 4);                  // level
  p += 4;
  Put32(out + p, 1 | (keep ? keep->validFlags : 0));
  p += 4;
  Put32(out + p, attrib);
  p += 4;
  Put64(out + p, keep ? keep->itime : 0);
  p += 8;
  Put64(out + p, keep ? keep->createTime : 0);
  p += 8;
  return p;
}
