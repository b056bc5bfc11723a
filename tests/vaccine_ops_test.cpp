// The vaccine operations: the pattern search and the running-key decode,
// the operations' failure paths and their messages, the edge cases of the
// markers, the prepending cut of code 139, the rotations of 214, the
// relocation repair of 179, the work-buffer limits of 132 and 154, and
// every code run over small hostile files (ASan and UBSan judge those).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>

#include "common/le.h"
#include "cure/vaccine.h"
#include "cure/vaccine_ops.h"
#include "engine/file_scanner.h"
#include "engine/work_buffer.h"
#include "platform/faults.h"
#include "tests/fixtures/fixtures.h"

namespace {

class VaccineOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.AddDrive('C');
    FaultReset();
    SetV(0);
  }
  void TearDown() override { FaultReset(); }
  uint16_t Run(const std::string& path, const Bytes& file, VaccineRecord r) {
    m.Write(path, file);
    return RunVaccine(path.c_str(), &r);
  }
  static void SetV(int32_t v) {
    SignatureMatch match{};
    match.position = v;
    SetLastMatch(match);
  }
  TempMachine m;
};

// Bytes that differ from their neighbours, so that a misplaced copy shows;
// never an MZ signature.
Bytes Pattern(size_t n, uint32_t seed = 1) {
  Bytes b(n);
  std::mt19937 gen(seed);
  for (auto& x : b) x = (uint8_t)gen();
  if (n > 0 && b[0] == 'M') b[0] = 'N';
  return b;
}

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

VaccineRecord ComRoutine(uint16_t code) {
  VaccineRecord r{};
  r.comRoutine = code;
  return r;
}

// A COM recipe whose post-op is code: the first n bytes are read as the
// saved bytes and written back, so that an operation that leaves the work
// buffer alone leaves the start as it was.
VaccineRecord ComPostOp(uint16_t code, uint16_t n) {
  VaccineRecord r{};
  r.savedOrigin = 0;
  r.savedOffset = 0;
  r.savedLength = n;
  r.restoreLength = n;
  r.comPostOp = code;
  return r;
}

// ---------------------------------------------------------------------------
// FindPattern

TEST_F(VaccineOpsTest, FindPatternFindsTheFirstWholeOccurrence) {
  struct Case {
    const char* what;
    const char* buf;
    const char* pattern;
    int32_t at;   // -1: not found
  } cases[] = {
      {"at the start", "COMMAND.COM and more", "COMMAND", 0},
      {"in the middle", "xxCOMMAND.COMxx", "COMMAND.COM", 2},
      {"ending on the last byte", "....ABC", "ABC", 4},
      {"after a false start on the first byte", "AAAB", "AAB", 1},
      {"first of two", "xABxAB", "AB", 1},
      {"cut off by the end", "....AB", "ABC", -1},
      {"absent", "abcdef", "xyz", -1},
      {"longer than the buffer", "AB", "ABC", -1},
      {"empty pattern", "abc", "", -1},
  };
  for (const auto& c : cases) {
    const uint8_t* b = (const uint8_t*)c.buf;
    const uint8_t* p = (const uint8_t*)c.pattern;
    size_t bl = std::strlen(c.buf), pl = std::strlen(c.pattern);
    EXPECT_EQ(PatternOffset(b, bl, p, pl), c.at) << c.what;
    Cleaning().searchResult = 777;
    EXPECT_EQ(FindPattern(b, bl, p, pl), c.at >= 0) << c.what;
    EXPECT_EQ(Cleaning().searchResult, c.at >= 0 ? c.at : 777) << c.what;
  }
  // Bytes past the given length are never looked at.
  const uint8_t longer[] = {'x', 'A', 'B', 'C'};
  const uint8_t abc[] = {'A', 'B', 'C'};
  EXPECT_EQ(PatternOffset(longer, 3, abc, 3), -1);
}

// ---------------------------------------------------------------------------
// DecodeRunningKey, called on a file opened as the executor opens it.

class OpenForCleaning {
 public:
  OpenForCleaning(const TempMachine& m, const char* path, const Bytes& file) {
    m.Write(path, file);
    CleaningContext& c = Cleaning();
    std::strcpy(c.path, path);
    c.record = &record_;
    c.message = nullptr;
    open_ = OpenTargetFile(c.path, kModeClean, &c.target) != kNoFile;
    c.length = c.target.size;
  }
  ~OpenForCleaning() { CloseTargetFile(Cleaning().path, &Cleaning().target); }
  bool open() const { return open_; }

