// The virus database as the builder sees it, in two layers.
//
// CtlImage is the file's content section by section, exactly as it will be
// laid out: the writer only adds the header, the section directory, the
// counts and the two checksums. Tests use it to build hostile databases
// (wrong counts, lists that point nowhere) that the source form refuses.
//
// CtlDatabase is the readable form an administrator writes: viruses with
// their names, signatures (with the entry-point bytes they are filed under),
// confirmation patterns and vaccines, and the macro viruses. It compiles to
// a CtlImage, and a CtlImage decompiles back to it for --dump.
//
// State: none; every routine works on the values it is given.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// File layout of QUELTAN.CTL.

constexpr int kCtlHeaderSize = 817;          // DatabaseHeader
constexpr int kCtlTitleSize = 80;            // bytes 0..79, NUL-padded
constexpr int kCtlChecksumAAt = 80;          // uint32 checksumA
constexpr int kCtlChecksumBAt = 84;          // uint32 checksumB
constexpr int kCtlChecksumFrom = 88;         // first byte the sums cover
constexpr int kCtlChecksumChunk = 8096;      // byte numbering restarts per chunk
constexpr int kCtlSignatureCountAt = 349;    // int16 N
constexpr int kCtlExeListCountAt = 351;      // int16 entries of section 2
constexpr int kCtlComListCountAt = 353;      // int16 entries of section 1
constexpr int kCtlConfirmCountAt = 355;      // int16 entries of section 3
constexpr int kCtlVaccineCountAt = 357;      // int16 entries of sections 8 and 9
constexpr int kCtlNameCountAt = 359;         // int16 entries of sections 10 and 11
constexpr int kCtlMacroCountAt = 369;        // int16 M
constexpr int kCtlDirectoryAt = 375;         // 15 SectionEntry (uint32 offset, uint32 length)
constexpr int kCtlSectionEntrySize = 8;
constexpr int kCtlSectionCount = 15;

enum CtlSection {
  kCtlSecHeads = 0, kCtlSecComList, kCtlSecExeList, kCtlSecConfirmIndex,
  kCtlSecComFirst, kCtlSecExeFirst, kCtlSecTails, kCtlSecConfirmPatterns,
  kCtlSecVaccineIndex, kCtlSecVaccines, kCtlSecNameIndex, kCtlSecNames,
  kCtlSecMacros, kCtlSecMacroIds, kCtlSecMacroNames,
};

// Record sizes.
constexpr int kCtlHeadSize = 8;
constexpr int kCtlTailSize = 20;
constexpr int kCtlListEntrySize = 2;
constexpr int kCtlConfirmIndexSize = 4;
constexpr int kCtlFirstByteTableSize = 1024;
constexpr int kCtlConfirmPatternSize = 20;
constexpr int kCtlVaccineSize = 34;
constexpr int kCtlNameRecordSize = 27;
constexpr int kCtlMacroRecordSize = 54;
constexpr int kCtlMacroIdSize = 44;
constexpr int kCtlMacroNamesSize = 594;
constexpr int kCtlMacroNameStep = 25;        // names stand at 25-byte steps in a block

