// Integrity database tests: the four files byte for byte, the incremental
// scan (an unchanged drive is neither scanned nor written), modifications
// reported and rebuilt, changes that are only re-recorded, new infected
// files, crashes, deleted directories and files, interrupted scans, failed
// rebuilds, the skip list and FILESPEC on a fixed drive, single files, the
// state file, and damaged or hostile KVNET files.
//
// Each test maps a fresh temporary directory as the fixed drive C: with an
// install directory C:\QUELTAN (the report log, the state file and a small
// virus database live there), scans it with the path walker, and reads the
// files back through its own reading of the layouts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/config.h"
#include "cure/alerts.h"
#include "engine/dispatch.h"
#include "engine/integrity.h"
#include "engine/status.h"
#include "engine/virus_db.h"
#include "engine/walker.h"
#include "platform/clock.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "tests/fixtures/fixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kPinned = 880634153;   // 27/11/1997 12:35:53 UTC
const std::string kTimeLine = "\r\r\n\r\r\nTime   : 27/11/1997  12:35:53 ";

// Virus bodies: one the database cures, one it knows without a vaccine,
// and one it does not know at all.
const char kCurable[] = "C9 A1 A2 A3 A4 A5";
const char kIncurable[] = "CC D1 D2 D3 D4 D5";
const char kUnknown[] = "CE E1 E2 E3 E4 E5";

// ---------------------------------------------------------------------------
// The layouts as an independent reader sees them

constexpr size_t kDir = 286, kFile = 303, kBlock = 255;

int32_t I32(const Bytes& b, size_t at) {
  return (int32_t)((uint32_t)b.at(at) | (uint32_t)b.at(at + 1) << 8 | (uint32_t)b.at(at + 2) << 16 |
                   (uint32_t)b.at(at + 3) << 24);
}
uint16_t U16(const Bytes& b, size_t at) { return (uint16_t)(b.at(at) | b.at(at + 1) << 8); }
void SetI32(Bytes* b, size_t at, int32_t v) {
  for (int i = 0; i < 4; i++) b->at(at + i) = (uint8_t)((uint32_t)v >> (8 * i));
}
std::string NameAt(const Bytes& b, size_t at) {
  const char* s = (const char*)&b.at(at);
  return std::string(s, strnlen(s, 256));
}

// Positions of the records in use, by name.
std::map<std::string, int32_t> InUse(const Bytes& file, size_t size, size_t stateAt) {
  std::map<std::string, int32_t> m;
  for (size_t p = size; p + size <= file.size(); p += size)
    if (file[p + stateAt] == 8) m[NameAt(file, p + 8)] = (int32_t)p;
  return m;
}

// A deterministic body of n bytes that no scanner entry rule follows.
Bytes Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& x : b) x = (uint8_t)rng();
  if (n) b[0] = 0x90;
  return b;
}

Bytes Slice(const Bytes& b, size_t at, size_t n) { return Bytes(b.begin() + (long)at, b.begin() + (long)(at + n)); }

// An EXE infection: a body appended, the entry point moved into it.
Bytes InfectExe(const Bytes& host, const Bytes& bodyStart) {
  Bytes f = host;
  size_t entry = f.size() - 32;
  Bytes body(400, 0xCC);
  std::copy(bodyStart.begin(), bodyStart.end(), body.begin());
  f.insert(f.end(), body.begin(), body.end());
  SetWord(&f, 20, (uint16_t)(entry % 16));
  SetWord(&f, 22, (uint16_t)(entry / 16));
  FixMzSize(&f);
  return f;
}

bool gSawDirtyMarker = false;

class IntegrityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.AddDrive('C');
    ASSERT_TRUE(PlatCreateDirectory("C:\\QUELTAN"));
    saved = gConfig;
    gConfig.skipDirectories = nullptr;
    gConfig.fileSpecs = nullptr;
    std::strcpy(gConfig.reportFileName, "C:\\QUELTAN\\QUELTAN.LOG");
    gConfig.generateReport = 1;
    PlatSetTestClock(kPinned);
    LoadDatabase(false);
    ASSERT_TRUE(OpenIntegrityStateFile());
    OnlineUserName()[0] = 0;
  }
  void TearDown() override {
    CloseIntegrityStateFile();
    FaultReset();
    SetCommandPoll(nullptr);
    stopRequested = commandPending = abortRequested = 0;
    SetCureEnabled(true);
    OnlineUserName()[0] = 0;
    FreeVirusDatabase();
    FreeConfigLists();
    gConfig = saved;
    PlatSetTestClock(-1);
  }
  // The test database: the curable virus always, the incurable one when asked.
  void LoadDatabase(bool knowsIncurable) {
    CtlDatabase db;
    for (int i = 0; i < (knowsIncurable ? 2 : 1); i++) {
      const char* start = i ? kIncurable : kCurable;
      CtlVirusDef v{};
      v.number = (int16_t)(10 + i);
      v.names = {i ? "Incurable" : "Curable"};
      v.signatures = {Sig(0, 0, start, "", "")};
      v.signatures[0].comKeys = {Hex(start)[0]};
      if (!i) {
        CtlVaccineRecord r{};
        r.savedOffset = -3;
        r.savedOrigin = 2;
        r.savedLength = 3;
        r.restoreLength = 3;
        r.comCutLength = 300;
        v.vaccines = {r};
      }
      db.viruses.push_back(v);
    }
    FreeVirusDatabase();
    m.Write("C:\\QUELTAN\\TEST.CTL", BuildDatabase(db));
    const char* failure = nullptr;
    ASSERT_TRUE(LoadVirusDatabaseFrom("C:\\QUELTAN\\TEST.CTL", &failure));
  }
  ScanCounters Scan(const char* path = "C:\\") {
    Counters() = ScanCounters{};
    ClearStatusOutbox();
    AlertOutboxClear();
    EXPECT_EQ(ScanPath(path), kWalkDone) << path;
    return Counters();
  }
  Bytes Db(const char* name) const {
    std::string p = std::string("C:\\") + name;
    return m.Exists(p) ? m.Read(p) : Bytes{};
  }
  void PutDb(const char* name, const Bytes& b) const { m.Write(std::string("C:\\") + name, b); }
  bool DbExists() const { return m.Exists("C:\\KVNET.IMP") || m.Exists("C:\\KVNET.ORT") || m.Exists("C:\\KVNET.ANT"); }
  std::string Log() const {
    Bytes b = m.Exists("C:\\QUELTAN\\QUELTAN.LOG") ? m.Read("C:\\QUELTAN\\QUELTAN.LOG") : Bytes{};
    return std::string(b.begin(), b.end());
  }
  void ClearLog() const { fs::remove(m.Host("C:\\QUELTAN\\QUELTAN.LOG")); }
  uint32_t Marker() const { return (uint32_t)I32(m.Read("C:\\QUELTAN\\QUELTAN.CDI"), 2 * 12); }
  // Every file of the drive outside the install directory and the KVNET files.
  std::map<std::string, Bytes> Tree() const {
    std::map<std::string, Bytes> t;
    std::string root = m.Host("C:\\");
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      std::string rel = e.path().string().substr(root.size());
      if (!e.is_regular_file() || rel.rfind("QUELTAN", 0) == 0 || rel.rfind("KVNET.", 0) == 0) continue;
      std::ifstream in(e.path(), std::ios::binary);
      t[rel] = Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return t;
  }

  TempMachine m;
  Config saved;
};

