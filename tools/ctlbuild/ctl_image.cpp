// The database file QUELTAN.CTL: writing an image, reading one back, and the
// two checksums the service verifies. The compiler (ctl_compile.cpp) and the
// source reader and printer (ctl_source.cpp) share this description of the
// source text they work on.
//
// State: none. Callers: ctlbuild and the tests. Every read of a file goes
// through bounds checks, because --dump is pointed at files of any origin.
//
// ---------------------------------------------------------------------------
// Source format (data/queltan.src, and what `ctlbuild --dump` prints)
//
// One statement per line. '#' outside a string starts a comment that runs to
// the end of the line; blank lines are ignored. Tokens are separated by
// blanks; indentation carries no meaning (the printed form indents the lines
// of a block by two spaces). Strings stand in double quotes and may use
// \" \\ and \xHH (two hex digits, not 00). Numbers are decimal, optionally
// signed; vaccine fields also take 0x hex. BYTES is a list of byte tokens of
// two hex digits each; in signature and confirmation patterns "??" is the
// wildcard, the byte 90, and a written 90 is the wildcard as well (printed
// as ??).
//
//   title "TEXT"
//       Header bytes 0..79 (at most 80 bytes). At most once; default empty.
//
//   virus NUMBER ["NAME"]
//       Opens the block of one virus. NUMBER is -32768..32767 and unique in
//       the file. NAME, at most 25 bytes, is its display name (the first name
//       record). A virus without a name gets no name record: the scanner then
//       reports it as "unknown". The lines below belong to the last virus
//       opened, in any order; lines of one kind keep their order.
//
//   name "NAME"
//       A further name record for the same virus number.
//
//   sig BYTES [com OFFSET [keys KEY...]] [exe OFFSET [keys KEY...]] [needs-confirm]
//       A signature of 5..16 bytes. OFFSET is its signed position from the
//       entry point of a non-MZ ("com") or an MZ ("exe") program. KEY bytes
//       (two hex digits each; 90 is a plain byte here) are the entry-point
//       bytes the signature is filed under in that kind's first-byte table;
//       the scanner tries it only on programs whose entry point holds one of
//       them. Without "keys", an offset of 0 files the signature under its
//       first pattern byte (a wildcard first byte then needs explicit keys);
//       any other offset, or a kind left out, leaves it unfiled for that
//       kind: the scanner never tries it there. needs-confirm makes the
//       virus's confirmation patterns part of the match. Signatures are
//       numbered, and tried, in the order of the file.
//
//   confirm BYTES [com OFFSET] [exe OFFSET]
//       A confirmation pattern of 1..12 bytes; an offset left out is 0.
//
//   vaccine [FIELD=VALUE ...]
//       One cleaning record (the first of a virus is the one used). Fields:
//       firstWord exeRoutine csFromEnd ipFromEnd ssFromEnd spFromEnd
//       exeCutLength exePreOp comRoutine comPreOp savedOffset savedLength
//       savedOrigin restoreLength comCutLength comPostOp. savedOffset is
//       signed 32-bit, the others 0..65535; a field left out is 0.
//
//   macro "NAME" kind KIND identifier IDENTIFIER
//       Opens the block of one macro virus (display name at most 25 bytes,
//       KIND and IDENTIFIER -32768..32767). Its lines:
//   pattern BYTES
//       Exactly 20 bytes, compared as they are (no wildcard). Required.
//   name "NAME"
//       A macro name (at most 24 bytes), up to 23 of them in order.
//
// Limits refused with the line that breaks them: at most 3,276 signatures,
// 32,767 entries in each of the COM and EXE index lists (one per signature
// and key), 16,383 confirmation patterns, 32,767 vaccines, 32,767 names and
// 110 macro viruses; a virus block must define something.
// ---------------------------------------------------------------------------

#include "tools/ctlbuild/ctl_image.h"

#include <algorithm>
#include <cstring>

#include "common/le.h"
#include "tools/ctlbuild/ctl_checks.h"

// One row per section: what it is called in messages and its record size.
struct CtlSectionInfo {
  const char* name;
  int recordSize;
};

