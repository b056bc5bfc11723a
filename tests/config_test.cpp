// Tests of the configuration reader and writer: the tokenizer's rules and
// both programs' flavours as a table of file texts, the report file name's
// life across re-reads, allocation and I/O failures, hostile files, the
// writer's exact bytes, the round trip, and the shipped QUELTAN.INI.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/config.h"
#include "fixtures/fixtures.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/machine.h"

using namespace std::string_literals;

namespace {

const char kIniPath[] = "C:\\QUELTAN\\QUELTAN.INI";
const char kDefaultLog[] = "C:\\QUELTAN\\QUELTAN.LOG";

// The lists in a compact form: "[name,S,K,N]" per skip entry (flags as Y or
// N), "[pattern]" per file specification, "[name]" per user.
std::string SkipText() {
  std::string s;
  for (const SkipDirectory* d = gConfig.skipDirectories; d; d = d->next) {
    s += "[" + std::string(d->name) + "," + (d->SubDirsAlso ? "Y" : "N") + "," +
         (d->PreventKnownVirus ? "Y" : "N") + "," + (d->PreventNewVirus ? "Y" : "N") + "]";
  }
  return s;
}

std::string SpecText() {
  std::string s;
  for (const FileSpec* f = gConfig.fileSpecs; f; f = f->next) s += "[" + std::string(f->pattern) + "]";
  return s;
}

std::string UserText() {
  std::string s;
  for (const AuthorizedUser* u = &gConfig.authorizedUsers; u; u = u->next)
    s += "[" + std::string(u->name) + "]";
  return s;
}

// Each test runs on a temporary machine with drive C, where the programs'
// own drive letter (the test program lies outside every drive) puts
// C:\QUELTAN\QUELTAN.INI.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.AddDrive('C');
    ASSERT_TRUE(PlatCreateDirectory("C:\\QUELTAN"));   // the install directory
    gConfigFlavor = kConfigService;
    ResetConfig();
  }
  void TearDown() override {
    FaultReset();
    gConfigFlavor = kConfigService;
    ResetConfig();
  }
  void WriteIni(const std::string& text) {
    machine_.Write(kIniPath, Bytes(text.begin(), text.end()));
  }
  std::string ReadIni() {
    Bytes b = machine_.Read(kIniPath);
    return std::string(b.begin(), b.end());
  }
  TempMachine machine_;
};

// ---------------------------------------------------------------------------
// Reading: one file text, the flavour that reads it, and the Config after.

struct ReadCase {
  const char* title;
  std::string text;
  ConfigFlavor flavor = kConfigService;
  int sendToUsers = 1;
  int sendToConsole = 1;
  int generateReport = 1;
  const char* log = kDefaultLog;
  int limit = 100;
  const char* skip = "";
  const char* specs = "";
  const char* users = "[ADMINISTRATOR]";
};

const std::string kFifty = "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWX";   // 50 characters

