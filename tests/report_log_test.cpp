// Report log tests: the exact bytes of every record kind, the size limit and
// rollover, the old-log names, the generate flag, files that cannot be
// opened or written, lines longer than the line buffer, and the time stamp.
//
// Each test maps a fresh temporary directory as drive C:, points the report
// file name into it and pins the clock at 27/11/1997 12:35:53 UTC, then reads
// the host files back byte for byte.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "common/config.h"
#include "cure/alerts.h"
#include "cure/report_log.h"
#include "platform/clock.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/machine.h"

namespace {

constexpr int64_t kPinned = 880634153;   // 27/11/1997 12:35:53 UTC

// The time line of the pinned instant as stored: "\r\n" of the format
// becomes CR CR LF.
const std::string kTimeBytes = "\r\r\n\r\r\nTime   : 27/11/1997  12:35:53 ";

class ReportLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvreport.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    saved_ = gConfig;
    ASSERT_TRUE(MapDrive('C', kDriveFixed, dir_));
    ASSERT_TRUE(PlatCreateDirectory("C:\\QUELTAN"));
    gConfig.generateReport = 1;
    gConfig.sendToConsole = 1;
    gConfig.sendToUsers = 1;
    gConfig.sizeLimitInKB = 100;
    SetReportName("C:\\QUELTAN\\QUELTAN.LOG");
    PlatSetTestClock(kPinned);
    AlertOutboxClear();
  }

  void TearDown() override {
    FaultReset();
    PlatSetTestClock(-1);
    AlertOutboxClear();
    gConfig = saved_;
    UnmapDrive('C');
    std::filesystem::remove_all(dir_);
  }

  static void SetReportName(const std::string& name) {
    ASSERT_LT(name.size(), sizeof gConfig.reportFileName);
    snprintf(gConfig.reportFileName, sizeof gConfig.reportFileName, "%s", name.c_str());
  }

  std::string Host(const std::string& rel) const { return dir_ + "/" + rel; }
  bool Exists(const std::string& rel) const { return std::filesystem::exists(Host(rel)); }

  std::string Read(const std::string& rel) const {
    std::ifstream in(Host(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  void Put(const std::string& rel, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(Host(rel)).parent_path());
    std::ofstream out(Host(rel), std::ios::binary);
    out << bytes;
  }

  std::string dir_;
  Config saved_;
};

// ---------------------------------------------------------------------------
// Records

TEST_F(ReportLogTest, DetectionRecordBytes) {
  struct Case {
    const char* what;
    const char* virus;
    const char* user;
    std::string bytes;
  };
  const std::string head = kTimeBytes + "\r\r\nFile   : C:\\GAMES\\PLAY.EXE";
  const std::vector<Case> cases = {
      {"infection, online user", "Jerusalem", "JSMITH",
       head + "\r\r\nVirus  : Jerusalem\r\r\nStatus : Infection\r\r\nUser   : JSMITH"},
      {"infection, no user", "Jerusalem", nullptr,
       head + "\r\r\nVirus  : Jerusalem\r\r\nStatus : Infection"},
      {"infection, empty user", "Jerusalem", "",
       head + "\r\r\nVirus  : Jerusalem\r\r\nStatus : Infection"},
      {"modification, no user", nullptr, nullptr,
       head + "\r\r\nVirus  : Unknown\r\r\nStatus : Modification"},
      {"modification, online user", nullptr, "JSMITH",
       head + "\r\r\nVirus  : Unknown\r\r\nStatus : Modification\r\r\nUser   : JSMITH"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(Host("QUELTAN/QUELTAN.LOG"));
    ReportDetection("C:\\GAMES\\PLAY.EXE", c.virus, c.user);
    EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"), c.bytes);
  }
}

TEST_F(ReportLogTest, InvalidSizeNoticeStoresItsLineFeedsAsCrLf) {
  ReportNotice("\n Error: Invalid file size.\n   Possibly it could be a corrupted file.\n"
               "   This file is not scanned.");
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"),
            kTimeBytes +
                "\r\r\nUser   : \r\n Error: Invalid file size.\r\n"
                "   Possibly it could be a corrupted file.\r\n   This file is not scanned.");
}

TEST_F(ReportLogTest, UnloadRecordFollowsEarlierRecordsAndRaisesTheAlert) {
  ReportDetection("C:\\GAMES\\PLAY.EXE", "Jerusalem", nullptr);
  WriteReport("\r\nResult : %s", "File is cleaned");
  ReportUnload();
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"),
            kTimeBytes +
                "\r\r\nFile   : C:\\GAMES\\PLAY.EXE\r\r\nVirus  : Jerusalem"
                "\r\r\nStatus : Infection\r\r\nResult : File is cleaned" +
                kTimeBytes + "\r\r\nAction   : Korvane is unloaded");
  ASSERT_EQ(AlertOutboxCount(), 1u);
  EXPECT_STREQ(AlertOutboxText(0), "Korvane is unloaded");
}