// ---------------------------------------------------------------------------
// Checksums and layouts

TEST(IntegrityChecksums, SignedBytesXorTheirIndex) {
  struct Case {
    Bytes bytes;
    uint16_t a16, b16;
    uint32_t a32, b32;
  };
  Bytes wrap(257, 0);   // index 256 counts as 0 again
  const Case cases[] = {
      {{}, 0, 0, 0, 0},
      {{0x01, 0xFF}, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF},   // 1^0 + -1^1; 1^255 + -1^254
      {{0x80}, 0xFF80, 0xFF7F, 0xFFFFFF80, 0xFFFFFF7F},         // -128 sign-extended
      {{0x7F, 0x00, 0x10}, 0x7F + 1 + 0x12, 0x80 + 0xFE + 0xED, 0x7F + 1 + 0x12, 0x80 + 0xFE + 0xED},
      {wrap, 32640, 32895, 32640, 32895},                       // 0+1+...+255 (+0); 255+...+0 (+255)
  };
  for (const Case& c : cases) {
    uint16_t a, b;
    uint32_t sa, sb;
    HeadSums(c.bytes.data(), c.bytes.size(), &a, &b);
    SampleSums(c.bytes.data(), c.bytes.size(), &sa, &sb);
    EXPECT_EQ(a, c.a16);
    EXPECT_EQ(b, c.b16);
    EXPECT_EQ(sa, c.a32);
    EXPECT_EQ(sb, c.b32);
  }
}