const ReadCase kReadCases[] = {
    {.title = "empty file", .text = ""},
    {.title = "comment lines only",
     .text = "// ****** Korvane ******\r\n\r\n// Options = none\r\n   \r\n"},

    // Size limit: decimal, clamped to 5..999, saturating instead of wrapping.
    {.title = "size limit 4 gives 5", .text = "[Report]\r\nSizeLimitInKB = 4\r\n", .limit = 5},
    {.title = "size limit 1000 gives 999", .text = "[Report]\r\nSizeLimitInKB = 1000\r\n", .limit = 999},
    {.title = "size limit without digits gives 5", .text = "[Report]\r\nSizeLimitInKB = abc\r\n", .limit = 5},
    {.title = "size limit stops at the first non-digit",
     .text = "[Report]\r\nSizeLimitInKB = +0042KB\r\n", .limit = 42},
    {.title = "negative size limit gives 5", .text = "[Report]\r\nSizeLimitInKB = -300\r\n", .limit = 5},
    {.title = "size limit beyond 16 bits does not wrap",
     .text = "[Report]\r\nSizeLimitInKB = 65540\r\n", .limit = 999},
    {.title = "size limit of 40 digits saturates",
     .text = "[Report]\r\nSizeLimitInKB = 9999999999999999999999999999999999999999\r\n", .limit = 999},

    // Flags.
    {.title = "True and y give yes",
     .text = "[Messages]\r\nSendToUsers = No\r\nSendToConsole = No\r\n"
             "SendToUsers = True\r\nSendToConsole = y\r\n"},
    {.title = "1, Off and an empty value give no",
     .text = "[Messages]\r\nSendToUsers = 1\r\nSendToConsole = Off\r\n[Report]\r\nGenerateReport =\r\n",
     .sendToUsers = 0, .sendToConsole = 0, .generateReport = 0},

    // Skip directories.
    {.title = "directory name only takes the defaults",
     .text = "[DirectoryToSkip]\r\nDirectory = C:\\DOS\r\n", .skip = "[C:\\DOS,N,Y,N]"},
    {.title = "directory with one Yes sets only SubDirsAlso",
     .text = "[DirectoryToSkip]\r\nDirectory = C:\\DOS, Yes\r\n", .skip = "[C:\\DOS,Y,Y,N]"},
    {.title = "directory text after a fourth comma is dropped",
     .text = "[DirectoryToSkip]\r\nDirectory = d:\\games, no, no, yes, yes, more\r\n",
     .skip = "[D:\\GAMES,N,N,Y]"},
    {.title = "empty directory fields keep their defaults",
     .text = "[DirectoryToSkip]\r\nDirectory = C:\\TMP, , , Yes\r\n", .skip = "[C:\\TMP,N,Y,Y]"},
    {.title = "directory name is read without its blanks",
     .text = "[DirectoryToSkip]\r\nDirectory = C:\\MY DIR\\OLD FILES, Yes\r\n",
     .skip = "[C:\\MYDIR\\OLDFILES,Y,Y,N]"},
    {.title = "field names are not keys of their own",
     .text = "[DirectoryToSkip]\r\nSubDirsAlso = Yes\r\nDirectory = C:\\X\r\n", .skip = "[C:\\X,N,Y,N]"},
    {.title = "service keeps every directory line",
     .text = "[DirectoryToSkip]\r\nDirectory = C:\\DOS\r\nDirectory = c:\\dos, yes\r\n"
             "Directory = C:\\A|B\r\nDirectory = , yes\r\n",
     .skip = "[C:\\DOS,N,Y,N][C:\\DOS,Y,Y,N][C:\\A|B,N,Y,N][,Y,Y,N]"},
    {.title = "console filters names and drops duplicates and empty names",
     .text = "[DirectoryToSkip]\r\nDirectory = C:\\DOS\r\nDirectory = c:\\dos, yes\r\n"
             "Directory = C:\\A|B\r\nDirectory = , yes\r\n",
     .flavor = kConfigConsole, .skip = "[C:\\DOS,N,Y,N][C:\\A,N,Y,N]"},
    {.title = "console name range is . to {",
     .text = "[DirectoryToSkip]\r\nDirectory = C:\\GAMES~1\\X\r\nDirectory = C:\\{OK}\r\n"
             "Directory = -C:\\X\r\n",
     .flavor = kConfigConsole, .skip = "[C:\\GAMES,N,Y,N][C:\\{OK,N,Y,N]"},

    // Authorized users.
    {.title = "service user names are letters only",
     .text = "[AuthorizedUsers]\r\nUserName = administrator\r\nUserName = Admin istrator\r\n"
             "UserName = John\r\nUserName = JOHN2\r\nUserName = j_doe\r\nUserName = 123\r\n",
     .users = "[ADMINISTRATOR][JOHN][J]"},
    {.title = "console user names take digits and _",
     .text = "[AuthorizedUsers]\r\nUserName = administrator\r\nUserName = Admin istrator\r\n"
             "UserName = John\r\nUserName = JOHN2\r\nUserName = j_doe\r\nUserName = 123\r\n",
     .flavor = kConfigConsole, .users = "[ADMINISTRATOR][JOHN][JOHN2][J_DOE][123]"},
    {.title = "user names are cut at 19 before the duplicate test",
     .text = "[AuthorizedUsers]\r\nUserName = ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n"
             "UserName = abcdefghijklmnopqrsXYZ\r\n",
     .users = "[ADMINISTRATOR][ABCDEFGHIJKLMNOPQRS]"},

    // File specifications.
    {.title = "blanks and tabs vanish inside names and values",
     .text = "[File To Scan]\r\nFile Spec = *.E XE\r\n\tFile\tSpec\t=\t*.c om\t\r\n",
     .specs = "[*.EXE][*.COM]"},
    {.title = "file specs keep duplicates and empty values, sections repeat",
     .text = "[FileToScan]\r\nFileSpec = *.A\r\n[Report]\r\nSizeLimitInKB = 7\r\n"
             "[FileToScan]\r\nFileSpec = *.B\r\nFileSpec = *.A\r\nFileSpec =\r\n"
             "[Report]\r\nSizeLimitInKB = 8\r\n",
     .limit = 8, .specs = "[*.A][*.B][*.A][]"},
    {.title = "[ inside a line and a second = are ordinary",
     .text = "[FileToScan]\r\nFileSpec = [A]=B\r\n", .specs = "[[A]=B]"},

    // Token length.
    {.title = "a value of 60 characters is cut at 50, the rest ignored",
     .text = "[FileToScan]\r\nFileSpec = " + kFifty + "0123456789\r\n",
     .specs = "[ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWX]"},
    {.title = "the rest of a cut value is read as a line of its own",
     .text = "[FileToScan]\r\nFileSpec = " + kFifty + "FileSpec=*.COM\r\n",
     .specs = "[ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWX][*.COM]"},
    {.title = "a key of 50 characters matches nothing, the rest is a line",
     .text = "[Report]\r\n" + kFifty + "SizeLimitInKB = 7\r\n", .limit = 7},

    // Sections and lines.
    {.title = "header followed by text opens the section",
     .text = "[Report] trailing words\r\nSizeLimitInKB = 7\r\n", .limit = 7},
    {.title = "text after ] is read as the section's next line",
     .text = "[Report]SizeLimitInKB=8\r\n", .limit = 8},
    {.title = "key = value before the first header is ignored",
     .text = "SizeLimitInKB = 7\r\nFileSpec = *.BIN\r\n"},
    {.title = "top-level key named like a section opens it",
     .text = "Report = anything\r\nSizeLimitInKB = 7\r\n", .limit = 7},
    {.title = "[ without ] is no header",
     .text = "[Report\r\nSizeLimitInKB = 7\r\n"},
    {.title = "keys of another section are ignored",
     .text = "[Report]\r\nSendToUsers = No\r\nFileSpec = *.X\r\nMessages = x\r\nSizeLimitInKB = 7\r\n",
     .limit = 7},
    {.title = "reserved sections and keys change nothing",
     .text = "[Online]\r\nPriority = 3\r\n[FileHook]\r\nHookEnabled = No\r\nVolumeDelayInSeconds = 9\r\n"
             "[Logout]\r\nLogoutIfKnownVirus = Yes\r\nLogoutDelay = 5\r\n"
             "[AuthorizedGroups]\r\nGroupName = Guests\r\n"
             "[Messages]\r\nSendToGroups = No\r\nSendUnloadMessage = No\r\n"
             "MessageWithUserFullName = No\r\nDelayBetweenMessages = 9\r\n"
             "[Report]\r\nSizeLimitInKB = 7\r\n",
     .limit = 7},
    {.title = "last occurrence of a scalar wins",
     .text = "[Report]\r\nGenerateReport = No\r\nGenerateReport = Yes\r\nGenerateReport = No\r\n",
     .generateReport = 0},

    // Line ends and odd bytes.
    {.title = "bare LF line ends and lower case",
     .text = "[report]\nsizelimitinkb=7\n\ngeneratereport=no\n", .generateReport = 0, .limit = 7},
    {.title = "last line without a line end", .text = "[Report]\r\nSizeLimitInKB = 7", .limit = 7},
    {.title = "Ctrl-Z ends the file",
     .text = "[Report]\r\nSizeLimitInKB = 7\x1a\r\nGenerateReport = No\r\n", .limit = 7},
    {.title = "NUL bytes are dropped",
     .text = "[Re\0port]\r\nSize\0LimitInKB = 7\0\0\r\n"s, .limit = 7},

    // Report file name.
    {.title = "report file name is upper-cased and loses its blanks",
     .text = "[Report]\r\nReportFileName = d:\\my logs\\kv.log\r\n", .log = "D:\\MYLOGS\\KV.LOG"},
    {.title = "service keeps an empty report file name",
     .text = "[Report]\r\nReportFileName =\r\n", .log = ""},
    {.title = "console takes the default for an empty report file name",
     .text = "[Report]\r\nReportFileName =\r\n", .flavor = kConfigConsole},
};

