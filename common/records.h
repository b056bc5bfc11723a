// The records that cross the pipes between the service and the console.
//
// Both are fixed-size, little-endian, without padding; texts are
// zero-terminated and zero-padded, cut by the sender to the field size minus
// one. The structs here are the in-memory form; EncodeStatusLine and friends
// give the exact bytes.
//
// State: none.
#pragma once

#include <cstddef>
#include <cstdint>

// Activity codes: what the service is doing.
enum Activity : int32_t {
  kActivityInitialScan = 100,
  kActivityOnlineScan = 110,
  kActivityManualScan = 120,
  kActivityConfigReload = 130,
  kActivityPipeReset = 140,
};

// Console command codes.
enum : int32_t {
  kCommandScanPath = 10,
  kCommandReadConfig = 20,
  kCommandConsoleClosing = 30,
  kCommandStopScan = 40,
};

constexpr size_t kConsoleCommandSize = 304;
constexpr size_t kStatusLineSize = 853;

struct ConsoleCommand {
  int32_t code;
  char text[300];          // at most 299 characters
};

struct StatusLine {
  int32_t counters[6];     // total, copied, cleaned, infected, reconstructed, modified
  int32_t activity;
  char lastAction[50];     // at most 39 characters
  char lastFile[300];      // at most 299
  char lastVirus[30];      // at most 29
  char lastUser[20];       // at most 19
  char currentAction[50];  // at most 39
  char currentFile[300];   // at most 299
  char currentVirus[30];   // at most 29
  char currentUser[20];    // at most 19
  char currentTime[25];    // the 21-character time stamp
};

// Field limits (characters, without the terminator) of the texts.
constexpr size_t kActionChars = 39;
constexpr size_t kFileChars = 299;
constexpr size_t kVirusChars = 29;
constexpr size_t kUserChars = 19;

void EncodeStatusLine(const StatusLine& s, uint8_t out[kStatusLineSize]);
void DecodeStatusLine(const uint8_t in[kStatusLineSize], StatusLine* s);
void EncodeConsoleCommand(const ConsoleCommand& c, uint8_t out[kConsoleCommandSize]);
void DecodeConsoleCommand(const uint8_t in[kConsoleCommandSize], ConsoleCommand* c);

// Copies at most limit characters of src into a zero-padded field of
// `size` bytes (limit < size).
void CopyField(char* dst, size_t size, const char* src, size_t limit);