static const CtlSectionInfo kCtlSections[] = {
    {"signature heads", kCtlHeadSize},
    {"COM index list", kCtlListEntrySize},
    {"EXE index list", kCtlListEntrySize},
    {"confirmation index", kCtlConfirmIndexSize},
    {"COM first-byte table", 4},
    {"EXE first-byte table", 4},
    {"signature tails", kCtlTailSize},
    {"confirmation patterns", kCtlConfirmPatternSize},
    {"vaccine index", kCtlListEntrySize},
    {"vaccine records", kCtlVaccineSize},
    {"virus-name index", kCtlListEntrySize},
    {"virus-name records", kCtlNameRecordSize},
    {"macro virus records", kCtlMacroRecordSize},
    {"macro identifier records", kCtlMacroIdSize},
    {"macro name blocks", kCtlMacroNamesSize},
};
static_assert(sizeof(kCtlSections) / sizeof(kCtlSections[0]) == kCtlSectionCount);

// Copies at most `size` bytes of `text` to p; the rest of the field stays 0.
static void PutText(uint8_t* p, size_t size, const std::string& text) {
  std::memcpy(p, text.data(), std::min(size, text.size()));
}

// The text of a NUL-padded field: up to the first NUL, at most `size` bytes.
static std::string GetText(const uint8_t* p, size_t size) {
  size_t n = 0;
  while (n < size && p[n] != 0) n++;
  return std::string((const char*)p, n);
}

// ---------------------------------------------------------------------------
// Checksums.

void ComputeCtlChecksums(const std::vector<uint8_t>& file, uint32_t* sumA, uint32_t* sumB) {
  uint32_t a = 0, b = 0;
  size_t length = file.size();
  size_t chunk = std::min(length, (size_t)kCtlChecksumChunk);
  for (size_t pos = kCtlChecksumFrom; chunk > 0 && pos < length; pos += chunk) {
    size_t n = std::min(chunk, length - pos);
    for (size_t i = 0; i < n; i++) {
      uint32_t t = file[pos + i] ^ (uint32_t)(i & 0xFF);
      a += t;
      b += 255 - t;
    }
  }
  *sumA = a;
  *sumB = b;
}

void SealCtlChecksums(std::vector<uint8_t>* file) {
  if (file->size() < (size_t)kCtlChecksumFrom) return;
  uint32_t a, b;
  ComputeCtlChecksums(*file, &a, &b);
  PutU32(file->data() + kCtlChecksumAAt, a);
  PutU32(file->data() + kCtlChecksumBAt, b);
}

