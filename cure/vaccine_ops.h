// What the vaccine operations share: the pattern search and the running-key
// decode (also used by the boot-sector and macro code), the file and
// work-buffer helpers every operation reads with, and the routines of each
// kind that the operation table in vaccine_ops.cpp names.
//
// The operations come in kinds (header adjust, header from the virus body,
// length, start bytes, decoders, prepending viruses, markers, whole-file
// cleaners), one file each: cure/vaccine_ops_<kind>.cpp. A kind routine
// that serves several codes takes the constants in which those codes
// differ as arguments; the table binds them per row, so a code's constants
// stand in its row. Routines named OpN serve code N alone.
//
// State: none of their own; everything lives in the executor's
// CleaningContext and the engine's work buffer. Service thread only, inside
// one RunVaccine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cure/vaccine.h"

// ---------------------------------------------------------------------------
// Shared routines

// Finds the first position of pattern in buf (the whole pattern must lie
// within len bytes). FindPattern records the offset as the cleaning
// context's search result; PatternOffset returns it (-1 when absent) and
// touches nothing. An empty pattern is never found.
bool FindPattern(const uint8_t* buf, size_t len, const uint8_t* pattern, size_t patternLen);
int32_t PatternOffset(const uint8_t* buf, size_t len, const uint8_t* pattern, size_t patternLen);

// The running-key decode of 132 bytes: the byte at end-8 chooses the step
// (0x40: the key goes up by 1 before each byte, anything else: down by 1),
// the key starts as the byte at end-12, and the 132 bytes read at
// end-fromEnd into the work buffer are XORed with the stepped key. False
// when any of the three reads comes up short.
bool DecodeRunningKey(int32_t fromEnd);

// ---------------------------------------------------------------------------
// Helpers for the operations. Reads succeed only with every byte asked for;
// a failed read leaves its output as it was.

// The file's present size (moves to the end), -1 on failure.
int64_t FileEnd();
bool ReadAt(int64_t pos, void* dst, uint32_t n);
// n bytes at end-back.
bool ReadEnd(int64_t back, void* dst, uint32_t n);
bool ByteAt(int64_t pos, uint8_t* out);
bool WordAt(int64_t pos, uint16_t* out);
bool ByteEnd(int64_t back, uint8_t* out);
bool WordEnd(int64_t back, uint16_t* out);
// Writes all n bytes at pos (through the executor, so that a failed cure is
// undone), or returns false.
bool WriteAt(int64_t pos, const void* src, uint32_t n);

// The work buffer, and its words at a byte offset (any offset, odd too).
uint8_t* Wb();
uint16_t Wbw(size_t offset);
void SetWbw(size_t offset, uint16_t v);

// Header words of the context, by index (kHdr*).
inline uint16_t H(int word) { return HeaderWord(word); }
inline void SetH(int word, uint16_t v) { SetHeaderWord(word, v); }
// Header word += delta, wrapping.
void AddH(int word, int32_t delta);
// Words of a 28-byte header copy.
uint16_t CopyWord(const uint8_t* header, int word);
void SetCopyWord(uint8_t* header, int word, uint16_t v);
// The page fields of a header for a file of length bytes, as the MZ recipe
// recounts them.
void RecountPages(uint8_t* header, int32_t length);

// File offsets of an MZ header's entry segment, (hdrparas + CS) x 16, and
// of its entry, that + IP.
int32_t MzBase(const uint8_t* header);
int32_t MzEntry(const uint8_t* header);
// The target of the branch at offset 0, followed as the scanner follows a
// relative branch at position 0 (E9 and EB within the 64 KB segment from 0;
// any other first byte gives 0). -1 when the start cannot be read or the
// target lies before the file. The file is left at the target.
int32_t JumpTarget();
// The entry position E: MzEntry of the context header for an MZ file,
// JumpTarget for any other. -1 when it cannot be had.
int32_t EntryPosition();
// The virus position the scanner found.
int32_t VirusPosition();

// The cleaning length, and the cut.
int32_t& Len();
void Cut(int32_t n);
VaccineRecord& Rec();

// ---------------------------------------------------------------------------
// Kind routines that serve several codes; the table binds their constants.

// Header adjust (vaccine_ops_adjust.cpp).
uint16_t OpLowerMinPara(int32_t n);
uint16_t OpSetSignature();
uint16_t OpClearChecksum();
uint16_t OpLowerCsAndSs(int32_t ss);
uint16_t OpAddToSavedWords(int32_t keyAt);
uint16_t Op160();
uint16_t Op240();

// Header from the virus body (vaccine_ops_header.cpp).
uint16_t OpHeaderAtRoundedLength(int32_t virusLength);
uint16_t OpHeaderAndCut(int32_t cutAt, int32_t headerAt);
uint16_t OpWordsBeforeVirus(int32_t back);
uint16_t OpWordsBeforeVirusCut(int32_t back, int32_t extra);
uint16_t OpHeaderFromEnd(int32_t at);
uint16_t OpHeaderWordFromEnd(int word, int32_t at);
uint16_t OpEntryKeyedWords(int32_t keyAt, int32_t dataAt, int first);
uint16_t OpAddKeyedWords(int32_t keyAt, int32_t dataAt, int words, int first, int fields);
uint16_t Op6();
uint16_t Op61();
uint16_t Op87();
uint16_t Op89();
uint16_t Op127();
uint16_t Op129();
uint16_t Op165();
uint16_t Op168();
uint16_t Op204();
uint16_t Op207();
uint16_t Op213();
uint16_t Op216();
uint16_t Op222();
uint16_t Op227();
uint16_t Op237();
uint16_t Op238();
uint16_t Op239();
uint16_t Op245();
uint16_t Op258();
uint16_t Op274();

