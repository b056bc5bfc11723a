// The vaccine operation table: the cleaning steps a VaccineRecord names by
// 16-bit code, and the routines the operations share (the pattern search,
// the running-key decode, bounded reads of the file being cleaned, the
// entry position). The operations themselves live in the kind files,
// cure/vaccine_ops_<kind>.cpp; see vaccine_ops.h.
//
// Every read of the file is bounds-checked and lands in a buffer sized for
// it; every write and length change goes through the executor (CleanWrite*,
// CleanSetLength) so that a cure that fails is undone.
//
// State: none beyond the executor's CleaningContext and the work buffer.
// Service thread only.
#include "cure/vaccine_ops.h"

#include <cstring>

#include "common/le.h"
#include "engine/file_scanner.h"
#include "engine/work_buffer.h"

// ---------------------------------------------------------------------------
// Shared routines

int32_t PatternOffset(const uint8_t* buf, size_t len, const uint8_t* pattern, size_t patternLen) {
  if (!buf || !pattern || patternLen == 0 || patternLen > len) return -1;
  size_t last = len - patternLen;
  for (size_t i = 0; i <= last; i++) {
    if (buf[i] != pattern[0]) continue;
    if (std::memcmp(buf + i + 1, pattern + 1, patternLen - 1) == 0) return (int32_t)i;
  }
  return -1;
}

bool FindPattern(const uint8_t* buf, size_t len, const uint8_t* pattern, size_t patternLen) {
  int32_t at = PatternOffset(buf, len, pattern, patternLen);
  if (at < 0) return false;
  Cleaning().searchResult = (int16_t)at;
  return true;
}

constexpr uint32_t kRunningKeyBytes = 132;