// Limits the compiler and the source reader enforce. The loader keeps only
// the low 16 bits of the length of sections 1-5, 8 and 10 and refuses
// N x 20 >= 65,536 and a macro section of 65,536 bytes or more, so every
// section must stay below 65,536 bytes.
constexpr int kCtlMaxSignatures = 3276;      // 3,276 x 20 = 65,520
constexpr int kCtlMaxListEntries = 32767;    // COM or EXE index list (2 bytes each)
constexpr int kCtlMaxUnderOneByte = 32767;   // FirstByteTable count
constexpr int kCtlMaxConfirms = 16383;       // confirmation index (4 bytes each)
constexpr int kCtlMaxVaccines = 32767;       // vaccine index (2 bytes each)
constexpr int kCtlMaxNames = 32767;          // virus-name index (2 bytes each)
constexpr int kCtlMaxMacros = 110;           // 110 x 594 = 65,340
constexpr int kCtlMinSignature = 5;          // pattern bytes: 4 in the head, 1..12 in the tail
constexpr int kCtlMaxSignature = 16;
constexpr int kCtlMinConfirm = 1;
constexpr int kCtlMaxConfirm = 12;
constexpr int kCtlMaxName = 25;              // display name (no terminator at 25)
constexpr int kCtlMaxMacroName = 24;         // macro name, with its NUL in a 25-byte step
constexpr int kCtlMaxMacroNames = 23;        // 23 x 25 = 575 <= 594
constexpr int kCtlMacroPatternSize = 20;
constexpr uint8_t kCtlWildcard = 0x90;       // matches any byte in a pattern

// ---------------------------------------------------------------------------
// The image: one member per section, records in file order.

struct CtlHead {               // section 0, 8 bytes
  int16_t comOffset;
  int16_t exeOffset;
  uint8_t head[4];
  bool operator==(const CtlHead&) const = default;
};

struct CtlTail {               // section 6, 20 bytes
  int16_t virusNumber;
  int16_t comOffset;
  int16_t exeOffset;
  int8_t tailLength;           // 1..12 in a sound database
  uint8_t tail[12];
  uint8_t needsConfirmation;
  bool operator==(const CtlTail&) const = default;
};

struct CtlFirstByte {          // sections 4 and 5, 4 bytes each, 256 of them
  uint16_t start;
  uint16_t count;
  bool operator==(const CtlFirstByte&) const = default;
};

struct CtlConfirmIndex {       // section 3, 4 bytes
  uint16_t patternNumber;
  int16_t virusNumber;
  bool operator==(const CtlConfirmIndex&) const = default;
};

struct CtlConfirmPattern {     // section 7, 20 bytes
  int16_t comOffset;
  int16_t exeOffset;
  int8_t length;               // 1..12
  uint8_t bytes[12];
  bool operator==(const CtlConfirmPattern&) const = default;
};

struct CtlVaccineRecord {      // section 9, 34 bytes, field by field
  uint16_t firstWord;          // offset 0, not read by the service
  uint16_t exeRoutine;
  uint16_t csFromEnd, ipFromEnd, ssFromEnd, spFromEnd;
  uint16_t exeCutLength, exePreOp;
  uint16_t comRoutine;
  uint16_t comPreOp;
  int32_t savedOffset;
  uint16_t savedLength, savedOrigin, restoreLength, comCutLength, comPostOp;
  bool operator==(const CtlVaccineRecord&) const = default;
};

struct CtlMacroRecord {        // sections 12, 13 and 14, one of each per virus
  std::string name;            // display name, at most 25 bytes
  int16_t nameCount;           // names used in the name block
  int16_t kind;                // 50 or 55 are known
  uint8_t pattern[20];
  int16_t identifier;          // section 13, offset 0
  std::vector<std::string> names;   // section 14: up to 23 names of up to 24 bytes
  bool operator==(const CtlMacroRecord&) const = default;
};

struct CtlImage {
  std::string title;                       // header bytes 0..79
  std::vector<CtlHead> heads;              // section 0
  std::vector<CtlTail> tails;              // section 6 (same count as heads)
  std::vector<int16_t> comList;            // section 1
  std::vector<int16_t> exeList;            // section 2
  std::vector<CtlConfirmIndex> confirmIndex;      // section 3
  std::array<CtlFirstByte, 256> comFirst{};       // section 4
  std::array<CtlFirstByte, 256> exeFirst{};       // section 5
  std::vector<CtlConfirmPattern> confirmPatterns; // section 7
  std::vector<int16_t> vaccineIndex;       // section 8
  std::vector<CtlVaccineRecord> vaccines;  // section 9 (parallel to 8)
  std::vector<int16_t> nameIndex;          // section 10
  std::vector<std::string> names;          // section 11 (parallel to 10), <= 25 bytes
  std::vector<CtlMacroRecord> macros;      // sections 12..14
  bool operator==(const CtlImage&) const = default;
};

