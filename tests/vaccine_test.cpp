// The vaccine executor: the MZ and COM recipes, the dropper rename, the
// messages, and the file left exactly as it was when a cure fails.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "common/le.h"
#include "cure/vaccine.h"
#include "platform/faults.h"
#include "tests/fixtures/fixtures.h"

namespace {

class VaccineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.AddDrive('C');
    FaultReset();
  }
  void TearDown() override { FaultReset(); }
  // Runs the record on a file; returns the result and leaves the message.
  uint16_t Run(const std::string& path, const Bytes& file, VaccineRecord r) {
    m.Write(path, file);
    return RunVaccine(path.c_str(), &r);
  }
  TempMachine m;
};

VaccineRecord Com(int32_t savedOffset, uint16_t origin, uint16_t savedLength, uint16_t restoreLength,
                  uint16_t cut) {
  VaccineRecord r{};
  r.savedOffset = savedOffset;
  r.savedOrigin = origin;
  r.savedLength = savedLength;
  r.restoreLength = restoreLength;
  r.comCutLength = cut;
  return r;
}

Bytes InfectCom(const Bytes& host) { return AppendComVirus(host, Bytes{0xCC}); }

TEST_F(VaccineTest, ComRecipeRestoresTheStartAndCutsTheBody) {
  Bytes host = MakeComHost("hello", 200);
  EXPECT_EQ(Run("C:\\P.COM", InfectCom(host), Com(-3, 2, 3, 3, 300)), 1);
  EXPECT_EQ(m.Read("C:\\P.COM"), host);
  EXPECT_STREQ(CleaningMessage(), "");
  // The origin may also be the start of the file.
  Bytes infected = InfectCom(host);
  EXPECT_EQ(Run("C:\\Q.COM", infected, Com((int32_t)infected.size() - 3, 0, 3, 3, 300)), 1);
  EXPECT_EQ(m.Read("C:\\Q.COM"), host);
}

TEST_F(VaccineTest, MzRecipeRestoresEntryValuesAndRecountsPages) {
  // The virus kept CS, IP, SS and SP as the last 8 bytes of its body.
  MzLayout l;
  l.cs = 1;
  l.ip = 2;
  l.ss = 3;
  l.sp = 4;
  Bytes host = MakeMzProgram(Hex("B8 00 4C CD 21"), l, 1024 - 32);
  ASSERT_EQ(host.size(), 1024u);   // a multiple of 512
  Bytes f = host;
  Bytes body(200, 0xCC);
  PutU16(&body[192], 1);   // CS
  PutU16(&body[194], 2);   // IP
  PutU16(&body[196], 3);   // SS
  PutU16(&body[198], 4);   // SP
  f.insert(f.end(), body.begin(), body.end());
  SetWord(&f, 22, 0x40);   // entry moved into the body
  SetWord(&f, 20, 0x00);
  SetWord(&f, 14, 0x99);
  SetWord(&f, 16, 0x98);
  FixMzSize(&f);
  VaccineRecord r{};
  r.csFromEnd = 8;
  r.ipFromEnd = 6;
  r.ssFromEnd = 4;
  r.spFromEnd = 2;
  r.exeCutLength = 200;
  EXPECT_EQ(Run("C:\\P.EXE", f, r), 1);
  Bytes out = m.Read("C:\\P.EXE");
  EXPECT_EQ(out, host);
  EXPECT_EQ(GetWord(out, 2), 0);   // 1,024 bytes: no partial last page
  EXPECT_EQ(GetWord(out, 4), 2);
  // A zero distance leaves its header word as it is.
  r.ssFromEnd = 0;
  EXPECT_EQ(Run("C:\\P.EXE", f, r), 1);
  out = m.Read("C:\\P.EXE");
  EXPECT_EQ(GetWord(out, 14), 0x99);
  EXPECT_EQ(GetWord(out, 16), 4);
}

TEST_F(VaccineTest, TheFileKindComesFromItsBytes) {
  // An .EXE without "MZ" takes the COM path; a .COM with "MZ" the MZ path.
  Bytes host = MakeComHost("x", 100);
  VaccineRecord r = Com(-3, 2, 3, 3, 300);
  r.exeRoutine = 86;   // would rename it, were it taken for MZ
  EXPECT_EQ(Run("C:\\NOTMZ.EXE", InfectCom(host), r), 1);
  EXPECT_EQ(m.Read("C:\\NOTMZ.EXE"), host);
  Bytes exe = MakeMzProgram(Hex("90"), MzLayout{}, 100);
  EXPECT_EQ(Run("C:\\ISMZ.COM", exe, r), 1);
  EXPECT_TRUE(m.Exists("C:\\ISMZ.VOM"));
  EXPECT_EQ(CleaningAction(), kActionDropper);
}