TEST_F(ConfigTest, ReadsFileTexts) {
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.title);
    gConfigFlavor = c.flavor;
    ResetConfig();
    WriteIni(c.text);
    EXPECT_TRUE(ReadConfig());
    EXPECT_EQ(gConfig.sendToUsers, c.sendToUsers);
    EXPECT_EQ(gConfig.sendToConsole, c.sendToConsole);
    EXPECT_EQ(gConfig.generateReport, c.generateReport);
    EXPECT_STREQ(gConfig.reportFileName, c.log);
    EXPECT_EQ(gConfig.sizeLimitInKB, c.limit);
    EXPECT_EQ(SkipText(), c.skip);
    EXPECT_EQ(SpecText(), c.specs);
    EXPECT_EQ(UserText(), c.users);
  }
}

// ---------------------------------------------------------------------------
// Re-reading: the service starts its lists and report file name again after
// FreeConfigLists; the console keeps its name; scalars persist in both.

TEST_F(ConfigTest, RereadAfterFreeingLists) {
  struct Case {
    ConfigFlavor flavor;
    const char* logAfterReread;     // the file no longer names a log
    const char* logAfterMissing;    // the file is gone
  };
  const Case cases[] = {
      {kConfigService, kDefaultLog, kDefaultLog},
      {kConfigConsole, "D:\\A.LOG", "D:\\A.LOG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flavor == kConfigService ? "service" : "console");
    gConfigFlavor = c.flavor;
    ResetConfig();
    WriteIni("[Report]\r\nReportFileName = D:\\A.LOG\r\nSizeLimitInKB = 7\r\n"
             "[FileToScan]\r\nFileSpec = *.BIN\r\n[AuthorizedUsers]\r\nUserName = JOHN\r\n"
             "[DirectoryToSkip]\r\nDirectory = C:\\DOS\r\n");
    ASSERT_TRUE(ReadConfig());
    EXPECT_STREQ(gConfig.reportFileName, "D:\\A.LOG");

    // Without FreeConfigLists a second read appends to the lists.
    ASSERT_TRUE(ReadConfig());
    EXPECT_EQ(SpecText(), "[*.BIN][*.BIN]");
    EXPECT_EQ(UserText(), "[ADMINISTRATOR][JOHN]");

    FreeConfigLists();
    EXPECT_EQ(gConfig.skipDirectories, nullptr);
    EXPECT_EQ(gConfig.fileSpecs, nullptr);
    EXPECT_EQ(UserText(), "[ADMINISTRATOR]");

    WriteIni("[FileToScan]\r\nFileSpec = *.SYS\r\n");
    ASSERT_TRUE(ReadConfig());
    EXPECT_STREQ(gConfig.reportFileName, c.logAfterReread);
    EXPECT_EQ(gConfig.sizeLimitInKB, 7);   // a deleted key keeps its last value
    EXPECT_EQ(SpecText(), "[*.SYS]");

    FreeConfigLists();
    std::filesystem::remove(machine_.Host(kIniPath));
    EXPECT_FALSE(ReadConfig());
    EXPECT_STREQ(gConfig.reportFileName, c.logAfterMissing);
    EXPECT_EQ(SpecText(), "");
    EXPECT_EQ(UserText(), "[ADMINISTRATOR]");
  }
}

// The file and the default log live on the program's own drive.
TEST_F(ConfigTest, PathsFollowTheProgramDrive) {
  EXPECT_STREQ(ConfigFilePath(), "C:\\QUELTAN\\QUELTAN.INI");
  std::string programDir = std::filesystem::path(PlatGetModuleHostPath()).parent_path();
  ASSERT_TRUE(MapDrive('D', kDriveFixed, programDir));
  ASSERT_EQ(PlatGetModulePath().substr(0, 2), "D:");
  EXPECT_STREQ(ConfigFilePath(), "D:\\QUELTAN\\QUELTAN.INI");
  ASSERT_FALSE(PlatFileExists(ConfigFilePath()));
  EXPECT_FALSE(ReadConfig());
  EXPECT_STREQ(gConfig.reportFileName, "D:\\QUELTAN\\QUELTAN.LOG");
}

// ---------------------------------------------------------------------------
// Failures while reading.

TEST_F(ConfigTest, UnallocatedEntryIsDroppedAndReadingGoesOn) {
  struct Case {
    const char* section;
    const char* lines;     // three entries; the second cannot be allocated
    const char* skip;
    const char* specs;
    const char* users;
  };
  const Case cases[] = {
      {"[FileToScan]", "FileSpec=*.A\r\nFileSpec=*.B\r\nFileSpec=*.C\r\n", "", "[*.A][*.C]",
       "[ADMINISTRATOR]"},
      {"[DirectoryToSkip]", "Directory=C:\\A\r\nDirectory=C:\\B\r\nDirectory=C:\\C\r\n",
       "[C:\\A,N,Y,N][C:\\C,N,Y,N]", "", "[ADMINISTRATOR]"},
      {"[AuthorizedUsers]", "UserName=ANN\r\nUserName=BOB\r\nUserName=CID\r\n", "", "",
       "[ADMINISTRATOR][ANN][CID]"},
  };
  for (ConfigFlavor flavor : {kConfigService, kConfigConsole}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.section) + (flavor == kConfigService ? " service" : " console"));
      gConfigFlavor = flavor;
      ResetConfig();
      WriteIni(std::string(c.section) + "\r\n" + c.lines + "[Report]\r\nSizeLimitInKB = 7\r\n");
      FaultArm(kFaultAlloc, 1, 1);
      EXPECT_TRUE(ReadConfig());
      FaultReset();
      EXPECT_EQ(SkipText(), c.skip);
      EXPECT_EQ(SpecText(), c.specs);
      EXPECT_EQ(UserText(), c.users);
      EXPECT_EQ(gConfig.sizeLimitInKB, 7);
    }
  }
}