TEST_F(IntegrityTest, TheFourFilesByteForByte) {
  const Bytes big = Noise(20000, 1);     // three full samples
  const Bytes mid = Noise(12000, 2);     // a middle sample cut short
  const Bytes tiny = Noise(100, 3);      // fewer than 127 bytes
  m.Write("C:\\GAMES\\BIG.COM", big);
  m.Write("C:\\GAMES\\MID.OVL", mid);
  m.Write("C:\\TINY.COM", tiny);
  Scan();
  const Bytes imp = Db("KVNET.IMP"), ort = Db("KVNET.ORT"), ant = Db("KVNET.ANT");
  const Bytes cdi = m.Read("C:\\QUELTAN\\QUELTAN.CDI");

  // The state file: 100 records, C: closed cleanly, reserved bytes zero.
  ASSERT_EQ(cdi.size(), 1200u);
  for (size_t i = 0; i < 100; i++) {
    EXPECT_EQ((uint32_t)I32(cdi, i * 12), 0xFEDCBA98u) << i;
    EXPECT_EQ(I32(cdi, i * 12 + 4), 0);
    EXPECT_EQ(I32(cdi, i * 12 + 8), 0);
  }

  // The catalog: the root, then its subdirectories in enumeration order.
  ASSERT_EQ(imp.size() % kDir, 0u);
  auto dirs = InUse(imp, kDir, 281);
  ASSERT_EQ(dirs.size(), 2u);
  const int32_t games = dirs.at("GAMES"), queltan = dirs.at("QUELTAN");
  auto files = InUse(ort, kFile, 302);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(I32(imp, 0), 0);
  EXPECT_EQ(I32(imp, 4), -1);
  EXPECT_EQ(NameAt(imp, 8), "\\");
  EXPECT_EQ(Slice(imp, 8 + 1, 255), Bytes(255, 0));
  EXPECT_EQ(I32(imp, 264), -1);
  EXPECT_EQ(I32(imp, 268), games);
  EXPECT_EQ(I32(imp, 272), -1);
  EXPECT_EQ(I32(imp, 276), -1);   // no free record
  EXPECT_EQ(imp[280], 0);
  EXPECT_EQ(imp[281], 8);
  EXPECT_EQ(I32(imp, 282), files.at("TINY.COM"));
  EXPECT_EQ(I32(imp, games), games);
  EXPECT_EQ(I32(imp, games + 4), -1);
  EXPECT_EQ(I32(imp, games + 264), 0);
  EXPECT_EQ(I32(imp, games + 268), -1);
  EXPECT_EQ(I32(imp, games + 272), -1);
  EXPECT_EQ(I32(imp, games + 276), queltan);
  EXPECT_EQ(imp[games + 280], 1);
  EXPECT_EQ(I32(imp, games + 282), files.at("BIG.COM"));
  EXPECT_EQ(I32(imp, queltan + 272), games);
  EXPECT_EQ(I32(imp, queltan + 276), -1);
  EXPECT_EQ(I32(imp, queltan + 282), -1);   // no candidate there

  // The file lists: the header, then the records.
  ASSERT_EQ(ort.size() % kFile, 0u);
  EXPECT_EQ(I32(ort, 0), 0);
  EXPECT_EQ(I32(ort, 4), -1);
  EXPECT_EQ(NameAt(ort, 8), "********.***");
  EXPECT_EQ(ort[20], 0);
  EXPECT_EQ(Slice(ort, 21, 243), Bytes(243, ' '));
  EXPECT_EQ(I32(ort, 268), -1);   // no free record
  EXPECT_EQ(U16(ort, 272), 4);
  EXPECT_EQ(U16(ort, 274), 4);

  struct Expect {
    const char* name;
    const Bytes* content;
    uint16_t first, last, head, middle, tail;
    size_t middleAt;
    int32_t prev, next;
  };
  const Expect expect[] = {
      {"BIG.COM", &big, 127, 128, 5000, 5000, 5000, 7500, -1, files.at("MID.OVL")},
      {"MID.OVL", &mid, 127, 128, 5000, 2000, 5000, 5000, files.at("BIG.COM"), -1},
      {"TINY.COM", &tiny, 100, 0, 100, 0, 0, 0, -1, -1},
  };
  for (const Expect& e : expect) {
    SCOPED_TRACE(e.name);
    const int32_t p = files.at(e.name);
    const Bytes& c = *e.content;
    const int32_t len = (int32_t)c.size();
    EXPECT_EQ(I32(ort, p), p);
    EXPECT_EQ(I32(ort, p + 4), -1);
    size_t n = std::strlen(e.name);
    EXPECT_EQ(ort[p + 8 + n], 0);
    EXPECT_EQ(Slice(ort, p + 9 + n, 255 - n), Bytes(255 - n, ' '));
    EXPECT_EQ(I32(ort, p + 264), e.prev);
    EXPECT_EQ(I32(ort, p + 268), e.next);
    EXPECT_EQ(U16(ort, p + 284), e.first);
    EXPECT_EQ(U16(ort, p + 286), e.last);
    EXPECT_EQ(U16(ort, p + 288), e.head);
    EXPECT_EQ(U16(ort, p + 290), e.middle);
    EXPECT_EQ(U16(ort, p + 292), e.tail);
    EXPECT_EQ(I32(ort, p + 294), len);
    EXPECT_EQ(ort[p + 302], 8);
    Bytes saved = Concat(Slice(c, 0, e.first), Slice(c, c.size() - e.last, e.last));
    uint16_t a, b;
    HeadSums(saved.data(), saved.size(), &a, &b);
    EXPECT_EQ(U16(ort, p + 272), a);
    EXPECT_EQ(U16(ort, p + 274), b);
    Bytes samples = Concat(Concat(Slice(c, 0, e.head), Slice(c, c.size() - e.tail, e.tail)),
                           Slice(c, e.middleAt, e.middle));
    uint32_t sa, sb;
    SampleSums(samples.data(), samples.size(), &sa, &sb);
    EXPECT_EQ((uint32_t)I32(ort, p + 276), sa);
    EXPECT_EQ((uint32_t)I32(ort, p + 280), sb);
    const int32_t block = I32(ort, p + 298);
    ASSERT_EQ(block % (int32_t)kBlock, 0);
    saved.resize(kBlock, 0);
    EXPECT_EQ(Slice(ant, (size_t)block, kBlock), saved);
  }
  EXPECT_EQ(ant.size(), 3 * kBlock);
}

// ---------------------------------------------------------------------------
// Scans of a drive

TEST_F(IntegrityTest, ASecondScanOfAnUnchangedDriveScansAndWritesNothing) {
  m.Write("C:\\GAMES\\PLAY.COM", MakeComHost("play", 3000));
  m.Write("C:\\GAMES\\TOOLS\\T.EXE", MakeExeHost("t", 9000));
  m.Write("C:\\DOCS\\LETTER.DOC", Noise(20000, 4));
  // Infected with a virus this database does not know yet.
  m.Write("C:\\GAMES\\LATER.COM", AppendComVirus(MakeComHost("later", 400), Hex(kIncurable)));
  ScanCounters first = Scan();
  EXPECT_EQ(first.totalFiles, 4);
  EXPECT_EQ(first.copied, 4);
  EXPECT_EQ(first.infected, 0);
  const Bytes imp = Db("KVNET.IMP"), ort = Db("KVNET.ORT"), ant = Db("KVNET.ANT");
  const Bytes cdi = m.Read("C:\\QUELTAN\\QUELTAN.CDI");
  auto ortTime = fs::last_write_time(m.Host("C:\\KVNET.ORT"));
  auto antTime = fs::last_write_time(m.Host("C:\\KVNET.ANT"));
  auto cdiTime = fs::last_write_time(m.Host("C:\\QUELTAN\\QUELTAN.CDI"));

  // With a database that knows the virus, the known files are still not
  // scanned again: only a change would make them suspect.
  LoadDatabase(true);
  ClearLog();
  ScanCounters second = Scan();
  EXPECT_EQ(second.totalFiles, 4);
  EXPECT_EQ(second.copied, 0);
  EXPECT_EQ(second.infected, 0);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Db("KVNET.ORT"), ort);
  EXPECT_EQ(Db("KVNET.ANT"), ant);
  EXPECT_EQ(Db("KVNET.IMP"), imp);
  EXPECT_EQ(m.Read("C:\\QUELTAN\\QUELTAN.CDI"), cdi);
  EXPECT_EQ(fs::last_write_time(m.Host("C:\\KVNET.ORT")), ortTime);
  EXPECT_EQ(fs::last_write_time(m.Host("C:\\KVNET.ANT")), antTime);
  EXPECT_EQ(fs::last_write_time(m.Host("C:\\QUELTAN\\QUELTAN.CDI")), cdiTime);
}