 private:
  VaccineRecord record_{};
  bool open_;
};

TEST_F(VaccineOpsTest, DecodeRunningKeyStepsTheKeyUpOrDown) {
  struct Case {
    uint8_t step;    // the byte at end-8
    uint8_t key;     // the byte at end-12
    int delta;       // what the virus's key does before each byte
  } cases[] = {{0x40, 0xF0, +1}, {0x41, 0x10, -1}, {0x00, 0x00, -1}, {0x48, 0x7F, -1}};
  const int32_t n = 688;
  Bytes plain = Pattern(132, 7);
  for (const auto& c : cases) {
    Bytes f = Pattern(2000, 3);
    uint8_t k = c.key;
    for (size_t i = 0; i < 132; i++) {
      k = (uint8_t)(k + c.delta);
      f[f.size() - n + i] = plain[i] ^ k;
    }
    f[f.size() - 8] = c.step;
    f[f.size() - 12] = c.key;
    OpenForCleaning open(m, "C:\\RK.COM", f);
    ASSERT_TRUE(open.open());
    std::memset(WorkBuffer(), 0, 140);
    ASSERT_TRUE(DecodeRunningKey(n)) << (int)c.step;
    EXPECT_EQ(Bytes(WorkBuffer(), WorkBuffer() + 132), plain) << "step byte " << (int)c.step;
  }
  // A file too short for the 132 bytes: nothing to decode.
  OpenForCleaning shortFile(m, "C:\\RK.COM", Pattern(600));
  EXPECT_FALSE(DecodeRunningKey(n));
}

// ---------------------------------------------------------------------------
// Failures and their messages: the file is left exactly as it was.

TEST_F(VaccineOpsTest, Code206ChecksTheVirusLength) {
  // A 648-byte virus behind a jump, with the host's first 3 bytes at 515.
  Bytes host = MakeComHost("host", 500);
  auto infect = [&](size_t virusSize) {
    Bytes f = host;
    Bytes virus = Pattern(virusSize);
    std::copy(host.begin(), host.begin() + 3, virus.begin() + 515);
    f[0] = 0xE9;
    PutU16(&f[1], (uint16_t)(host.size() - 3));
    return Concat(f, virus);
  };
  VaccineRecord r{};
  r.comPreOp = 206;
  r.savedOrigin = 0;
  r.savedLength = 3;
  r.restoreLength = 3;
  r.comCutLength = 648;
  EXPECT_EQ(Run("C:\\P.COM", infect(648), r), 1);
  EXPECT_EQ(m.Read("C:\\P.COM"), host);
  for (size_t wrong : {647, 649}) {
    Bytes f = infect(wrong);
    EXPECT_EQ(Run("C:\\P.COM", f, r), 0) << wrong;
    EXPECT_STREQ(CleaningMessage(), kMsgCorrupted);
    EXPECT_EQ(m.Read("C:\\P.COM"), f);
  }
}

TEST_F(VaccineOpsTest, Code221DeletesOnlyAnEightKilobyteCompanion) {
  Bytes companion = Pattern(8064);
  struct Case {
    const char* what;
    const char* file;
    size_t size;
    bool withExe;
    bool deleted;
  } cases[] = {
      {"companion beside its .EXE", "C:\\A\\GAME.COM", 8064, true, true},
      {"lower-case name", "C:\\B\\game.com", 8064, true, true},
      {"no .EXE beside it", "C:\\C\\GAME.COM", 8064, false, false},
      {"one byte too long", "C:\\D\\GAME.COM", 8065, true, false},
      {"one byte too short", "C:\\E\\GAME.COM", 8063, true, false},
      {"the .EXE itself", "C:\\F\\GAME.EXE", 8064, true, false},
  };
  VaccineRecord r = ComRoutine(221);
  for (const auto& c : cases) {
    std::string exe = std::string(c.file, std::strlen(c.file) - 4) + ".EXE";
    if (c.withExe) m.Write(exe, MakeExeHost("real"));
    Bytes f = Pattern(c.size);
    EXPECT_EQ(Run(c.file, f, r), c.deleted ? 1 : 0) << c.what;
    EXPECT_EQ(m.Exists(c.file), !c.deleted) << c.what;
    if (!c.deleted) {
      EXPECT_STREQ(CleaningMessage(), kMsgCorrupted) << c.what;
      EXPECT_EQ(m.Read(c.file), f) << c.what;
    }
    if (c.withExe) {
      EXPECT_TRUE(m.Exists(exe)) << c.what;
    }
  }
}

