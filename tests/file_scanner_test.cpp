// The file scanner: candidate names, entry points, branch following and the
// signature search with its window, far signatures, wildcards, the end of
// the file and confirmation.
#include <gtest/gtest.h>

#include "cure/report_log.h"
#include "engine/dispatch.h"
#include "engine/file_scanner.h"
#include "engine/target_file.h"
#include "engine/virus_db.h"
#include "platform/faults.h"
#include "tests/fixtures/fixtures.h"

namespace {

TEST(ScanNames, CandidatesAndExclusions) {
  struct Case {
    const char* name;
    bool candidate;
    bool excluded;
  } cases[] = {
      {"PLAY.EXE", true, false},     {"play.exe.bak", true, false}, {"X.COMMAND", true, false},
      {"letter.doc", true, false},   {"NORMAL.DOT", true, false},   {"GAME.OVL", true, false},
      {"GAME.ovr", true, false},     {"README.TXT", false, false},  {"EXE", false, false},
      {"config.sys", false, true},   {"OLDCONFIG.SYS.COM", true, true},
      {"C:\\PAGEFILE.SYS", false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsScanCandidateName(c.name), c.candidate) << c.name;
    EXPECT_EQ(IsExcludedSystemName(c.name), c.excluded) << c.name;
  }
}

constexpr int16_t kVirus = 42;

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.AddDrive('C');
    FaultReset();
    SetCureEnabled(false);
  }
  void TearDown() override {
    FaultReset();
    SetCureEnabled(true);
    FreeVirusDatabase();
  }
  // Loads a database with one virus and these signatures and confirmations.
  void LoadSignatures(std::vector<CtlSignatureDef> sigs, std::vector<CtlConfirmDef> confirms = {}) {
    CtlDatabase db;
    CtlVirusDef v{};
    v.number = kVirus;
    v.names = {"Test.Virus"};
    v.signatures = std::move(sigs);
    v.confirms = std::move(confirms);
    db.viruses.push_back(v);
    m.Write("C:\\DB\\QUELTAN.CTL", BuildDatabase(db));
    const char* failure = nullptr;
    ASSERT_TRUE(LoadVirusDatabaseFrom("C:\\DB\\QUELTAN.CTL", &failure)) << failure;
  }
  // Scans one file; true when the virus was found.
  bool Scan(const Bytes& file, const char* name = "C:\\T\\FILE.COM") {
    m.Write(name, file);
    Verdict().infected = false;
    EXPECT_NE(OpenTargetFile(name, kModeScan, ScannerFile()), kNoFile);
    SearchSignatures(name);
    CloseTargetFile(name, ScannerFile());
    return Verdict().infected;
  }
  TempMachine m;
};

// A non-MZ file of `size` bytes, zero-filled, with bytes put at places.
Bytes Flat(size_t size, std::initializer_list<std::pair<size_t, Bytes>> parts) {
  Bytes b(size, 0);
  for (const auto& [at, bytes] : parts) Put(&b, at, bytes);
  return b;
}