TEST_F(IntegrityTest, AProgramChangedAtItsStartAndEndIsReportedAndRebuilt) {
  const Bytes exe = MakeExeHost("exe", 9000);
  struct Case {
    const char* path;
    Bytes original;
    Bytes changed;
    const char* user;
  };
  const Case cases[] = {
      {"C:\\GAMES\\SMALL.COM", MakeComHost("small", 300), {}, ""},
      {"C:\\GAMES\\LARGE.COM", Noise(20000, 5), {}, "JOHN"},
      {"C:\\GAMES\\PROG.EXE", exe, InfectExe(exe, Hex(kUnknown)), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TempMachine fresh;
    fresh.AddDrive('C');
    ASSERT_TRUE(PlatCreateDirectory("C:\\QUELTAN"));
    ASSERT_TRUE(OpenIntegrityStateFile());
    fresh.Write(c.path, c.original);
    Scan();
    Bytes changed = c.changed.empty() ? AppendComVirus(c.original, Hex(kUnknown)) : c.changed;
    fresh.Write(c.path, changed);
    std::snprintf(OnlineUserName(), kOnlineUserNameSize, "%s", c.user);
    ScanCounters s = Scan();
    OnlineUserName()[0] = 0;
    EXPECT_EQ(fresh.Read(c.path), c.original);
    EXPECT_EQ(s.modified, 1);
    EXPECT_EQ(s.reconstructed, 1);
    EXPECT_EQ(s.infected, 0);
    const std::string user = c.user[0] ? std::string("\r\r\nUser   : ") + c.user : "";
    Bytes log = fresh.Read("C:\\QUELTAN\\QUELTAN.LOG");
    EXPECT_EQ(std::string(log.begin(), log.end()),
              kTimeLine + "\r\r\nFile   : " + c.path + "\r\r\nVirus  : Unknown\r\r\nStatus : Modification" + user +
                  "\r\r\nResult : File is reconstructed.");
    ASSERT_EQ(AlertOutboxCount(), 1u);
    const std::string by = c.user[0] ? std::string("\nModified by : ") + c.user : "";
    EXPECT_EQ(std::string(AlertOutboxText(0)), std::string("Detected file modification\nFile Name   : ") + c.path +
                                                    by + "\nAction Taken : File is reconstructed.");
    ASSERT_FALSE(StatusOutbox().empty());
    EXPECT_STREQ(StatusOutbox().back().currentVirus, "** Unknown **");
    EXPECT_STREQ(StatusOutbox().back().currentAction, "File is reconstructed.");
    EXPECT_STREQ(StatusOutbox().back().lastFile, c.path);
    // Rebuilt as recorded: the next scan finds nothing.
    ScanCounters after = Scan();
    EXPECT_EQ(after.copied + after.modified + after.reconstructed, 0);
    CloseIntegrityStateFile();
  }
}

TEST_F(IntegrityTest, OtherChangesAreOnlyRecordedAgain) {
  ASSERT_TRUE(AddSkipDirectory("\\NOCHECK", 1, 1, 0));   // scanned, but not checked against records
  const Bytes large = Noise(20000, 6);
  Bytes bodyChanged = AppendComVirus(large, Hex(kUnknown));
  bodyChanged[10000] ^= 0x55;   // inside the middle sample
  const Bytes shrinking = MakeComHost("shrink", 3000);
  Bytes shrunk = Slice(shrinking, 0, 2900);
  shrunk[0] = 0xE9;
  struct Case {
    const char* path;
    Bytes original, changed;
  };
  const Case cases[] = {
      {"C:\\DOCS\\REPORT.DOC", Noise(3000, 7), AppendComVirus(Noise(3000, 7), Hex(kUnknown))},
      {"C:\\GAMES\\SHRUNK.COM", shrinking, shrunk},
      {"C:\\GAMES\\BODY.COM", large, bodyChanged},
      {"C:\\NOCHECK\\KEPT.COM", MakeComHost("kept", 300), AppendComVirus(MakeComHost("kept", 300), Hex(kUnknown))},
  };
  for (const Case& c : cases) m.Write(c.path, c.original);
  Scan();
  for (const Case& c : cases) m.Write(c.path, c.changed);
  ScanCounters s = Scan();
  EXPECT_EQ(s.copied, 0);
  EXPECT_EQ(s.modified, 0);
  EXPECT_EQ(s.reconstructed, 0);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(AlertOutboxCount(), 0u);
  const Bytes ort = Db("KVNET.ORT");
  auto files = InUse(ort, kFile, 302);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(m.Read(c.path), c.changed);
    std::string name = std::string(c.path).substr(std::string(c.path).find_last_of('\\') + 1);
    EXPECT_EQ(I32(ort, (size_t)files.at(name) + 294), (int32_t)c.changed.size());
  }
  // The records now describe the files as they are.
  Scan();
  EXPECT_EQ(Db("KVNET.ORT"), ort);
}

