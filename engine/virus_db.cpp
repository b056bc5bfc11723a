// The virus database: see virus_db.h.
//
// The file is hostile input like any other: counts are checked before they
// size a table, every table is read at most to the size it was given, and
// every record read on demand is checked for a whole read.
#include "engine/virus_db.h"

#include <cstring>
#include <string>

#include "common/le.h"
#include "platform/files.h"
#include "platform/memory.h"

static VirusDatabase gDb;

// Record sizes of the sections, by number; 0 where the size follows from a
// separate rule (first-byte tables, macro blocks).
static const int kRecordSize[kDbSections] = {8, 2, 2, 4, 4, 4, 20, 20, 2, 34, 2, 27, 54, 44, 594};

// Header offsets of the counts.
enum : int {
  kHdrChecksumA = 80,
  kHdrChecksumB = 84,
  kHdrSignatures = 349,
  kHdrExeList = 351,
  kHdrComList = 353,
  kHdrConfirm = 355,
  kHdrVaccines = 357,
  kHdrNames = 359,
  kHdrMacros = 369,
  kHdrDirectory = 375,
};

constexpr uint32_t kChecksumChunk = 8096;
constexpr int32_t kTableLimit = 65536;   // no table of N records may reach this

const VirusDatabase& VirusDb() { return gDb; }

void DecodeVaccineRecord(const uint8_t* r, VaccineRecord* v) {
  v->firstWord = GetU16(r + 0);
  v->exeRoutine = GetU16(r + 2);
  v->csFromEnd = GetU16(r + 4);
  v->ipFromEnd = GetU16(r + 6);
  v->ssFromEnd = GetU16(r + 8);
  v->spFromEnd = GetU16(r + 10);
  v->exeCutLength = GetU16(r + 12);
  v->exePreOp = GetU16(r + 14);
  v->comRoutine = GetU16(r + 16);
  v->comPreOp = GetU16(r + 18);
  v->savedOffset = GetI32(r + 20);
  v->savedLength = GetU16(r + 24);
  v->savedOrigin = GetU16(r + 26);
  v->restoreLength = GetU16(r + 28);
  v->comCutLength = GetU16(r + 30);
  v->comPostOp = GetU16(r + 32);
}

static void DecodeTail(const uint8_t* r, SignatureTail* t) {
  t->virusNumber = GetI16(r);
  t->comOffset = GetI16(r + 2);
  t->exeOffset = GetI16(r + 4);
  int8_t len = (int8_t)r[6];
  t->tailLength = len < 0 ? 0 : len > 12 ? 12 : len;
  std::memcpy(t->tail, r + 7, 12);
  t->needsConfirmation = r[19];
}

void FreeVirusDatabase() {
  PlatFree(gDb.heads);
  PlatFree(gDb.comList);
  PlatFree(gDb.exeList);
  PlatFree(gDb.confirmIndex);
  PlatFree(gDb.vaccineIndex);
  PlatFree(gDb.nameIndex);
  PlatFree(gDb.tails);
  PlatFree(gDb.macroRecords);
  PlatFree(gDb.macroIdentifiers);
  PlatFree(gDb.macroNames);
  char path[sizeof gDb.path];
  std::memcpy(path, gDb.path, sizeof path);
  gDb = VirusDatabase{};
  std::memcpy(gDb.path, path, sizeof path);
}

// Checks the two sums over bytes 88 .. L-1. Returns nullptr when they
// match, else the failure text.
static const char* VerifyChecksum(FileHandle h) {
  int64_t length = PlatSeek(h, 0, kSeekEnd);
  if (length <= 0) return kDbReadFailure;
  if (PlatSeek(h, 88, kSeekBegin) < 0) return kDbReadFailure;
  uint32_t chunk = length < (int64_t)kChecksumChunk ? (uint32_t)length : kChecksumChunk;
  static uint8_t buf[kChecksumChunk];
  uint32_t a = 0, b = 0;
  for (;;) {
    int32_t n = PlatReadFile(h, buf, chunk);
    if (n <= 0) break;
    for (int32_t i = 0; i < n; i++) {
      uint32_t t = buf[i] ^ (uint32_t)(i & 0xFF);
      a += t;
      b += 255 - t;
    }
  }
  if (a != GetU32(gDb.header + kHdrChecksumA) || b != GetU32(gDb.header + kHdrChecksumB))
    return kDbChecksumFailure;
  return nullptr;
}