TEST_F(VaccineTest, FailuresAndTheirMessages) {
  Bytes infected = InfectCom(MakeComHost("x", 100));
  struct Case {
    const char* what;
    Bytes file;
    VaccineRecord record;
    const char* message;
  };
  VaccineRecord missingOp = Com(-3, 2, 3, 3, 300);
  missingOp.comPostOp = 53;
  VaccineRecord routine52{};
  routine52.comRoutine = 52;
  VaccineRecord noVaccine{};
  noVaccine.comRoutine = 1;
  VaccineRecord tooMuch = Com(-3, 2, 9000, 3, 300);   // more than the work buffer
  VaccineRecord badOrigin = Com(-3, 7, 3, 3, 300);
  VaccineRecord cutsTooMuch = Com(-3, 2, 3, 3, 60000);
  VaccineRecord beforeStart = Com(-100000, 2, 3, 3, 300);
  Case cases[] = {
      {"shorter than 28 bytes", Hex("E9 00 00 01 02 03"), Com(-3, 2, 3, 3, 1), kMsgCannotRead},
      {"post-op not in the table", infected, missingOp, kMsgCannotRead},
      {"routine 52", infected, routine52, kMsgCannotRead},
      {"code 1", infected, noVaccine, kMsgNoVaccine},
      {"saved length beyond the work buffer", infected, tooMuch, kMsgCannotRead},
      {"unknown origin", infected, badOrigin, kMsgCannotRead},
      {"cut longer than the file", infected, cutsTooMuch, kMsgCannotRead},
      {"saved bytes before the start", infected, beforeStart, kMsgCannotRead},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run("C:\\F.COM", c.file, c.record), 0) << c.what;
    EXPECT_STREQ(CleaningMessage(), c.message) << c.what;
    EXPECT_EQ(m.Read("C:\\F.COM"), c.file) << c.what << ": file must be unchanged";
  }
  EXPECT_EQ(RunVaccine("C:\\MISSING.COM", &missingOp), 0);
  EXPECT_STREQ(CleaningMessage(), kMsgCannotOpen);
}

TEST_F(VaccineTest, AFailedCureLeavesTheFileAsItWas) {
  // The start is written back, then the cut fails: without undo the host's
  // start would sit in front of the virus body.
  Bytes infected = InfectCom(MakeComHost("x", 100));
  FaultArm(kFaultSetLength, 0, 1);
  EXPECT_EQ(Run("C:\\F.COM", infected, Com(-3, 2, 3, 3, 300)), 0);
  EXPECT_STREQ(CleaningMessage(), kMsgCannotWrite);
  EXPECT_EQ(m.Read("C:\\F.COM"), infected);
  // The MZ header write fails: nothing changed.
  Bytes exe = MakeMzProgram(Hex("90"), MzLayout{}, 600);
  VaccineRecord r{};
  r.ipFromEnd = 2;
  r.exeCutLength = 10;
  FaultArm(kFaultWrite, 0, 1);
  EXPECT_EQ(Run("C:\\F.EXE", exe, r), 0);
  EXPECT_STREQ(CleaningMessage(), kMsgCannotWrite);
  EXPECT_EQ(m.Read("C:\\F.EXE"), exe);
  // No memory for the copy: the cure is refused before anything changes.
  FaultArm(kFaultAlloc, 0, 1);
  EXPECT_EQ(Run("C:\\F.COM", infected, Com(-3, 2, 3, 3, 300)), 0);
  EXPECT_EQ(m.Read("C:\\F.COM"), infected);
}

TEST_F(VaccineTest, ReadOnlyFilesAreCleanedAndStayReadOnly) {
  Bytes host = MakeComHost("x", 100);
  m.Write("C:\\RO.COM", InfectCom(host));
  ASSERT_TRUE(PlatSetAttributes("C:\\RO.COM", kAttrReadOnly | kAttrHidden));
  VaccineRecord r = Com(-3, 2, 3, 3, 300);
  EXPECT_EQ(RunVaccine("C:\\RO.COM", &r), 1);
  EXPECT_EQ(m.Read("C:\\RO.COM"), host);
  struct stat st;
  stat(m.Host("C:\\RO.COM").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  uint32_t attrs = PlatGetAttributes("C:\\RO.COM");
  EXPECT_TRUE(attrs & kAttrReadOnly);
  // A failed cure of a read-only file also keeps it read-only.
  m.Write("C:\\RO2.COM", InfectCom(host));
  ASSERT_TRUE(PlatSetAttributes("C:\\RO2.COM", kAttrReadOnly));
  r.comPostOp = 54;
  EXPECT_EQ(RunVaccine("C:\\RO2.COM", &r), 0);
  EXPECT_TRUE(PlatGetAttributes("C:\\RO2.COM") & kAttrReadOnly);
}

TEST_F(VaccineTest, DropperNames) {
  struct Case {
    const char* file;
    const char* renamed;
  } cases[] = {
      {"C:\\D\\GAME.EXE", "C:\\D\\GAME.VXE"},
      {"C:\\D\\game.exe", "C:\\D\\game.VXE"},
      {"C:\\D\\TOOL.COM", "C:\\D\\TOOL.VOM"},
      {"C:\\D\\LETTER.DOC", "C:\\D\\LETTER.VOM"},
      {"C:\\D\\NODOT", "C:\\D\\NODOT.VOM"},
      {"C:\\D\\TWO.EXE.BAK", "C:\\D\\TWO.VOM"},
  };
  VaccineRecord r{};
  r.comRoutine = 86;
  r.exeRoutine = 86;
  for (const auto& c : cases) {
    m.Write(c.file, MakeComHost("x", 100));
    ASSERT_EQ(RunVaccine(c.file, &r), 1) << c.file;
    EXPECT_TRUE(m.Exists(c.renamed)) << c.renamed;
    EXPECT_FALSE(m.Exists(c.file)) << c.file;
    EXPECT_EQ(CleaningAction(), kActionDropper);
  }
  // An existing file of the new name is replaced.
  Bytes again = MakeComHost("again", 100);
  m.Write("C:\\D\\AGAIN.COM", again);
  m.Write("C:\\D\\AGAIN.VOM", Hex("03 04"));
  EXPECT_EQ(RunVaccine("C:\\D\\AGAIN.COM", &r), 1);
  EXPECT_EQ(m.Read("C:\\D\\AGAIN.VOM"), again);
  // A path whose first '.' lies in a directory name has the rest replaced.
  m.Write("C:\\V1.0\\SETUP.EXE", MakeComHost("setup", 100));
  EXPECT_EQ(RunVaccine("C:\\V1.0\\SETUP.EXE", &r), 1);
  EXPECT_TRUE(m.Exists("C:\\V1.VOM"));
}

}  // namespace

