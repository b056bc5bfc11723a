// Loading the virus database and the lookups that read it on demand.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstring>

#include "common/le.h"
#include "engine/virus_db.h"
#include "platform/faults.h"
#include "tests/fixtures/fixtures.h"

namespace {

// The sums over bytes 88.. with the numbering restarting every 8,096
// bytes, computed here independently of the builder.
void Seal(Bytes* f, bool restartEvery8096) {
  uint32_t a = 0, b = 0;
  for (size_t pos = 88; pos < f->size(); pos++) {
    size_t i = restartEvery8096 ? (pos - 88) % 8096 : pos - 88;
    uint32_t t = (*f)[pos] ^ (uint32_t)(i % 256);
    a += t;
    b += 255 - t;
  }
  PutU32(&(*f)[80], a);
  PutU32(&(*f)[84], b);
}

CtlVaccineRecord Vaccine(uint16_t cut) {
  CtlVaccineRecord v{};
  v.comCutLength = cut;
  v.savedOffset = -3;
  v.savedOrigin = 2;
  return v;
}

CtlDatabase SmallDatabase() {
  CtlDatabase db;
  db.title = "test";
  CtlVirusDef v{};
  v.number = 7;
  v.names = {"Seven"};
  v.signatures = {Sig(0, 0, "AA BB CC DD EE", "AA", "AA")};
  v.vaccines = {Vaccine(111), Vaccine(222)};
  db.viruses.push_back(v);
  CtlVirusDef w{};
  w.number = 8;   // no name, no vaccine
  w.signatures = {Sig(0, 0, "AB BB CC DD EE", "AB", "")};
  db.viruses.push_back(w);
  return db;
}

class VirusDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.AddDrive('C');
    FaultReset();
  }
  void TearDown() override {
    FaultReset();
    FreeVirusDatabase();
  }
  // Writes the file and loads it; returns the failure text or "".
  std::string Load(const Bytes& file) {
    m.Write("C:\\KV\\QUELTAN.CTL", file);
    const char* failure = nullptr;
    return LoadVirusDatabaseFrom("C:\\KV\\QUELTAN.CTL", &failure) ? "" : failure;
  }
  TempMachine m;
};

TEST_F(VirusDbTest, ChecksumNumberingRestartsEvery8096Bytes) {
  CtlDatabase db = SmallDatabase();
  // Enough name records to take the file well past 88 + 8,096 bytes.
  for (int i = 0; i < 400; i++) db.viruses[0].names.push_back("Name" + std::to_string(i));
  Bytes f = BuildDatabase(db);
  ASSERT_GT(f.size(), 88u + 8096u + 256u);
  EXPECT_EQ(Load(f), "");
  // The builder's sums agree with the restarting numbering...
  Bytes mine = f;
  Seal(&mine, true);
  EXPECT_EQ(mine, f);
  // ...and sums taken with a numbering that runs on are refused.
  Seal(&f, false);
  EXPECT_EQ(Load(f), kDbChecksumFailure);
}

TEST_F(VirusDbTest, RefusalsCarryTheirTexts) {
  Bytes good = BuildDatabase(SmallDatabase());
  struct Case {
    const char* what;
    Bytes file;
    const char* failure;
  };
  Bytes shortFile(good.begin(), good.begin() + 816);
  Bytes tampered = good;
  tampered[good.size() - 1] ^= 1;
  Bytes tamperedAt88 = good;
  tamperedAt88[88] ^= 0x40;
  Bytes titleChanged = good;
  titleChanged[5] ^= 0x20;   // bytes 0..79 are not covered
  Bytes negativeCount = good;
  PutU16(&negativeCount[355], 0xFFFF);
  Seal(&negativeCount, true);
  Bytes tooManySignatures = good;
  PutU16(&tooManySignatures[349], 3277);
  Seal(&tooManySignatures, true);
  Bytes macroTooLong = good;
  PutU32(&macroTooLong[375 + 8 * 13 + 4], 65536);
  Seal(&macroTooLong, true);
  Bytes sectionOutside = good;
  PutU32(&sectionOutside[375 + 8 * 1], 0x7FFFFF00);   // COM list far past the end
  Seal(&sectionOutside, true);
  Case cases[] = {
      {"short header", shortFile, kDbReadFailure},
      {"empty", Bytes{}, kDbReadFailure},
      {"last byte changed", tampered, kDbChecksumFailure},
      {"byte 88 changed", tamperedAt88, kDbChecksumFailure},
      {"title changed", titleChanged, ""},
      {"negative count", negativeCount, kDbReadFailure},
      {"3,277 signatures", tooManySignatures, kDbReadFailure},
      {"macro block of 65,536", macroTooLong, kDbReadFailure},
      {"section outside the file", sectionOutside, kDbReadFailure},
  };
  for (const auto& c : cases) EXPECT_EQ(Load(c.file), c.failure) << c.what;
  const char* failure = nullptr;
  EXPECT_FALSE(LoadVirusDatabaseFrom("C:\\KV\\MISSING.CTL", &failure));
  EXPECT_STREQ(failure, kDbOpenFailure);
}

