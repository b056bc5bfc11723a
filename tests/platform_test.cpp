// The platform layer: drive map, Windows paths, links, sharing, attributes,
// enumeration and the current directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/dosattr.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "tests/fixtures/fixtures.h"

namespace fs = std::filesystem;

TEST(DrivesConf, ParsesDrivesAndOptions) {
  TempMachine m;
  std::string err;
  ASSERT_TRUE(ParseDrivesConf(
      "# the machine\n"
      "C: fixed /srv/c label=SYSTEM\n"
      "\n"
      "a: removable \"/srv/floppy a\" image=/dev/fd0   # diskette\n"
      "E: cdrom /mnt/cd/\n",
      "drives.conf", &err))
      << err;
  ASSERT_NE(FindDrive('C'), nullptr);
  EXPECT_EQ(FindDrive('c')->hostDir, "/srv/c");
  EXPECT_EQ(FindDrive('C')->label, "SYSTEM");
  EXPECT_EQ(FindDrive('A')->hostDir, "/srv/floppy a");
  EXPECT_EQ(FindDrive('A')->image, "/dev/fd0");
  EXPECT_EQ(FindDrive('E')->hostDir, "/mnt/cd");
  EXPECT_EQ(GetDriveType('E'), kDriveCdrom);
  EXPECT_EQ(GetDriveType('Q'), kDriveNoRoot);
  EXPECT_EQ(FixedDriveMask(), 1u << 2);
}

TEST(DrivesConf, MalformedLinesNameFileAndLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"C: fixed /c\nCC: fixed /x\n", "drives.conf:2: expected a drive letter"},
      {"C: floppy /c\n", "drives.conf:1: unknown drive type \"floppy\""},
      {"C: fixed\n", "drives.conf:1: expected LETTER: TYPE HOSTDIR"},
      {"C: fixed relative/dir\n", "drives.conf:1: host directory must be an absolute path"},
      {"C: fixed /c colour=red\n", "drives.conf:1: unknown option"},
      {"\n\nC: fixed \"/c\n", "drives.conf:3: unclosed double quote"},
      {"C: fixed /c\nc: fixed /d\n", "drives.conf:2: drive C: given twice"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_FALSE(ParseDrivesConf(c.text, "drives.conf", &err)) << c.text;
    EXPECT_EQ(err.rfind(c.error, 0), 0u) << "got: " << err;
  }
}

TEST(DrivesConf, MachineOpenRefusesBadFileAndLeavesNoDrives) {
  TempMachine m;
  std::ofstream(m.root() + "/drives.conf") << "C: fixed /tmp\nZ: nonsense /x\n";
  std::string err;
  EXPECT_FALSE(MachineOpen(m.root().c_str(), &err));
  EXPECT_NE(err.find("drives.conf:2:"), std::string::npos) << err;
  EXPECT_EQ(FindDrive('C'), nullptr);
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    c = m.AddDrive('C');
    FaultReset();
  }
  void TearDown() override { FaultReset(); }
  TempMachine m;
  std::string c;
};

TEST_F(FilesTest, NamesAreFoundWithoutRegardToCase) {
  m.Write("C:\\QUELTAN\\KvServ.Exe", {1, 2, 3});
  FileHandle h = PlatOpenFile("c:\\queltan\\KVSERV.exe", kAccessRead);
  ASSERT_NE(h, kNoFile);
  uint8_t buf[4];
  EXPECT_EQ(PlatReadFile(h, buf, 4), 3);
  PlatCloseFile(h);
  EXPECT_EQ(PlatHostPath("C:/Queltan/./x/../kvserv.exe"), c + "/QUELTAN/KvServ.Exe");
  EXPECT_EQ(PlatWindowsPath(c + "/QUELTAN/KvServ.Exe"), "C:\\QUELTAN\\KvServ.Exe");
  EXPECT_EQ(PlatWindowsPath(c), "C:\\");
  EXPECT_EQ(PlatWindowsPath(c + "x/y"), "");   // beside the drive, not in it
  EXPECT_EQ(PlatHostPath("Q:\\X"), "");        // unmapped letter
}