namespace {

// A prepending virus of `lead` bytes in front of a host of `hostSize`.
Bytes Prepended(size_t lead, size_t hostSize, Bytes* host) {
  *host = MakeComHost("prepended", hostSize);
  for (size_t i = 0; i < host->size(); i++) (*host)[i] = (uint8_t)((*host)[i] + i * 7);
  Bytes f(lead, 0xAB);
  f.insert(f.end(), host->begin(), host->end());
  return f;
}

TEST_F(VaccineTest, LeadingBytesMoveInBlocksOfSixThousand) {
  // Code 38 removes 1,244 leading bytes and finishes the cleaning: hosts of
  // exactly two blocks, two blocks and a byte, and less than one block.
  for (size_t hostSize : {12000u, 12001u, 5999u, 6000u}) {
    Bytes host;
    Bytes f = Prepended(1244, hostSize, &host);
    VaccineRecord r{};
    r.comRoutine = 38;
    EXPECT_EQ(Run("C:\\LEAD.COM", f, r), 1) << hostSize;
    EXPECT_EQ(m.Read("C:\\LEAD.COM"), host) << hostSize;
  }
  // A block that cannot be written leaves the file as it was.
  Bytes host;
  Bytes f = Prepended(1244, 12001, &host);
  VaccineRecord r{};
  r.comRoutine = 38;
  FaultArm(kFaultWrite, 1, 1);
  EXPECT_EQ(Run("C:\\LEAD.COM", f, r), 0);
  EXPECT_STREQ(CleaningMessage(), kMsgCannotWrite);
  EXPECT_EQ(m.Read("C:\\LEAD.COM"), f);
}

TEST_F(VaccineTest, AnOperationThatFinishesTheCleaningEndsTheRecipe) {
  // The same lead operation named as the COM recipe's first step: it cuts,
  // closes and restores the file itself, and its result is the result.
  Bytes host;
  Bytes f = Prepended(1792, 3000, &host);
  VaccineRecord r{};
  r.comPreOp = 35;
  r.restoreLength = 3;   // would write to a closed file if the recipe went on
  EXPECT_EQ(Run("C:\\PRE.COM", f, r), 1);
  EXPECT_EQ(m.Read("C:\\PRE.COM"), host);
}

TEST_F(VaccineTest, ThePageRecountCanBeSuppressed) {
  // Code 227 reads the first 12 header words from the virus body (inverted)
  // and keeps its page fields: the recipe must not recount them.
  Bytes exe = MakeMzProgram(Hex("90"), MzLayout{}, 5000);
  Bytes saved(24);
  for (int i = 0; i < 24; i++) saved[i] = (uint8_t)~exe[i];
  SetWord(&saved, 2, (uint16_t)~0x0123);   // pages as the virus kept them
  SetWord(&saved, 4, (uint16_t)~0x0045);
  Bytes f = exe;
  Bytes body(3898, 0xCC);
  std::copy(saved.begin(), saved.end(), body.begin());
  f.insert(f.end(), body.begin(), body.end());
  VaccineRecord r{};
  r.exePreOp = 227;
  r.exeCutLength = 3898;
  EXPECT_EQ(Run("C:\\P227.EXE", f, r), 1);
  Bytes out = m.Read("C:\\P227.EXE");
  EXPECT_EQ(out.size(), exe.size());
  EXPECT_EQ(GetWord(out, 2), 0x0123);
  EXPECT_EQ(GetWord(out, 4), 0x0045);
}

}  // namespace