TEST_F(VaccineOpsTest, OperationsSetTheirOwnMessages) {
  Bytes exe = MakeExeHost("host", 3000);
  Bytes com = MakeComHost("host", 3000);
  VaccineRecord exePre{};
  exePre.exePreOp = 247;
  struct Case {
    const char* what;
    Bytes file;
    VaccineRecord record;
    FaultKind fault;   // kFaultKinds: none
    int skip;          // calls of that kind that pass first
    const char* message;
  } cases[] = {
      {"219 without COMMAND.COM", com, ComRoutine(219), kFaultKinds, 0, kMsgCorrupted},
      {"219 on a file too short to read", MakeComHost("x", 600), ComRoutine(219), kFaultKinds, 0,
       kMsgCannotRead},
      {"247 without its key", MakeExeHost("x", 20), exePre, kFaultKinds, 0, kMsgCorrupted},
      {"248 without its key", MakeComHost("x", 40), ComPostOp(248, 3), kFaultKinds, 0,
       kMsgCorrupted},
      {"225 cannot write", com, ComRoutine(225), kFaultWrite, 0, kMsgCannotWrite},
      {"276 cannot write", com, ComRoutine(276), kFaultWrite, 0, kMsgCannotWrite},
      // The first write is the block of the removal; the second puts the
      // fixed start back.
      {"90 cannot fix the start", Pattern(3044 + 500), ComRoutine(90), kFaultWrite, 1,
       kMsgCannotRead},
      {"146 cannot fix the start", Pattern(1079 + 500), ComRoutine(146), kFaultWrite, 1,
       kMsgCannotRead},
      {"147 cannot fix the start", Pattern(1074 + 500), ComRoutine(147), kFaultWrite, 1,
       kMsgCannotRead},
      {"code 1", com, ComRoutine(1), kFaultKinds, 0, kMsgNoVaccine},
  };
  for (const auto& c : cases) {
    FaultReset();
    if (c.fault != kFaultKinds) FaultArm(c.fault, c.skip, 1);
    EXPECT_EQ(Run("C:\\F.COM", c.file, c.record), 0) << c.what;
    FaultReset();
    EXPECT_STREQ(CleaningMessage(), c.message) << c.what;
    EXPECT_EQ(m.Read("C:\\F.COM"), c.file) << c.what << ": file must be unchanged";
  }
}

// ---------------------------------------------------------------------------
// Markers

TEST_F(VaccineOpsTest, MarkersCutOnlyWhenTheTextIsThere) {
  struct Case {
    const char* what;
    uint16_t code;
    size_t size;
    const char* marker;   // null: none planted
    size_t markerAt;      // its distance from the end
    size_t cut;           // what the cure cuts (0: the file stays)
    size_t restoreAt;     // where the host's start comes from (0: none)
    uint16_t restore;     // bytes of start restored
    uint16_t result;
  } cases[] = {
      {"68 marker present", 68, 2000, kMarkDown, 128, 128, 529, 3, 1},
      {"68 marker absent", 68, 2000, nullptr, 0, 0, 0, 3, 1},
      {"68 file at its guard", 68, 138, kMarkDown, 128, 0, 0, 3, 1},
      {"59 marker present", 59, 2000, kMarkWarning, 471, 474, 0, 3, 1},
      {"59 file below its guard", 59, 471, nullptr, 0, 0, 0, 3, 1},
      {"67 marker one byte off", 67, 2000, kMarkArrested, 222, 0, 0, 3, 1},
      {"69 marker present", 69, 1000, kMarkBeast, 65, 41, 445, 3, 1},
      {"72 file too short for the marker", 72, 500, nullptr, 0, 0, 0, 3, 1},
      {"74 marker present", 74, 2000, kMarkArrested, 221, 471, 604, 3, 1},
      {"71 host bytes out of reach", 71, 1000, kMarkDown, 128, 0, 0, 3, 0},
      {"267 marker present", 267, 24000, kMarkDown, 601, 601, 23722, 3, 1},
      {"270 marker absent", 270, 6000, nullptr, 0, 0, 0, 3, 1},
      {"70 only the first virus", 70, 2000, kMarkCpuTest, 27, 29, 162, 3, 1},
  };
  for (const auto& c : cases) {
    Bytes f = Pattern(c.size, c.code);
    if (c.marker) Put(&f, c.size - c.markerAt, Text(c.marker));
    Bytes want = f;
    if (c.result) {
      want.resize(c.size - c.cut);
      if (c.restoreAt) std::copy_n(f.end() - (long)c.restoreAt, c.restore, want.begin());
    }
    EXPECT_EQ(Run("C:\\M.COM", f, ComPostOp(c.code, c.restore)), c.result) << c.what;
    EXPECT_EQ(m.Read("C:\\M.COM"), want) << c.what;
  }
}