TEST_F(ScannerTest, EntryFollowsTheFirstBranch) {
  const Bytes pattern = Hex("C3 11 22 33 44 55");
  LoadSignatures({Sig(0, 0, "C3 11 22 33 44 55", "C3", "")});
  struct Case {
    const char* what;
    Bytes file;
    bool found;
  } cases[] = {
      // E9 at 0 to 0x200.
      {"near jump", Flat(0x300, {{0, Hex("E9 FD 01")}, {0x200, pattern}}), true},
      // A CALL first is followed in the first-branch step.
      {"call first", Flat(0x300, {{0, Hex("E8 FD 01")}, {0x200, pattern}}), true},
      // A 3-byte instruction, then a short jump found at 3.
      {"jump after mov", Flat(0x300, {{0, Hex("B8 00 4C EB 7B")}, {0x80, pattern}}), true},
      // The pattern at the start, no branch in the first 20 bytes.
      {"no branch", Flat(0x100, {{0, pattern}}), true},
      // JMP [0x105]: the word at offset 5 holds 0x0180, the target 0x80.
      {"jmp through word", Flat(0x300, {{0, Hex("FF 26 05 01 90 80 01")}, {0x80, pattern}}), true},
      // MOV BX,0x0190 / JMP BX: target 0x90.
      {"jmp bx", Flat(0x300, {{0, Hex("BB 90 01 FF E3")}, {0x90, pattern}}), true},
      // JMP BX with no MOV BX before it is not followed: entry 0.
      {"jmp bx alone", Flat(0x300, {{0, Hex("FF E3 BB 90 01")}, {0x90, pattern}}), false},
      // A pointer too far for the 50 bytes read: not followed.
      {"jmp through far word", Flat(0x300, {{0, Hex("FF 26 40 01")}, {0x80, pattern}}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(Scan(c.file), c.found) << c.what;
}

TEST_F(ScannerTest, NearJumpsAtTheEntryAreFollowedTwice) {
  const Bytes pattern = Hex("C3 11 22 33 44 55");
  LoadSignatures({Sig(0, 0, "C3 11 22 33 44 55", "C3", "")});
  // 0 -> 0x100 -> 0x200 -> 0x300 -> 0x400, every hop an E9.
  auto chain = [&](size_t at) {
    Bytes b = Flat(0x500, {{0, Hex("E9 FD 00")}, {0x100, Hex("E9 FD 00")},
                           {0x200, Hex("E9 FD 00")}, {0x300, Hex("E9 FD 00")}});
    Put(&b, at, pattern);
    return b;
  };
  EXPECT_TRUE(Scan(chain(0x300)));    // first branch, then two hops at the entry
  EXPECT_FALSE(Scan(chain(0x400)));   // a third hop is not made
}

TEST_F(ScannerTest, BranchesWrapWithinTheSegment) {
  // FollowRelativeBranch on positions of a flat file: forward past 0xFFFF
  // wraps back by 65,536; backward below -1 goes forward instead; short
  // jumps wrap by 256.
  Bytes f(0x10100, 0);
  Put(&f, 0, Hex("E9 F0 FF"));          // backward from 3 by 16: -13, taken forward: 0xFFF3
  Put(&f, 0x20, Hex("EB FE"));          // jmp $: back to itself
  Put(&f, 0xFFF0, Hex("E9 20 00"));     // forward to 0x10013: wraps to 0x13
  Put(&f, 0x40, Hex("E9 00 80"));       // backward by 0x8000 from 0x43: 0xFFFF8043 -> forward 0x8043
  m.Write("C:\\W.COM", f);
  ASSERT_NE(OpenTargetFile("C:\\W.COM", kModeScan, ScannerFile()), kNoFile);
  ASSERT_EQ(LocateEntryPoint(), 0xFFF3);
  EXPECT_EQ(FollowRelativeBranch(0x20), 0x20);
  EXPECT_EQ(FollowRelativeBranch(0xFFF0), 0x13);
  EXPECT_EQ(FollowRelativeBranch(0x40), 0x8043);
  EXPECT_EQ(FollowRelativeBranch(0x30), 0);   // no branch there: 0
  EXPECT_EQ(FollowRelativeBranch(0x100FD), -1);   // fewer than 5 bytes left
  CloseTargetFile("C:\\W.COM", ScannerFile());
}

TEST_F(ScannerTest, MzEntryComesFromTheHeader) {
  LoadSignatures({Sig(0, 0, "FA 11 22 33 44", "", "FA")});
  MzLayout l;
  l.cs = 0x10;
  l.ip = 0x08;
  Bytes exe = MakeMzProgram(Hex("FA 11 22 33 44"), l);
  EXPECT_TRUE(Scan(exe, "C:\\T\\PROG.EXE"));
  EXPECT_EQ(Layout()->moduleBase, 32 + 0x100);
  EXPECT_EQ(Layout()->entryOffset, 32 + 0x108);
  // MZ bytes decide, whatever the name says.
  EXPECT_TRUE(Scan(exe, "C:\\T\\PROG.COM"));
  // An entry point at or beyond the end of the file gives no verdict.
  l.ip = 0x7000;
  Bytes beyond = MakeMzProgram(Hex("FA"), l);
  beyond.resize(0x200);
  EXPECT_FALSE(Scan(beyond, "C:\\T\\BEYOND.EXE"));
  // A header shorter than 28 bytes: no verdict.
  EXPECT_FALSE(Scan(Hex("4D 5A FA 11 22 33 44"), "C:\\T\\TINY.EXE"));
}

TEST_F(ScannerTest, TheWindowAroundTheEntry) {
  // A signature 100 bytes before the entry, and one 3,600 bytes after it
  // (read directly from the file).
  LoadSignatures({Sig(-100, -100, "D1 D2 D3 D4 D5 D6", "C3", ""),
                  Sig(3600, 3600, "F1 F2 F3 F4 F5 F6 F7", "C4", "")});
  // Entry 150: the window starts at 0 with 150 bytes before the entry.
  EXPECT_TRUE(Scan(Flat(0x400, {{0, Hex("E9 93 00")}, {50, Hex("D1 D2 D3 D4 D5 D6")}, {150, Hex("C3")}})));
  EXPECT_EQ(Window().before, 150);
  // 100 bytes before an entry at 90 lies outside the file.
  EXPECT_FALSE(Scan(Flat(0x400, {{0, Hex("E9 57 00")}, {90, Hex("C3")}})));
  Bytes far = Flat(0x1200, {{0, Hex("E9 FD 01")}, {0x200, Hex("C4")}, {0x200 + 3600, Hex("F1 F2 F3 F4 F5 F6 F7")}});
  EXPECT_TRUE(Scan(far));
  // The same with the file ending one byte short of the pattern.
  far.resize(0x200 + 3600 + 6);
  EXPECT_FALSE(Scan(far));
}

TEST_F(ScannerTest, WildcardsAndTheEndOfTheFile) {
  LoadSignatures({Sig(0, 0, "C5 ?? 22 ?? 44 55 66", "C5", "")});
  EXPECT_TRUE(Scan(Flat(0x100, {{0x40, Hex("C5 00 22 FF 44 55 66")}, {0, Hex("EB 3E")}})));
  EXPECT_FALSE(Scan(Flat(0x100, {{0x40, Hex("C5 00 23 FF 44 55 66")}, {0, Hex("EB 3E")}})));
  // The last pattern byte would lie beyond the end of the file.
  Bytes cut = Flat(0x46, {{0x40, Hex("C5 00 22 FF 44 55")}, {0, Hex("EB 3E")}});
  EXPECT_FALSE(Scan(cut));
  // A wildcard is no exception at the end of the file.
  LoadSignatures({Sig(0, 0, "C5 11 22 33 44 ??", "C5", "")});
  EXPECT_FALSE(Scan(Flat(0x45, {{0x40, Hex("C5 11 22 33 44")}, {0, Hex("EB 3E")}})));
  // A non-MZ file of 49 bytes is not searched at all.
  EXPECT_FALSE(Scan(Flat(49, {{0, Hex("C5 11 22 33 44 55")}})));
  EXPECT_TRUE(Scan(Flat(50, {{0, Hex("C5 11 22 33 44 55")}})));
}

TEST_F(ScannerTest, ConfirmationPatterns) {
  // Two patterns: the first 500 bytes before an entry at 0x100 (outside
  // the window, skipped), the second 20 bytes after the entry (decides).
  LoadSignatures({Sig(0, 0, "C6 11 22 33 44", "C6", "", true)},
                 {CtlConfirmDef{-500, -500, Hex("AA AA")}, CtlConfirmDef{20, 20, Hex("BB ?? BB")}});
  Bytes f = Flat(0x200, {{0, Hex("E9 FD 00")}, {0x100, Hex("C6 11 22 33 44")}, {0x114, Hex("BB 00 BB")}});
  EXPECT_TRUE(Scan(f));
  EXPECT_EQ(LastMatch().virusNumber, kVirus);
  EXPECT_EQ(LastMatch().position, 0x100);
  EXPECT_EQ(LastMatch().length, 5);
  Put(&f, 0x114, Hex("BB 00 BC"));
  EXPECT_FALSE(Scan(f));
  // A confirmation that cannot be read fails.
  Put(&f, 0x114, Hex("BB 00 BB"));
  FaultArm(kFaultOpen, 0, 1, "QUELTAN.CTL");
  EXPECT_FALSE(Scan(f));
}

TEST_F(ScannerTest, CandidatesAreTriedInListOrder) {
  // Two viruses filed under the same byte; the first that matches counts.
  CtlDatabase db;
  for (int16_t n : {1, 2}) {
    CtlVirusDef v{};
    v.number = n;
    v.names = {"V" + std::to_string(n)};
    v.signatures = {Sig(0, 0, n == 1 ? "C7 99 99 99 99" : "C7 11 ?? 33 44", "C7", "")};
    db.viruses.push_back(v);
  }
  m.Write("C:\\DB\\QUELTAN.CTL", BuildDatabase(db));
  const char* failure = nullptr;
  ASSERT_TRUE(LoadVirusDatabaseFrom("C:\\DB\\QUELTAN.CTL", &failure));
  EXPECT_TRUE(Scan(Flat(0x80, {{0, Hex("C7 11 22 33 44")}})));
  EXPECT_STREQ(Verdict().virusName, "V2");
}

TEST_F(ScannerTest, TailsLeftInTheFile) {
  Bytes db;
  {
    CtlDatabase d;
    CtlVirusDef v{};
    v.number = kVirus;
    v.names = {"Test.Virus"};
    v.signatures = {Sig(0, 0, "C8 11 22 33 44 55 66 77", "C8", "")};
    d.viruses.push_back(v);
    db = BuildDatabase(d);
  }
  m.Write("C:\\DB\\QUELTAN.CTL", db);
  FaultArm(kFaultAlloc, 9, 1);   // the tails' memory
  const char* failure = nullptr;
  ASSERT_TRUE(LoadVirusDatabaseFrom("C:\\DB\\QUELTAN.CTL", &failure));
  ASSERT_FALSE(VirusDb().tailsInMemory);
  EXPECT_TRUE(Scan(Flat(0x80, {{0, Hex("C8 11 22 33 44 55 66 77")}})));
  EXPECT_FALSE(Scan(Flat(0x80, {{0, Hex("C8 11 22 33 44 55 66 78")}})));
  // A tail that cannot be fetched ends the search of the file.
  FaultArm(kFaultOpen, 0, 1, "QUELTAN.CTL");
  EXPECT_FALSE(Scan(Flat(0x80, {{0, Hex("C8 11 22 33 44 55 66 77")}})));
}

}  // namespace
