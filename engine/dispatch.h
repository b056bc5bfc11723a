// Scan dispatch: one file scanned end to end.
//
// DispatchFile runs the special detectors, then the signature search, has
// every detected virus cured by the vaccine executor, and scans the file
// again after each cure so that a file infected several times is cleaned
// layer by layer. Every detection and cure goes to the report log; every
// cure and failed cure also goes to the console (SendStatusLine) and the
// alerts (RaiseAlert). The verdict tells the walker and the integrity
// database what became of the file.
//
// State: the ScanRequest and ScanVerdict of the file being scanned, and the
// scan observer (module state of dispatch.cpp). Service thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kNameMax = 300;   // 299 characters and the terminator

struct ScanRequest {
  char bareName[kNameMax];         // as the walker passes it
  char displayName[kNameMax];      // full name shown to the console (set by the walker)
  char reportName[kNameMax];       // full name written to the log
  char directory[kNameMax];        // the walker's current directory text
};

struct ScanVerdict {
  char virusName[30];              // last virus detected
  char actionText[40];             // what was done
  char messageText[1121];          // detection message for console and alerts
  bool infected;                   // a virus was detected in this file
  bool curedThisPass;              // the last pass cured something
  bool curedAny;                   // some pass cured something
  bool cureStopped;                // a vaccination error ended the work
  bool documentFile;               // the file is a document (macro check)
  int16_t lastCuredVirus;          // virus of the last signature cure, -1 none
  int32_t repeatCount;             // detections in a row of that virus before
  int16_t actionCode;              // 0 cleaned, 2 renamed as a dropper
  char vaccineErrorText[80];       // the executor's message of a failed cure
  bool notClean;                   // excluded, unscannable, or still infected
};

ScanRequest& Request();
ScanVerdict& Verdict();

// Action texts.
constexpr const char* kActionTextCleaned = "File is cleaned";
constexpr const char* kActionTextDropper = "File is renamed since it is a dropper";
constexpr const char* kActionTextVaccinationError = "Vaccination Error";
constexpr const char* kActionTextCorrupt = "Vaccination Error : File is corrupt.";

constexpr const char* kInvalidSizeNotice =
    "\n Error: Invalid file size.\n   Possibly it could be a corrupted file.\n   This file is not scanned.";

// The walkers' entry: scan bareName (relative to the current directory)
// when scan is true; always builds reportName first.
void DispatchFile(const char* bareName, bool scan);
// True if the file is clean or was cured.
bool ScanOneFile(const char* name);
// False when the file cannot be opened or its entry point not located.
bool RunSpecialPass(const char* name);
// The name of the file in the special pass, upper-cased (the detectors
// that judge a file by its name read it).
const char* SpecialPassName();
// Called by the signature search with the file still open for scanning.
void HandleSignatureMatch(const char* name, int16_t virusNumber);
// Sets the last-infection texts and writes the detection record.
void RecordDetection(const char* virusName);

// With curing off (kvscan --no-cure) every detection is only recorded, as
// for a virus without a vaccine: no file is changed.
void SetCureEnabled(bool on);
bool CureEnabled();

// The user of the scan: the online user, or empty.
const char* ScanUserName();

// A detector's answer. Each is called with its own table name.
enum : int { kSpecialCured = 3, kSpecialError = -1 };

// The special detectors, in pass order. A row's routine is called with the
// file open for scanning, the layout filled and the file at the entry
// point; it answers kSpecialCured, kSpecialError or anything else for not
// found. The table ends with a row whose name is null.
struct SpecialDetector {
  const char* name;                // reported as the virus name
  int (*routine)(const char* name);
};
extern const SpecialDetector kSpecialDetectors[];

// Tools watch what dispatch reports (kvscan prints it); null = nobody.
enum ScanEventKind : int { kEventDetected, kEventCured, kEventFailed, kEventModified };
struct ScanEvent {
  ScanEventKind kind;
  const char* displayName;
  const char* reportName;
  const char* virusName;           // "" for a modification
  const char* userName;            // "" when none
  const char* actionText;          // "" for a detection
  const char* detail;              // the executor's message of a failure, or ""
};
using ScanObserver = void (*)(const ScanEvent& event);
void SetScanObserver(ScanObserver observer);
void NotifyScanEvent(const ScanEvent& event);