TEST_F(IntegrityTest, ANewFileIsRecordedOnlyWhenItEndsClean) {
  LoadDatabase(true);
  const Bytes host = MakeComHost("host", 400);
  m.Write("C:\\V\\STUCK.COM", AppendComVirus(host, Hex(kIncurable)));
  m.Write("C:\\V\\CURED.COM", AppendComVirus(host, Hex(kCurable)));
  for (int scan = 0; scan < 2; scan++) {
    SCOPED_TRACE(scan);
    ScanCounters s = Scan();
    EXPECT_EQ(s.copied, scan == 0 ? 2 : 1);   // the infected one is new every time
    EXPECT_EQ(s.infected, scan == 0 ? 2 : 1);
    auto files = InUse(Db("KVNET.ORT"), kFile, 302);
    EXPECT_EQ(files.count("STUCK.COM"), 0u);
    ASSERT_EQ(files.count("CURED.COM"), 1u);
    EXPECT_EQ(I32(Db("KVNET.ORT"), (size_t)files.at("CURED.COM") + 294), (int32_t)host.size());
  }
  EXPECT_EQ(m.Read("C:\\V\\CURED.COM"), host);
}

// The poll of a test, called before each file: notes a dirty marker.
bool WatchMarker() {
  FileHandle h = PlatOpenFile(kStateFilePath, kAccessRead);
  uint8_t b[4];
  if (h != kNoFile && PlatSeek(h, 24, kSeekBegin) == 24 && PlatReadFile(h, b, 4) == 4 &&
      (uint32_t)(b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24) == kMarkerDirty)
    gSawDirtyMarker = true;
  PlatCloseFile(h);
  return false;
}

TEST_F(IntegrityTest, AScanCutShortByACrashRebuildsTheDatabase) {
  for (const char* p : {"C:\\A.COM", "C:\\B.COM", "C:\\D\\C.EXE"}) m.Write(p, MakeComHost(p, 500));
  gSawDirtyMarker = false;
  SetCommandPoll(WatchMarker);
  Scan();
  SetCommandPoll(nullptr);
  EXPECT_TRUE(gSawDirtyMarker);   // while the new records were written
  EXPECT_EQ(Marker(), kMarkerClean);
  EXPECT_EQ(Scan().copied, 0);
  // A crash leaves the marker dirty; the reserved bytes are the drive's own.
  CloseIntegrityStateFile();
  Bytes cdi = m.Read("C:\\QUELTAN\\QUELTAN.CDI");
  SetI32(&cdi, 24, (int32_t)kMarkerDirty);
  SetI32(&cdi, 28, 0x11223344);
  m.Write("C:\\QUELTAN\\QUELTAN.CDI", cdi);
  ASSERT_TRUE(OpenIntegrityStateFile());
  ScanCounters s = Scan();
  EXPECT_EQ(s.totalFiles, 3);
  EXPECT_EQ(s.copied, 3);
  EXPECT_EQ(Marker(), kMarkerClean);
  EXPECT_EQ(I32(m.Read("C:\\QUELTAN\\QUELTAN.CDI"), 28), 0x11223344);
  EXPECT_EQ(Scan().copied, 0);
}

TEST_F(IntegrityTest, GoneDirectoriesAndFilesGoToTheFreeLists) {
  m.Write("C:\\A\\SUB\\S.COM", MakeComHost("s", 300));
  m.Write("C:\\A\\KEEP.COM", MakeComHost("k", 300));
  m.Write("C:\\A\\GONE.COM", MakeComHost("g", 300));
  m.Write("C:\\B\\B.COM", MakeComHost("b", 300));
  Scan();
  const int32_t sub = InUse(Db("KVNET.IMP"), kDir, 281).at("SUB");
  const int32_t a = InUse(Db("KVNET.IMP"), kDir, 281).at("A");
  const int32_t gone = InUse(Db("KVNET.ORT"), kFile, 302).at("GONE.COM");
  const int32_t goneBlock = I32(Db("KVNET.ORT"), (size_t)gone + 298);
  fs::remove_all(m.Host("C:\\A\\SUB"));
  fs::remove(m.Host("C:\\A\\GONE.COM"));
  Scan();
  Bytes imp = Db("KVNET.IMP"), ort = Db("KVNET.ORT");
  EXPECT_EQ(imp[(size_t)sub + 281], 7);
  EXPECT_EQ(I32(imp, 276), sub);                 // the root's next field heads the free list
  EXPECT_EQ(I32(imp, (size_t)sub + 276), -1);
  EXPECT_EQ(I32(imp, (size_t)a + 268), -1);      // A has no subdirectory left
  EXPECT_EQ(ort[(size_t)gone + 302], 7);
  EXPECT_EQ(I32(ort, 268), gone);                // the header's next field heads the free list
  EXPECT_EQ(InUse(ort, kFile, 302).count("KEEP.COM"), 1u);
  // New entries take the free records (a file with its save block), fresh.
  fs::create_directories(m.Host("C:\\A\\NEWDIR"));
  m.Write("C:\\B\\LATE.COM", MakeComHost("late", 300));
  Scan();
  imp = Db("KVNET.IMP");
  ort = Db("KVNET.ORT");
  EXPECT_EQ(InUse(imp, kDir, 281).at("NEWDIR"), sub);
  EXPECT_EQ(I32(imp, 276), -1);
  EXPECT_EQ(InUse(ort, kFile, 302).at("LATE.COM"), gone);
  EXPECT_EQ(I32(ort, (size_t)gone + 298), goneBlock);
  EXPECT_EQ(Scan().copied, 0);
}

size_t gFireAfter = 0;
bool CommandAfter() {
  if (StatusOutbox().size() < gFireAfter) return false;
  commandPending = abortRequested = 1;
  return true;
}