TEST_F(ReportLogTest, UnloadAlertDoesNotDependOnTheReport) {
  gConfig.generateReport = 0;
  ReportUnload();
  EXPECT_FALSE(Exists("QUELTAN/QUELTAN.LOG"));
  ASSERT_EQ(AlertOutboxCount(), 1u);
  EXPECT_STREQ(AlertOutboxText(0), "Korvane is unloaded");
}

// ---------------------------------------------------------------------------
// Size limit and rollover

TEST_F(ReportLogTest, FileOfExactlyTheLimitIsNotRolledOver) {
  gConfig.sizeLimitInKB = 5;
  const std::string full(5 * 1024, 'x');
  Put("QUELTAN/QUELTAN.LOG", full);
  WriteReport("\r\nResult : %s", "File is cleaned");
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"), full + "\r\r\nResult : File is cleaned");
  EXPECT_FALSE(Exists("QUELTAN/QUELTAN.OLD"));
}

// The rename happens with the handle open and the line is written through
// that handle, so the triggering line closes the old log; the next line
// starts a fresh report file.
TEST_F(ReportLogTest, OneByteOverTheLimitRollsOverBeforeTheLine) {
  gConfig.sizeLimitInKB = 5;
  const std::string over(5 * 1024 + 1, 'x');
  Put("QUELTAN/QUELTAN.LOG", over);
  WriteReport("\r\nResult : %s", "File is cleaned");
  EXPECT_FALSE(Exists("QUELTAN/QUELTAN.LOG"));
  EXPECT_EQ(Read("QUELTAN/QUELTAN.OLD"), over + "\r\r\nResult : File is cleaned");
  ReportUnload();
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"), kTimeBytes + "\r\r\nAction   : Korvane is unloaded");
  EXPECT_EQ(Read("QUELTAN/QUELTAN.OLD"), over + "\r\r\nResult : File is cleaned");
}

TEST_F(ReportLogTest, OldLogNames) {
  struct Case {
    const char* what;
    std::string reportName;   // Windows name in the configuration
    std::string reportHost;   // the same file below the drive's directory
    std::string oldHost;      // where the rollover puts it
  };
  const std::string longDir(120, 'D');
  const std::string longFile(100, 'F');
  const std::vector<Case> cases = {
      {"default name", "C:\\QUELTAN\\QUELTAN.LOG", "QUELTAN/QUELTAN.LOG", "QUELTAN/QUELTAN.OLD"},
      {"no dot", "C:\\QUELTAN\\QUELTANLOG", "QUELTAN/QUELTANLOG", "QUELTAN/QUELTANLOG.OLD"},
      {"cut at the first dot", "C:\\QUELTAN\\REPORT.LOG.TXT", "QUELTAN/REPORT.LOG.TXT",
       "QUELTAN/REPORT.OLD"},
      {"first dot in a directory", "C:\\QUEL.DIR\\REPORT.LOG", "QUEL.DIR/REPORT.LOG", "QUEL.OLD"},
      {"name longer than 146 characters", "C:\\" + longDir + "\\" + longFile + ".LOG",
       longDir + "/" + longFile + ".LOG", longDir + "/" + longFile + ".OLD"},
  };
  gConfig.sizeLimitInKB = 5;
  const std::string over(5 * 1024 + 1, 'x');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetReportName(c.reportName);
    Put(c.reportHost, over);
    WriteReport("\r\nResult : %s", "File is reconstructed.");
    EXPECT_FALSE(Exists(c.reportHost));
    EXPECT_EQ(Read(c.oldHost), over + "\r\r\nResult : File is reconstructed.");
  }
}