// Length and offset (vaccine_ops_length.cpp).
uint16_t OpSavedOffsetAtRoundedLength(int32_t virusLength);
uint16_t OpSavedOffsetFromJump(int32_t delta);
uint16_t Op21();
uint16_t Op145();
uint16_t Op205();
uint16_t Op206();
uint16_t Op208();
uint16_t Op209();
uint16_t Op215();
uint16_t Op219();
uint16_t Op223();
uint16_t Op233();

// Start bytes of a COM file (vaccine_ops_start.cpp).
uint16_t OpCopyStartByte(int to, int from);
uint16_t OpSetStartByte(int at, int value);
uint16_t OpSwapStartBytes(int i, int j);
uint16_t OpThreePairs(int32_t a, int32_t b, int32_t c);
uint16_t OpStartFromEnd(int32_t at, int count, int index);
uint16_t OpJumpFromEnd(int32_t at);
uint16_t OpXorStartFromEnd(int32_t keyAt, int32_t dataAt, int count, int32_t virusLength);
uint16_t OpTailToStart(int32_t count, int key);
uint16_t Op60();
uint16_t Op88();
uint16_t Op132();
uint16_t Op138();
uint16_t Op158();
uint16_t Op181();
uint16_t Op272();
uint16_t Op273();

// Decoders (vaccine_ops_decode.cpp).
enum KeyCheck : int { kKeyChecked, kKeyZeroWhenUnreadable };
enum KeyFrom : int { kKeyFromEnd, kKeyFromEntry };
enum WordOp : int { kWordXor, kWordAdd };
enum CounterBase : int { kBaseLen, kBaseSize };
uint16_t OpXorByteFromEnd(int32_t keyAt, int count, KeyCheck check);
uint16_t OpXorFirstWordAndLead(bool setSignature);
uint16_t OpCounterXor(CounterBase base, int32_t readAt, int count, int32_t c1, int32_t c2,
                      int from);
uint16_t OpXorHeaderFromEnd(int32_t dataAt);
uint16_t OpRotateStart(int32_t keyAt, int add);
uint16_t OpKeyedWords(KeyFrom from, int32_t keyAt, WordOp op, int words, int shift);
uint16_t OpXorPairFromEnd(bool lengthFromJump, int readCount);
uint16_t OpOverlapXorShift(bool keyFromStart, int key, int count);
uint16_t OpRunningKeyHeader(int32_t fromEnd);
uint16_t OpRunningKeyStart(int32_t fromEnd);
uint16_t Op5();
uint16_t Op8();
uint16_t Op14();
uint16_t Op15();
uint16_t Op28();
uint16_t Op29();
uint16_t Op120();
uint16_t Op140();
uint16_t Op141();
uint16_t Op143();
uint16_t Op151();
uint16_t Op154();
uint16_t Op195();
uint16_t Op196();
uint16_t Op201();
uint16_t Op214();
uint16_t Op224();
uint16_t Op229();
uint16_t Op230();
uint16_t Op231();
uint16_t Op232();
uint16_t Op234();
uint16_t Op235();
uint16_t Op236();
uint16_t Op246();
uint16_t Op247();
uint16_t Op248();

// Prepending viruses (vaccine_ops_lead.cpp).
enum Finish : int { kKeepOpen, kFinish };
uint16_t OpLead(int32_t count, int32_t cut, Finish finish);
uint16_t OpLeadFromSize(int32_t count, int32_t fromSize);
uint16_t OpLeadLowerFirstByte(int32_t count, bool setMessage);
uint16_t Op90();
uint16_t Op139();

// Markers (vaccine_ops_marker.cpp), and the texts they compare, byte for
// byte (no terminating zero is compared).
inline constexpr char kMarkWarning[] = "! WARNING !! THIS IS A VIRUS !! ";
inline constexpr char kMarkArrested[] = "ARRESTED DEVELOPME";
inline constexpr char kMarkDown[] = "This file was down";
inline constexpr char kMarkBeast[] = "Beware the Beast-N";
inline constexpr char kMarkCpuTest[] = "CPU test:\x07  all ri";
inline constexpr char kMarkInterceptor[] = "Interceptor - (c) ";
inline constexpr char kMarkViolator[] = "Violator Strain B4";
uint16_t OpMarker(const char* text, int32_t minLen, int32_t at, int32_t cut, int32_t restoreAt,
                  int restoreCount);
uint16_t OpMarkerBySize(const char* text, int32_t minSize, int32_t at, int32_t cut,
                        int32_t restoreAt, int restoreCount);
uint16_t Op70();

// Whole-file cleaners (vaccine_ops_whole.cpp).
uint16_t Op1();
uint16_t Op86();
uint16_t Op149();
uint16_t Op150();
uint16_t Op179();
uint16_t Op221();
uint16_t Op225();
uint16_t Op244();
uint16_t Op253();
uint16_t Op254();
uint16_t Op255();
uint16_t Op271();
uint16_t Op276();