TEST_F(IntegrityTest, AnInterruptedScanKeepsTheRecordsItDidNotReach) {
  for (const char* p : {"C:\\D\\A.COM", "C:\\D\\B.COM", "C:\\D\\C.DOC", "C:\\D\\D.COM"}) m.Write(p, Noise(900, 8));
  Scan();
  m.Write("C:\\D\\C.DOC", Noise(950, 9));
  fs::remove(m.Host("C:\\D\\D.COM"));
  const Bytes ort = Db("KVNET.ORT");
  gFireAfter = 1;   // after the first file's status record
  SetCommandPoll(CommandAfter);
  ScanCounters s = Scan();
  SetCommandPoll(nullptr);
  commandPending = abortRequested = 0;
  EXPECT_EQ(s.totalFiles, 1);
  EXPECT_EQ(Db("KVNET.ORT"), ort);
  s = Scan();
  EXPECT_EQ(s.copied, 0);
  auto files = InUse(Db("KVNET.ORT"), kFile, 302);
  EXPECT_EQ(files.count("D.COM"), 0u);
  EXPECT_EQ(I32(Db("KVNET.ORT"), (size_t)files.at("C.DOC") + 294), 950);
}

TEST_F(IntegrityTest, AFailedRebuildPutsTheFileBackAsItWas) {
  struct Case {
    FaultKind fault;
    int skip;          // calls of that kind let through first
    bool report;       // the report log on (its writes come first)
  };
  const Case cases[] = {
      {kFaultSetLength, 0, true},
      {kFaultWrite, 1, false},   // the state file's marker passes, the first bytes fail
      {kFaultWrite, 2, false},   // the first bytes are written, the last bytes fail
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.skip);
    TempMachine fresh;
    fresh.AddDrive('C');
    ASSERT_TRUE(PlatCreateDirectory("C:\\QUELTAN"));
    ASSERT_TRUE(OpenIntegrityStateFile());
    gConfig.generateReport = c.report ? 1 : 0;
    const Bytes original = MakeComHost("fails", 300);
    const Bytes infected = AppendComVirus(original, Hex(kUnknown));
    fresh.Write("C:\\P.COM", original);
    Scan();
    fresh.Write("C:\\P.COM", infected);
    const Bytes ort = fresh.Read("C:\\KVNET.ORT");
    FaultArm(c.fault, c.skip, 1);
    ScanCounters s = Scan();
    FaultReset();
    EXPECT_EQ(fresh.Read("C:\\P.COM"), infected);
    EXPECT_EQ(fresh.Read("C:\\KVNET.ORT"), ort);   // the record is not refreshed
    EXPECT_EQ(s.modified, 1);
    EXPECT_EQ(s.reconstructed, 0);
    ASSERT_EQ(AlertOutboxCount(), 1u);
    EXPECT_EQ(std::string(AlertOutboxText(0)),
              "Detected file modification\nFile Name   : C:\\P.COM\nAction Taken : Reconstruction error.");
    if (c.report) {
      Bytes log = fresh.Read("C:\\QUELTAN\\QUELTAN.LOG");
      EXPECT_NE(std::string(log.begin(), log.end()).find("Status : Modification\r\r\nResult : Reconstruction error."),
                std::string::npos);
    }
    // The next scan tries again, and succeeds.
    EXPECT_EQ(Scan().reconstructed, 1);
    EXPECT_EQ(fresh.Read("C:\\P.COM"), original);
    CloseIntegrityStateFile();
  }
}

TEST_F(IntegrityTest, TheSkipListAndFileSpecOnAFixedDrive) {
  LoadDatabase(true);
  ASSERT_TRUE(AddSkipDirectory("\\TEMP", 1, 0, 0));     // nothing examined
  ASSERT_TRUE(AddSkipDirectory("\\NOSCAN", 1, 0, 1));   // recorded and checked, not scanned
  ASSERT_TRUE(AddFileSpec("*.BIN"));
  const Bytes virus = AppendComVirus(MakeComHost("v", 400), Hex(kIncurable));
  m.Write("C:\\TEMP\\T.COM", virus);
  m.Write("C:\\TEMPORARY\\X\\T2.COM", virus);
  m.Write("C:\\NOSCAN\\N.COM", virus);
  m.Write("C:\\DATA.BIN", virus);
  ScanCounters s = Scan();
  EXPECT_EQ(s.infected, 1);   // DATA.BIN, while the database is new
  EXPECT_EQ(s.totalFiles, 1);
  auto files = InUse(Db("KVNET.ORT"), kFile, 302);
  EXPECT_EQ(files.size(), 1u);
  EXPECT_EQ(files.count("N.COM"), 1u);
  EXPECT_EQ(Scan().infected, 0);   // FILESPEC names are not scanned once the database exists
}

TEST_F(IntegrityTest, SingleFilesTouchOnlyTheirOwnRecord) {
  for (const char* p : {"C:\\G\\A.COM", "C:\\G\\B.COM", "C:\\G\\README.TXT"}) m.Write(p, Noise(700, 10));
  Scan();
  const Bytes ort = Db("KVNET.ORT");
  Counters() = ScanCounters{};
  for (const char* p : {"C:\\G\\B.COM", "C:\\G\\GONE.COM", "C:\\G\\README.TXT"}) EXPECT_EQ(ScanSingleFile(p), kWalkDone);
  EXPECT_EQ(Counters().totalFiles, 1);
  EXPECT_EQ(Db("KVNET.ORT"), ort);   // files the pattern did not show are not gone
  m.Write("C:\\G\\NEW.COM", Noise(700, 11));
  Counters() = ScanCounters{};
  EXPECT_EQ(ScanSingleFile("C:\\G\\NEW.COM"), kWalkDone);
  EXPECT_EQ(Counters().copied, 1);
  EXPECT_EQ(InUse(Db("KVNET.ORT"), kFile, 302).size(), 3u);
  EXPECT_EQ(Scan().copied, 0);
}