TEST_F(ReportLogTest, ExistingOldLogStopsTheRollover) {
  gConfig.sizeLimitInKB = 5;
  const std::string over(5 * 1024 + 1, 'x');
  Put("QUELTAN/QUELTAN.LOG", over);
  Put("QUELTAN/QUELTAN.OLD", "earlier log");
  WriteReport("\r\nResult : %s", "File is cleaned");
  WriteReport("\r\nResult : Vaccination error.");
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"),
            over + "\r\r\nResult : File is cleaned\r\r\nResult : Vaccination error.");
  EXPECT_EQ(Read("QUELTAN/QUELTAN.OLD"), "earlier log");
}

// ---------------------------------------------------------------------------
// Nothing written

TEST_F(ReportLogTest, GenerateOffLeavesTheFileAlone) {
  gConfig.generateReport = 0;
  gConfig.sizeLimitInKB = 5;
  ReportDetection("C:\\GAMES\\PLAY.EXE", "Jerusalem", "JSMITH");
  EXPECT_FALSE(Exists("QUELTAN/QUELTAN.LOG"));

  const std::string over(5 * 1024 + 1, 'x');   // would roll over if touched
  Put("QUELTAN/QUELTAN.LOG", over);
  ReportNotice("text");
  WriteReport("\r\nResult : File is cleaned.");
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"), over);
  EXPECT_FALSE(Exists("QUELTAN/QUELTAN.OLD"));
}

// A line that cannot be placed is dropped, and the next one is written
// normally: no handle stays open and nothing earlier is overwritten.
TEST_F(ReportLogTest, LinesThatCannotBeWrittenAreDropped) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
  };
  const std::vector<Case> cases = {
      {"missing directory", [] { SetReportName("C:\\NODIR\\QUELTAN.LOG"); }},
      {"open fails", [] { FaultArm(kFaultOpen, 0); }},
      {"end of file unknown", [] { FaultArm(kFaultSeek, 0); }},
      {"write fails", [] { FaultArm(kFaultWrite, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetReportName("C:\\QUELTAN\\QUELTAN.LOG");
    Put("QUELTAN/QUELTAN.LOG", "earlier record");
    c.arrange();
    WriteReport("\r\nResult : %s", "lost");
    FaultReset();
    EXPECT_FALSE(Exists("NODIR"));
    SetReportName("C:\\QUELTAN\\QUELTAN.LOG");
    WriteReport("\r\nResult : %s", "kept");
    EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"), "earlier record\r\r\nResult : kept");
  }
}

TEST_F(ReportLogTest, UnterminatedReportNameIsNotUsed) {
  memset(gConfig.reportFileName, 'A', sizeof gConfig.reportFileName);
  gConfig.reportFileName[0] = 'C';
  gConfig.reportFileName[1] = ':';
  gConfig.reportFileName[2] = '\\';
  WriteReport("\r\nResult : %s", "lost");
  EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/QUELTAN"));
  size_t entries = 0;
  for (auto it = std::filesystem::directory_iterator(dir_);
       it != std::filesystem::directory_iterator(); ++it)
    entries++;
  EXPECT_EQ(entries, 1u);   // only QUELTAN
}

// ---------------------------------------------------------------------------
// Lines longer than the line buffer

TEST_F(ReportLogTest, LongLinesAreWrittenWhole) {
  const std::string path = "C:\\" + std::string(391, 'P') + "\\A.EXE";   // 400 characters
  ASSERT_EQ(path.size(), 400u);
  ReportDetection(path.c_str(), "Cascade", nullptr);
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"),
            kTimeBytes + "\r\r\nFile   : " + path +
                "\r\r\nVirus  : Cascade\r\r\nStatus : Infection");

  // The translation covers the whole text, beyond the first 255 characters and
  // across more than one write of translated bytes.
  std::filesystem::remove(Host("QUELTAN/QUELTAN.LOG"));
  const std::string notice = std::string(700, 'n') + "\nend";
  ReportNotice(notice.c_str());
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"),
            kTimeBytes + "\r\r\nUser   : " + std::string(700, 'n') + "\r\nend");
}