// A file that cannot be opened leaves the defaults; a read error ends the
// file where it happens.
TEST_F(ConfigTest, OpenAndReadFailures) {
  std::string padding(600, '/');   // more than one read-ahead chunk
  WriteIni("[Report]\r\nGenerateReport = No\r\n" + padding + "\r\nSizeLimitInKB = 7\r\n");

  FaultArm(kFaultOpen, 0, 1, "QUELTAN.INI");
  EXPECT_FALSE(ReadConfig());
  EXPECT_EQ(gConfig.generateReport, 1);
  EXPECT_STREQ(gConfig.reportFileName, kDefaultLog);

  FaultReset();
  FaultArm(kFaultRead, 1, 1);
  EXPECT_TRUE(ReadConfig());
  EXPECT_EQ(gConfig.generateReport, 0);
  EXPECT_EQ(gConfig.sizeLimitInKB, 100);
}

// ---------------------------------------------------------------------------
// Hostile files: nothing overruns and every text stays within its limits.

void ExpectConfigWithinLimits() {
  EXPECT_LT(strnlen(gConfig.reportFileName, kReportFileNameSize), kReportFileNameSize);
  EXPECT_GE(gConfig.sizeLimitInKB, 5);
  EXPECT_LE(gConfig.sizeLimitInKB, 999);
  for (const SkipDirectory* d = gConfig.skipDirectories; d; d = d->next)
    EXPECT_LT(strnlen(d->name, kSkipDirNameSize), kSkipDirNameSize);
  for (const FileSpec* f = gConfig.fileSpecs; f; f = f->next)
    EXPECT_LE(strnlen(f->pattern, kFileSpecSize), 255u);
  for (const AuthorizedUser* u = &gConfig.authorizedUsers; u; u = u->next)
    EXPECT_LE(strnlen(u->name, kUserNameSize), 19u);
}