// Writes the complete file: header with counts, section directory and both
// checksums, then the sections in order 0..14. Every count in the header and
// every section size comes from the vector sizes, so a raw image is written
// as given (strings longer than their field are cut to it).
std::vector<uint8_t> WriteCtlImage(const CtlImage& image);

// Recomputes checksumA and checksumB of a whole file in place (used after a
// test has tampered with the bytes on purpose, or by the writer).
void SealCtlChecksums(std::vector<uint8_t>* file);

// The two sums over bytes 88 .. end as the service computes them; a file of
// 88 bytes or fewer gives 0 and 0.
void ComputeCtlChecksums(const std::vector<uint8_t>& file, uint32_t* sumA, uint32_t* sumB);

// Reads a file back into an image. Returns false with a reason in *error
// when the file is too short for its header or a section lies outside it.
// Even then *image holds every record that lies inside the file. The
// confirmation patterns read are those the confirmation index refers to.
bool ReadCtlImage(const std::vector<uint8_t>& file, CtlImage* image, std::string* error);

// The checks the service makes at load beyond the section reads: the header
// is complete, N is 0..3,276, the macro sections are below 65,536 bytes and
// both checksums agree. False with the first reason otherwise.
bool VerifyCtlFile(const std::vector<uint8_t>& file, std::string* reason);

// ---------------------------------------------------------------------------
// The readable form.

struct CtlSignatureDef {
  int16_t comOffset;
  int16_t exeOffset;
  std::vector<uint8_t> pattern;     // 5..16 bytes; 0x90 is the wildcard
  bool needsConfirmation;
  std::vector<uint8_t> comKeys;     // entry-point bytes it is filed under
  std::vector<uint8_t> exeKeys;     //   in the COM and the EXE first-byte table
  bool operator==(const CtlSignatureDef&) const = default;
};

struct CtlConfirmDef {
  int16_t comOffset;
  int16_t exeOffset;
  std::vector<uint8_t> pattern;     // 1..12 bytes
  bool operator==(const CtlConfirmDef&) const = default;
};

struct CtlVirusDef {
  int16_t number;
  std::vector<std::string> names;   // first is the display name; more give
                                    // further name records for the number
  std::vector<CtlSignatureDef> signatures;
  std::vector<CtlConfirmDef> confirms;
  std::vector<CtlVaccineRecord> vaccines;   // the first one is the one used
  bool operator==(const CtlVirusDef&) const = default;
};

struct CtlDatabase {
  std::string title;
  std::vector<CtlVirusDef> viruses;
  std::vector<CtlMacroRecord> macros;
  bool operator==(const CtlDatabase&) const = default;
};

// Compiles the readable form. Fails with a reason when a limit is broken
// (more than 3,276 signatures, a pattern of the wrong length, a name longer
// than 25 bytes, more than 32,767 signatures under one entry byte, ...).
// Key bytes are taken as given (duplicates count once); the default key of
// the source form is the parser's business. A macro's nameCount must equal
// its number of names.
bool CompileCtlDatabase(const CtlDatabase& db, CtlImage* image, std::string* error);
// The inverse, for --dump: any image, also one not made by the compiler.
// What the source form cannot express is dropped; with `notes` each such
// loss is described there, one line each.
CtlDatabase DecompileCtlImage(const CtlImage& image);
CtlDatabase DecompileCtlImage(const CtlImage& image, std::vector<std::string>* notes);

// Source text. ParseCtlSource fails with "LINE: reason" in *error.
bool ParseCtlSource(const std::string& text, CtlDatabase* db, std::string* error);
std::string PrintCtlSource(const CtlDatabase& db);
