// Path walker tests: FILESPEC patterns, path normalization, the skip list,
// display names, the order and reach of both walks (plain on a diskette,
// catalog on a fixed drive), the depth limit, commands and stops between
// two files, single files, and the drives that are not scanned.
//
// Which files a walk scanned is read from the status records it sent: every
// file it takes goes to the console with its display name first.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/config.h"
#include "engine/dispatch.h"
#include "engine/integrity.h"
#include "engine/status.h"
#include "engine/virus_db.h"
#include "engine/walker.h"
#include "platform/files.h"
#include "tests/fixtures/fixtures.h"

namespace {

// ---------------------------------------------------------------------------
// Names

TEST(WalkerNames, FileSpecPatterns) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"A*X", "A", true},            // the name ends where the pattern has a "*" left
      {"A*X", "AX", true},
      {"A*X", "AB", false},
      {"*.*", "README", false},      // the "." after the "*" is not optional
      {"*.*", "READ.ME", true},
      {"*.*", "X.", true},
      {"*.BIN", "DATA.BIN", true},
      {"*.BIN", "MY.DATA.BIN", true},
      {"*.BIN", "DATA.BINX", false},
      {"*X", "AXBX", true},
      {"DATA*", "DATA", true},
      {"DATA", "DATAX", false},      // the pattern used up first
      {"DATAX", "DATA", false},
      {"*", "", true},
      {"", "", true},
      {"A", "", false},
      {"D?TA", "DATA", false},       // only "*" is special
      {"d*", "DATA", false},         // patterns are compared as stored
      {"*A*B*C", "XAYBZC", true},
      {"*A*B*C", "XAYCZB", true},    // the name ends at "*C": what is left is ignored
      {"*A*B*C", "XBYC", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchFileSpecPattern(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
}

TEST(WalkerNames, MatchesFileSpecTriesTheLastComponentUpperCased) {
  Config saved = gConfig;
  gConfig.fileSpecs = nullptr;
  EXPECT_FALSE(MatchesFileSpec("DATA.BIN"));
  ASSERT_TRUE(AddFileSpec("*.bin"));
  ASSERT_TRUE(AddFileSpec("READ*"));
  EXPECT_TRUE(MatchesFileSpec("data.bin"));
  EXPECT_TRUE(MatchesFileSpec("C:\\BIN.DIR\\x.Bin"));
  EXPECT_TRUE(MatchesFileSpec("C:readme"));
  EXPECT_FALSE(MatchesFileSpec("C:\\DATA.BIN\\X.TXT"));
  FreeConfigLists();
  gConfig = saved;
}

TEST(WalkerNames, NormalizePath) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"C:", "C:\\"},
      {"C:GAMES", "C:\\GAMES"},
      {"C:\\GAMES\\", "C:\\GAMES\\"},
      {"C:/GAMES/DOS", "C:\\GAMES\\DOS"},
      {"/home/user/C:/GAMES", "C:\\GAMES"},
      {"\\TEMP", "\\TEMP"},
      {"TEMP/X", "TEMP\\X"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char out[kNameMax];
    EXPECT_EQ(NormalizePath(c.in, out, sizeof out), std::strlen(c.out)) << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
  }
  // A path longer than the buffer is cut, never overrun.
  std::string longPath = "C:" + std::string(400, 'X');
  char out[kNameMax];
  EXPECT_EQ(NormalizePath(longPath.c_str(), out, sizeof out), kNameMax - 1);
  EXPECT_EQ(std::string(out, 3), "C:\\");
}