// Seeks to a section and reads up to want bytes into dst; the rest of dst
// stays zero. The directory length (limited to its low 16 bits for the
// small tables) decides how much is read, but never more than the table.
static bool ReadSection(FileHandle h, int section, void* dst, uint32_t tableBytes,
                        uint32_t dirLength) {
  uint32_t want = dirLength < tableBytes ? dirLength : tableBytes;
  if (PlatSeek(h, gDb.sections[section].offset, kSeekBegin) < 0) return false;
  if (want == 0) return true;
  return PlatReadFile(h, dst, want) == (int32_t)want;
}

static void* TakeTable(int32_t count, int recordSize, bool* ok) {
  void* p = PlatAlloc((size_t)(count > 0 ? count : 1) * (size_t)recordSize);
  if (!p) *ok = false;
  return p;
}

static const char* LoadTables(FileHandle h) {
  // 2. Header.
  if (PlatSeek(h, 0, kSeekBegin) < 0) return kDbReadFailure;
  if (PlatReadFile(h, gDb.header, kDbHeaderSize) != kDbHeaderSize) return kDbReadFailure;
  const uint8_t* hd = gDb.header;
  gDb.signatureCount = GetI16(hd + kHdrSignatures);
  gDb.exeListCount = GetI16(hd + kHdrExeList);
  gDb.comListCount = GetI16(hd + kHdrComList);
  gDb.confirmCount = GetI16(hd + kHdrConfirm);
  gDb.vaccineCount = GetI16(hd + kHdrVaccines);
  gDb.nameCount = GetI16(hd + kHdrNames);
  gDb.macroVirusCount = GetI16(hd + kHdrMacros);
  for (int s = 0; s < kDbSections; s++) {
    gDb.sections[s].offset = GetU32(hd + kHdrDirectory + 8 * s);
    gDb.sections[s].length = GetU32(hd + kHdrDirectory + 8 * s + 4);
  }

  // 3. Checksum.
  if (const char* why = VerifyChecksum(h)) return why;

  // Counts must describe tables that can exist: none negative, the
  // signature tables and the macro blocks below 65,536 bytes.
  int32_t n = gDb.signatureCount;
  if (n < 0 || gDb.exeListCount < 0 || gDb.comListCount < 0 || gDb.confirmCount < 0 ||
      gDb.vaccineCount < 0 || gDb.nameCount < 0 || gDb.macroVirusCount < 0)
    return kDbReadFailure;
  if (n * 8 >= kTableLimit || n * 20 >= kTableLimit) return kDbReadFailure;
  for (int s = 12; s <= 14; s++)
    if (gDb.sections[s].length >= (uint32_t)kTableLimit) return kDbReadFailure;

  // 4. Memory for the tables.
  bool ok = true;
  gDb.heads = (SignatureHead*)TakeTable(n, sizeof(SignatureHead), &ok);
  gDb.comList = (int16_t*)TakeTable(gDb.comListCount, 2, &ok);
  gDb.exeList = (int16_t*)TakeTable(gDb.exeListCount, 2, &ok);
  gDb.confirmIndex = (ConfirmIndexEntry*)TakeTable(gDb.confirmCount, sizeof(ConfirmIndexEntry), &ok);
  gDb.vaccineIndex = (int16_t*)TakeTable(gDb.vaccineCount, 2, &ok);
  gDb.nameIndex = (int16_t*)TakeTable(gDb.nameCount, 2, &ok);
  for (int s = 12; s <= 14; s++) gDb.macroLengths[s - 12] = gDb.sections[s].length;
  gDb.macroRecords = (uint8_t*)TakeTable((int32_t)gDb.macroLengths[0], 1, &ok);
  gDb.macroIdentifiers = (uint8_t*)TakeTable((int32_t)gDb.macroLengths[1], 1, &ok);
  gDb.macroNames = (uint8_t*)TakeTable((int32_t)gDb.macroLengths[2], 1, &ok);
  if (!ok) return kDbMemoryFailure;

  // 5. Tails, when the memory can be had.
  uint8_t* raw = (uint8_t*)PlatAlloc((size_t)(n > 0 ? n : 1) * 20);
  if (raw) {
    gDb.tails = (SignatureTail*)PlatAlloc((size_t)(n > 0 ? n : 1) * sizeof(SignatureTail));
    if (!gDb.tails) {
      PlatFree(raw);
      raw = nullptr;
    }
  }
  if (raw) {
    uint32_t bytes = (uint32_t)n * 20;
    bool read = PlatSeek(h, gDb.sections[6].offset, kSeekBegin) >= 0 &&
                (bytes == 0 || PlatReadFile(h, raw, bytes) == (int32_t)bytes);
    if (!read) {
      PlatFree(raw);
      return kDbReadFailure;
    }
    for (int32_t i = 0; i < n; i++) DecodeTail(raw + 20 * i, &gDb.tails[i]);
    PlatFree(raw);
    gDb.tailsInMemory = true;
  }

  // 6. The sections kept in memory. Section 0 is read by its count; the
  // small tables by the low 16 bits of their directory lengths.
  auto len16 = [](int s) { return gDb.sections[s].length & 0xFFFFu; };
  {
    uint32_t bytes = (uint32_t)n * 8;
    uint8_t* h0 = (uint8_t*)PlatAlloc(bytes ? bytes : 1);
    if (!h0) return kDbMemoryFailure;
    bool read = ReadSection(h, 0, h0, bytes, bytes);
    for (int32_t i = 0; read && i < n; i++) {
      gDb.heads[i].comOffset = GetI16(h0 + 8 * i);
      gDb.heads[i].exeOffset = GetI16(h0 + 8 * i + 2);
      std::memcpy(gDb.heads[i].head, h0 + 8 * i + 4, 4);
    }
    PlatFree(h0);
    if (!read) return kDbReadFailure;
  }
  // Lists and indexes are stored little-endian; decode after reading.
  static uint8_t table[kTableLimit];
  struct {
    int section;
    int32_t count;
    int recordSize;
  } const lists[] = {
      {1, gDb.comListCount, 2}, {2, gDb.exeListCount, 2}, {3, gDb.confirmCount, 4},
      {4, 256, 4},              {5, 256, 4},              {8, gDb.vaccineCount, 2},
      {10, gDb.nameCount, 2},
  };
  for (const auto& l : lists) {
    uint32_t bytes = (uint32_t)l.count * (uint32_t)l.recordSize;
    if (bytes > sizeof table) bytes = sizeof table;
    std::memset(table, 0, bytes);
    if (!ReadSection(h, l.section, table, bytes, len16(l.section))) return kDbReadFailure;
    for (int32_t i = 0; i < l.count && (uint32_t)(i * l.recordSize) < bytes; i++) {
      const uint8_t* r = table + i * l.recordSize;
      switch (l.section) {
        case 1: gDb.comList[i] = GetI16(r); break;
        case 2: gDb.exeList[i] = GetI16(r); break;
        case 3: gDb.confirmIndex[i] = {GetU16(r), GetI16(r + 2)}; break;
        case 4: gDb.comFirst[i] = {GetU16(r), GetU16(r + 2)}; break;
        case 5: gDb.exeFirst[i] = {GetU16(r), GetU16(r + 2)}; break;
        case 8: gDb.vaccineIndex[i] = GetI16(r); break;
        case 10: gDb.nameIndex[i] = GetI16(r); break;
      }
    }
  }
  for (int s = 12; s <= 14; s++) {
    uint8_t* dst = s == 12 ? gDb.macroRecords : s == 13 ? gDb.macroIdentifiers : gDb.macroNames;
    uint32_t len = gDb.macroLengths[s - 12];
    if (!ReadSection(h, s, dst, len, len)) return kDbReadFailure;
  }
  return nullptr;
}