// ---------------------------------------------------------------------------
// Opening

TEST_F(IntegrityTest, TheStateFileIsCompletedAndKept) {
  CloseIntegrityStateFile();
  Bytes cdi(30, 0xAB);   // two whole records and a part of a third
  m.Write("C:\\QUELTAN\\QUELTAN.CDI", cdi);
  ASSERT_EQ(chmod(m.Host("C:\\QUELTAN\\QUELTAN.CDI").c_str(), 0444), 0);
  ASSERT_TRUE(OpenIntegrityStateFile());
  Bytes after = m.Read("C:\\QUELTAN\\QUELTAN.CDI");
  ASSERT_EQ(after.size(), 1200u);
  EXPECT_EQ(Slice(after, 0, 24), Bytes(24, 0xAB));
  for (size_t i = 2; i < 100; i++) EXPECT_EQ((uint32_t)I32(after, i * 12), kMarkerClean) << i;
}

TEST_F(IntegrityTest, WithoutAStateFileDrivesAreStillScannedAndKept) {
  CloseIntegrityStateFile();
  fs::remove_all(m.Host("C:\\QUELTAN"));
  gConfig.generateReport = 0;
  EXPECT_FALSE(OpenIntegrityStateFile());
  m.Write("C:\\A.COM", MakeComHost("a", 300));
  EXPECT_EQ(Scan().copied, 1);
  EXPECT_EQ(Scan().copied, 0);
  EXPECT_FALSE(m.Exists("C:\\QUELTAN"));
}

TEST_F(IntegrityTest, FilesAnotherProgramHoldsAreLeftAlone) {
  m.Write("C:\\A.COM", MakeComHost("a", 300));
  Scan();
  const Bytes ort = Db("KVNET.ORT");
  FileHandle other = PlatOpenFile("C:\\KVNET.ORT", kAccessReadWrite | kShareDenyWrite);
  ASSERT_NE(other, kNoFile);
  EXPECT_EQ(ScanPath("C:\\"), kWalkNoDatabase);
  PlatCloseFile(other);
  EXPECT_EQ(Db("KVNET.ORT"), ort);
  // Read-only files are made writable and used as they are.
  for (const char* f : {"KVNET.IMP", "KVNET.ORT", "KVNET.ANT"})
    ASSERT_EQ(chmod(m.Host(std::string("C:\\") + f).c_str(), 0444), 0);
  EXPECT_EQ(Scan().copied, 0);
}

// ---------------------------------------------------------------------------
// Damaged and hostile files

class DamagedDatabaseTest : public IntegrityTest {
 protected:
  void SetUp() override {
    IntegrityTest::SetUp();
    gConfig.generateReport = 0;
    for (const char* p : {"C:\\GAMES\\A.COM", "C:\\GAMES\\B.COM", "C:\\GAMES\\C.COM", "C:\\GAMES\\SUB\\D.COM",
                          "C:\\GAMES\\SUB\\E.DOC", "C:\\F.EXE"})
      m.Write(p, MakeComHost(p, 400));
    ASSERT_EQ(Scan().copied, 6);
  }
  // Scans until the database is whole again: a scan that finds nothing new.
  // Returns the number of scans it took, 0 if it never was.
  int ScansToRecover() {
    for (int n = 1; n <= 4; n++)
      if (Scan().copied == 0 && Counters().totalFiles == 6) return n;
    return 0;
  }
};