TEST_F(FilesTest, RelativeNamesFollowTheCurrentDirectory) {
  m.Write("C:\\GAMES\\PLAY.EXE", {'M', 'Z'});
  ASSERT_TRUE(PlatSetCurrentDirectory("c:\\games"));
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\GAMES");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(fs::path(cwd), fs::path(c + "/GAMES"));   // moved for real
  EXPECT_TRUE(PlatFileExists("play.exe"));
  EXPECT_TRUE(PlatFileExists("..\\GAMES\\PLAY.EXE"));
  EXPECT_TRUE(PlatFileExists("\\GAMES\\PLAY.EXE"));
  EXPECT_TRUE(PlatSetCurrentDirectory(".."));
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\");
  EXPECT_TRUE(PlatSetCurrentDirectory(".."));   // the root has no parent
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\");
  ASSERT_TRUE(PlatSetCurrentDirectory("games"));   // a bare name, in another case
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\GAMES");
  EXPECT_TRUE(PlatFileExists("PLAY.EXE"));
  EXPECT_FALSE(PlatSetCurrentDirectory("PLAY.EXE"));   // not a directory
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\GAMES");
  ASSERT_TRUE(PlatSetCurrentDirectory(".."));
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\");
  EXPECT_FALSE(PlatSetCurrentDirectory("C:\\NOWHERE"));
  EXPECT_EQ(PlatGetCurrentDirectory(), "C:\\");
}

TEST_F(FilesTest, LinksBelowADriveAreNeverFollowed) {
  m.Write("C:\\REAL\\VICTIM.EXE", {1});
  fs::create_symlink(c + "/REAL/VICTIM.EXE", c + "/LINK.EXE");
  fs::create_directory_symlink(c + "/REAL", c + "/LINKDIR");
  EXPECT_EQ(PlatOpenFile("C:\\LINK.EXE", kAccessRead), kNoFile);
  EXPECT_EQ(PlatOpenFile("C:\\LINKDIR\\VICTIM.EXE", kAccessRead), kNoFile);
  EXPECT_EQ(PlatOpenFile("C:\\link.exe", kAccessRead), kNoFile);   // also via the case lookup
  EXPECT_FALSE(PlatSetCurrentDirectory("C:\\LINKDIR"));
  EXPECT_EQ(PlatGetAttributes("C:\\LINK.EXE"), kAttrInvalid);
  EXPECT_FALSE(PlatSetAttributes("C:\\LINK.EXE", kAttrReadOnly));
  // Enumeration reports the links as non-regular entries.
  FindData fd;
  FindHandle h = PlatFindFirst("C:\\*.*", &fd);
  ASSERT_NE(h, kNoFind);
  int seen = 0;
  do {
    std::string n = fd.name;
    if (n == "LINK.EXE" || n == "LINKDIR") {
      EXPECT_EQ(fd.attributes, (uint32_t)kAttrReparse) << n;
      seen++;
    }
  } while (PlatFindNext(h, &fd));
  PlatFindClose(h);
  EXPECT_EQ(seen, 2);
  // A FIFO must not hang an open.
  ASSERT_EQ(mkfifo((c + "/PIPE.COM").c_str(), 0644), 0);
  EXPECT_EQ(PlatOpenFile("C:\\PIPE.COM", kAccessRead), kNoFile);
}

TEST_F(FilesTest, SharingModesKeepOurWritersAndDeniersApart) {
  m.Write("C:\\F.COM", {1, 2, 3});
  FileHandle scan = PlatOpenFile("C:\\F.COM", kAccessRead | kShareDenyWrite);
  ASSERT_NE(scan, kNoFile);
  EXPECT_EQ(PlatOpenFile("C:\\F.COM", kAccessReadWrite), kNoFile);
  FileHandle reader = PlatOpenFile("C:\\F.COM", kAccessRead);   // readers are welcome
  EXPECT_NE(reader, kNoFile);
  PlatCloseFile(reader);
  PlatCloseFile(scan);
  FileHandle writer = PlatOpenFile("C:\\F.COM", kAccessReadWrite);
  ASSERT_NE(writer, kNoFile);
  EXPECT_EQ(PlatOpenFile("C:\\F.COM", kAccessRead | kShareDenyWrite), kNoFile);
  FileHandle writer2 = PlatOpenFile("C:\\F.COM", kAccessReadWrite);   // both deny nothing
  EXPECT_NE(writer2, kNoFile);
  PlatCloseFile(writer2);
  PlatCloseFile(writer);
}

TEST_F(FilesTest, CreateTruncateSeekAndLength) {
  FileHandle h = PlatOpenFile("C:\\NEW.DAT", kAccessReadWrite | kOpenCreate);
  ASSERT_NE(h, kNoFile);
  EXPECT_EQ(PlatWriteFile(h, "abcdef", 6), 6);
  EXPECT_EQ(PlatSeek(h, -2, kSeekEnd), 4);
  EXPECT_EQ(PlatSeek(h, -10, kSeekCurrent), -1);
  EXPECT_TRUE(PlatSetFileLength(h, 3));
  EXPECT_EQ(PlatFileSize(h), 3);
  PlatCloseFile(h);
  h = PlatOpenFile("C:\\NEW.DAT", kAccessReadWrite | kOpenTruncate);
  EXPECT_EQ(PlatFileSize(h), 0);
  PlatCloseFile(h);
  EXPECT_EQ(PlatOpenFile("C:\\MISSING.DAT", kAccessRead), kNoFile);
}