bool LoadVirusDatabaseFrom(const char* path, const char** failure) {
  FreeVirusDatabase();
  gDb.path[0] = 0;
  // A path that does not fit is refused rather than cut, so that a cut
  // name can never open some other file.
  if (std::strlen(path) > kDbPathMax) {
    *failure = kDbOpenFailure;
    return false;
  }
  std::strcpy(gDb.path, path);
  // 1. Open, shared with other readers and writers.
  FileHandle h = PlatOpenFile(gDb.path, kAccessRead);
  if (h == kNoFile) {
    *failure = kDbOpenFailure;
    return false;
  }
  const char* why = LoadTables(h);
  PlatCloseFile(h);
  if (why) {
    FreeVirusDatabase();
    *failure = why;
    return false;
  }
  *failure = nullptr;
  return true;
}

bool LoadVirusDatabase(const char** failure) {
  std::string path = PlatGetModulePath();
  size_t cut = path.find_last_of('\\');
  path = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  path += "QUELTAN.CTL";
  return LoadVirusDatabaseFrom(path.c_str(), failure);
}

// Reads one record of a section: opens the file, reads, closes.
static bool ReadRecord(int section, int32_t number, void* out) {
  if (number < 0 || gDb.path[0] == 0) return false;
  FileHandle h = PlatOpenFile(gDb.path, kAccessRead);
  if (h == kNoFile) return false;
  int64_t pos = (int64_t)gDb.sections[section].offset + (int64_t)number * kRecordSize[section];
  int size = kRecordSize[section];
  bool ok = PlatSeek(h, pos, kSeekBegin) >= 0 && PlatReadFile(h, out, (uint32_t)size) == size;
  PlatCloseFile(h);
  return ok;
}

