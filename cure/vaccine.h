// The vaccine executor: cleans one infected file with its virus's
// VaccineRecord.
//
// RunVaccine opens the file for writing, decides from its first two bytes
// whether it is an MZ program or a flat COM-style program, and either runs
// one operation that cleans the file by itself or interprets the record's
// recipe: read the host bytes the virus saved, put them back (header fields
// of an MZ program, the first bytes of a COM program) and cut the virus off
// the end. Recipes call operations of the VaccineOpTable by code at fixed
// points. Every attempt ends with FinishCleaning: truncate on success, close,
// restore the attributes.
//
// A cure that fails leaves the file exactly as it was: before the first
// write or length change of a cure the executor keeps a copy of the whole
// file, and every failure path puts it back (bytes and length) before the
// file is closed and its attributes restored.
//
// State: the one CleaningContext (module state of vaccine.cpp), valid during
// one RunVaccine; the message and the action outlive it until the caller
// has reported them. Service thread only.
#pragma once

#include <cstdint>

#include "engine/target_file.h"
#include "engine/virus_db.h"

// Cleaning messages.
constexpr const char* kMsgCannotOpen = "Unable to open the file.";
constexpr const char* kMsgCannotRead = "Unable to read the file.";
constexpr const char* kMsgCannotWrite = "Unable to write to the file.";
constexpr const char* kMsgNoMemory = "Insufficient memory.";
constexpr const char* kMsgCorrupted = "File is corrupted.";
constexpr const char* kMsgNoVaccine = "No vaccine for this type of extention.";
constexpr const char* kMsgUnknown = "Unknown critical error.";

// Action codes of a successful cure.
enum : int16_t { kActionCleaned = 0, kActionDropper = 2 };

// MZ header words, as indices into the header (14 words).
enum : int {
  kHdrSig = 0, kHdrLastPage, kHdrPages, kHdrRelocs, kHdrHdrParas, kHdrMinPara, kHdrMaxPara,
  kHdrSS, kHdrSP, kHdrCsum, kHdrIP, kHdrCS, kHdrRelOff, kHdrOverlay,
};

// The four words the MZ recipe reads, by index.
enum : int { kSavedCS = 0, kSavedIP = 1, kSavedSS = 2, kSavedSP = 3 };

using VaccineOp = uint16_t (*)();

struct VaccineOpRow {
  uint16_t code;           // 0 in the unused rows
  VaccineOp routine;
};

constexpr int kVaccineOpRows = 276;
extern const VaccineOpRow kVaccineOpTable[kVaccineOpRows];

constexpr int kCleanPathMax = 300;

struct CleaningContext {
  char path[kCleanPathMax];    // the file being cleaned, as the caller named it
  TargetFile target;           // its open state
  int32_t length;              // length after cleaning: starts as the size,
                               // every cut subtracts from it
  uint8_t header[28];          // the first 28 bytes (the MZ header)
  uint16_t saved[4];           // words read by the MZ recipe: CS, IP, SS, SP
  VaccineRecord* record;       // the record being run (recipes are its fields)
  VaccineOp currentOp;         // the operation being run
  int16_t searchResult;        // offset of the last pattern FindPattern found
  const char* message;         // the cleaning message; null when none
};

CleaningContext& Cleaning();

// Header word access (little-endian words of the context's header).
uint16_t HeaderWord(int index);
void SetHeaderWord(int index, uint16_t value);

// Cleans path with the record (the caller's private copy, which operations
// may change). Returns non-zero when the file was cleaned; CleaningMessage
// and the action are set for the caller, and the file is closed with its
// attributes restored.
uint16_t RunVaccine(const char* path, VaccineRecord* record);

// The operation with this code, or null.
VaccineOp FindVaccineOp(uint16_t code);

// Truncates to length on success, supplies a message on failure, puts a
// failed cure's file back as it was, closes and restores the attributes.
// Does nothing when the file is no longer open.
void FinishCleaning(uint16_t result);

// Removes count bytes from the start by moving the rest down in 6,000-byte
// blocks, and subtracts count from length. The second form finishes the
// cleaning right after with the result.
uint16_t RemoveLeadingBytes(int32_t count);
uint16_t RemoveLeadingBytesAndFinish(int32_t count);

// Gives the file its dropper name (.VXE for .EXE, .VOM otherwise) and sets
// the action to kActionDropper. Operation code 86, and called by scan
// dispatch after the 51st detection in a row.
uint16_t RenameDropper();

// The message of the last cleaning attempt (empty when none), and the
// action code of the last successful one. Scan dispatch resets both before
// each pass.
const char* CleaningMessage();
int16_t CleaningAction();
void ResetCleaningResult();

// File access for operations: positions, reads and writes on the file
// being cleaned. Writes and length changes go through here so that a cure
// that fails can be undone. Reads return the count read (-1 on failure).
int64_t CleanSeek(int64_t offset, int origin);
int32_t CleanRead(void* buf, uint32_t n);
int32_t CleanReadAt(int64_t pos, void* buf, uint32_t n);
int32_t CleanWrite(const void* buf, uint32_t n);
int32_t CleanWriteAt(int64_t pos, const void* buf, uint32_t n);
bool CleanSetLength(int64_t length);
// Size of the file as it is now (seeks to the end), -1 on failure.
int64_t CleanFileSize();