bool DecodeRunningKey(int32_t fromEnd) {
  uint8_t step, key;
  uint8_t* wb = Wb();
  if (!ByteEnd(8, &step) || !ByteEnd(12, &key) || !ReadEnd(fromEnd, wb, kRunningKeyBytes))
    return false;
  int delta = step == 0x40 ? 1 : -1;
  for (uint32_t i = 0; i < kRunningKeyBytes; i++) {
    key = (uint8_t)(key + delta);
    wb[i] ^= key;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Helpers

int64_t FileEnd() { return CleanFileSize(); }

bool ReadAt(int64_t pos, void* dst, uint32_t n) {
  if (pos < 0) return false;
  if (n == 0) return CleanSeek(pos, kSeekBegin) == pos;
  return CleanReadAt(pos, dst, n) == (int32_t)n;
}

bool ReadEnd(int64_t back, void* dst, uint32_t n) {
  int64_t size = FileEnd();
  return size >= 0 && ReadAt(size - back, dst, n);
}

bool ByteAt(int64_t pos, uint8_t* out) { return ReadAt(pos, out, 1); }

bool WordAt(int64_t pos, uint16_t* out) {
  uint8_t w[2];
  if (!ReadAt(pos, w, 2)) return false;
  *out = GetU16(w);
  return true;
}

bool ByteEnd(int64_t back, uint8_t* out) { return ReadEnd(back, out, 1); }

bool WordEnd(int64_t back, uint16_t* out) {
  int64_t size = FileEnd();
  return size >= 0 && WordAt(size - back, out);
}

bool WriteAt(int64_t pos, const void* src, uint32_t n) {
  if (pos < 0) return false;
  return CleanWriteAt(pos, src, n) == (int32_t)n;
}

uint8_t* Wb() { return WorkBuffer(); }
uint16_t Wbw(size_t offset) { return offset + 1 < kWorkBufferSize ? GetU16(Wb() + offset) : 0; }
void SetWbw(size_t offset, uint16_t v) {
  if (offset + 1 < kWorkBufferSize) PutU16(Wb() + offset, v);
}

void AddH(int word, int32_t delta) { SetHeaderWord(word, (uint16_t)(HeaderWord(word) + delta)); }
uint16_t CopyWord(const uint8_t* header, int word) { return GetU16(header + 2 * word); }
void SetCopyWord(uint8_t* header, int word, uint16_t v) { PutU16(header + 2 * word, v); }

void RecountPages(uint8_t* header, int32_t length) {
  uint32_t len = (uint32_t)length;
  uint16_t pages = (uint16_t)(len / 512);
  uint16_t last = (uint16_t)(len % 512);
  if (last != 0) pages++;
  SetCopyWord(header, kHdrPages, pages);
  SetCopyWord(header, kHdrLastPage, last);
}

int32_t MzBase(const uint8_t* h) {
  return ((int32_t)CopyWord(h, kHdrHdrParas) + CopyWord(h, kHdrCS)) * 16;
}
int32_t MzEntry(const uint8_t* h) { return MzBase(h) + CopyWord(h, kHdrIP); }

// The jump at offset 0 under the scanner's rules for a module that starts
// at 0 and ends at 0xFFFF; 0 with the file at 0 when there is none.
int32_t JumpTarget() {
  uint8_t p[5];
  if (!ReadAt(0, p, 5)) return -1;
  int32_t t = RelativeBranchTarget(0, p, false, 0, 0xFFFF);
  if (t == kNotBranch) return CleanSeek(0, kSeekBegin) == 0 ? 0 : -1;
  if (t < 0 || CleanSeek(t, kSeekBegin) != t) return -1;
  return t;
}

int32_t EntryPosition() {
  CleaningContext& c = Cleaning();
  return c.target.isMZ ? MzEntry(c.header) : JumpTarget();
}

int32_t VirusPosition() { return LastMatch().position; }

int32_t& Len() { return Cleaning().length; }
void Cut(int32_t n) { Cleaning().length -= n; }
VaccineRecord& Rec() { return *Cleaning().record; }

// ---------------------------------------------------------------------------
// The table

// A row's routine: kind routine F with the row's constants A.
template <auto F, auto... A>
static uint16_t Bind() {
  return F(A...);
}

// Rows: {code, routine}. Codes ascend, 1 to 51 then 55 to 276 (52 to 54 are
// not operations); FindVaccineOp takes the first row with the code, and the
// three empty rows at the end are never found. A kind routine's constants
// follow it in its row, in the order of its arguments:
//   OpLowerMinPara(n)                         H.minpara -= n
//   OpLowerCsAndSs(ss)                        S.CS -= 16; H.SS -= ss
//   OpAddToSavedWords(keyAt)                  saved words += w(end-keyAt)
//   OpHeaderAtRoundedLength(virusLength)      header from roundup16(len-v)+4
//   OpHeaderAndCut(cutAt, headerAt)           exeCut from end-cutAt, header
//   OpWordsBeforeVirus(back)                  SP SS IP CS at V-back
//   OpWordsBeforeVirusCut(back, extra)        ... and exeCut := len-V+extra
//   OpHeaderFromEnd(at)                       header at end-at
//   OpHeaderWordFromEnd(word, at)             one header word at end-at
//   OpEntryKeyedWords(keyAt, dataAt, first)   E-relative key and words
//   OpAddKeyedWords(keyAt, dataAt, words, first, fields)
//   OpSavedOffsetAtRoundedLength(virusLength) savedOffset roundup16(len-v)+4
//   OpSavedOffsetFromJump(delta)              savedOffset := w(1) + delta
//   OpCopyStartByte(to, from), OpSetStartByte(at, value), OpSwapStartBytes(i, j)
//   OpThreePairs(a, b, c)                     2 bytes each at end-a, -b, -c
//   OpStartFromEnd(at, count, index)          count at end-at -> wb[index]
//   OpJumpFromEnd(at)                         E9 and the 2 bytes at end-at
//   OpXorStartFromEnd(keyAt, dataAt, count, virusLength)
//   OpTailToStart(count, key)                 last count bytes ^ key at 0
//   OpXorByteFromEnd(keyAt, count, check)     wb[0..count-1] ^= b(end-keyAt)
//   OpXorFirstWordAndLead(setSignature)
//   OpCounterXor(base, readAt, count, c1, c2, from)
//   OpXorHeaderFromEnd(dataAt)                11 bytes ^ b(end-1) -> header
//   OpRotateStart(keyAt, add)
//   OpKeyedWords(from, keyAt, op, words, shift)
//   OpXorPairFromEnd(lengthFromJump, readCount)
//   OpOverlapXorShift(keyFromStart, key, count)
//   OpRunningKeyHeader(fromEnd), OpRunningKeyStart(fromEnd)
//   OpLead(count, cut, finish)                lead count; cut; +fin
//   OpLeadFromSize(count, fromSize)           lead count; len := size - f
//   OpLeadLowerFirstByte(count, setMessage)
//   OpMarker(text, shortest, at, cut, restoreAt, restoreCount)
//   OpMarkerBySize(text, shortest, at, cut, restoreAt, restoreCount)
// where the markers do nothing when len (size) <= shortest.
constexpr VaccineOpRow kVaccineOpTable[kVaccineOpRows] = {
    {1, Op1},
    {2, Bind<OpLowerMinPara, 88>},
    {3, Bind<OpHeaderAtRoundedLength, 3584>},
    {4, Bind<OpSavedOffsetAtRoundedLength, 3584>},
    {5, Op5},
    {6, Op6},
    {7, Bind<OpXorByteFromEnd, 1, 3, kKeyChecked>},
    {8, Op8},
    {9, OpSetSignature},
    {10, Bind<OpLowerMinPara, 28>},
    {11, Bind<OpLowerMinPara, 93>},
    {12, Bind<OpLowerMinPara, 107>},
    {13, Bind<OpLowerMinPara, 108>},
    {14, Op14},
    {15, Op15},
    {16, Bind<OpHeaderAndCut, 2752, 2746>},
    {17, Bind<OpHeaderAndCut, 2928, 2922>},
    {18, Bind<OpHeaderAndCut, 2989, 2983>},
    {19, Bind<OpHeaderAndCut, 2893, 2887>},
    {20, Bind<OpHeaderAndCut, 2973, 2967>},
    {21, Op21},
    {22, Bind<OpHeaderAndCut, 1103, 1148>},
    {23, Bind<OpHeaderAndCut, 1155, 1200>},
    {24, Bind<OpHeaderAndCut, 1901, 1895>},
    {25, Bind<OpHeaderAndCut, 2964, 2958>},
    {26, Bind<OpHeaderAndCut, 2970, 2964>},
    {27, Bind<OpHeaderAndCut, 3041, 3035>},
    {28, Op28},
    {29, Op29},
    {30, Bind<OpHeaderAndCut, 3048, 3042>},
    {31, Bind<OpWordsBeforeVirus, 119>},
    {32, Bind<OpLead, 1808, 5, kFinish>},
    {33, Bind<OpWordsBeforeVirusCut, 128, 144>},
    {34, Bind<OpLead, 1408, 5, kFinish>},
    {35, Bind<OpLead, 1792, 0, kFinish>},
    {36, Bind<OpWordsBeforeVirus, 119>},
    {37, Bind<OpWordsBeforeVirus, 257>},
    {38, Bind<OpLead, 1244, 0, kFinish>},
    {39, Bind<OpLead, 1600, 5, kFinish>},
    {40, Bind<OpLead, 1730, 5, kFinish>},
    {41, Bind<OpLead, 1503, 5, kFinish>},
    {42, Bind<OpLead, 2048, 5, kFinish>},
    {43, Bind<OpLead, 2080, 6, kFinish>},
    {44, Bind<OpLead, 1888, 5, kFinish>},
    {45, Bind<OpLowerCsAndSs, 74>},
    {46, Bind<OpLowerCsAndSs, 77>},
    {47, Bind<OpLowerCsAndSs, 87>},
    {48, Bind<OpLowerCsAndSs, 87>},
    {49, Bind<OpLowerCsAndSs, 90>},
    {50, Bind<OpCopyStartByte, 2, 6>},
    {51, Bind<OpCopyStartByte, 2, 6>},
    {55, Bind<OpXorFirstWordAndLead, true>},
    {56, Bind<OpXorFirstWordAndLead, false>},
    {57, Bind<OpThreePairs, 656, 649, 642>},
    {58, Bind<OpThreePairs, 725, 718, 711>},
    {59, Bind<OpMarker, kMarkWarning, 471, 471, 474, 0, 0>},
    {60, Op60},
    {61, Op61},
    {62, Bind<OpCounterXor, kBaseLen, 1669, 15, 1413, 1669, 11>},
    {63, Bind<OpCounterXor, kBaseLen, 1626, 9, 1370, 1626, 6>},
    {64, Bind<OpCounterXor, kBaseSize, 6223, 14, 5967, 6098, 11>},
    {65, Bind<OpCounterXor, kBaseLen, 1666, 15, 1410, 1666, 11>},
    {66, Bind<OpCounterXor, kBaseLen, 1672, 15, 1416, 1672, 11>},
    {67, Bind<OpMarker, kMarkArrested, 473, 221, 473, 649, 3>},
    {68, Bind<OpMarker, kMarkDown, 138, 128, 128, 529, 3>},
    {69, Bind<OpMarker, kMarkBeast, 41, 65, 41, 445, 3>},
    {70, Op70},
    {71, Bind<OpMarker, kMarkDown, 128, 128, 128, 1525, 3>},
    {72, Bind<OpMarker, kMarkInterceptor, 473, 670, 473, 600, 3>},
    {73, Bind<OpMarker, kMarkDown, 128, 128, 128, 261, 3>},
    {74, Bind<OpMarker, kMarkArrested, 471, 221, 471, 604, 3>},
    {75, Bind<OpLeadFromSize, 3982, 5752>},
    {76, Bind<OpStartFromEnd, 827, 1, 2>},
    {77, Bind<OpStartFromEnd, 787, 1, 2>},
    {78, OpClearChecksum},
    {79, Bind<OpLeadFromSize, 2454, 2454>},
    {80, Bind<OpLeadFromSize, 2576, 2576>},
    {81, Bind<OpLeadFromSize, 2646, 2646>},
    {82, Bind<OpLeadFromSize, 2900, 2900>},
    {83, Bind<OpLeadFromSize, 3004, 3004>},
    {84, Bind<OpLeadFromSize, 3012, 3012>},
    {85, Bind<OpLeadFromSize, 4096, 4096>},
    {86, Op86},
    {87, Op87},
    {88, Op88},
    {89, Op89},
    {90, Op90},
    {91, Bind<OpThreePairs, 162, 164, 160>},
    {92, Bind<OpHeaderFromEnd, 1568>},
    {93, Bind<OpXorByteFromEnd, 1, 3, kKeyZeroWhenUnreadable>},
    {94, Bind<OpXorHeaderFromEnd, 567>},
    {95, Bind<OpXorByteFromEnd, 1, 5, kKeyZeroWhenUnreadable>},
    {96, Bind<OpXorHeaderFromEnd, 628>},
    {97, Bind<OpXorHeaderFromEnd, 639>},
    {98, Bind<OpXorHeaderFromEnd, 486>},
    {99, Bind<OpXorHeaderFromEnd, 469>},
    {100, Bind<OpXorByteFromEnd, 11, 3, kKeyZeroWhenUnreadable>},
    {101, Bind<OpXorHeaderFromEnd, 524>},
    {102, Bind<OpXorByteFromEnd, 2, 3, kKeyZeroWhenUnreadable>},
    {103, Bind<OpXorHeaderFromEnd, 494>},
    {104, Bind<OpXorHeaderFromEnd, 1516>},
    {105, Bind<OpLead, 1249, 0, kFinish>},
    {106, Bind<OpLead, 897, 0, kFinish>},
    {107, Bind<OpLead, 1413, 0, kFinish>},
    {108, Bind<OpLead, 874, 0, kFinish>},
    {109, Bind<OpLead, 130, 0, kFinish>},
    {110, Bind<OpLead, 945, 0, kFinish>},
    {111, Bind<OpJumpFromEnd, 8>},
    {112, Bind<OpJumpFromEnd, 55>},
    {113, Bind<OpJumpFromEnd, 71>},
    {114, Bind<OpJumpFromEnd, 4>},
    {115, Bind<OpJumpFromEnd, 47>},
    {116, Bind<OpJumpFromEnd, 11>},
    {117, Bind<OpJumpFromEnd, 12>},
    {118, Bind<OpRotateStart, 464, 100>},
    {119, Bind<OpRotateStart, 540, -122>},
    {120, Op120},
    {121, Bind<OpLead, 758, 0, kFinish>},
    {122, Bind<OpLead, 114, 0, kFinish>},
    {123, Bind<OpLead, 118, 0, kFinish>},
    {124, Bind<OpLead, 122, 0, kFinish>},
    {125, Bind<OpKeyedWords, kKeyFromEnd, 914, kWordXor, 12, 22>},
    {126, Bind<OpXorByteFromEnd, 420, 3, kKeyChecked>},
    {127, Op127},
    {128, Bind<OpLead, 183, 0, kFinish>},
    {129, Op129},
    {130, Bind<OpLead, 601, 0, kFinish>},
    {131, OpSetSignature},
    {132, Op132},
    {133, Bind<OpLead, 342, 0, kFinish>},
    {134, Bind<OpLead, 376, 0, kFinish>},
    {135, Bind<OpLead, 419, 0, kFinish>},
    {136, Bind<OpHeaderWordFromEnd, kHdrMinPara, 23>},
    {137, Bind<OpLead, 1140, 0, kFinish>},
    {138, Op138},
    {139, Op139},
    {140, Op140},
    {141, Op141},
    {142, Bind<OpKeyedWords, kKeyFromEnd, 7, kWordXor, 2, 0>},
    {143, Op143},
    {144, Bind<OpXorPairFromEnd, false, 2>},
    {145, Op145},
    {146, Bind<OpLeadLowerFirstByte, 1079, true>},
    {147, Bind<OpLeadLowerFirstByte, 1074, false>},
    {148, Bind<OpLead, 372, 0, kFinish>},
    {149, Op149},
    {150, Op150},
    {151, Op151},
    {152, Bind<OpOverlapXorShift, true, 0, 14>},
    {153, Bind<OpOverlapXorShift, false, 0x033D, 9>},
    {154, Op154},
    {155, Bind<OpHeaderWordFromEnd, kHdrCsum, 887>},
    {156, Bind<OpHeaderWordFromEnd, kHdrCsum, 717>},
    {157, OpSetSignature},
    {158, Op158},
    {159, Bind<OpSwapStartBytes, 1, 2>},
    {160, Op160},
    {161, Bind<OpEntryKeyedWords, 24, 811, 0>},
    {162, Bind<OpKeyedWords, kKeyFromEntry, 24, kWordXor, 2, 3>},
    {163, Bind<OpEntryKeyedWords, 19, 426, 1>},
    {164, Bind<OpKeyedWords, kKeyFromEntry, 19, kWordXor, 3, 4>},
    {165, Op165},
    {166, Bind<OpLeadFromSize, 427, 427>},
    {167, Bind<OpLeadFromSize, 440, 440>},
    {168, Op168},
    {169, Bind<OpXorStartFromEnd, 1596, 1445, 12, 1600>},
    {170, Bind<OpXorStartFromEnd, 1097, 1053, 8, 1110>},
    {171, Bind<OpXorStartFromEnd, 1104, 1058, 8, 1117>},
    {172, Bind<OpXorStartFromEnd, 1155, 1108, 8, 1168>},
    {173, Bind<OpTailToStart, 96, 0>},
    {174, Bind<OpTailToStart, 181, 0>},
    {175, Bind<OpLeadFromSize, 215, 215>},
    {176, Bind<OpTailToStart, 370, 0xBB>},
    {177, Bind<OpTailToStart, 600, 0xBB>},
    {178, Bind<OpTailToStart, 650, 0xCC>},
    {179, Op179},
    {180, Bind<OpTailToStart, 1600, 0xBB>},
    {181, Op181},
    {182, Bind<OpLeadFromSize, 343, 343>},
    {183, Bind<OpLeadFromSize, 109, 109>},
    {184, Bind<OpLeadFromSize, 93, 93>},
    {185, Bind<OpStartFromEnd, 692, 1, 2>},
    {186, OpClearChecksum},
    {187, Bind<OpLeadFromSize, 1536, 1536>},
    {188, Bind<OpKeyedWords, kKeyFromEnd, 520, kWordXor, 2, 0>},
    {189, Bind<OpKeyedWords, kKeyFromEnd, 696, kWordXor, 2, 0>},
    {190, Bind<OpKeyedWords, kKeyFromEnd, 797, kWordXor, 2, 0>},
    {191, Bind<OpSetStartByte, 0, 0xE9>},
    {192, Bind<OpSwapStartBytes, 0, 1>},
    {193, Bind<OpLeadFromSize, 1302, 1302>},
    {194, Bind<OpLeadFromSize, 400, 400>},
    {195, Op195},
    {196, Op196},
    {197, Bind<OpLowerMinPara, 64>},
    {198, OpClearChecksum},
    {199, Bind<OpStartFromEnd, 693, 2, 2>},
    {200, Bind<OpLead, 391, 0, kKeepOpen>},
    {201, Op201},
    {202, Bind<OpWordsBeforeVirusCut, 119, 186>},
    {203, Bind<OpLead, 1808, 0, kFinish>},
    {204, Op204},
    {205, Op205},
    {206, Op206},
    {207, Op207},
    {208, Op208},
    {209, Op209},
    {210, Bind<OpHeaderAtRoundedLength, 4096>},
    {211, Bind<OpSavedOffsetAtRoundedLength, 4096>},
    {212, Bind<OpHeaderFromEnd, 917>},
    {213, Op213},
    {214, Op214},
    {215, Op215},
    {216, Op216},
    {217, Bind<OpLead, 4096, 0, kFinish>},
    {218, Bind<OpLead, 1536, 0, kFinish>},
    {219, Op219},
    {220, Bind<OpLead, 847, 0, kFinish>},
    {221, Op221},
    {222, Op222},
    {223, Op223},
    {224, Op224},
    {225, Op225},
    {226, Bind<OpSavedOffsetFromJump, -22>},
    {227, Op227},
    {228, Bind<OpSavedOffsetFromJump, 105>},
    {229, Op229},
    {230, Op230},
    {231, Op231},
    {232, Op232},
    {233, Op233},
    {234, Op234},
    {235, Op235},
    {236, Op236},
    {237, Op237},
    {238, Op238},
    {239, Op239},
    {240, Op240},
    {241, OpClearChecksum},
    {242, Bind<OpLowerMinPara, 16>},
    {243, Bind<OpLowerMinPara, 9>},
    {244, Op244},
    {245, Op245},
    {246, Op246},
    {247, Op247},
    {248, Op248},
    {249, Bind<OpRunningKeyHeader, 688>},
    {250, Bind<OpRunningKeyStart, 688>},
    {251, Bind<OpRunningKeyHeader, 692>},
    {252, Bind<OpRunningKeyStart, 692>},
    {253, Op253},
    {254, Op254},
    {255, Op255},
    {256, Bind<OpXorByteFromEnd, 277, 3, kKeyChecked>},
    {257, Bind<OpAddKeyedWords, 738, 592, 5, 1, 4>},
    {258, Op258},
    {259, Bind<OpAddKeyedWords, 784, 637, 4, 1, 3>},
    {260, Bind<OpAddKeyedWords, 790, 641, 3, 0, 3>},
    {261, Bind<OpXorByteFromEnd, 7, 4, kKeyZeroWhenUnreadable>},
    {262, Bind<OpAddToSavedWords, 884>},
    {263, Bind<OpAddToSavedWords, 922>},
    {264, Bind<OpKeyedWords, kKeyFromEnd, 922, kWordAdd, 2, 4>},
    {265, Bind<OpAddToSavedWords, 928>},
    {266, Bind<OpKeyedWords, kKeyFromEnd, 928, kWordAdd, 2, 4>},
    {267, Bind<OpMarkerBySize, kMarkDown, 601, 601, 601, 23722, 3>},
    {268, Bind<OpXorPairFromEnd, true, 3>},
    {269, Bind<OpXorPairFromEnd, true, 3>},
    {270, Bind<OpMarkerBySize, kMarkViolator, 128, 4759, 128, 256, 3>},
    {271, Op271},
    {272, Op272},
    {273, Op273},
    {274, Op274},
    {275, Bind<OpXorByteFromEnd, 18, 3, kKeyChecked>},
    {276, Op276},
    {0, nullptr},
    {0, nullptr},
    {0, nullptr},
};

// The rows hold exactly the codes 1 to 51 and 55 to 276 in ascending
// order and end in three empty rows. (Routines are not compared here: with
// the sanitizers a function's address is no constant.)
constexpr bool TableIsComplete() {
  uint16_t want = 1;
  for (int i = 0; i < kVaccineOpRows - 3; i++) {
    if (want == 52) want = 55;
    if (kVaccineOpTable[i].code != want) return false;
    want++;
  }
  for (int i = kVaccineOpRows - 3; i < kVaccineOpRows; i++)
    if (kVaccineOpTable[i].code != 0) return false;
  return want == 277;
}
static_assert(kVaccineOpRows == 276);
static_assert(TableIsComplete(), "the operation table must hold codes 1-51 and 55-276 in order");
