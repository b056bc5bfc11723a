// Inert infections, one per vaccine operation, for samples and tests.
//
// Each row of the infection table names one operation code and builds, from
// a clean host program, the file that the operation's vaccine cleans: the
// host with synthetic virus bytes appended, prepended or written over its
// start, the host's own bytes saved in the place where the operation reads
// them and encoded the way it decodes them. The row also gives the vaccine
// record that cures the file, the virus position and entry point that the
// scanner would report, and what the cure must leave behind. The virus
// bytes are filler and a caller-given prologue (a signature, or a few
// arbitrary bytes); nothing here is, or makes, a self-replicating program.
//
// State: none; the table is constant and every routine works on the values
// it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/ctlbuild/ctl_image.h"
#include "tools/samplegen/samples.h"

// The vaccine field that names the operation.
enum InfectionPoint : uint8_t {
  kPointExeRoutine,   // MZ file: the operation does the whole cleaning
  kPointExePreOp,     // MZ recipe: run after the saved words are read
  kPointComRoutine,   // other files: the operation does the whole cleaning
  kPointComPreOp,     // COM recipe: run first
  kPointComPostOp,    // COM recipe: run after the saved bytes are read
};

// The clean program an infection starts from.
enum HostKind : uint8_t {
  kHostCom,           // COM program (MakeComHost)
  kHostComJump,       // COM program whose first instruction is a near jump
  kHostMz,            // MZ program (MakeExeHost)
  kHostMzReloc,       // MZ program whose entry code carries a relocation
  kHostMzWide,        // MZ program with a 512-byte header, zeros after 28
  kHostMzBackup,      // MZ program with a 128-byte header that keeps a copy
                      // of its first 10 bytes at offset 96
};

// What the cure must do to the infected file.
enum CureOutcome : uint8_t {
  kCureRestores,      // succeeds; the file is `expected` byte for byte
  kCureRefuses,       // fails with `message`; the file is left as it was
  kCureRenames,       // succeeds; the file is renamed (dropper) and holds `expected`
  kCureDeletes,       // succeeds; the file is deleted, the companion is untouched
};

// The lines the hosts print: "(COM)" for the COM kinds, "(EXE)" for MZ.
constexpr const char* kComHostText = "Korvane sample host (COM)";
constexpr const char* kExeHostText = "Korvane sample host (EXE)";

struct Infection {
  Bytes file;                     // the infected program
  Bytes companion;                // companion viruses: the host, written beside
                                  // the file with its extension .EXE; else empty
  CtlVaccineRecord vaccine;       // the record that cures it
  int32_t entry;                  // the entry point as the scanner locates it
  int32_t virusPosition;          // V: where the virus code (the prologue) begins
  uint8_t scannerHeader[28];      // MZ files: the first 28 bytes, as the scanner
                                  // copies them; zeros otherwise
  CureOutcome outcome;
  Bytes expected;                 // the file after a cure that restores or renames
  const char* message;            // kCureRefuses: the cleaning message
  std::vector<int32_t> markers;   // marker rows: where each marker text begins
};

struct InfectionRow;
// Builds the infection of row from host (made by MakeInfectionHost) with
// prologue at the virus position. False when the host cannot take it.
using InfectRoutine = bool (*)(const InfectionRow& row, const Bytes& host, const Bytes& prologue,
                               Infection* out);

constexpr int kInfectionConstants = 8;

struct InfectionRow {
  uint16_t code;                  // the operation code
  InfectionPoint point;           // the vaccine field that names it
  HostKind host;                  // the clean program
  uint16_t hostSize;              // COM kinds: at least this many bytes;
                                  // MZ kinds: at least this much load module
  InfectRoutine infect;           // builds the infection
  int32_t k[kInfectionConstants]; // the row's constants, as its routine reads them
  const char* text;               // marker rows: the marker text; else null
};

constexpr int kInfectionRows = 273;
extern const InfectionRow kInfectionTable[kInfectionRows];

// The row for an operation code, or null.
const InfectionRow* FindInfectionRow(uint16_t code);

// The clean host of a row.
Bytes MakeInfectionHost(const InfectionRow& row);
bool IsMzHost(HostKind kind);

// Builds the row's infection from its own host. False when it cannot.
bool Infect(const InfectionRow& row, const Bytes& prologue, Infection* out);

// The operation code a vaccine record names (the first non-zero of
// exeRoutine, exePreOp, comRoutine, comPreOp, comPostOp), and where; 0
// when it names none.
uint16_t VaccineOperation(const CtlVaccineRecord& r, InfectionPoint* point);