TEST(WalkerNames, TheSkipListDecidesPerDirectory) {
  struct Entry {
    const char* name;
    uint8_t subDirsAlso, preventKnown, preventNew;
  };
  struct Case {
    const char* what;
    std::vector<Entry> entries;
    const char* directory;
    bool scanKnown, checkNew;
  };
  const Case cases[] = {
      {"no entry", {}, "C:\\TEMP", true, true},
      {"with subdirectories", {{"\\TEMP", 1, 0, 0}}, "C:\\TEMP", false, false},
      {"with subdirectories", {{"\\TEMP", 1, 0, 0}}, "C:\\TEMP\\X", false, false},
      {"a longer name shares the prefix", {{"\\TEMP", 1, 0, 0}}, "C:\\TEMPORARY", false, false},
      {"another directory", {{"\\TEMP", 1, 0, 0}}, "C:\\GAMES", true, true},
      {"names on the disk in any case", {{"\\TEMP", 1, 0, 0}}, "C:\\Temp\\x", false, false},
      {"the directory itself", {{"\\TEMP", 0, 0, 0}}, "C:\\TEMP", false, false},
      {"not its subdirectories", {{"\\TEMP", 0, 0, 0}}, "C:\\TEMP\\X", true, true},
      {"not a longer name", {{"\\TEMP", 0, 0, 0}}, "C:\\TEMPORARY", true, true},
      {"flags taken as they are", {{"\\TEMP", 0, 1, 0}}, "C:\\TEMP", true, false},
      {"the last matching entry wins", {{"\\GAMES", 1, 0, 0}, {"C:\\GAMES", 1, 1, 0}}, "C:\\GAMES", true, false},
      {"a later entry that does not match", {{"\\GAMES", 1, 0, 0}, {"\\OTHER", 1, 1, 1}}, "C:\\GAMES", false, false},
      {"an entry of another drive", {{"D:\\TEMP", 1, 0, 0}}, "C:\\TEMP", true, true},
      {"the disk's own case", {{"\\TEMP", 0, 0, 0}}, "C:\\Temp", false, false},
  };
  Config saved = gConfig;
  for (const Case& c : cases) {
    gConfig.skipDirectories = nullptr;
    for (const Entry& e : c.entries) ASSERT_TRUE(AddSkipDirectory(e.name, e.subDirsAlso, e.preventKnown, e.preventNew));
    DirectorySwitches sw = DirectoryOptions(c.directory);
    EXPECT_EQ(sw.scanKnown, c.scanKnown) << c.what << ": " << c.directory;
    EXPECT_EQ(sw.checkNew, c.checkNew) << c.what << ": " << c.directory;
    FreeConfigLists();
  }
  gConfig = saved;
}