bool GetSignatureTail(int32_t signatureNumber, SignatureTail* out) {
  if (signatureNumber < 0 || signatureNumber >= gDb.signatureCount) return false;
  if (gDb.tailsInMemory) {
    *out = gDb.tails[signatureNumber];
    return true;
  }
  uint8_t raw[20];
  if (!ReadRecord(6, signatureNumber, raw)) return false;
  DecodeTail(raw, out);
  return true;
}

bool ReadConfirmPattern(int32_t patternNumber, ConfirmPattern* out) {
  uint8_t raw[20];
  if (!ReadRecord(7, patternNumber, raw)) return false;
  out->comOffset = GetI16(raw + 2);
  out->exeOffset = GetI16(raw + 4);
  int8_t len = (int8_t)raw[6];
  out->length = len < 0 ? 0 : len > 12 ? 12 : len;
  std::memcpy(out->bytes, raw + 7, 12);
  return true;
}

void FindVirusName(int16_t virusNumber, char* out) {
  for (int32_t k = 0; k < gDb.nameCount; k++) {
    if (gDb.nameIndex[k] != virusNumber) continue;
    uint8_t raw[27];
    if (!ReadRecord(11, k, raw)) continue;
    std::memcpy(out, raw + 2, kNameLength);
    out[kNameLength] = 0;
    return;
  }
  std::strcpy(out, "unknown");
}

VaccineLookup FindVaccine(int16_t virusNumber, VaccineRecord* out) {
  for (int32_t k = 0; k < gDb.vaccineCount; k++) {
    if (gDb.vaccineIndex[k] != virusNumber) continue;
    uint8_t raw[kVaccineRecordSize];
    if (!ReadRecord(9, k, raw)) return kVaccineUnreadable;
    DecodeVaccineRecord(raw, out);
    return kVaccineFound;
  }
  return kVaccineNotFound;
}
