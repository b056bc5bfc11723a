// The file scanner: finds a program's entry point and compares the
// database's signatures around it.
//
// DOS file viruses put their code where the program starts to run, so the
// scanner locates the entry point (from the MZ header, or by following the
// jumps at the start of a non-MZ program), reads up to 4,000 bytes around it
// and compares the signatures filed under the byte found there. The first
// confirmed signature is handed to scan dispatch (HandleSignatureMatch).
//
// State: the engine-wide ProgramLayout, the MZ header copy, the scan window
// and the last match (module state of file_scanner.cpp), shared with the
// special detectors and the vaccine operations. Service thread only; one
// file at a time, through the scanner's TargetFile.
#pragma once

#include <cstdint>

struct ProgramLayout {
  int32_t fileLength;      // length of the file
  bool isMZ;               // copied from the TargetFile
  int32_t moduleBase;      // file offset of the entry point's segment
  int32_t segmentEnd;      // moduleBase + 0xFFFF
  int32_t entryOffset;     // file offset of the first instruction to run
  bool followCalls;        // a CALL counts as a branch (first-branch search only)
};

constexpr int kWindowSize = 4000;
constexpr int kWindowBefore = 400;
constexpr int kFarOffset = 3500;     // offsets above this are read from the file

struct ScanWindow {
  uint8_t bytes[kWindowSize];
  uint16_t before;         // bytes read ahead of the entry point
  int32_t length;          // bytes actually read
};

struct SignatureMatch {
  int16_t virusNumber;
  int32_t position;        // entry + the tail's comOffset
  uint8_t length;          // matched pattern bytes, 4 + tailLength
};

ProgramLayout* Layout();
// The first 28 bytes of the file as LocateEntryPoint read them (MZ only).
uint8_t* MzHeaderCopy();
const SignatureMatch& LastMatch();
// Sets the match as the signature search would (tests of the operations
// that read the virus position use it).
void SetLastMatch(const SignatureMatch& match);
const ScanWindow& Window();

bool IsScanCandidateName(const char* name);
bool IsExcludedSystemName(const char* name);

// Fills the layout of the file open in ScannerFile(); returns entryOffset
// or -1.
int32_t LocateEntryPoint();
// The target of the relative branch whose bytes p (at least 3) start at
// file position pos: E9 and EB, and E8 when followCalls is on. A forward
// branch past segmentEnd wraps back by the branch's width (65,536 or 256),
// a backward one that would land before moduleBase - 1 is taken forward.
// kNotBranch for any other opcode. The vaccine operations locate a COM
// program's entry with the same rules.
constexpr int32_t kNotBranch = INT32_MIN;
int32_t RelativeBranchTarget(int32_t pos, const uint8_t* p, bool followCalls, int32_t moduleBase,
                             int32_t segmentEnd);

// The 5-byte form: E9 and EB (and E8 while followCalls is on); any other
// opcode gives 0 with the file at 0. -1 when the bytes cannot be read.
int32_t FollowRelativeBranch(int32_t position);
// The full form, also FF 26 and FF E3; -1 when there is no branch to follow.
int32_t FollowBranch(int32_t position);
// Position of the first branch among the first 20 of the given 50 bytes.
int32_t FindFirstBranch(const uint8_t* bytes);

// Runs the signature search on the file open in ScannerFile(); a confirmed
// signature goes to HandleSignatureMatch (path is the name it was opened by).
void SearchSignatures(const char* path);