TEST(WalkerNames, DisplayNamesFallBackToTheBareNameOverTheirLimit) {
  // A directory text of 286 characters and a name of 8: "\" makes 295.
  const std::string dir = "C:\\" + std::string(283, 'D');
  struct Case {
    std::string directory;
    const char* name;
    size_t limit;
    std::string shown;
  };
  const Case cases[] = {
      {"C:\\", "A.COM", kScanDisplayLimit, "C:\\A.COM"},
      {"C:\\GAMES", "A.COM", kScanDisplayLimit, "C:\\GAMES\\A.COM"},
      {dir, "ABCD.COM", kScanDisplayLimit, dir + "\\ABCD.COM"},
      {dir, "ABCDE.COM", kScanDisplayLimit, "ABCDE.COM"},
      {dir, "ABCDEFG.COM", kCheckDisplayLimit, dir + "\\ABCDEFG.COM"},
      {dir, "ABCDEFGH.COM", kCheckDisplayLimit, "ABCDEFGH.COM"},
  };
  for (const Case& c : cases) {
    std::snprintf(Request().directory, kNameMax, "%s", c.directory.c_str());
    SetDisplayName(c.name, c.limit);
    EXPECT_EQ(std::string(Request().displayName), c.shown) << c.name;
    EXPECT_EQ(std::string(Status().currentFile), c.shown) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Walks

std::vector<char> gBootScans;
void RecordBootScan(char drive) { gBootScans.push_back(drive); }

// The command poll of a test: a command arrives once `gFireAfter` files
// have been sent to the console.
size_t gFireAfter = 0;
bool PollAfterFiles() {
  if (StatusOutbox().size() < gFireAfter) return false;
  commandPending = 1;
  abortRequested = 1;
  return true;
}

class WalkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = gConfig;
    gConfig.generateReport = 0;
    gConfig.skipDirectories = nullptr;
    gConfig.fileSpecs = nullptr;
    CtlDatabase db;
    CtlVirusDef v{};
    v.number = 10;
    v.names = {"Walker.Test"};
    v.signatures = {Sig(0, 0, "C9 A1 A2 A3 A4 A5", "", "")};
    v.signatures[0].comKeys = {0xC9};
    db.viruses.push_back(v);
    std::string dbHost = m.root() + "/WALKER.CTL";
    Bytes image = BuildDatabase(db);
    FILE* f = std::fopen(dbHost.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
    const char* failure = nullptr;
    ASSERT_TRUE(LoadVirusDatabaseFrom(HostPathToken(dbHost).c_str(), &failure));
    ClearStatusOutbox();
    gBootScans.clear();
    SetBootSectorScan(RecordBootScan);
  }
  void TearDown() override {
    SetBootSectorScan(nullptr);
    SetCommandPoll(nullptr);
    stopRequested = commandPending = abortRequested = 0;
    FreeVirusDatabase();
    FreeConfigLists();
    gConfig = saved;
  }
  // Files the walk sent to the console, in order.
  static std::vector<std::string> Scanned() {
    std::vector<std::string> files;
    for (const StatusLine& s : StatusOutbox())
      if (s.currentFile[0]) files.push_back(s.currentFile);
    return files;
  }
  void Program(const std::string& winPath) { m.Write(winPath, MakeComHost(winPath, 64)); }

  TempMachine m;
  Config saved;
};

TEST_F(WalkerTest, ADisketteIsWalkedDepthFirstFilesBeforeSubdirectories) {
  m.AddDrive('A', kDriveRemovable);
  ASSERT_TRUE(AddFileSpec("*.BIN"));
  ASSERT_TRUE(AddSkipDirectory("\\TEMP", 1, 0, 0));   // no effect on a diskette
  Program("A:\\AAA\\FIRST.COM");                      // a subdirectory listed before every file
  Program("A:\\B.COM");
  m.Write("A:\\DATA.BIN", Bytes(40, 0x90));
  m.Write("A:\\NOTE.TXT", Bytes(40, 0x90));
  Program("A:\\.HIDDEN\\X.COM");                      // a dot-directory is not entered
  Program("A:\\TEMP\\T.COM");
  Program("A:\\ZED\\Z.COM");
  Program("A:\\ZED\\DEEP\\D.EXE");
  // Links are neither scanned nor entered.
  ASSERT_EQ(symlink(m.Host("A:\\ZED").c_str(), m.Host("A:\\LINKDIR").c_str()), 0);
  ASSERT_EQ(symlink(m.Host("A:\\B.COM").c_str(), m.Host("A:\\LINK.COM").c_str()), 0);

  ASSERT_EQ(ScanPath("A:\\"), kWalkDone);
  EXPECT_EQ(gBootScans, std::vector<char>{'A'});
  const std::vector<std::string> expected = {
      "A:\\B.COM", "A:\\DATA.BIN", "A:\\AAA\\FIRST.COM", "A:\\TEMP\\T.COM", "A:\\ZED\\Z.COM", "A:\\ZED\\DEEP\\D.EXE",
  };
  EXPECT_EQ(Scanned(), expected);
  EXPECT_EQ(PlatGetCurrentDirectory(), "A:\\");
  // A plain walk keeps no integrity files.
  EXPECT_FALSE(m.Exists("A:\\KVNET.ORT"));
}

TEST_F(WalkerTest, AFixedDriveIsWalkedThroughItsCatalogInTheSameOrder) {
  m.AddDrive('C');
  Program("C:\\AAA\\FIRST.COM");
  Program("C:\\B.COM");
  Program("C:\\.HIDDEN\\X.COM");   // not entered here either
  Program("C:\\ZED\\Z.COM");
  Program("C:\\ZED\\DEEP\\D.EXE");
  ASSERT_EQ(ScanPath("C:\\"), kWalkDone);
  EXPECT_TRUE(gBootScans.empty());
  const std::vector<std::string> expected = {"C:\\B.COM", "C:\\AAA\\FIRST.COM", "C:\\ZED\\Z.COM",
                                             "C:\\ZED\\DEEP\\D.EXE"};
  EXPECT_EQ(Scanned(), expected);
  EXPECT_TRUE(m.Exists("C:\\KVNET.ORT"));
  // Started below the root, the walk covers only that subtree.
  ClearStatusOutbox();
  ASSERT_TRUE(PlatSetCurrentDirectory("C:\\"));
  Program("C:\\ZED\\NEW.COM");
  ASSERT_EQ(ScanPath("C:\\ZED"), kWalkDone);
  EXPECT_EQ(Scanned(), (std::vector<std::string>{"C:\\ZED\\NEW.COM", "C:\\ZED\\Z.COM", "C:\\ZED\\DEEP\\D.EXE"}));
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\ZED");
}

TEST_F(WalkerTest, TheHundredAndFirstLevelIsNotEntered) {
  for (char drive : {'A', 'C'}) {
    SCOPED_TRACE(drive);
    m.AddDrive(drive, drive == 'A' ? kDriveRemovable : kDriveFixed);
    std::string dir = std::string(1, drive) + ":";
    for (int level = 1; level <= 101; level++) {
      dir += "\\D";
      if (level >= 100) Program(dir + "\\L" + std::to_string(level) + ".COM");
    }
    ClearStatusOutbox();
    ASSERT_EQ(ScanPath((std::string(1, drive) + ":\\").c_str()), kWalkDone);
    std::vector<std::string> files = Scanned();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].find("\\L100.COM"), std::string::npos) << files[0];
  }
}

