// Scan dispatch end to end: detection, cure, the repeat after each cure, the
// dropper rename, counters, report log lines, status records and alerts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "common/config.h"
#include "cure/alerts.h"
#include "cure/report_log.h"
#include "engine/dispatch.h"
#include "engine/status.h"
#include "engine/virus_db.h"
#include "platform/clock.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "tests/fixtures/fixtures.h"

namespace {

// Viruses of the test database: number, name, the first bytes of the
// body at the entry point, and whether it has the appender's vaccine.
struct TestVirus {
  int16_t number;
  const char* name;
  const char* start;
  int vaccine;   // 0 none, 1 the appender's recipe, 2 a recipe that changes nothing,
                 // 3 a recipe whose post-operation is missing
};
const TestVirus kViruses[] = {
    {10, "Layer.A", "C9 A1 A2 A3 A4 A5", 1},
    {11, "Layer.B", "CA B1 B2 B3 B4 B5", 1},
    {12, "Stubborn", "CB C1 C2 C3 C4 C5", 2},
    {13, "NoVaccine", "CC D1 D2 D3 D4 D5", 0},
    {14, "Broken", "CD E1 E2 E3 E4 E5", 3},
};

Bytes Body(int16_t number) {
  for (const auto& v : kViruses)
    if (v.number == number) return Hex(v.start);
  return {};
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.AddDrive('C');
    PlatCreateDirectory("C:\\QUELTAN");
    FaultReset();
    saved = gConfig;
    std::strcpy(gConfig.reportFileName, "C:\\QUELTAN\\QUELTAN.LOG");
    gConfig.generateReport = 1;
    PlatSetTestClock(880634153);   // 27/11/1997 12:35:53
    CtlDatabase db;
    for (const auto& tv : kViruses) {
      CtlVirusDef v{};
      v.number = tv.number;
      v.names = {tv.name};
      v.signatures = {Sig(0, 0, tv.start, "", "")};
      v.signatures[0].comKeys = {Hex(tv.start)[0]};
      if (tv.vaccine) {
        CtlVaccineRecord r{};
        if (tv.vaccine != 2) {
          r.savedOffset = -3;
          r.savedOrigin = 2;
          r.savedLength = 3;
          r.restoreLength = 3;
          r.comCutLength = 300;
        }
        if (tv.vaccine == 3) r.comPostOp = 53;
        v.vaccines = {r};
      }
      db.viruses.push_back(v);
    }
    m.Write("C:\\QUELTAN\\QUELTAN.CTL", BuildDatabase(db));
    const char* failure = nullptr;
    ASSERT_TRUE(LoadVirusDatabaseFrom("C:\\QUELTAN\\QUELTAN.CTL", &failure));
    Counters() = ScanCounters{};
    ClearStatusOutbox();
    AlertOutboxClear();
    OnlineUserName()[0] = 0;
  }
  void TearDown() override {
    FaultReset();
    FreeVirusDatabase();
    gConfig = saved;
    PlatSetTestClock(-1);
    OnlineUserName()[0] = 0;
  }
  // Scans dir\name the way the walker does.
  void Scan(const std::string& dir, const std::string& name) {
    ASSERT_TRUE(PlatSetCurrentDirectory(dir.c_str()));
    std::snprintf(Request().directory, kNameMax, "%s", dir.c_str());
    std::string display = dir + "\\" + name;
    std::snprintf(Request().displayName, kNameMax, "%s", display.c_str());
    DispatchFile(name.c_str(), true);
  }
  std::string Log() {
    Bytes b = m.Exists("C:\\QUELTAN\\QUELTAN.LOG") ? m.Read("C:\\QUELTAN\\QUELTAN.LOG") : Bytes{};
    return std::string(b.begin(), b.end());
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
    return n;
  }
  TempMachine m;
  Config saved;
};

const char kStamp[] = "27/11/1997  12:35:53 ";