bool VerifyCtlFile(const std::vector<uint8_t>& file, std::string* reason) {
  if (file.size() < (size_t)kCtlHeaderSize) {
    *reason = "the file has " + CtlGrouped((long)file.size()) + " bytes, fewer than the " +
              CtlGrouped(kCtlHeaderSize) + "-byte header";
    return false;
  }
  const uint8_t* h = file.data();
  int n = GetI16(h + kCtlSignatureCountAt);
  if (n < 0 || n > kCtlMaxSignatures) {
    *reason = "the signature count " + std::to_string(n) + " is outside 0.." +
              CtlGrouped(kCtlMaxSignatures);
    return false;
  }
  for (int s = kCtlSecMacros; s <= kCtlSecMacroNames; s++) {
    uint32_t length = GetU32(h + kCtlDirectoryAt + s * kCtlSectionEntrySize + 4);
    if (length >= 65536) {
      *reason = std::string("the ") + kCtlSections[s].name + " are " +
                CtlGrouped((long)length) + " bytes long, 65,536 or more";
      return false;
    }
  }
  uint32_t a, b;
  ComputeCtlChecksums(file, &a, &b);
  if (a != GetU32(h + kCtlChecksumAAt) || b != GetU32(h + kCtlChecksumBAt)) {
    *reason = "the checksums do not match the contents";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Writing.

// Number of records of each section in the image, as the writer lays it out.
static void CountSections(const CtlImage& im, size_t counts[kCtlSectionCount]) {
  counts[kCtlSecHeads] = im.heads.size();
  counts[kCtlSecComList] = im.comList.size();
  counts[kCtlSecExeList] = im.exeList.size();
  counts[kCtlSecConfirmIndex] = im.confirmIndex.size();
  counts[kCtlSecComFirst] = 256;
  counts[kCtlSecExeFirst] = 256;
  counts[kCtlSecTails] = im.tails.size();
  counts[kCtlSecConfirmPatterns] = im.confirmPatterns.size();
  counts[kCtlSecVaccineIndex] = im.vaccineIndex.size();
  counts[kCtlSecVaccines] = im.vaccines.size();
  counts[kCtlSecNameIndex] = im.nameIndex.size();
  counts[kCtlSecNames] = im.names.size();
  counts[kCtlSecMacros] = im.macros.size();
  counts[kCtlSecMacroIds] = im.macros.size();
  counts[kCtlSecMacroNames] = im.macros.size();
}

static void PutHead(uint8_t* p, const CtlHead& r) {
  PutU16(p + 0, (uint16_t)r.comOffset);
  PutU16(p + 2, (uint16_t)r.exeOffset);
  std::memcpy(p + 4, r.head, 4);
}

static void PutTail(uint8_t* p, const CtlTail& r) {
  PutU16(p + 0, (uint16_t)r.virusNumber);
  PutU16(p + 2, (uint16_t)r.comOffset);
  PutU16(p + 4, (uint16_t)r.exeOffset);
  p[6] = (uint8_t)r.tailLength;
  std::memcpy(p + 7, r.tail, 12);
  p[19] = r.needsConfirmation;
}

static void PutConfirmPattern(uint8_t* p, const CtlConfirmPattern& r) {
  PutU16(p + 2, (uint16_t)r.comOffset);
  PutU16(p + 4, (uint16_t)r.exeOffset);
  p[6] = (uint8_t)r.length;
  std::memcpy(p + 7, r.bytes, 12);
}

static void PutVaccine(uint8_t* p, const CtlVaccineRecord& r) {
  const uint16_t words[] = {r.firstWord, r.exeRoutine, r.csFromEnd, r.ipFromEnd,
                            r.ssFromEnd, r.spFromEnd, r.exeCutLength, r.exePreOp,
                            r.comRoutine, r.comPreOp};
  for (int i = 0; i < 10; i++) PutU16(p + 2 * i, words[i]);
  PutU32(p + 20, (uint32_t)r.savedOffset);
  const uint16_t rest[] = {r.savedLength, r.savedOrigin, r.restoreLength, r.comCutLength,
                           r.comPostOp};
  for (int i = 0; i < 5; i++) PutU16(p + 24 + 2 * i, rest[i]);
}

static void PutMacro(uint8_t* rec, uint8_t* id, uint8_t* block, const CtlMacroRecord& m) {
  PutText(rec + 2, kCtlMaxName, m.name);
  PutU16(rec + 27, (uint16_t)m.nameCount);
  PutU16(rec + 31, (uint16_t)m.kind);
  std::memcpy(rec + 33, m.pattern, kCtlMacroPatternSize);
  PutU16(id, (uint16_t)m.identifier);
  // Names at 25-byte steps while the block has room; the last step is cut
  // to what remains of the 594 bytes.
  for (size_t i = 0; i < m.names.size(); i++) {
    size_t at = i * kCtlMacroNameStep;
    if (at >= (size_t)kCtlMacroNamesSize) break;
    size_t room = std::min((size_t)kCtlMacroNameStep, kCtlMacroNamesSize - at);
    PutText(block + at, room, m.names[i]);
  }
}

std::vector<uint8_t> WriteCtlImage(const CtlImage& im) {
  size_t counts[kCtlSectionCount];
  CountSections(im, counts);
  size_t offsets[kCtlSectionCount];
  size_t total = kCtlHeaderSize;
  for (int s = 0; s < kCtlSectionCount; s++) {
    offsets[s] = total;
    total += counts[s] * kCtlSections[s].recordSize;
  }
  std::vector<uint8_t> file(total, 0);
  uint8_t* f = file.data();

  PutText(f, kCtlTitleSize, im.title);
  PutU16(f + kCtlSignatureCountAt, (uint16_t)im.heads.size());
  PutU16(f + kCtlExeListCountAt, (uint16_t)im.exeList.size());
  PutU16(f + kCtlComListCountAt, (uint16_t)im.comList.size());
  PutU16(f + kCtlConfirmCountAt, (uint16_t)im.confirmIndex.size());
  PutU16(f + kCtlVaccineCountAt, (uint16_t)im.vaccineIndex.size());
  PutU16(f + kCtlNameCountAt, (uint16_t)im.nameIndex.size());
  PutU16(f + kCtlMacroCountAt, (uint16_t)im.macros.size());
  for (int s = 0; s < kCtlSectionCount; s++) {
    uint8_t* e = f + kCtlDirectoryAt + s * kCtlSectionEntrySize;
    PutU32(e, (uint32_t)offsets[s]);
    PutU32(e + 4, (uint32_t)(counts[s] * kCtlSections[s].recordSize));
  }

  for (size_t i = 0; i < im.heads.size(); i++)
    PutHead(f + offsets[kCtlSecHeads] + i * kCtlHeadSize, im.heads[i]);
  for (size_t i = 0; i < im.comList.size(); i++)
    PutU16(f + offsets[kCtlSecComList] + 2 * i, (uint16_t)im.comList[i]);
  for (size_t i = 0; i < im.exeList.size(); i++)
    PutU16(f + offsets[kCtlSecExeList] + 2 * i, (uint16_t)im.exeList[i]);
  for (size_t i = 0; i < im.confirmIndex.size(); i++) {
    uint8_t* p = f + offsets[kCtlSecConfirmIndex] + i * kCtlConfirmIndexSize;
    PutU16(p, im.confirmIndex[i].patternNumber);
    PutU16(p + 2, (uint16_t)im.confirmIndex[i].virusNumber);
  }
  for (int b = 0; b < 256; b++) {
    uint8_t* p = f + offsets[kCtlSecComFirst] + 4 * b;
    PutU16(p, im.comFirst[b].start);
    PutU16(p + 2, im.comFirst[b].count);
    p = f + offsets[kCtlSecExeFirst] + 4 * b;
    PutU16(p, im.exeFirst[b].start);
    PutU16(p + 2, im.exeFirst[b].count);
  }
  for (size_t i = 0; i < im.tails.size(); i++)
    PutTail(f + offsets[kCtlSecTails] + i * kCtlTailSize, im.tails[i]);
  for (size_t i = 0; i < im.confirmPatterns.size(); i++)
    PutConfirmPattern(f + offsets[kCtlSecConfirmPatterns] + i * kCtlConfirmPatternSize,
                      im.confirmPatterns[i]);
  for (size_t i = 0; i < im.vaccineIndex.size(); i++)
    PutU16(f + offsets[kCtlSecVaccineIndex] + 2 * i, (uint16_t)im.vaccineIndex[i]);
  for (size_t i = 0; i < im.vaccines.size(); i++)
    PutVaccine(f + offsets[kCtlSecVaccines] + i * kCtlVaccineSize, im.vaccines[i]);
  for (size_t i = 0; i < im.nameIndex.size(); i++)
    PutU16(f + offsets[kCtlSecNameIndex] + 2 * i, (uint16_t)im.nameIndex[i]);
  for (size_t i = 0; i < im.names.size(); i++)
    PutText(f + offsets[kCtlSecNames] + i * kCtlNameRecordSize + 2, kCtlMaxName, im.names[i]);
  for (size_t i = 0; i < im.macros.size(); i++)
    PutMacro(f + offsets[kCtlSecMacros] + i * kCtlMacroRecordSize,
             f + offsets[kCtlSecMacroIds] + i * kCtlMacroIdSize,
             f + offsets[kCtlSecMacroNames] + i * kCtlMacroNamesSize, im.macros[i]);

  SealCtlChecksums(&file);
  return file;
}

// ---------------------------------------------------------------------------
// Reading.

// Where one section's records lie; `fit` is how many of the `count` wanted
// records lie wholly inside the file.
struct CtlSectionSpan {
  size_t offset;
  size_t count;
  size_t fit;
};

// Locates section s with `count` records and notes the first section that
// does not fit in *error. Returns the records that can be read.
static CtlSectionSpan LocateSection(const std::vector<uint8_t>& file, int s, long count,
                                    bool* ok, std::string* error) {
  const uint8_t* e = file.data() + kCtlDirectoryAt + s * kCtlSectionEntrySize;
  CtlSectionSpan span{GetU32(e), count < 0 ? 0 : (size_t)count, 0};
  size_t size = (size_t)kCtlSections[s].recordSize;
  if (span.offset <= file.size())
    span.fit = std::min(span.count, (file.size() - span.offset) / size);
  if (*ok && count < 0) {
    *ok = false;
    *error = std::string("the count of the ") + kCtlSections[s].name + " is negative (" +
             std::to_string(count) + ")";
  } else if (*ok && span.fit < span.count) {
    *ok = false;
    *error = std::string("section ") + std::to_string(s) + " (" + kCtlSections[s].name +
             ", " + CtlGrouped((long)span.count) + " records at offset " +
             CtlGrouped((long)span.offset) + ") lies outside the file of " +
             CtlGrouped((long)file.size()) + " bytes";
  }
  return span;
}

static CtlHead GetHead(const uint8_t* p) {
  CtlHead r{};
  r.comOffset = GetI16(p);
  r.exeOffset = GetI16(p + 2);
  std::memcpy(r.head, p + 4, 4);
  return r;
}

static CtlTail GetTail(const uint8_t* p) {
  CtlTail r{};
  r.virusNumber = GetI16(p);
  r.comOffset = GetI16(p + 2);
  r.exeOffset = GetI16(p + 4);
  r.tailLength = (int8_t)p[6];
  std::memcpy(r.tail, p + 7, 12);
  r.needsConfirmation = p[19];
  return r;
}

static CtlConfirmPattern GetConfirmPattern(const uint8_t* p) {
  CtlConfirmPattern r{};
  r.comOffset = GetI16(p + 2);
  r.exeOffset = GetI16(p + 4);
  r.length = (int8_t)p[6];
  std::memcpy(r.bytes, p + 7, 12);
  return r;
}

static CtlVaccineRecord GetVaccine(const uint8_t* p) {
  CtlVaccineRecord r{};
  uint16_t* words[] = {&r.firstWord, &r.exeRoutine, &r.csFromEnd, &r.ipFromEnd,
                       &r.ssFromEnd, &r.spFromEnd, &r.exeCutLength, &r.exePreOp,
                       &r.comRoutine, &r.comPreOp};
  for (int i = 0; i < 10; i++) *words[i] = GetU16(p + 2 * i);
  r.savedOffset = GetI32(p + 20);
  uint16_t* rest[] = {&r.savedLength, &r.savedOrigin, &r.restoreLength, &r.comCutLength,
                      &r.comPostOp};
  for (int i = 0; i < 5; i++) *rest[i] = GetU16(p + 24 + 2 * i);
  return r;
}

// A macro virus from its three records. The names read are those its count
// asks for (at most 23) and any further non-empty ones of the 23 steps.
static CtlMacroRecord GetMacro(const uint8_t* rec, const uint8_t* id, const uint8_t* block) {
  CtlMacroRecord m{};
  m.name = GetText(rec + 2, kCtlMaxName);
  m.nameCount = GetI16(rec + 27);
  m.kind = GetI16(rec + 31);
  std::memcpy(m.pattern, rec + 33, kCtlMacroPatternSize);
  m.identifier = GetI16(id);
  int used = std::clamp((int)m.nameCount, 0, kCtlMaxMacroNames);
  for (int i = 0; i < kCtlMaxMacroNames; i++)
    if (block[i * kCtlMacroNameStep] != 0) used = std::max(used, i + 1);
  for (int i = 0; i < used; i++)
    m.names.push_back(GetText(block + i * kCtlMacroNameStep, kCtlMacroNameStep));
  return m;
}

bool ReadCtlImage(const std::vector<uint8_t>& file, CtlImage* image, std::string* error) {
  *image = CtlImage{};
  if (file.size() < (size_t)kCtlHeaderSize) {
    *error = "the file has " + CtlGrouped((long)file.size()) + " bytes, fewer than the " +
             CtlGrouped(kCtlHeaderSize) + "-byte header";
    return false;
  }
  const uint8_t* f = file.data();
  bool ok = true;
  image->title = GetText(f, kCtlTitleSize);
  long n = GetI16(f + kCtlSignatureCountAt);
  long m = GetI16(f + kCtlMacroCountAt);

  CtlSectionSpan sp = LocateSection(file, kCtlSecHeads, n, &ok, error);
  for (size_t i = 0; i < sp.fit; i++)
    image->heads.push_back(GetHead(f + sp.offset + i * kCtlHeadSize));
  sp = LocateSection(file, kCtlSecComList, GetI16(f + kCtlComListCountAt), &ok, error);
  for (size_t i = 0; i < sp.fit; i++) image->comList.push_back(GetI16(f + sp.offset + 2 * i));
  sp = LocateSection(file, kCtlSecExeList, GetI16(f + kCtlExeListCountAt), &ok, error);
  for (size_t i = 0; i < sp.fit; i++) image->exeList.push_back(GetI16(f + sp.offset + 2 * i));
  sp = LocateSection(file, kCtlSecConfirmIndex, GetI16(f + kCtlConfirmCountAt), &ok, error);
  long patterns = 0;
  for (size_t i = 0; i < sp.fit; i++) {
    const uint8_t* p = f + sp.offset + i * kCtlConfirmIndexSize;
    CtlConfirmIndex e{GetU16(p), GetI16(p + 2)};
    image->confirmIndex.push_back(e);
    patterns = std::max(patterns, (long)e.patternNumber + 1);
  }
  sp = LocateSection(file, kCtlSecComFirst, 256, &ok, error);
  for (size_t b = 0; b < sp.fit; b++) {
    const uint8_t* p = f + sp.offset + 4 * b;
    image->comFirst[b] = CtlFirstByte{GetU16(p), GetU16(p + 2)};
  }
  sp = LocateSection(file, kCtlSecExeFirst, 256, &ok, error);
  for (size_t b = 0; b < sp.fit; b++) {
    const uint8_t* p = f + sp.offset + 4 * b;
    image->exeFirst[b] = CtlFirstByte{GetU16(p), GetU16(p + 2)};
  }
  sp = LocateSection(file, kCtlSecTails, n, &ok, error);
  for (size_t i = 0; i < sp.fit; i++)
    image->tails.push_back(GetTail(f + sp.offset + i * kCtlTailSize));
  sp = LocateSection(file, kCtlSecConfirmPatterns, patterns, &ok, error);
  for (size_t i = 0; i < sp.fit; i++)
    image->confirmPatterns.push_back(GetConfirmPattern(f + sp.offset + i * kCtlConfirmPatternSize));
  long vaccines = GetI16(f + kCtlVaccineCountAt);
  sp = LocateSection(file, kCtlSecVaccineIndex, vaccines, &ok, error);
  for (size_t i = 0; i < sp.fit; i++) image->vaccineIndex.push_back(GetI16(f + sp.offset + 2 * i));
  sp = LocateSection(file, kCtlSecVaccines, vaccines, &ok, error);
  for (size_t i = 0; i < sp.fit; i++)
    image->vaccines.push_back(GetVaccine(f + sp.offset + i * kCtlVaccineSize));
  long names = GetI16(f + kCtlNameCountAt);
  sp = LocateSection(file, kCtlSecNameIndex, names, &ok, error);
  for (size_t i = 0; i < sp.fit; i++) image->nameIndex.push_back(GetI16(f + sp.offset + 2 * i));
  sp = LocateSection(file, kCtlSecNames, names, &ok, error);
  for (size_t i = 0; i < sp.fit; i++)
    image->names.push_back(GetText(f + sp.offset + i * kCtlNameRecordSize + 2, kCtlMaxName));
  CtlSectionSpan rec = LocateSection(file, kCtlSecMacros, m, &ok, error);
  CtlSectionSpan ids = LocateSection(file, kCtlSecMacroIds, m, &ok, error);
  CtlSectionSpan blocks = LocateSection(file, kCtlSecMacroNames, m, &ok, error);
  size_t macros = std::min(rec.fit, std::min(ids.fit, blocks.fit));
  for (size_t i = 0; i < macros; i++)
    image->macros.push_back(GetMacro(f + rec.offset + i * kCtlMacroRecordSize,
                                     f + ids.offset + i * kCtlMacroIdSize,
                                     f + blocks.offset + i * kCtlMacroNamesSize));
  return ok;
}