TEST_F(VaccineOpsTest, Code70CutsBothVirusesAndTakesTheInnerStart) {
  Bytes f = Pattern(3000);
  Put(&f, 3000 - 27, Text(kMarkCpuTest));
  Put(&f, 3000 - 128, Text(kMarkDown));
  Bytes want(f.begin(), f.end() - 29 - 128);
  std::copy_n(f.end() - 256, 6, want.begin());
  EXPECT_EQ(Run("C:\\M.COM", f, ComPostOp(70, 6)), 1);
  EXPECT_EQ(m.Read("C:\\M.COM"), want);
}

// ---------------------------------------------------------------------------
// Prepending, rotations, relocations

TEST_F(VaccineOpsTest, Code139BringsTheLast879BytesToTheFront) {
  Bytes f = Pattern(3000);
  EXPECT_EQ(Run("C:\\P.COM", f, ComRoutine(139)), 1);
  Bytes out = m.Read("C:\\P.COM");
  ASSERT_EQ(out.size(), 2121u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 879, f.end() - 879));
  EXPECT_TRUE(std::equal(out.begin() + 879, out.end(), f.begin() + 879));
  // Shorter than what it moves: refused.
  Bytes small = Pattern(800);
  EXPECT_EQ(Run("C:\\P.COM", small, ComRoutine(139)), 0);
  EXPECT_EQ(m.Read("C:\\P.COM"), small);
}

TEST_F(VaccineOpsTest, Code214RotatesEachWordByItsOwnCount) {
  // 120 bytes of words at 200 are decoded and written at the start.
  Bytes f = Pattern(600);
  for (int i = 0; i < 60; i++) PutU16(&f[200 + 2 * i], 0x8421);
  PutU16(&f[200], 0x1234);
  VaccineRecord r{};
  r.savedOffset = 200;
  r.savedLength = 120;
  r.restoreLength = 120;
  r.comPostOp = 214;
  ASSERT_EQ(Run("C:\\R.COM", f, r), 1);
  Bytes out = m.Read("C:\\R.COM");
  struct {
    int word;
    uint16_t value;
  } expect[] = {
      {0, 0x2341},    // 0x1234 right by 12
      {1, 0x8430},    // 0x8421 right by 11
      {44, 0x8421},   // right by 16: unchanged
      {45, 0x0843},   // right by 15
      {59, 0xC210},   // right by 1
  };
  for (const auto& e : expect) EXPECT_EQ(GetWord(out, 2 * (size_t)e.word), e.value) << e.word;
}

// An MZ program for code 179: a 64-byte header with the relocation table
// at 28, entry CS:IP = 0:0x10 (file offset 80), 3064 bytes long, so that
// the host's 5 bytes sit at p = 1890 and rel = p - 64 = 1826.
Bytes RelocatedProgram(const std::vector<uint32_t>& entries) {
  Bytes f = Pattern(3064);
  std::fill(f.begin(), f.begin() + 64, 0);
  f[0] = 'M';
  f[1] = 'Z';
  SetWord(&f, 6, (uint16_t)entries.size());
  SetWord(&f, 8, 4);        // header paragraphs
  SetWord(&f, 20, 0x10);    // IP
  SetWord(&f, 22, 0);       // CS
  SetWord(&f, 24, 28);      // relocation table
  for (size_t i = 0; i < entries.size(); i++) PutU32(&f[28 + 4 * i], entries[i]);
  Put(&f, 1890, Text("ABCDE"));
  FixMzSize(&f);
  return f;
}

