// Sample programs: see samples.h.
#include "tools/samplegen/samples.h"

#include <algorithm>

#include "common/le.h"

Bytes MakeComHost(const std::string& text, size_t size) {
  // mov ah,9 / mov dx,msg / int 21h / mov ax,4C00h / int 21h / msg: text CR LF '$'
  Bytes b = {0xB4, 0x09, 0xBA, 0x00, 0x00, 0xCD, 0x21, 0xB8, 0x00, 0x4C, 0xCD, 0x21};
  PutU16(&b[3], (uint16_t)(0x100 + b.size()));
  for (char c : text) b.push_back((uint8_t)c);
  for (uint8_t c : {'\r', '\n', '$'}) b.push_back(c);
  while (b.size() < size) b.push_back(0x90);
  return b;
}

Bytes MakeExeHost(const std::string& text, size_t moduleSize) {
  // push cs / pop ds / mov dx,msg / mov ah,9 / int 21h / mov ax,4C00h / int 21h
  Bytes code = {0x0E, 0x1F, 0xBA, 0x00, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x00, 0x4C, 0xCD, 0x21};
  PutU16(&code[3], (uint16_t)code.size());
  for (char c : text) code.push_back((uint8_t)c);
  for (uint8_t c : {'\r', '\n', '$'}) code.push_back(c);
  while (code.size() < moduleSize) code.push_back(0x90);
  Bytes b(32 + code.size(), 0);
  std::copy(code.begin(), code.end(), b.begin() + 32);
  b[0] = 'M';
  b[1] = 'Z';
  PutU16(&b[8], 2);          // header paragraphs
  PutU16(&b[10], 0x10);      // minimum extra paragraphs
  PutU16(&b[12], 0xFFFF);    // maximum extra paragraphs
  PutU16(&b[14], (uint16_t)((code.size() + 15) / 16 + 1));   // SS above the code
  PutU16(&b[16], 0x100);     // SP
  PutU16(&b[24], 0x1C);      // relocation table offset
  FixMzSize(&b);
  return b;
}

void FixMzSize(Bytes* f) {
  size_t len = f->size();
  PutU16(&(*f)[2], (uint16_t)(len % 512));
  PutU16(&(*f)[4], (uint16_t)(len / 512 + (len % 512 ? 1 : 0)));
}

static void PutBytes(Bytes* b, int64_t at, const Bytes& what) {
  if (at < 0) return;
  if (b->size() < (size_t)at + what.size()) b->resize((size_t)at + what.size(), 0);
  std::copy(what.begin(), what.end(), b->begin() + at);
}

bool PlantSignature(const Bytes& host, bool mz, const CtlSignatureDef& sig,
                    const std::vector<CtlConfirmDef>& confirms, Planted* out) {
  const std::vector<uint8_t>& keys = mz ? sig.exeKeys : sig.comKeys;
  if (keys.empty() || keys[0] == 0xE9) return false;
  int32_t offset = mz ? sig.exeOffset : sig.comOffset;
  // Room before the entry for patterns at negative offsets (the scanner
  // looks up to 400 bytes back), and never over the first bytes of the file.
  int32_t lowest = std::min(offset, (int32_t)0);
  for (const CtlConfirmDef& c : confirms) lowest = std::min(lowest, (int32_t)(mz ? c.exeOffset : c.comOffset));
  Bytes f = host;
  size_t start = mz ? 32 : 3;
  size_t entry = (f.size() + 15) / 16 * 16;
  if ((int64_t)entry + lowest < (int64_t)start + 64) entry = (size_t)(start + 64 - lowest + 15) / 16 * 16;
  f.resize(entry, 0);
  // The planted body: the key byte at the entry, then the patterns.
  PutBytes(&f, (int64_t)entry, Bytes{keys[0]});
  for (const CtlConfirmDef& c : confirms) PutBytes(&f, (int64_t)entry + (mz ? c.exeOffset : c.comOffset), c.pattern);
  PutBytes(&f, (int64_t)entry + offset, sig.pattern);
  // Some body after the last pattern, as a real virus has.
  f.resize(std::max(f.size(), entry + 64), 0);
  if (mz) {
    size_t module = entry - 32;
    PutU16(&f[22], (uint16_t)(module / 16));   // CS
    PutU16(&f[20], (uint16_t)(module % 16));   // IP
    FixMzSize(&f);
  } else {
    f[0] = 0xE9;
    PutU16(&f[1], (uint16_t)(entry - 3));
  }
  out->file = f;
  out->entry = (int32_t)entry;
  return true;
}

Bytes EicarTestFile() {
  static const char kEicar[] =
      "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
  return Bytes(kEicar, kEicar + sizeof kEicar - 1);
}