TEST_F(DispatchTest, TwoLayersAreCleanedOneAfterTheOther) {
  Bytes host = MakeComHost("two layers", 200);
  Bytes once = AppendComVirus(host, Body(10));
  Bytes twice = AppendComVirus(once, Body(11));
  m.Write("C:\\GAMES\\PLAY.COM", twice);
  Scan("C:\\GAMES", "PLAY.COM");
  EXPECT_EQ(m.Read("C:\\GAMES\\PLAY.COM"), host);
  EXPECT_FALSE(Verdict().notClean);
  EXPECT_EQ(Counters().infected, 1);
  EXPECT_EQ(Counters().cleaned, 1);
  const std::string detection = std::string("\r\r\n\r\r\nTime   : ") + kStamp +
                                "\r\r\nFile   : C:\\GAMES\\PLAY.COM\r\r\nVirus  : ";
  EXPECT_EQ(Log(), detection + "Layer.B\r\r\nStatus : Infection\r\r\nResult : File is cleaned" +
                       detection + "Layer.A\r\r\nStatus : Infection\r\r\nResult : File is cleaned");
  ASSERT_EQ(StatusOutbox().size(), 2u);
  EXPECT_STREQ(StatusOutbox()[0].currentVirus, "Layer.B");
  EXPECT_STREQ(StatusOutbox()[0].currentAction, "File is cleaned");
  EXPECT_STREQ(StatusOutbox()[0].currentUser, "System");
  EXPECT_STREQ(StatusOutbox()[0].currentTime, kStamp);
  EXPECT_STREQ(StatusOutbox()[1].lastVirus, "Layer.A");
  EXPECT_STREQ(StatusOutbox()[1].lastFile, "C:\\GAMES\\PLAY.COM");
  EXPECT_STREQ(StatusOutbox()[1].lastUser, "System");
  ASSERT_EQ(AlertOutboxCount(), 2u);
  EXPECT_STREQ(AlertOutboxText(0),
               "Detected Layer.B Virus !.\nFile Name   : C:\\GAMES\\PLAY.COM\nAction Taken : File is cleaned");
  // Each record with an event clears the current virus and action after it.
  EXPECT_STREQ(Status().currentVirus, "");
  EXPECT_STREQ(Status().currentAction, "");
}

TEST_F(DispatchTest, TheFiftyFirstDetectionRenamesADropper) {
  m.Write("C:\\D\\KEEP.COM", AppendComVirus(MakeComHost("x", 200), Body(12)));
  Scan("C:\\D", "KEEP.COM");
  EXPECT_FALSE(m.Exists("C:\\D\\KEEP.COM"));
  EXPECT_TRUE(m.Exists("C:\\D\\KEEP.VOM"));
  std::string log = Log();
  EXPECT_EQ(Count(log, "Virus  : Stubborn"), 51);
  EXPECT_EQ(Count(log, "Result : File is cleaned\r"), 50);
  EXPECT_EQ(Count(log, "Result : File is renamed since it is a dropper"), 1);
  EXPECT_STREQ(StatusOutbox().back().currentAction, "File is renamed since it is a dropper");
  // The renamed file cannot be opened under its old name: not clean, and
  // neither counter rises.
  EXPECT_TRUE(Verdict().notClean);
  EXPECT_EQ(Counters().infected, 0);
  EXPECT_EQ(Counters().cleaned, 0);
}

TEST_F(DispatchTest, AVirusWithoutVaccineIsOnlyLogged) {
  Bytes f = AppendComVirus(MakeComHost("x", 200), Body(13));
  m.Write("C:\\D\\NV.COM", f);
  Scan("C:\\D", "NV.COM");
  EXPECT_EQ(m.Read("C:\\D\\NV.COM"), f);
  EXPECT_TRUE(Verdict().notClean);
  EXPECT_EQ(Counters().infected, 1);
  EXPECT_EQ(Counters().cleaned, 0);
  EXPECT_EQ(Log(), std::string("\r\r\n\r\r\nTime   : ") + kStamp +
                       "\r\r\nFile   : C:\\D\\NV.COM\r\r\nVirus  : NoVaccine\r\r\nStatus : Infection");
  EXPECT_TRUE(StatusOutbox().empty());
  EXPECT_EQ(AlertOutboxCount(), 0u);
  EXPECT_STREQ(Status().lastVirus, "NoVaccine");
}

TEST_F(DispatchTest, ACuredLayerOverAnIncurableOneIsNotClean) {
  // Layer.A has a vaccine, NoVaccine under it has none: the file still
  // carries a virus and must not count as cleaned.
  Bytes f = AppendComVirus(AppendComVirus(MakeComHost("x", 200), Body(13)), Body(10));
  m.Write("C:\\D\\MIX.COM", f);
  Scan("C:\\D", "MIX.COM");
  EXPECT_TRUE(Verdict().notClean);
  EXPECT_EQ(Counters().infected, 1);
  EXPECT_EQ(Counters().cleaned, 0);
  EXPECT_EQ(Count(Log(), "Virus  : "), 2);
}