TEST_F(VaccineOpsTest, Code179MovesOnlyRelocationsIntoTheVirusBytes) {
  struct {
    uint32_t before;
    uint32_t after;
  } entries[] = {
      {1825, 1825},                      // rel - 1: left
      {1826, 0x10},                      // rel: moved by IP - rel
      {1831, 0x15},                      // rel + 5: moved
      {1832, 1832},                      // rel + 6: left
      {0x10000 + 1826, 0x10000 + 1826},  // another segment: left
      {1826, 0},                         // the last: never looked at, zeroed
  };
  std::vector<uint32_t> in;
  for (const auto& e : entries) in.push_back(e.before);
  Bytes f = RelocatedProgram(in);
  VaccineRecord r{};
  r.exePreOp = 179;
  ASSERT_EQ(Run("C:\\R.EXE", f, r), 1);
  Bytes out = m.Read("C:\\R.EXE");
  ASSERT_EQ(out.size(), 3064u - 1600);
  EXPECT_EQ(GetWord(out, 6), 5);
  for (size_t i = 0; i < 6; i++) EXPECT_EQ(GetU32(&out[28 + 4 * i]), entries[i].after) << i;
  EXPECT_EQ(Bytes(out.begin() + 80, out.begin() + 85), Text("ABCDE"));
  // Without relocations there is no entry of the virus to drop.
  Bytes none = RelocatedProgram({});
  EXPECT_EQ(Run("C:\\R.EXE", none, r), 0);
  EXPECT_EQ(m.Read("C:\\R.EXE"), none);
}

// ---------------------------------------------------------------------------
// The jump at offset 0, through code 145 (len := jump(0)).

TEST_F(VaccineOpsTest, TheJumpAtTheStartIsFollowedAsTheScannerDoes) {
  struct Case {
    const char* what;
    Bytes start;
    int64_t length;   // -1: refused
  } cases[] = {
      {"near jump forward", Hex("E9 10 01"), 3 + 0x110},
      {"near jump far back wraps to its target", Hex("E9 F0 FF"), 3 + 0xFFF0},
      {"near jump to -1", Hex("E9 FC FF"), -1},
      {"near jump to 0 leaves nothing", Hex("E9 FD FF"), -1},
      {"short jump forward", Hex("EB 7F"), 2 + 0x7F},
      {"short jump back keeps its target", Hex("EB F0"), 2 + 0xF0},
      {"short jump wrapping to 1", Hex("EB FF"), 1},
      {"no jump", Hex("B8 00 4C"), -1},
      {"a call is not followed", Hex("E8 10 00"), -1},
  };
  for (const auto& c : cases) {
    Bytes f = Pattern(400);
    Put(&f, 0, c.start);
    uint16_t result = Run("C:\\J.COM", f, ComRoutine(145));
    EXPECT_EQ(result, c.length >= 0 ? 1 : 0) << c.what;
    Bytes out = m.Read("C:\\J.COM");
    if (c.length >= 0)
      EXPECT_EQ((int64_t)out.size(), c.length) << c.what;
    else
      EXPECT_EQ(out, f) << c.what;
  }
}

// ---------------------------------------------------------------------------
// The work buffer limits

TEST_F(VaccineOpsTest, Code132MovesAtMostAWorkBufferOfBytes) {
  // n = len - w(3) bytes at w(3) go to the start.
  for (size_t n : {kWorkBufferSize, kWorkBufferSize + 1, (size_t)65535}) {
    size_t d = 3000;
    Bytes f = Pattern(d + n, (uint32_t)n);
    SetWord(&f, 3, (uint16_t)d);
    bool fits = n <= kWorkBufferSize;
    EXPECT_EQ(Run("C:\\B.COM", f, ComRoutine(132)), fits ? 1 : 0) << n;
    Bytes out = m.Read("C:\\B.COM");
    if (!fits) {
      EXPECT_STREQ(CleaningMessage(), kMsgCannotRead) << n;
      EXPECT_EQ(out, f) << n;
      continue;
    }
    ASSERT_EQ(out.size(), f.size() - 2219) << n;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + (long)n, f.begin() + (long)d));
  }
}

TEST_F(VaccineOpsTest, Code154RefusesAFileTooShortForItsBody) {
  // The body is read at E+92 for 729 bytes; E = 0x200.
  for (size_t size : {0x200 + 92 + 728, 0x200 + 92 + 729}) {
    Bytes f = Pattern(size);
    Put(&f, 0, Hex("E9 FD 01"));
    EXPECT_EQ(Run("C:\\S.COM", f, ComPostOp(154, 3)), size == 0x200 + 92 + 729 ? 1 : 0) << size;
    if (size == 0x200 + 92 + 728) {
      EXPECT_EQ(m.Read("C:\\S.COM"), f);
    }
  }
}