TEST_F(ReportLogTest, LongLineWithoutMemoryKeepsTheLineBuffer) {
  const std::string path = "C:\\" + std::string(397, 'P');
  FaultArm(kFaultAlloc, 0);
  WriteReport("\r\nFile   : %s", path.c_str());
  // The first 255 characters of "\r\nFile   : " + path.
  EXPECT_EQ(Read("QUELTAN/QUELTAN.LOG"), "\r\r\nFile   : " + path.substr(0, 255 - 11));
}

// ---------------------------------------------------------------------------
// Time stamp

TEST_F(ReportLogTest, TimeStampIsUtcDayFirst) {
  struct Case {
    int64_t unixTime;
    const char* text;
  };
  const Case cases[] = {
      {kPinned, "27/11/1997  12:35:53 "},
      {0, "01/01/1970  00:00:00 "},
      {951782400, "29/02/2000  00:00:00 "},
      {1088931907, "04/07/2004  09:05:07 "},
      {4102444799, "31/12/2099  23:59:59 "},
  };
  // A local zone far from UTC shows a use of local time.
  const char* oldTz = getenv("TZ");
  std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "EST5EDT", 1);
  tzset();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PlatSetTestClock(c.unixTime);
    char buf[32];
    memset(buf, '#', sizeof buf);
    FormatTimeStamp(buf);
    EXPECT_EQ(std::string(buf), c.text);
    EXPECT_EQ(strlen(buf), 21u);
    EXPECT_EQ(buf[22], '#');   // nothing beyond the 22 bytes is touched
  }
  if (oldTz) setenv("TZ", savedTz.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

// ---------------------------------------------------------------------------
// Alert hand-off

TEST_F(ReportLogTest, RaiseAlertOutbox) {
  // Both send flags off: nothing to send, which counts as success.
  gConfig.sendToConsole = 0;
  gConfig.sendToUsers = 0;
  snprintf(alertText, sizeof alertText, "%s", "quiet");
  EXPECT_EQ(RaiseAlert(), 1);
  EXPECT_EQ(AlertOutboxCount(), 0u);
  gConfig.sendToUsers = 1;

  // A text filling the buffer without a terminator is over the limit.
  memset(alertText, 'a', sizeof alertText);
  EXPECT_EQ(RaiseAlert(), 0);
  EXPECT_EQ(AlertOutboxCount(), 0u);
  alertText[kAlertTextMax] = '\0';   // exactly the limit
  EXPECT_EQ(RaiseAlert(), 1);
  ASSERT_EQ(AlertOutboxCount(), 1u);
  EXPECT_EQ(strlen(AlertOutboxText(0)), kAlertTextMax);

  // A full outbox drops its oldest text.
  AlertOutboxClear();
  for (size_t i = 0; i < kAlertOutboxSize + 3; i++) {
    snprintf(alertText, sizeof alertText, "alert %zu", i);
    EXPECT_EQ(RaiseAlert(), 1);
  }
  ASSERT_EQ(AlertOutboxCount(), kAlertOutboxSize);
  EXPECT_STREQ(AlertOutboxText(0), "alert 3");
  EXPECT_EQ(std::string(AlertOutboxText(kAlertOutboxSize - 1)),
            "alert " + std::to_string(kAlertOutboxSize + 2));
  EXPECT_EQ(AlertOutboxText(kAlertOutboxSize), nullptr);
}

}  // namespace