TEST_F(WalkerTest, ACommandOrAStopEndsTheWalkBetweenTwoFiles) {
  struct Case {
    char drive;
    size_t fireAfter;     // files scanned before the command arrives
    bool stopInstead;     // the service's stop flag, set before the walk
    size_t scanned;
  };
  const Case cases[] = {
      {'A', 2, false, 2},
      {'C', 2, false, 2},
      {'C', 0, false, 0},
      {'A', 0, true, 0},
      {'C', 0, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.drive) + " after " + std::to_string(c.fireAfter));
    TempMachine fresh;
    fresh.AddDrive(c.drive, c.drive == 'A' ? kDriveRemovable : kDriveFixed);
    const std::string root = std::string(1, c.drive) + ":\\";
    for (const char* name : {"F1.COM", "F2.COM", "F3.COM", "SUB\\F4.COM"})
      fresh.Write(root + name, MakeComHost(name, 64));
    ClearStatusOutbox();
    stopRequested = commandPending = abortRequested = 0;
    gFireAfter = c.fireAfter;
    SetCommandPoll(c.stopInstead ? nullptr : PollAfterFiles);
    if (c.stopInstead) stopRequested = 1;
    ASSERT_EQ(ScanPath(root.c_str()), kWalkDone);
    EXPECT_EQ(Scanned().size(), c.scanned);
    EXPECT_EQ(PlatGetCurrentDirectory(), root);
    SetCommandPoll(nullptr);
    stopRequested = commandPending = abortRequested = 0;
  }
}

TEST_F(WalkerTest, ASingleFileIsScannedAlone) {
  m.AddDrive('A', kDriveRemovable);
  Program("A:\\DIR\\ONE.COM");
  Program("A:\\DIR\\TWO.COM");
  Program("A:\\DIR\\SUB\\ONE.COM");
  Program("A:\\ROOT.COM");
  struct Case {
    const char* path;
    std::vector<std::string> scanned;
  };
  const Case cases[] = {
      {"A:\\DIR\\ONE.COM", {"A:\\DIR\\ONE.COM"}},
      {"A:/DIR/two.com", {"A:\\DIR\\TWO.COM"}},
      {"A:\\ROOT.COM", {"A:\\ROOT.COM"}},
      {"A:\\DIR\\NONE.COM", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    ClearStatusOutbox();
    EXPECT_EQ(ScanSingleFile(c.path), kWalkDone) << c.path;
    EXPECT_EQ(Scanned(), c.scanned) << c.path;
    EXPECT_EQ(SingleFilePattern(), nullptr);
  }
  EXPECT_EQ(ScanSingleFile("A:\\NODIR\\X.COM"), kWalkNoPath);
}

TEST_F(WalkerTest, DrivesWithoutAnIntegrityDatabaseAreNotScanned) {
  struct Case {
    char drive;
    DriveType type;
  };
  const Case cases[] = {{'D', kDriveCdrom}, {'E', kDriveRemote}, {'F', kDriveRemovable}, {'G', kDriveRamdisk}};
  for (const Case& c : cases) {
    m.AddDrive(c.drive, c.type);
    const std::string root = std::string(1, c.drive) + ":\\";
    Program(root + "X.COM");
    ClearStatusOutbox();
    EXPECT_EQ(ScanPath(root.c_str()), kWalkNoDatabase) << c.drive;
    EXPECT_TRUE(Scanned().empty()) << c.drive;
    EXPECT_FALSE(m.Exists(root + "KVNET.ORT")) << c.drive;
  }
  EXPECT_EQ(ScanPath("Q:\\"), kWalkNoPath);
  m.AddDrive('C');
  EXPECT_EQ(ScanPath("C:\\NOWHERE"), kWalkNoPath);
}

}  // namespace