TEST_F(DamagedDatabaseTest, DamageIsFoundAndTheFilesBuiltAnew) {
  const std::map<std::string, Bytes> tree = Tree();
  const Bytes imp0 = Db("KVNET.IMP"), ort0 = Db("KVNET.ORT"), ant0 = Db("KVNET.ANT");
  auto dirs = InUse(imp0, kDir, 281);
  auto files = InUse(ort0, kFile, 302);
  const size_t games = (size_t)dirs.at("GAMES"), sub = (size_t)dirs.at("SUB");
  const size_t a = (size_t)files.at("A.COM"), b = (size_t)files.at("B.COM"), c = (size_t)files.at("C.COM");
  // When the damage is found: on opening (this scan builds the files anew),
  // during the walk (the walk ends and the files are deleted), or never,
  // because the pass replaces the damaged record by a sound one.
  enum Found { kAtOpening, kInWalk, kReplaced };
  struct Case {
    const char* what;
    std::function<void(Bytes* imp, Bytes* ort)> damage;
    Found found;
  };
  const Case cases[] = {
      {"catalog cut inside its root record", [](Bytes* imp, Bytes*) { imp->resize(100); }, kAtOpening},
      {"file lists of another format", [](Bytes*, Bytes* ort) { (*ort)[272] = 3; }, kAtOpening},
      {"file lists of an older revision", [](Bytes*, Bytes* ort) { (*ort)[274] = 3; }, kAtOpening},
      {"file lists cut inside the header", [](Bytes*, Bytes* ort) { ort->resize(200); }, kAtOpening},
      {"catalog cut inside a directory record", [&](Bytes* imp, Bytes*) { imp->resize(games + 100); }, kInWalk},
      {"file lists cut inside a record", [&](Bytes*, Bytes* ort) { ort->resize(c + 10); }, kInWalk},
      {"a file pointing to itself", [&](Bytes*, Bytes* ort) { SetI32(ort, a + 268, (int32_t)a); }, kInWalk},
      {"a directory pointing to itself", [&](Bytes* imp, Bytes*) { SetI32(imp, games + 268, (int32_t)games); }, kInWalk},
      {"two files pointing at each other", [&](Bytes*, Bytes* ort) {
         SetI32(ort, b + 268, (int32_t)a);
         SetI32(ort, a + 264, (int32_t)b);
       }, kInWalk},
      {"saved-byte count above 127", [&](Bytes*, Bytes* ort) { (*ort)[b + 284] = 200; }, kInWalk},
      {"sample length above 5000", [&](Bytes*, Bytes* ort) { SetI32(ort, b + 290, 60000); }, kInWalk},
      {"a negative length", [&](Bytes*, Bytes* ort) { SetI32(ort, c + 294, -5); }, kInWalk},
      {"a link far beyond the end", [&](Bytes* imp, Bytes*) { SetI32(imp, games + 282, 303 * 1000000); }, kInWalk},
      {"a link between records", [&](Bytes*, Bytes* ort) { SetI32(ort, a + 268, (int32_t)b + 7); }, kInWalk},
      {"a record that is not where it says", [&](Bytes*, Bytes* ort) { SetI32(ort, c, (int32_t)c + 303); }, kInWalk},
      {"a subdirectory of another parent", [&](Bytes* imp, Bytes*) { SetI32(imp, sub + 264, 0); }, kInWalk},
      {"a subdirectory named ..", [&](Bytes* imp, Bytes*) { std::memcpy(&(*imp)[sub + 8], "..\0", 3); }, kReplaced},
      {"a name without its end", [&](Bytes*, Bytes* ort) { std::fill(ort->begin() + (long)a + 8, ort->begin() + (long)a + 264, 'A'); }, kInWalk},
      {"an unknown state", [&](Bytes*, Bytes* ort) { (*ort)[a + 302] = 9; }, kInWalk},
      {"a free list through a record in use", [&](Bytes*, Bytes* ort) { SetI32(ort, 268, (int32_t)c); }, kInWalk},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Bytes imp = imp0, ort = ort0;
    k.damage(&imp, &ort);
    PutDb("KVNET.IMP", imp);
    PutDb("KVNET.ORT", ort);
    // A new file needs a record, so the free list is read too.
    m.Write("C:\\GAMES\\NEW.COM", MakeComHost("new", 400));
    ScanCounters s = Scan();
    EXPECT_EQ(DbExists(), k.found != kInWalk);
    if (k.found == kAtOpening) {
      EXPECT_EQ(s.copied, 7);
    }
    fs::remove(m.Host("C:\\GAMES\\NEW.COM"));
    EXPECT_GT(ScansToRecover(), 0);
    EXPECT_EQ(Tree(), tree);
    // The next case starts from the healthy files again.
    PutDb("KVNET.IMP", imp0);
    PutDb("KVNET.ORT", ort0);
    PutDb("KVNET.ANT", ant0);
  }
}

TEST_F(DamagedDatabaseTest, RandomAndAdversarialFilesNeverHangOrCrashTheWalk) {
  const std::map<std::string, Bytes> tree = Tree();
  const Bytes good[3] = {Db("KVNET.IMP"), Db("KVNET.ORT"), Db("KVNET.ANT")};
  const char* const names[3] = {"KVNET.IMP", "KVNET.ORT", "KVNET.ANT"};
  const size_t sizes[3] = {kDir, kFile, kBlock};
  // Offsets of the link and count fields, where damage reaches furthest.
  const std::vector<size_t> dirFields = {0, 264, 268, 272, 276, 282};
  const std::vector<size_t> fileFields = {0, 264, 268, 284, 286, 288, 290, 292, 294, 298};
  std::mt19937 rng(20240611);
  auto pick = [&](size_t n) { return (size_t)(rng() % n); };
  for (int round = 0; round < 150; round++) {
    SCOPED_TRACE(round);
    Bytes files[3] = {good[0], good[1], good[2]};
    switch (round % 4) {
      case 0: {   // one file replaced by noise of any length
        size_t f = pick(3);
        files[f] = Noise(pick(4 * good[f].size() + 1), (uint32_t)round);
        break;
      }
      case 1: {   // fields of records set to other positions, -1, 0, themselves or anything
        for (int k = 0; k < 1 + (int)pick(4); k++) {
          size_t f = pick(2);
          size_t records = files[f].size() / sizes[f];
          size_t rec = pick(records) * sizes[f];
          const std::vector<size_t>& fields = f == 0 ? dirFields : fileFields;
          size_t at = rec + fields[pick(fields.size())];
          int32_t values[] = {-1, 0, (int32_t)rec, (int32_t)(pick(records + 2) * sizes[f]), (int32_t)rng(),
                              (int32_t)(pick(records) * sizes[f] + 1), INT32_MAX};
          SetI32(&files[f], at, values[pick(sizeof values / sizeof values[0])]);
        }
        break;
      }
      case 2: {   // bytes flipped anywhere
        for (int k = 0; k < 1 + (int)pick(16); k++) {
          size_t f = pick(3);
          if (!files[f].empty()) files[f][pick(files[f].size())] ^= (uint8_t)(1 + pick(255));
        }
        break;
      }
      default: {   // files cut anywhere
        size_t f = pick(3);
        files[f].resize(pick(files[f].size() + 1));
        break;
      }
    }
    for (int f = 0; f < 3; f++) PutDb(names[f], files[f]);
    Scan();
    EXPECT_GT(ScansToRecover(), 0);
    // No damage may lead to a program being rebuilt from the wrong bytes.
    EXPECT_EQ(Tree(), tree);
  }
}

}  // namespace