TEST_F(FilesTest, RenameRefusesAnExistingTargetButMayChangeCase) {
  m.Write("C:\\A.COM", {1});
  m.Write("C:\\B.COM", {2});
  EXPECT_FALSE(PlatRenameFile("C:\\A.COM", "C:\\B.COM"));
  EXPECT_TRUE(PlatRenameFile("C:\\A.COM", "C:\\C.VOM"));
  EXPECT_TRUE(PlatRenameFile("C:\\c.vom", "C:\\c.VOM"));
  EXPECT_TRUE(fs::exists(c + "/c.VOM"));
  EXPECT_TRUE(PlatDeleteFile("C:\\C.VOM"));
  EXPECT_FALSE(PlatDeleteFile("C:\\C.VOM"));
}

TEST_F(FilesTest, ReadOnlyIsTheAbsenceOfWriteBits) {
  m.Write("C:\\RO.EXE", {1});
  ASSERT_TRUE(PlatSetAttributes("C:\\RO.EXE", kAttrReadOnly));
  struct stat st;
  stat((c + "/RO.EXE").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(PlatGetAttributes("C:\\RO.EXE") & kAttrReadOnly, (uint32_t)kAttrReadOnly);
  ASSERT_TRUE(PlatSetAttributes("C:\\RO.EXE", kAttrNormal));
  stat((c + "/RO.EXE").c_str(), &st);
  EXPECT_NE(st.st_mode & 0200, 0u);
  EXPECT_EQ(PlatGetAttributes("C:\\RO.EXE"), (uint32_t)kAttrNormal);
}

TEST_F(FilesTest, HiddenSystemAndArchiveLiveInTheSambaAttribute) {
  m.Write("C:\\H.SYS", {1});
  std::string host = c + "/H.SYS";
  if (setxattr(host.c_str(), "user.probe", "x", 1, 0) != 0) GTEST_SKIP() << "no user xattrs here";
  ASSERT_TRUE(PlatSetAttributes("C:\\H.SYS", kAttrHidden | kAttrSystem | kAttrReadOnly));
  EXPECT_EQ(PlatGetAttributes("C:\\H.SYS"), (uint32_t)(kAttrHidden | kAttrSystem | kAttrReadOnly));
  uint8_t blob[64];
  ssize_t n = getxattr(host.c_str(), "user.DOSATTRIB", blob, sizeof blob);
  ASSERT_EQ(n, 31);   // version 4: "" then version, level, flags, attrib, two times
  EXPECT_EQ(blob[0], 0);
  EXPECT_EQ(blob[1], 4);
  EXPECT_EQ(blob[3], 4);
  EXPECT_EQ(blob[11], kAttrHidden | kAttrSystem);
  ASSERT_TRUE(PlatSetAttributes("C:\\H.SYS", kAttrNormal));
  EXPECT_EQ(PlatGetAttributes("C:\\H.SYS"), (uint32_t)kAttrNormal);
}

TEST(DosAttrib, ReadsTheThreeFormsSambaWrites) {
  // Old releases: the hex string alone.
  const char hexOnly[] = "0x22";
  // Version 3: "0x27" then version 3, level 3, flags, attrib, ea size,
  // size, alloc size, create time, change time.
  std::vector<uint8_t> v3 = {'0', 'x', '2', '7', 0, 3, 0, 3, 0, 0, 0, 0x11, 0, 0, 0, 0x27, 0, 0, 0};
  v3.resize(v3.size() + 4 + 8 + 8, 0);
  for (int i = 0; i < 8; i++) v3.push_back((uint8_t)(0x10 + i));   // create time
  v3.resize(v3.size() + 8, 0);
  // Version 4: "" then version 4, level 4, flags, attrib, itime, create time.
  std::vector<uint8_t> v4 = {0, 4, 0, 4, 0, 0, 0, 0x51, 0, 0, 0, 0x06, 0, 0, 0};
  for (int i = 0; i < 16; i++) v4.push_back((uint8_t)i);
  uint32_t a = 0;
  DosAttribTimes t{};
  ASSERT_TRUE(DecodeDosAttrib((const uint8_t*)hexOnly, 4, &a, &t));
  EXPECT_EQ(a, 0x22u);
  ASSERT_TRUE(DecodeDosAttrib(v3.data(), v3.size(), &a, &t));
  EXPECT_EQ(a, 0x27u);
  EXPECT_EQ(t.createTime, 0x1716151413121110ull);
  ASSERT_TRUE(DecodeDosAttrib(v4.data(), v4.size(), &a, &t));
  EXPECT_EQ(a, 0x06u);
  EXPECT_EQ(t.itime, 0x0706050403020100ull);
  // Writing keeps the times it was given.
  uint8_t out[64];
  size_t n = EncodeDosAttrib(0x02, &t, out, sizeof out);
  uint32_t back = 0;
  DosAttribTimes t2{};
  ASSERT_TRUE(DecodeDosAttrib(out, n, &back, &t2));
  EXPECT_EQ(back, 0x02u);
  EXPECT_EQ(t2.itime, t.itime);
  EXPECT_EQ(t2.createTime, t.createTime);
  // Junk and truncated blobs are refused, never overrun.
  const uint8_t junk[] = {0xFF, 0xFE, 0x00, 0x04};
  EXPECT_FALSE(DecodeDosAttrib(junk, sizeof junk, &a, &t));
  EXPECT_FALSE(DecodeDosAttrib(v4.data(), 20, &a, &t));
}

TEST_F(FilesTest, EnumerationUsesWindowsPatternsAndSortsNames) {
  for (const char* n : {"b.exe", "A.COM", "README", "c.Exe", "x.ovl.bak"}) m.Write(std::string("C:\\D\\") + n, {1});
  fs::create_directory(c + "/D/SUB");
  auto list = [](const char* pattern) {
    std::string names;
    FindData fd;
    FindHandle h = PlatFindFirst(pattern, &fd);
    if (h == kNoFind) return names;
    do {
      names += fd.name;
      if (fd.attributes & kAttrDirectory) names += "/";
      names += " ";
    } while (PlatFindNext(h, &fd));
    PlatFindClose(h);
    return names;
  };
  EXPECT_EQ(list("C:\\D\\*.*"), "A.COM b.exe c.Exe README SUB/ x.ovl.bak ");
  EXPECT_EQ(list("C:\\D\\*.EXE"), "b.exe c.Exe ");
  EXPECT_EQ(list("C:\\D\\?.COM"), "A.COM ");
  EXPECT_EQ(list("C:\\D\\*.ovl*"), "x.ovl.bak ");
  EXPECT_EQ(list("C:\\D\\NONE*"), "");
  ASSERT_TRUE(PlatSetCurrentDirectory("C:\\D"));
  EXPECT_EQ(list("readme"), "README ");
}

TEST_F(FilesTest, EnumerationCanLeaveOutFilesOrTheirDetails) {
  m.Write("C:\\E\\PROG.EXE", {1, 2, 3});
  fs::create_directory(c + "/E/SUB");
  fs::create_symlink(c + "/E/SUB", c + "/E/LINK");
  auto list = [](unsigned flags) {
    std::string names;
    FindData fd;
    FindHandle h = PlatFindFirst("C:\\E\\*.*", &fd, flags);
    if (h == kNoFind) return names;
    do names += std::string(fd.name) + ":" + std::to_string(fd.attributes) + ":" + std::to_string(fd.size) + " ";
    while (PlatFindNext(h, &fd));
    PlatFindClose(h);
    return names;
  };
  EXPECT_EQ(list(0), "LINK:1024:0 PROG.EXE:128:3 SUB:16:0 ");
  EXPECT_EQ(list(kFindDirectoriesOnly), "SUB:16:0 ");
  EXPECT_EQ(list(kFindNamesOnly), "LINK:1024:0 PROG.EXE:128:-1 SUB:16:0 ");
}

TEST_F(FilesTest, FaultsMakeCallsFail) {
  m.Write("C:\\F.COM", {1, 2, 3});
  FaultArm(kFaultRead, 1, 1);
  FileHandle h = PlatOpenFile("C:\\F.COM", kAccessRead);
  uint8_t b;
  EXPECT_EQ(PlatReadFile(h, &b, 1), 1);
  EXPECT_EQ(PlatReadFile(h, &b, 1), -1);
  EXPECT_EQ(PlatReadFile(h, &b, 1), 1);
  PlatCloseFile(h);
  FaultArm(kFaultOpen, 0, 1, "OTHER");
  EXPECT_NE(h = PlatOpenFile("C:\\F.COM", kAccessRead), kNoFile);   // another path
  PlatCloseFile(h);
}

TEST_F(FilesTest, ModulePathOutsideEveryDriveIsAHostToken) {
  std::string win = PlatGetModulePath();
  EXPECT_EQ(win.rfind("\\\\?\\", 0), 0u) << win;
  EXPECT_EQ(PlatHostPath(win.c_str()), PlatGetModuleHostPath());
}