// ---------------------------------------------------------------------------
// Every code over small hostile files, as the routine and as a recipe
// step: whatever the bytes say, no operation reads or writes outside its
// buffers, the file is always closed afterwards, and an operation that
// fails as the routine leaves the file as it was.

Bytes WildMz(size_t size, uint16_t fill, uint16_t relocs, uint16_t reloff) {
  Bytes f(size, 0);
  for (size_t i = 2; i + 1 < 28; i += 2) PutU16(&f[i], fill);
  f[0] = 'M';
  f[1] = 'Z';
  PutU16(&f[6], relocs);
  PutU16(&f[24], reloff);
  return f;
}

TEST_F(VaccineOpsTest, EveryOperationSurvivesHostileFiles) {
  Bytes randomCom = Pattern(6000, 11);
  Put(&randomCom, 0, Hex("E9 B5 0B"));   // to 3000
  Bytes randomMz = Pattern(6000, 12);
  std::memcpy(&randomMz[0], "MZ", 2);
  SetWord(&randomMz, 6, 40);      // relocations
  SetWord(&randomMz, 8, 2);       // header paragraphs
  SetWord(&randomMz, 20, 0x20);   // IP
  SetWord(&randomMz, 22, 0x10);   // CS
  SetWord(&randomMz, 24, 28);     // relocation table
  struct Hostile {
    const char* what;
    Bytes file;
    int32_t v;   // the virus position the scanner reports
  } files[] = {
      {"28 zero bytes", Bytes(28, 0), 0},
      {"28-byte MZ, every field 0xFFFF", WildMz(28, 0xFFFF, 0xFFFF, 0xFFFF), 27},
      {"29 bytes, jump before the start", Concat(Hex("E9 FC FF"), Bytes(26, 0xE9)), -3},
      {"100 bytes, jump past the end", Concat(Hex("E9 00 70"), Bytes(97, 0x40)), 99},
      {"100 bytes, short jump to itself", Concat(Hex("EB FE"), Bytes(98, 0xD0)), INT32_MAX},
      {"100-byte MZ, 65535 relocations from 28", WildMz(100, 0, 0xFFFF, 28), 50},
      {"100-byte MZ, offsets past the end", WildMz(100, 0xFFFF, 0xFFFF, 0xFFF0), INT32_MIN + 8},
      {"100 bytes of 0xFF", Bytes(100, 0xFF), 0x7FFFFFF0},
      {"6000 random bytes behind a jump", randomCom, 3000},
      {"6000-byte random MZ", randomMz, 2000},
      {"30000 random bytes", Pattern(30000, 13), 20000},
  };
  for (const auto& h : files) {
    bool mz = h.file[0] == 'M' && h.file[1] == 'Z';
    for (const VaccineOpRow& row : kVaccineOpTable) {
      if (row.code == 0) continue;
      for (int asRoutine = 0; asRoutine < 2; asRoutine++) {
        VaccineRecord r{};
        if (mz && asRoutine) {
          r.exeRoutine = row.code;
        } else if (mz) {
          r.csFromEnd = 8;
          r.ipFromEnd = 6;
          r.ssFromEnd = 4;
          r.spFromEnd = 2;
          r.exeCutLength = 10;
          r.exePreOp = row.code;
        } else if (asRoutine) {
          r.comRoutine = row.code;
        } else {
          r = ComPostOp(row.code, 8);
          r.comCutLength = 10;
        }
        SetV(h.v);
        std::memset(MzHeaderCopy(), 0xFF, 28);
        std::memset(WorkBuffer(), 0x5A, kWorkBufferSize);
        uint16_t result = Run("C:\\H.COM", h.file, r);
        EXPECT_EQ(Cleaning().target.handle, kNoFile) << h.what << ", code " << row.code;
        // (As a recipe step, an operation that finishes the cleaning
        // itself leaves the recipe a closed file; only as the routine is
        // its failure its own.)
        if (result == 0 && asRoutine) {
          EXPECT_EQ(m.Read("C:\\H.COM"), h.file) << h.what << ", code " << row.code;
        }
      }
    }
  }
}

}  // namespace
