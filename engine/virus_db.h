// The virus database QUELTAN.CTL.
//
// Loaded once at start-up and read-only afterwards. Loading keeps the small
// tables that every scan needs in memory (signature heads, the COM and EXE
// index lists, the two first-byte tables, the confirmation, vaccine and name
// indexes, the macro sections, and the signature tails when memory allows);
// confirmation patterns, vaccine records and virus names are read one
// record at a time from the file when a signature has matched. No lookup
// keeps the file open after it returns.
//
// State: the one VirusDatabase (module state of virus_db.cpp). Written only
// by LoadVirusDatabase/FreeVirusDatabase; read by the scanning thread.
#pragma once

#include <cstdint>

constexpr int kDbHeaderSize = 817;
constexpr int kDbSections = 15;
constexpr int kDbPathMax = 199;
constexpr int kVaccineRecordSize = 34;
constexpr int kNameLength = 25;

// Load failure texts.
constexpr const char* kDbOpenFailure = "\nUnable to open virus data file.";
constexpr const char* kDbReadFailure = "\nUnable to read from virus datafile.";
constexpr const char* kDbChecksumFailure = "Integrity checking failure, Cannot continue!";
constexpr const char* kDbMemoryFailure = "\nInsufficient memory to load Virus Database";

struct SectionEntry {
  uint32_t offset;
  uint32_t length;
};

struct SignatureHead {
  int16_t comOffset;       // position relative to the entry of a non-MZ program
  int16_t exeOffset;       // the same for an MZ program
  uint8_t head[4];         // first four pattern bytes
};

struct SignatureTail {
  int16_t virusNumber;
  int16_t comOffset;
  int16_t exeOffset;
  int8_t tailLength;       // further pattern bytes; clamped to 0..12 when read
  uint8_t tail[12];
  uint8_t needsConfirmation;
};

struct FirstByteEntry {
  uint16_t start;          // first position in the index list
  uint16_t count;          // consecutive positions, 0 = none
};

struct ConfirmIndexEntry {
  uint16_t patternNumber;
  int16_t virusNumber;
};

struct ConfirmPattern {
  int16_t comOffset;
  int16_t exeOffset;
  int8_t length;           // clamped to 0..12 when read
  uint8_t bytes[12];
};

// The cleaning record of one virus. The executor may change the recipe
// fields of its private copy while it runs.
struct VaccineRecord {
  uint16_t firstWord;      // not used by the executor
  uint16_t exeRoutine;     // MZ: operation that does the whole cleaning, 0 = recipe
  uint16_t csFromEnd;      // MZ recipe: distance from the end of the saved CS, 0 = keep
  uint16_t ipFromEnd;
  uint16_t ssFromEnd;
  uint16_t spFromEnd;
  uint16_t exeCutLength;   // bytes cut from the end
  uint16_t exePreOp;       // operation run after the words are read, 0 = none
  uint16_t comRoutine;     // other files: operation that does the whole cleaning
  uint16_t comPreOp;       // COM recipe: operation run first
  int32_t savedOffset;     // position of the saved host bytes
  uint16_t savedLength;    // bytes to read, 0 = none
  uint16_t savedOrigin;    // 0 file start, 1 current position, 2 file end
  uint16_t restoreLength;  // bytes written back at the start, 0 = none
  uint16_t comCutLength;   // bytes cut from the end
  uint16_t comPostOp;      // operation run after the saved bytes are read
};

void DecodeVaccineRecord(const uint8_t* raw, VaccineRecord* out);

struct VirusDatabase {
  char path[kDbPathMax + 1];        // directory of the service program + QUELTAN.CTL
  uint8_t header[kDbHeaderSize];    // as read
  SectionEntry sections[kDbSections];
  int32_t signatureCount;           // N
  int32_t comListCount, exeListCount, confirmCount, vaccineCount, nameCount;
  int32_t macroVirusCount;          // M
  SignatureHead* heads;             // N
  int16_t* comList;
  int16_t* exeList;
  ConfirmIndexEntry* confirmIndex;
  int16_t* vaccineIndex;
  int16_t* nameIndex;
  FirstByteEntry comFirst[256];
  FirstByteEntry exeFirst[256];
  SignatureTail* tails;             // N when tailsInMemory
  bool tailsInMemory;
  uint8_t* macroRecords;            // section 12 as read
  uint8_t* macroIdentifiers;        // section 13
  uint8_t* macroNames;              // section 14
  uint32_t macroLengths[3];         // their directory lengths
};

// Loads the database at path (a Windows path or "\\?\" host token).
// Returns true, or false with one of the four failure texts in *failure.
bool LoadVirusDatabaseFrom(const char* path, const char** failure);
// Loads QUELTAN.CTL from the directory of the running program.
bool LoadVirusDatabase(const char** failure);
void FreeVirusDatabase();
const VirusDatabase& VirusDb();

// On-demand reads. Each returns false when the file cannot be opened or the
// record cannot be read whole.
bool GetSignatureTail(int32_t signatureNumber, SignatureTail* out);
bool ReadConfirmPattern(int32_t patternNumber, ConfirmPattern* out);

// The virus's display name, or "unknown"; out holds at least 26 bytes.
void FindVirusName(int16_t virusNumber, char* out);

enum VaccineLookup : int { kVaccineNotFound = 0, kVaccineFound = 1, kVaccineUnreadable = 2 };
VaccineLookup FindVaccine(int16_t virusNumber, VaccineRecord* out);
