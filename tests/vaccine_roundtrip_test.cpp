// Every vaccine operation against an independent inverse of it: for each
// operation code the infection table (tools/samplegen/infections) builds a
// host program infected the way the operation expects, the executor runs
// the vaccine that names the code, and the file must come back as the host
// byte for byte (or be refused, renamed or deleted where the code does
// that). The infections are written from the operations' descriptions, not
// from their code, so a failing code means the two readings disagree.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/le.h"
#include "cure/vaccine.h"
#include "engine/file_scanner.h"
#include "tests/fixtures/fixtures.h"
#include "tools/samplegen/infections.h"

// gtest names a row by its code.
void PrintTo(const InfectionRow& row, std::ostream* os) { *os << "code " << row.code; }

namespace {

// Stands for the virus code at the entry point: call next / pop bp.
const Bytes kPrologue = {0xE8, 0x00, 0x00, 0x5D};

VaccineRecord ToRecord(const CtlVaccineRecord& c) {
  VaccineRecord r{};
  r.firstWord = c.firstWord;
  r.exeRoutine = c.exeRoutine;
  r.csFromEnd = c.csFromEnd;
  r.ipFromEnd = c.ipFromEnd;
  r.ssFromEnd = c.ssFromEnd;
  r.spFromEnd = c.spFromEnd;
  r.exeCutLength = c.exeCutLength;
  r.exePreOp = c.exePreOp;
  r.comRoutine = c.comRoutine;
  r.comPreOp = c.comPreOp;
  r.savedOffset = c.savedOffset;
  r.savedLength = c.savedLength;
  r.savedOrigin = c.savedOrigin;
  r.restoreLength = c.restoreLength;
  r.comCutLength = c.comCutLength;
  r.comPostOp = c.comPostOp;
  return r;
}

// The scanner's state as the signature search leaves it for the infected
// file: the layout, its header copy and the match at the virus position.
void SetScannerState(const Infection& inf) {
  const Bytes& f = inf.file;
  bool mz = f.size() >= 2 && f[0] == 'M' && f[1] == 'Z';
  ProgramLayout* l = Layout();
  l->fileLength = (int32_t)f.size();
  l->isMZ = mz;
  l->moduleBase = mz ? 16 * ((int32_t)GetWord(f, 8) + GetWord(f, 22)) : 0;
  l->segmentEnd = l->moduleBase + 0xFFFF;
  l->entryOffset = inf.entry;
  l->followCalls = false;
  std::memcpy(MzHeaderCopy(), inf.scannerHeader, sizeof inf.scannerHeader);
  SetLastMatch({1, inf.virusPosition, (uint8_t)kPrologue.size()});
}

// "" when the bytes are equal, else where they first differ.
std::string Difference(const Bytes& got, const Bytes& want) {
  if (got == want) return "";
  std::ostringstream s;
  s << "length " << got.size() << ", expected " << want.size();
  for (size_t i = 0; i < std::min(got.size(), want.size()); i++)
    if (got[i] != want[i]) {
      s << "; first difference at " << i << ": " << (int)got[i] << ", expected " << (int)want[i];
      break;
    }
  return s.str();
}

std::string PathFor(const InfectionRow& row, const char* ext) { return "C:\\T" + std::to_string(row.code) + ext; }

std::string RowName(const ::testing::TestParamInfo<InfectionRow>& info) {
  return "Op" + std::to_string(info.param.code);
}

class RoundTrip : public ::testing::TestWithParam<InfectionRow> {
 protected:
  void SetUp() override {
    machine.AddDrive('C');
    ResetCleaningResult();
  }
  TempMachine machine;
};

TEST_P(RoundTrip, TheCureUndoesTheInfection) {
  const InfectionRow& row = GetParam();
  Infection inf;
  ASSERT_TRUE(Infect(row, kPrologue, &inf));
  // The infection itself: the virus code where the match says, the code
  // named where the row says.
  ASSERT_LE((size_t)inf.virusPosition + kPrologue.size(), inf.file.size());
  ASSERT_EQ(Bytes(inf.file.begin() + inf.virusPosition, inf.file.begin() + inf.virusPosition + 4), kPrologue);
  InfectionPoint point;
  ASSERT_EQ(VaccineOperation(inf.vaccine, &point), row.code);
  ASSERT_EQ(point, row.point);
  if (inf.outcome == kCureRestores) {
    ASSERT_NE(inf.file, inf.expected);
  }

  std::string path = PathFor(row, IsMzHost(row.host) ? ".EXE" : ".COM");
  std::string companion = PathFor(row, ".EXE");
  if (!inf.companion.empty()) path = PathFor(row, ".COM");
  machine.Write(path, inf.file);
  if (!inf.companion.empty()) machine.Write(companion, inf.companion);
  SetScannerState(inf);
  VaccineRecord r = ToRecord(inf.vaccine);
  uint16_t result = RunVaccine(path.c_str(), &r);

  switch (inf.outcome) {
    case kCureRestores:
      EXPECT_NE(result, 0) << "the cure failed: " << CleaningMessage();
      EXPECT_EQ(Difference(machine.Read(path), inf.expected), "");
      break;
    case kCureRefuses:
      EXPECT_EQ(result, 0);
      EXPECT_STREQ(CleaningMessage(), inf.message);
      EXPECT_EQ(Difference(machine.Read(path), inf.file), "");
      break;
    case kCureRenames: {
      EXPECT_NE(result, 0) << CleaningMessage();
      EXPECT_EQ(CleaningAction(), kActionDropper);
      EXPECT_FALSE(machine.Exists(path));
      std::string renamed = PathFor(row, ".VOM");
      ASSERT_TRUE(machine.Exists(renamed));
      EXPECT_EQ(Difference(machine.Read(renamed), inf.expected), "");
      break;
    }
    case kCureDeletes:
      EXPECT_NE(result, 0) << CleaningMessage();
      EXPECT_FALSE(machine.Exists(path));
      EXPECT_EQ(Difference(machine.Read(companion), inf.companion), "");
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCode, RoundTrip, ::testing::ValuesIn(kInfectionTable), RowName);

// The marker rows: their infections carry marker texts.
std::vector<InfectionRow> MarkerRows() {
  std::vector<InfectionRow> rows;
  for (const InfectionRow& row : kInfectionTable) {
    Infection inf;
    if (Infect(row, kPrologue, &inf) && !inf.markers.empty()) rows.push_back(row);
  }
  return rows;
}

class MarkerAbsent : public RoundTrip {};

// Without its marker, or on a file too short to hold it, a marker
// operation cuts nothing and succeeds. The record reads the file's own
// start and cuts nothing else, so the file must stay as it is.
TEST_P(MarkerAbsent, TheFileIsLeftUncut) {
  const InfectionRow& row = GetParam();
  Infection inf;
  ASSERT_TRUE(Infect(row, kPrologue, &inf));
  CtlVaccineRecord c = inf.vaccine;
  c.savedOffset = 0;
  c.savedOrigin = 0;
  c.savedLength = c.restoreLength;
  c.comCutLength = 0;
  Bytes spoiled = inf.file;
  for (int32_t at : inf.markers) spoiled[(size_t)at] ^= 0x20;
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"marker spoiled", spoiled},
      {"28-byte file", MakeComHost("x", 28)},
  };
  for (const Case& k : cases) {
    std::string path = PathFor(row, ".COM");
    machine.Write(path, k.file);
    VaccineRecord r = ToRecord(c);
    EXPECT_NE(RunVaccine(path.c_str(), &r), 0) << k.what << ": " << CleaningMessage();
    EXPECT_EQ(Difference(machine.Read(path), k.file), "") << k.what;
  }
}

INSTANTIATE_TEST_SUITE_P(Markers, MarkerAbsent, ::testing::ValuesIn(MarkerRows()), RowName);

// The table covers every operation code once, in order.
TEST(InfectionTable, OneRowPerCode) {
  std::vector<uint16_t> codes;
  for (uint16_t c = 1; c <= 276; c++)
    if (c < 52 || c > 54) codes.push_back(c);
  ASSERT_EQ(codes.size(), (size_t)kInfectionRows);
  for (int i = 0; i < kInfectionRows; i++) EXPECT_EQ(kInfectionTable[i].code, codes[(size_t)i]) << "row " << i;
}

}  // namespace