TEST_F(VirusDbTest, TheLargestDatabaseLoads) {
  CtlDatabase db;
  CtlVirusDef v{};
  v.number = 1;
  v.names = {"Many"};
  for (int i = 0; i < 3276; i++) {
    char hex[64];
    std::snprintf(hex, sizeof hex, "%02X %02X 11 22 33 44", i & 0xFF, (i >> 8) & 0xFF);
    v.signatures.push_back(Sig(0, 0, hex, "", ""));
    v.signatures.back().comKeys = {(uint8_t)(i & 0xFF)};
  }
  db.viruses.push_back(v);
  EXPECT_EQ(Load(BuildDatabase(db)), "");
  EXPECT_EQ(VirusDb().signatureCount, 3276);
}

TEST_F(VirusDbTest, MemoryFailures) {
  Bytes f = BuildDatabase(SmallDatabase());
  FaultArm(kFaultAlloc, 3, 1);   // one of the index tables
  EXPECT_EQ(Load(f), kDbMemoryFailure);
  // Without memory for the tails the load still succeeds; tails come from
  // the file one at a time.
  FaultArm(kFaultAlloc, 9, 1);
  EXPECT_EQ(Load(f), "");
  EXPECT_FALSE(VirusDb().tailsInMemory);
  SignatureTail t;
  ASSERT_TRUE(GetSignatureTail(1, &t));
  EXPECT_EQ(t.virusNumber, 8);
  EXPECT_EQ(t.tailLength, 1);
  EXPECT_EQ(t.tail[0], 0xEE);
  EXPECT_FALSE(GetSignatureTail(2, &t));
}

TEST_F(VirusDbTest, NamesAndVaccines) {
  CtlDatabase db = SmallDatabase();
  db.viruses[0].names = {"Seven", "Seven.B"};
  ASSERT_EQ(Load(BuildDatabase(db)), "");
  char name[26];
  FindVirusName(7, name);
  EXPECT_STREQ(name, "Seven");
  FindVirusName(8, name);
  EXPECT_STREQ(name, "unknown");
  // The first name record cannot be read: the next equal entry is used.
  FaultArm(kFaultRead, 0, 1);
  FindVirusName(7, name);
  EXPECT_STREQ(name, "Seven.B");
  // Only the first of two vaccines of a virus counts.
  VaccineRecord v;
  ASSERT_EQ(FindVaccine(7, &v), kVaccineFound);
  EXPECT_EQ(v.comCutLength, 111);
  EXPECT_EQ(v.savedOffset, -3);
  EXPECT_EQ(FindVaccine(8, &v), kVaccineNotFound);
  FaultArm(kFaultRead, 0, 1);
  EXPECT_EQ(FindVaccine(7, &v), kVaccineUnreadable);
}

TEST_F(VirusDbTest, AFullLengthNameHasNoTerminator) {
  CtlDatabase db = SmallDatabase();
  db.viruses[0].names = {"ABCDEFGHIJKLMNOPQRSTUVWXY"};
  ASSERT_EQ(Load(BuildDatabase(db)), "");
  char name[26];
  FindVirusName(7, name);
  EXPECT_STREQ(name, "ABCDEFGHIJKLMNOPQRSTUVWXY");
}

// No lookup leaves the database file open behind it.
TEST_F(VirusDbTest, LookupsKeepNoFileOpen) {
  ASSERT_EQ(Load(BuildDatabase(SmallDatabase())), "");
  auto openDatabases = [&]() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (struct dirent* e = readdir(d)) {
      char link[4096];
      std::string p = std::string("/proc/self/fd/") + e->d_name;
      ssize_t k = readlink(p.c_str(), link, sizeof link - 1);
      if (k > 0 && std::string(link, (size_t)k).find("QUELTAN.CTL") != std::string::npos) n++;
    }
    closedir(d);
    return n;
  };
  EXPECT_EQ(openDatabases(), 0);
  char name[26];
  FindVirusName(7, name);
  VaccineRecord v;
  FindVaccine(7, &v);
  ConfirmPattern cp;
  ReadConfirmPattern(0, &cp);
  EXPECT_EQ(openDatabases(), 0);
}

}  // namespace
