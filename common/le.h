// Little-endian field access for file formats and pipe records.
//
// Every multi-byte integer that Korvane reads from or writes to a file or a
// record is little-endian; these helpers read and write one at a byte
// pointer the caller has already bounds-checked.
#pragma once

#include <cstdint>

inline uint16_t GetU16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline int16_t GetI16(const uint8_t* p) { return (int16_t)GetU16(p); }
inline uint32_t GetU32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline int32_t GetI32(const uint8_t* p) { return (int32_t)GetU32(p); }
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