TEST_F(DispatchTest, AFailedCureIsAVaccinationError) {
  Bytes f = AppendComVirus(MakeComHost("x", 200), Body(14));
  m.Write("C:\\D\\BR.COM", f);
  std::strcpy(OnlineUserName(), "JOHN");
  Scan("C:\\D", "BR.COM");
  EXPECT_EQ(m.Read("C:\\D\\BR.COM"), f);
  EXPECT_TRUE(Verdict().notClean);
  EXPECT_EQ(Log(), std::string("\r\r\n\r\r\nTime   : ") + kStamp +
                       "\r\r\nFile   : C:\\D\\BR.COM\r\r\nVirus  : Broken\r\r\nStatus : Infection"
                       "\r\r\nUser   : JOHN\r\r\nResult : Vaccination error.\r\r\n         Unable to read the file.");
  ASSERT_EQ(AlertOutboxCount(), 1u);
  EXPECT_STREQ(AlertOutboxText(0),
               "Detected Broken Virus !.\nFile Name   : C:\\D\\BR.COM\nInfected by : JOHN\n"
               "Action Taken : Vaccination Error");
  ASSERT_EQ(StatusOutbox().size(), 1u);
  EXPECT_STREQ(StatusOutbox()[0].currentUser, "JOHN");
  EXPECT_STREQ(StatusOutbox()[0].lastUser, "JOHN");
  EXPECT_STREQ(StatusOutbox()[0].lastAction, "Vaccination Error");
}

TEST_F(DispatchTest, FilesThatAreNotScanned) {
  m.Write("C:\\D\\EMPTY.COM", Bytes{});
  m.Write("C:\\D\\CONFIG.SYS", AppendComVirus(MakeComHost("x", 200), Body(13)));
  Scan("C:\\D", "EMPTY.COM");
  EXPECT_TRUE(Verdict().notClean);
  Scan("C:\\D", "CONFIG.SYS");
  EXPECT_TRUE(Verdict().notClean);
  EXPECT_EQ(Log(), "");
  // A size that cannot be taken (a file beyond 2 GB): the notice.
  std::string big = m.Host("C:\\D\\BIG.COM");
  m.Write("C:\\D\\BIG.COM", Hex("90"));
  ASSERT_EQ(truncate(big.c_str(), 3LL << 30), 0);
  Scan("C:\\D", "BIG.COM");
  EXPECT_TRUE(Verdict().notClean);
  EXPECT_EQ(Log(), std::string("\r\r\n\r\r\nTime   : ") + kStamp +
                       "\r\r\nUser   : \r\n Error: Invalid file size.\r\n   Possibly it could be a corrupted file."
                       "\r\n   This file is not scanned.");
  EXPECT_EQ(Counters().infected, 0);
}

TEST_F(DispatchTest, TheScanFlagOffBuildsTheReportNameOnly) {
  m.Write("C:\\D\\NV.COM", AppendComVirus(MakeComHost("x", 200), Body(13)));
  ASSERT_TRUE(PlatSetCurrentDirectory("C:\\D"));
  std::strcpy(Request().directory, "C:\\");
  DispatchFile("D/NV.COM", false);
  EXPECT_STREQ(Request().reportName, "NV.COM");   // the part after the first '/'
  std::strcpy(Request().directory, "C:\\D");
  DispatchFile("NV.COM", false);
  EXPECT_STREQ(Request().reportName, "C:\\D\\NV.COM");
  EXPECT_EQ(Log(), "");
}

TEST_F(DispatchTest, StatusTextsAreCutToTheirFields) {
  std::string dir = "C:\\" + std::string(120, 'L') + "\\" + std::string(120, 'M') + "\\" + std::string(60, 'N');
  m.Write(dir + "\\X.COM", AppendComVirus(MakeComHost("x", 200), Body(10)));
  Scan(dir, "X.COM");
  ASSERT_EQ(StatusOutbox().size(), 1u);
  const StatusLine& s = StatusOutbox()[0];
  EXPECT_EQ(std::strlen(s.lastFile), 299u);
  EXPECT_EQ(std::strlen(s.currentAction), 15u);
  Bytes rec(kStatusLineSize);
  EncodeStatusLine(s, rec.data());
  EXPECT_EQ(rec[78 + 299], 0);   // the field keeps its terminator
}

TEST_F(DispatchTest, NoCureOnlyDetects) {
  Bytes f = AppendComVirus(MakeComHost("x", 200), Body(10));
  m.Write("C:\\D\\A.COM", f);
  SetCureEnabled(false);
  Scan("C:\\D", "A.COM");
  SetCureEnabled(true);
  EXPECT_EQ(m.Read("C:\\D\\A.COM"), f);
  EXPECT_TRUE(Verdict().notClean);
  EXPECT_EQ(Counters().infected, 1);
  EXPECT_EQ(Count(Log(), "Result"), 0);
}

}  // namespace