TEST_F(ConfigTest, MegabyteLinesAreReadInPieces) {
  const size_t kMegabyte = 1 << 20;
  struct Case {
    const char* title;
    std::string text;
  };
  const Case cases[] = {
      {"letters at top level", std::string(kMegabyte, 'A')},
      {"brackets at top level", std::string(kMegabyte, '[')},
      {"equals signs in a section", "[Report]\r\n" + std::string(kMegabyte, '=')},
      {"a megabyte value", "[FileToScan]\r\nFileSpec=" + std::string(kMegabyte, '*')},
      {"NUL bytes", "[Report]\r\n" + std::string(kMegabyte, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    FreeConfigLists();
    gConfig.sizeLimitInKB = 100;
    WriteIni(c.text + "\r\n[Report]\r\nSizeLimitInKB = 7\r\n");
    EXPECT_TRUE(ReadConfig());
    EXPECT_EQ(gConfig.sizeLimitInKB, 7);
    ExpectConfigWithinLimits();
  }
}

TEST_F(ConfigTest, RandomJunkIsReadSafely) {
  // Lines built from real headers and keys followed by random bytes, so that
  // the junk reaches every state of the tokenizer and every list.
  const char* const headers[] = {"[FileToScan]", "[DirectoryToSkip]", "[AuthorizedUsers]",
                                 "[Report]", "[Messages]", "[Online]"};
  const char* const keys[] = {"FileSpec", "Directory", "UserName", "ReportFileName",
                              "SizeLimitInKB", "SendToUsers"};
  const char* const lineEnds[] = {"\r\n", "\n", "\r"};
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  auto junk = [&next]() {
    std::string j;
    for (uint32_t n = next() % 120; n > 0; n--) {
      uint32_t r = next();
      char c = r % 4 == 0 ? ",=[]"[r / 4 % 4] : (char)(r >> 8);
      j += c == 0x1A ? 'Z' : c;   // Ctrl-Z would end the file early
    }
    return j;
  };
  size_t entries = 0;
  for (ConfigFlavor flavor : {kConfigService, kConfigConsole}) {
    for (int round = 0; round < 20; round++) {
      SCOPED_TRACE(round);
      gConfigFlavor = flavor;
      ResetConfig();
      std::string text;
      while (text.size() < 64 * 1024) {
        uint32_t r = next();
        switch (r % 4) {
          case 0: text += headers[r / 4 % 6] + junk(); break;
          case 1: text += keys[r / 4 % 6] + ("=" + junk()); break;
          case 2: text += junk(); break;
          default: text += keys[r / 4 % 6] + junk(); break;
        }
        text += lineEnds[r / 32 % 3];
      }
      WriteIni(text);
      EXPECT_TRUE(ReadConfig());
      ExpectConfigWithinLimits();
      entries += SkipText().size() + SpecText().size() + UserText().size();
    }
  }
  EXPECT_GT(entries, 40u * 15);   // more than the fixed user of each round: junk reached the lists
}

// ---------------------------------------------------------------------------
// The entry operations the console pages use, with texts longer than any
// the file can hold.

TEST_F(ConfigTest, AddOperationsCutAndRefuse) {
  std::string longName = "C:\\" + std::string(400, 'D');
  EXPECT_TRUE(AddSkipDirectory(longName.c_str(), 1, 0, 1));
  EXPECT_EQ(strlen(gConfig.skipDirectories->name), 299u);
  EXPECT_TRUE(AddSkipDirectory("", 0, 1, 0));   // the service keeps an empty name

  std::string longSpec = std::string(300, 'x');
  EXPECT_TRUE(AddFileSpec(longSpec.c_str()));
  EXPECT_EQ(std::string(gConfig.fileSpecs->pattern), std::string(255, 'X'));

  FreeConfigLists();
  gConfigFlavor = kConfigConsole;
  EXPECT_TRUE(AddSkipDirectory(longName.c_str(), 1, 0, 1));
  EXPECT_EQ(strlen(gConfig.skipDirectories->name), 259u);
  EXPECT_FALSE(AddSkipDirectory(longName.c_str(), 0, 0, 0));   // same first 259
  EXPECT_TRUE(AddSkipDirectory("C:\\Games", 0, 1, 0));
  EXPECT_FALSE(AddSkipDirectory("c:\\GAMES", 1, 1, 1));
  EXPECT_FALSE(AddSkipDirectory("", 0, 1, 0));
  EXPECT_FALSE(AddSkipDirectory(" C:\\X", 0, 1, 0));   // the pages pass text as typed
  EXPECT_EQ(gConfig.skipDirectories->next->SubDirsAlso, 0);

  EXPECT_TRUE(AddAuthorizedUser("Mary_Ann"));
  EXPECT_FALSE(AddAuthorizedUser("MARY_ANN"));
  EXPECT_FALSE(AddAuthorizedUser("Administrator"));
  EXPECT_FALSE(AddAuthorizedUser("-x"));
  EXPECT_EQ(UserText(), "[ADMINISTRATOR][Mary_Ann]");

  FaultArm(kFaultAlloc, 0, 3);
  EXPECT_FALSE(AddSkipDirectory("C:\\NEW", 0, 1, 0));
  EXPECT_FALSE(AddFileSpec("*.NEW"));
  EXPECT_FALSE(AddAuthorizedUser("NEWUSER"));
}

// ---------------------------------------------------------------------------
// Writing.

TEST_F(ConfigTest, WritesTheExactText) {
  gConfigFlavor = kConfigConsole;
  gConfig.sendToUsers = 0;
  std::strcpy(gConfig.reportFileName, "D:\\LOGS\\KV.LOG");
  gConfig.sizeLimitInKB = 250;
  ASSERT_TRUE(AddSkipDirectory("C:\\DOS", 1, 0, 1));
  ASSERT_TRUE(AddSkipDirectory("C:\\TEMP", 0, 1, 0));
  ASSERT_TRUE(AddFileSpec("*.BIN"));
  ASSERT_TRUE(AddAuthorizedUser("John"));
  ASSERT_TRUE(WriteConfig());
  EXPECT_EQ(ReadIni(),
            "// ****************** Korvane Configuration file ********************\r\n\r\n"
            "[Messages]\r\n"
            "// Options for messages\r\n\r\n"
            "   SendToUsers = No\r\n"
            "   SendToConsole = Yes\r\n\r\n"
            "[Report]\r\n"
            "// Options for report\r\n\r\n"
            "   GenerateReport = Yes\r\n"
            "   ReportFileName = D:\\LOGS\\KV.LOG\r\n"
            "   SizeLimitInKB = 250\r\n\r\n"
            "[DirectoryToSkip]\r\n"
            "// Structure of directory info\r\n"
            "// Directory = <DirectoryNameTo> <SubDirs> <PreventFromKnownVirus> <PreventFromUnknownVirus>\r\n\r\n"
            "   Directory = C:\\DOS, Yes, No, Yes\r\n"
            "   Directory = C:\\TEMP, No, Yes, No\r\n\r\n"
            "[FileToScan]\r\n"
            "// Structure of file info\r\n"
            "// FileSpec = <File specification to be scanned>\r\n\r\n"
            "   FileSpec = *.BIN\r\n\r\n"
            "[AuthorizedUsers]\r\n"
            "// Structure of user info\r\n"
            "// UserName = <UserName>\r\n\r\n"
            "   UserName = ADMINISTRATOR\r\n"
            "   UserName = John\r\n\r\n"
            "// ************************ End of configurations ***********************\r\n\r\n");
}

TEST_F(ConfigTest, WriteThenReadGivesTheSameConfig) {
  for (ConfigFlavor flavor : {kConfigService, kConfigConsole}) {
    SCOPED_TRACE(flavor == kConfigService ? "service" : "console");
    gConfigFlavor = flavor;
    ResetConfig();
    gConfig.sendToConsole = 0;
    gConfig.generateReport = 0;
    std::strcpy(gConfig.reportFileName, "e:\\Audit\\Virus.log");
    gConfig.sizeLimitInKB = 5;
    ASSERT_TRUE(AddSkipDirectory("C:\\Windows\\Temp", 1, 0, 0));
    ASSERT_TRUE(AddSkipDirectory("d:\\games", 0, 1, 1));
    ASSERT_TRUE(AddFileSpec("*.bin"));
    ASSERT_TRUE(AddFileSpec("Setup*.sys"));
    ASSERT_TRUE(AddAuthorizedUser("Operator"));
    ASSERT_TRUE(AddAuthorizedUser("mary"));
    ASSERT_TRUE(WriteConfig());

    ResetConfig();
    ASSERT_TRUE(ReadConfig());
    EXPECT_EQ(gConfig.sendToUsers, 1);
    EXPECT_EQ(gConfig.sendToConsole, 0);
    EXPECT_EQ(gConfig.generateReport, 0);
    EXPECT_STREQ(gConfig.reportFileName, "E:\\AUDIT\\VIRUS.LOG");
    EXPECT_EQ(gConfig.sizeLimitInKB, 5);
    EXPECT_EQ(SkipText(), "[C:\\WINDOWS\\TEMP,Y,N,N][D:\\GAMES,N,Y,Y]");
    EXPECT_EQ(SpecText(), "[*.BIN][SETUP*.SYS]");
    EXPECT_EQ(UserText(), "[ADMINISTRATOR][OPERATOR][MARY]");
  }
}

// A failed create and a failed write are both reported.
TEST_F(ConfigTest, WriteFailuresAreReported) {
  const FaultKind kinds[] = {kFaultOpen, kFaultWrite};
  for (FaultKind kind : kinds) {
    SCOPED_TRACE(kind);
    FaultArm(kind, 0, 1);
    EXPECT_FALSE(WriteConfig());
    FaultReset();
  }
  EXPECT_TRUE(WriteConfig());
}

// ---------------------------------------------------------------------------
// The shipped data/QUELTAN.INI is the writer's output for the defaults and
// these file kinds, beyond the program and document names the scanner takes
// anyway: boot images, device drivers, Windows 3.x drivers, libraries and
// screen savers.

const char* const kShippedFileSpecs[] = {"*.BIN", "*.SYS", "*.DRV", "*.DLL", "*.SCR"};

TEST_F(ConfigTest, ShippedFileIsTheWritersOutput) {
  gConfigFlavor = kConfigConsole;
  for (const char* spec : kShippedFileSpecs) ASSERT_TRUE(AddFileSpec(spec));
  ASSERT_STREQ(gConfig.reportFileName, kDefaultLog);
  ASSERT_TRUE(WriteConfig());

  std::ifstream in(KORVANE_SOURCE_DIR "/data/QUELTAN.INI", std::ios::binary);
  ASSERT_TRUE(in) << "data/QUELTAN.INI is missing";
  std::string shipped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(shipped, ReadIni());

  // And it reads back as those defaults.
  ResetConfig();
  gConfigFlavor = kConfigService;
  ASSERT_TRUE(ReadConfig());
  EXPECT_STREQ(gConfig.reportFileName, kDefaultLog);
  EXPECT_EQ(gConfig.sizeLimitInKB, 100);
  EXPECT_EQ(SkipText(), "");
  EXPECT_EQ(SpecText(), "[*.BIN][*.SYS][*.DRV][*.DLL][*.SCR]");
  EXPECT_EQ(UserText(), "[ADMINISTRATOR]");
}

}  // namespace
