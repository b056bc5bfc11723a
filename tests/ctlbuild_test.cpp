// Tests of the database builder: the checksums against a plain computation,
// the byte layout of every record, the round trips between source text,
// image and file (the shipped source included), the first-byte tables,
// the limits the reader and the compiler refuse, hostile files, and the
// ctlbuild program itself.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tools/ctlbuild/ctl_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32(const Bytes& f, size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | (uint32_t)f[at + 3] << 24;
}
uint16_t U16(const Bytes& f, size_t at) { return (uint16_t)(f[at] | f[at + 1] << 8); }

CtlDatabase Parse(const std::string& text) {
  CtlDatabase db;
  std::string error;
  EXPECT_TRUE(ParseCtlSource(text, &db, &error)) << error;
  return db;
}

CtlImage Compile(const CtlDatabase& db) {
  CtlImage image;
  std::string error;
  EXPECT_TRUE(CompileCtlDatabase(db, &image, &error)) << error;
  return image;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Bytes ReadBytes(const std::string& path) {
  std::string t = ReadText(path);
  return Bytes(t.begin(), t.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

// A scratch directory, removed at the end of the test.
struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/ctlbuild_test.XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

struct ToolRun {
  bool exited;     // false: killed by a signal
  int status;
  std::string out, err;
};

// Runs ctlbuild with `args` in the scratch directory.
ToolRun RunTool(const TempDir& dir, const std::string& args) {
  std::string cmd = "cd '" + dir.path + "' && '" + KORVANE_BIN_DIR + "/ctlbuild' " + args + " >'" +
                    (dir / "stdout") + "' 2>'" + (dir / "stderr") + "'";
  int w = std::system(cmd.c_str());
  return ToolRun{WIFEXITED(w), WIFEXITED(w) ? WEXITSTATUS(w) : -1, ReadText(dir / "stdout"),
                 ReadText(dir / "stderr")};
}

// A source that uses every statement and the edges of every field. The
// nameless virus stands last: the name index fixes the order of the others.
const char kFullSource[] =
    "title \"Round \\\"trip\\\" \\\\ \\xE9\"\n"
    "\n"
    "virus 7 \"Alpha\"\n"
    "  name \"Alpha.B\"\n"
    "  sig 58 35 ?? 21 50 com 0 keys 58 exe -12 keys 4D 5A\n"
    "  sig ?? 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F com 3600 keys 00 FF needs-confirm\n"
    "  confirm 01 com -5 exe 7\n"
    "  confirm ?? 02 03 04 05 06 07 08 09 0A 0B 0C com 3700 exe 0\n"
    "  vaccine exeRoutine=12 savedOffset=-2147483648 comPostOp=65535\n"
    "  vaccine\n"
    "\n"
    "virus 32767 \"ABCDEFGHIJKLMNOPQRSTUVWXY\"\n"
    "\n"
    "virus -32768\n"
    "  sig E9 00 00 00 00 com 200\n"
    "  vaccine firstWord=1 exeRoutine=2 csFromEnd=3 ipFromEnd=4 ssFromEnd=5 spFromEnd=6 "
    "exeCutLength=7 exePreOp=8 comRoutine=9 comPreOp=10 savedOffset=11 savedLength=12 "
    "savedOrigin=13 restoreLength=14 comCutLength=15 comPostOp=16\n"
    "\n"
    "macro \"Concept\" kind 50 identifier 1234\n"
    "  pattern 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 90\n"
    "  name \"AAAZAO\"\n"
    "  name \"123456789012345678901234\"\n"
    "\n"
    "macro \"Empty\" kind 55 identifier -1\n"
    "  pattern FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n";

// ---------------------------------------------------------------------------
// Checksums.

// An image of `count` signatures with varied bytes: 817 + 28 x count bytes
// plus the tables: two full 8,096-byte chunks and part of a third for 600.
CtlImage BigImage(int count) {
  CtlDatabase db;
  db.title = "big";
  CtlVirusDef v{};
  v.number = 1;
  v.names = {"Big"};
  for (int i = 0; i < count; i++) {
    CtlSignatureDef s{};
    s.comOffset = (int16_t)i;
    s.pattern = {(uint8_t)i, (uint8_t)(i * 7), (uint8_t)(i >> 3), 0x33, (uint8_t)(255 - i), 1, 2, 3};
    s.comKeys = {(uint8_t)(i % 5)};
    v.signatures.push_back(s);
  }
  db.viruses.push_back(v);
  return Compile(db);
}

TEST(CtlChecksum, AgreesWithAPlainComputationThatRestartsEvery8096Bytes) {
  Bytes file = WriteCtlImage(BigImage(600));
  ASSERT_GT(file.size(), 88u + 2 * 8096u);
  uint32_t a = 0, b = 0;
  for (size_t pos = 88; pos < file.size(); pos++) {
    uint32_t t = file[pos] ^ (uint32_t)((pos - 88) % 8096 % 256);
    a += t;
    b += 255 - t;
  }
  EXPECT_EQ(U32(file, 80), a);
  EXPECT_EQ(U32(file, 84), b);
  std::string why;
  EXPECT_TRUE(VerifyCtlFile(file, &why)) << why;

  // The byte at 88 + 8,096 has number 0 again: 0xA0 there adds 160 to A
  // compared with 0x00 (a running number would give 160 XOR 0xA0 = 0).
  const size_t at = 88 + 8096;
  file[at] = 0x00;
  SealCtlChecksums(&file);
  uint32_t withZero = U32(file, 80);
  file[at] = 0xA0;
  SealCtlChecksums(&file);
  EXPECT_EQ(U32(file, 80) - withZero, 160u);
}

TEST(CtlChecksum, CoversEveryByteFrom88ButNotTheTitle) {
  Bytes sealed = WriteCtlImage(BigImage(3));
  std::string why;
  for (size_t at : {size_t{0}, size_t{79}}) {
    Bytes f = sealed;
    f[at] ^= 0x55;
    EXPECT_TRUE(VerifyCtlFile(f, &why)) << at;
  }
  for (size_t at : {size_t{88}, size_t{349}, sealed.size() - 1}) {
    Bytes f = sealed;
    f[at] ^= 0x01;
    EXPECT_FALSE(VerifyCtlFile(f, &why)) << at;
    EXPECT_NE(why.find("checksums"), std::string::npos) << at;
  }
}

// ---------------------------------------------------------------------------
// The file layout, record by record.

TEST(CtlWriter, LaysOutHeaderDirectoryAndRecordsAsTheServiceReadsThem) {
  CtlImage im = Compile(Parse(
      "title \"T\"\n"
      "virus -2 \"ABCDEFGHIJKLMNOPQRSTUVWXY\"\n"
      "  name \"n2\"\n"
      "  sig 11 22 33 44 55 66 com -400 keys 4D exe 3601 keys 4D needs-confirm\n"
      "  confirm AA BB com 300 exe -1\n"
      "  vaccine firstWord=0x0102 exeRoutine=3 csFromEnd=4 ipFromEnd=5 ssFromEnd=6 spFromEnd=7 "
      "exeCutLength=8 exePreOp=9 comRoutine=10 comPreOp=11 savedOffset=-305419896 "
      "savedLength=12 savedOrigin=2 restoreLength=13 comCutLength=14 comPostOp=15\n"
      "macro \"Mac\" kind 55 identifier 777\n"
      "  pattern 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14\n"
      "  name \"First\"\n"
      "  name \"Second\"\n"));
  Bytes f = WriteCtlImage(im);

  // Counts.
  const struct { size_t at; int value; } counts[] = {
      {349, 1}, {351, 1}, {353, 1}, {355, 1}, {357, 1}, {359, 2}, {369, 1}};
  for (const auto& c : counts) EXPECT_EQ((int16_t)U16(f, c.at), c.value) << c.at;
  EXPECT_EQ(f[0], 'T');
  for (size_t i = 1; i < 80; i++) ASSERT_EQ(f[i], 0) << i;

  // Sections follow each other from 817 with length = count x record size.
  const uint32_t lengths[15] = {8, 2, 2, 4, 1024, 1024, 20, 20, 2, 34, 4, 54, 54, 44, 594};
  uint32_t next = 817, off[15];
  for (int s = 0; s < 15; s++) {
    off[s] = U32(f, 375 + 8 * s);
    EXPECT_EQ(off[s], next) << "section " << s;
    EXPECT_EQ(U32(f, 375 + 8 * s + 4), lengths[s]) << "section " << s;
    next = off[s] + lengths[s];
  }
  EXPECT_EQ(f.size(), next);
  for (size_t i = 495; i < 817; i++) ASSERT_EQ(f[i], 0) << i;

  // Each record's bytes.
  const struct { int section; size_t at; Bytes bytes; } fields[] = {
      {0, 0, {0x70, 0xFE, 0x11, 0x0E, 0x11, 0x22, 0x33, 0x44}},      // head
      {6, 0, {0xFE, 0xFF, 0x70, 0xFE, 0x11, 0x0E, 2, 0x55, 0x66}},   // tail
      {6, 19, {1}},                                                   // needsConfirmation
      {1, 0, {0, 0}},                                                 // COM list: signature 0
      {2, 0, {0, 0}},                                                 // EXE list
      {3, 0, {0, 0, 0xFE, 0xFF}},                                     // confirmation index
      {4, 4 * 0x4D, {0, 0, 1, 0}},                                    // COM table, byte 4D
      {5, 4 * 0x4D, {0, 0, 1, 0}},                                    // EXE table, byte 4D
      {7, 0, {0, 0, 0x2C, 0x01, 0xFF, 0xFF, 2, 0xAA, 0xBB, 0}},       // confirmation pattern
      {7, 19, {0}},
      {8, 0, {0xFE, 0xFF}},                                           // vaccine index
      {9, 0, {2, 1, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 10, 0, 11, 0,
              0x88, 0xA9, 0xCB, 0xED, 12, 0, 2, 0, 13, 0, 14, 0, 15, 0}},
      {10, 0, {0xFE, 0xFF, 0xFE, 0xFF}},                              // name index
      {11, 0, {0, 0, 'A', 'B', 'C'}},                                 // 25 bytes, no NUL
      {11, 26, {'Y', 0, 0, 'n', '2', 0}},
      {12, 0, {0, 0, 'M', 'a', 'c', 0}},
      {12, 27, {2, 0, 0, 0, 55, 0, 1, 2}},
      {12, 51, {0x13, 0x14, 0}},
      {13, 0, {0x09, 0x03, 0}},
      {14, 0, {'F', 'i', 'r', 's', 't', 0}},
      {14, 25, {'S', 'e', 'c', 'o', 'n', 'd', 0}},
  };
  for (const auto& fd : fields)
    for (size_t i = 0; i < fd.bytes.size(); i++)
      EXPECT_EQ(f[off[fd.section] + fd.at + i], fd.bytes[i])
          << "section " << fd.section << " byte " << fd.at + i;
  for (int b = 0; b < 256; b++) {
    if (b != 0x4D) { EXPECT_EQ(U16(f, off[4] + 4 * b + 2), 0) << b; }
  }
}

// ---------------------------------------------------------------------------
// Round trips.

// Source -> database -> image -> file -> image -> database -> source.
void ExpectRoundTrip(const std::string& source) {
  CtlDatabase db = Parse(source);
  std::string text = PrintCtlSource(db);
  EXPECT_EQ(Parse(text), db);
  CtlImage image = Compile(db);
  Bytes file = WriteCtlImage(image);
  CtlImage back;
  std::string error;
  ASSERT_TRUE(ReadCtlImage(file, &back, &error)) << error;
  EXPECT_TRUE(back == image);
  std::vector<std::string> notes;
  EXPECT_EQ(PrintCtlSource(DecompileCtlImage(back, &notes)), text);
  EXPECT_TRUE(notes.empty()) << notes[0];
  EXPECT_TRUE(VerifyCtlFile(file, &error)) << error;
}

TEST(CtlRoundTrip, EveryStatementComesBackAsTheSameText) {
  ExpectRoundTrip(kFullSource);
  // The canonical form: defaults written out, 90 as ??, names escaped.
  std::string text = PrintCtlSource(Parse(
      "title \"a\\\\b\\\"c\\x01\"\nvirus 3 \"N\"\n sig 90 05 06 07 08 exe 0 keys 90 com 0 keys E9 58\n"
      " sig 41 42 43 44 45 com 0\n confirm 90 com 4\n vaccine comPostOp=0 savedOrigin=1\n"));
  EXPECT_EQ(text,
            "title \"a\\\\b\\\"c\\x01\"\n\nvirus 3 \"N\"\n"
            "  sig ?? 05 06 07 08 com 0 keys 58 E9 exe 0 keys 90\n"
            "  sig 41 42 43 44 45 com 0 keys 41\n"
            "  confirm ?? com 4 exe 0\n"
            "  vaccine savedOrigin=1\n");
}

TEST(CtlRoundTrip, TheShippedSource) {
  std::string source = ReadText(std::string(KORVANE_SOURCE_DIR) + "/data/queltan.src");
  ASSERT_FALSE(source.empty());
  ExpectRoundTrip(source);
  CtlDatabase db = Parse(source);
  ASSERT_FALSE(db.viruses.empty());
  const CtlVirusDef& eicar = db.viruses[0];
  EXPECT_EQ(eicar.number, 1);
  EXPECT_EQ(eicar.names, std::vector<std::string>{"EICAR-Test-File"});
  ASSERT_EQ(eicar.signatures.size(), 1u);
  std::string program = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
  EXPECT_EQ(eicar.signatures[0].pattern, Bytes(program.begin(), program.begin() + 16));
  EXPECT_EQ(eicar.signatures[0].comOffset, 0);
  EXPECT_EQ(eicar.signatures[0].comKeys, Bytes{0x58});
  EXPECT_TRUE(eicar.signatures[0].exeKeys.empty());
  EXPECT_TRUE(eicar.vaccines.empty());
  for (size_t i = 1; i < db.viruses.size(); i++) {
    EXPECT_GE(db.viruses[i].number, 100);
    EXPECT_EQ(db.viruses[i].names[0].rfind("Korvane-Test.", 0), 0u) << db.viruses[i].names[0];
  }
}

// A virus without a name can stand anywhere: the text may place it
// elsewhere, but the file it compiles to is the same.
TEST(CtlRoundTrip, NamelessVirusesGiveTheSameFile) {
  CtlImage image = Compile(Parse(
      "virus 1 \"A\"\n sig 01 02 03 04 05 com 0\n"
      "virus 2\n sig 01 02 03 04 06 com 0\n vaccine comRoutine=5\n"
      "virus 3 \"C\"\n vaccine comRoutine=6\n"
      "virus 4\n confirm 01 com 1\n"
      "virus 5 \"E\"\n sig 01 02 03 04 07 com 0\n"));
  EXPECT_TRUE(Compile(DecompileCtlImage(image)) == image);
}

// ---------------------------------------------------------------------------
// First-byte tables.

TEST(CtlFirstByteTable, SignaturesUnderSeveralKeysStandInSignatureOrderPerByte) {
  CtlImage im = Compile(Parse(
      "virus 10 \"A\"\n"
      "  sig 58 01 02 03 04 com 0 keys E9 58\n"      // 0
      "  sig 58 01 02 03 05 com 0\n"                 // 1: key 58
      "virus 11 \"B\"\n"
      "  sig 11 01 02 03 06 com 5 keys 00 E9 exe 5 keys E9\n"   // 2
      "  sig 4D 01 02 03 07 exe 0\n"                 // 3: EXE key 4D
      "  sig 12 01 02 03 08 com 9\n"));              // 4: filed nowhere
  EXPECT_EQ(im.comList, (std::vector<int16_t>{2, 0, 1, 0, 2}));
  const struct { int b, start, count; } com[] = {{0x00, 0, 1}, {0x58, 1, 2}, {0xE9, 3, 2}};
  int filed = 0;
  for (const auto& e : com) {
    EXPECT_EQ(im.comFirst[e.b].start, e.start) << e.b;
    EXPECT_EQ(im.comFirst[e.b].count, e.count) << e.b;
  }
  for (const CtlFirstByte& e : im.comFirst) filed += e.count;
  EXPECT_EQ(filed, 5);
  EXPECT_EQ(im.exeList, (std::vector<int16_t>{3, 2}));
  EXPECT_EQ(im.exeFirst[0x4D].start, 0);
  EXPECT_EQ(im.exeFirst[0x4D].count, 1);
  EXPECT_EQ(im.exeFirst[0xE9].start, 1);
  EXPECT_EQ(im.exeFirst[0xE9].count, 1);
  // Tails carry the virus numbers and the offsets of their heads.
  ASSERT_EQ(im.tails.size(), 5u);
  EXPECT_EQ(im.tails[2].virusNumber, 11);
  EXPECT_EQ(im.tails[2].comOffset, 5);
  EXPECT_EQ(im.tails[2].tailLength, 1);
  EXPECT_EQ(im.tails[4].comOffset, 9);
}

// ---------------------------------------------------------------------------
// Refusals.

std::string Repeat(const std::string& line, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += line;
  return out;
}

TEST(CtlSource, RefusesWithTheLineOfTheFirstError) {
  std::string keys200;
  for (int k = 0; k < 200; k++) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", k);
    keys200 += hex;
  }
  std::string macros111;
  for (int i = 0; i < 111; i++)
    macros111 += "macro \"M" + std::to_string(i) + "\" kind 50 identifier 1\n pattern" +
                 Repeat(" 00", 20) + "\n";
  const struct { std::string source, error; } cases[] = {
      {"virus 1 \"A\"\n sig 01 02 03 04\n", "2: a signature pattern has 4 bytes"},
      {"virus 1 \"A\"\n sig" + Repeat(" 01", 17) + " com 0\n", "2: a signature pattern has 17 bytes"},
      {"virus 1 \"A\"\n confirm" + Repeat(" 01", 13) + "\n", "2: a confirmation pattern has 13 bytes"},
      {"virus 1 \"A\"\n confirm com 1\n", "2: use: confirm"},
      {"virus 1 \"ABCDEFGHIJKLMNOPQRSTUVWXYZ\"\n", "1: the name \"ABCDEFGHIJKLMNOPQRSTUVWXYZ\" has 26 bytes"},
      {"virus 1 \"A\"\n name \"ABCDEFGHIJKLMNOPQRSTUVWXYZ\"\n", "2: the name"},
      {"virus 5 \"A\"\n\n# again\nvirus 5 \"B\"\n", "4: virus 5 is already defined at line 1"},
      {"virus 1 \"A\"\n sig ?? 02 03 04 05 com 0\n", "2: the first pattern byte is the wildcard, so 'com 0' needs explicit keys"},
      {"virus 1 \"A\"\n sig 90 02 03 04 05 exe 0\n", "2: the first pattern byte is the wildcard, so 'exe 0'"},
      {"virus 1 \"A\"\n sig 01 02 03 04 05 com 0 keys ??\n", "2: a key is a plain entry-point byte"},
      {"virus 1 \"A\"\n sig 01 02 03 04 05 com 0 keys 01 01\n", "2: the com key 01 is given twice"},
      {"virus 1 \"A\"\n sig 01 02 03 04 05 com 0 keys\n", "2: 'keys' needs at least one byte"},
      {"virus 1 \"A\"\n sig 01 02 03 04 05 com 32768\n", "2: 'com' needs an offset in -32768..32767"},
      {"virus 1 \"A\"\n sig 01 02 03 04 05 com 1 com 2\n", "2: 'com' is given twice"},
      {"virus 1 \"A\"\n sig 01 02 03 04 05 fast\n", "2: unexpected 'fast' in a sig line"},
      {" sig 01 02 03 04 05\n", "1: 'sig' must stand in a virus block"},
      {"macro \"M\" kind 50 identifier 1\n pattern" + Repeat(" 00", 20) + "\n sig 01 02 03 04 05\n",
       "3: 'sig' must stand in a virus block"},
      {"virus 1 \"A\"\n pattern 00\n", "2: 'pattern' must stand in a macro block"},
      {"virus 1 \"A\"\n vaccine speed=1\n", "2: unknown vaccine field 'speed'"},
      {"virus 1 \"A\"\n vaccine comRoutine=65536\n", "2: the vaccine field comRoutine needs a number in 0..65535"},
      {"virus 1 \"A\"\n vaccine comRoutine=-1\n", "2: the vaccine field comRoutine"},
      {"virus 1 \"A\"\n vaccine savedOffset=2147483648\n", "2: savedOffset needs a number"},
      {"virus 1 \"A\"\n vaccine savedLength=1 savedLength=2\n", "2: the vaccine field savedLength is given twice"},
      {"virus 40000 \"A\"\n", "1: use: virus NUMBER"},
      {"\n\nvirus 3\n# nothing\nvirus 4 \"B\"\n", "3: virus 3 defines nothing"},
      {"virus 3\n", "1: virus 3 defines nothing"},
      {"title \"a\"\ntitle \"b\"\n", "2: the title is given twice"},
      {"title \"" + std::string(81, 'x') + "\"\n", "1: the title"},
      {"title \"open\n", "1: a string is not closed"},
      {"title \"\\x00\"\n", "1: a string may not contain \\x00"},
      {"title \"\\n\"\n", "1: unknown escape"},
      {"signature 01\n", "1: unknown statement 'signature'"},
      {"macro \"M\" kind 50\n", "1: use: macro \"NAME\" kind KIND identifier IDENTIFIER"},
      {"macro \"M\" kind 50 identifier 1\n name \"x\"\n", "1: macro virus \"M\" has no pattern line"},
      {"macro \"M\" kind 50 identifier 1\n pattern" + Repeat(" 00", 19) + "\n", "2: a macro pattern has 19 bytes"},
      {"macro \"M\" kind 50 identifier 1\n pattern" + Repeat(" 00", 19) + " ??\n", "2: a macro pattern is 20 bytes"},
      {"macro \"ABCDEFGHIJKLMNOPQRSTUVWXYZ\" kind 50 identifier 1\n", "1: the name"},
      {"macro \"M\" kind 50 identifier 1\n pattern" + Repeat(" 00", 20) +
           "\n name \"ABCDEFGHIJKLMNOPQRSTUVWXY\"\n", "3: the macro name \"ABCDEFGHIJKLMNOPQRSTUVWXY\" has 25 bytes"},
      {"macro \"M\" kind 50 identifier 1\n pattern" + Repeat(" 00", 20) + "\n" + Repeat(" name \"n\"\n", 24),
       "26: more than 23 macro names"},
      {"virus 1 \"A\"\n" + Repeat(" sig 01 02 03 04 05 com 0\n", 3277), "3278: more than 3,276 signatures"},
      {"virus 1 \"A\"\n" + Repeat(" sig 01 02 03 04 05 com 1 keys" + keys200 + "\n", 200),
       "165: the COM index list would have more than 32,767 entries"},
      {macros111, "221: more than 110 macro viruses"},
  };
  for (const auto& c : cases) {
    CtlDatabase db;
    std::string error;
    EXPECT_FALSE(ParseCtlSource(c.source, &db, &error)) << c.error;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error << "\nwanted: " << c.error;
  }
}

TEST(CtlSource, AcceptsTheLimitsThemselves) {
  CtlDatabase db = Parse(
      "virus 1 \"ABCDEFGHIJKLMNOPQRSTUVWXY\"\n" +
      Repeat(" sig 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 com 0\n", 3276) +
      " confirm 01 02 03 04 05 06 07 08 09 0A 0B 0C\n"
      "macro \"ABCDEFGHIJKLMNOPQRSTUVWXY\" kind 50 identifier 1\n pattern" + Repeat(" 00", 20) + "\n" +
      Repeat(" name \"123456789012345678901234\"\n", 23));
  CtlImage image = Compile(db);
  Bytes file = WriteCtlImage(image);
  std::string why;
  EXPECT_TRUE(VerifyCtlFile(file, &why)) << why;
  EXPECT_EQ(U32(file, 375 + 8 * 6 + 4), 3276u * 20);
}

// Databases built in code meet the same limits, reported without a line.
TEST(CtlCompile, RefusesWhatTheLoaderWouldRefuse) {
  auto sig = [](size_t length) {
    CtlSignatureDef s{};
    s.pattern.assign(length, 0x41);
    s.comKeys = {0x41};
    return s;
  };
  auto virus = [](int16_t number) {
    CtlVirusDef v{};
    v.number = number;
    v.names = {"V"};
    return v;
  };
  CtlMacroRecord macro{};
  macro.name = "M";
  macro.names = {"a", "b"};
  macro.nameCount = 2;

  struct Case {
    const char* what;
    CtlDatabase db;
    const char* error;
  };
  std::vector<Case> cases;
  {
    CtlDatabase db;
    db.viruses = {virus(1)};
    db.viruses[0].signatures.assign(3277, sig(5));
    cases.push_back({"3,277 signatures", db, "the database has 3,277 signatures; at most 3,276"});
  }
  {
    CtlDatabase db;
    db.viruses = {virus(1)};
    db.viruses[0].signatures = {sig(5), sig(17)};
    cases.push_back({"long pattern", db, "virus 1: signature 2: a signature pattern has 17 bytes"});
  }
  {
    CtlDatabase db;
    db.viruses = {virus(1), virus(2), virus(1)};
    cases.push_back({"duplicate", db, "virus 1: the number is defined twice"});
  }
  {
    CtlDatabase db;
    db.viruses = {virus(9)};
    db.viruses[0].names.push_back(std::string(26, 'n'));
    cases.push_back({"long name", db, "virus 9: the name"});
  }
  {
    CtlDatabase db;
    db.viruses = {virus(9)};
    db.viruses[0].confirms.push_back(CtlConfirmDef{0, 0, {}});
    cases.push_back({"empty confirmation", db, "virus 9: confirmation pattern 1: a confirmation pattern has 0 bytes"});
  }
  {
    CtlDatabase db;
    db.macros = {macro};
    db.macros[0].nameCount = 3;
    cases.push_back({"name count", db, "macro virus \"M\": its name count 3 differs from its 2 names"});
  }
  {
    CtlDatabase db;
    db.macros = {macro};
    db.macros[0].names.assign(24, "x");
    db.macros[0].nameCount = 24;
    cases.push_back({"24 macro names", db, "macro virus \"M\": it has 24 macro names"});
  }
  {
    CtlDatabase db;
    db.macros.assign(111, macro);
    cases.push_back({"111 macros", db, "the database has 111 macro viruses; at most 110"});
  }
  {
    CtlDatabase db;
    db.viruses = {virus(1)};
    CtlSignatureDef s = sig(5);
    for (int k = 0; k < 256; k++) s.comKeys.push_back((uint8_t)k);
    db.viruses[0].signatures.assign(128, s);
    cases.push_back({"list entries", db, "the COM index list would have 32,768 entries"});
  }
  for (const Case& c : cases) {
    CtlImage image;
    std::string error;
    EXPECT_FALSE(CompileCtlDatabase(c.db, &image, &error)) << c.what;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.what << ": " << error;
  }
}

// ---------------------------------------------------------------------------
// Hostile files.

TEST(CtlHostile, CountsLargerThanTheFileAreReportedNotFollowed) {
  Bytes good = WriteCtlImage(Compile(Parse(kFullSource)));
  const struct { size_t at; uint16_t value; const char* error; } cases[] = {
      {349, 30000, "section 0 (signature heads"},
      {349, 0x8000, "the count of the signature heads is negative"},
      {353, 20000, "section 1 (COM index list"},
      {355, 9999, "section 3"},
      {359, 5000, "section 10"},
      {369, 100, "section 12"},
      {375 + 8 * 9, 0xFFFF, "section 9"},     // the vaccine records' offset
  };
  for (const auto& c : cases) {
    Bytes f = good;
    f[c.at] = (uint8_t)c.value;
    f[c.at + 1] = (uint8_t)(c.value >> 8);
    SealCtlChecksums(&f);
    CtlImage image;
    std::string error;
    EXPECT_FALSE(ReadCtlImage(f, &image, &error)) << c.at;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    std::string text = PrintCtlSource(DecompileCtlImage(image));
    CtlDatabase db;
    EXPECT_TRUE(ParseCtlSource(text, &db, &error)) << error;
  }
  CtlImage image;
  std::string error;
  EXPECT_FALSE(ReadCtlImage(Bytes(816, 0), &image, &error));
  EXPECT_NE(error.find("fewer than the 817-byte header"), std::string::npos) << error;
}

// A raw image whose records point nowhere: the decompiler keeps what makes
// sense, says what it dropped, and prints text that reads back.
TEST(CtlHostile, DecompilingRecordsThatPointNowhere) {
  CtlImage im = Compile(Parse(kFullSource));
  im.comList.push_back(-1);
  im.comList.push_back(999);
  im.comFirst[0x33] = CtlFirstByte{(uint16_t)(im.comList.size() - 2), 5};
  im.tails[1].tailLength = 100;
  im.heads.push_back(CtlHead{});
  im.confirmIndex.push_back(CtlConfirmIndex{500, 7});
  im.vaccineIndex.push_back(9);
  im.nameIndex.push_back(8);
  im.names.push_back(std::string(40, 'z'));
  im.macros[0].nameCount = 99;
  im.macros[1].names.assign(30, std::string(30, 'q'));
  std::vector<std::string> notes;
  CtlDatabase db = DecompileCtlImage(im, &notes);
  EXPECT_GE(notes.size(), 7u);
  std::string text = PrintCtlSource(db), error;
  CtlDatabase back;
  ASSERT_TRUE(ParseCtlSource(text, &back, &error)) << error << "\n" << text;
  EXPECT_EQ(back, db);
  ASSERT_FALSE(db.viruses.empty());
  EXPECT_EQ(db.viruses[0].signatures.size(), 1u);   // the one with tail length 100 is gone
  // The writer copes with the same image; reading it back finds the
  // confirmation pattern that lies outside the file.
  Bytes f = WriteCtlImage(im);
  CtlImage read;
  EXPECT_FALSE(ReadCtlImage(f, &read, &error));
  EXPECT_NE(error.find("section 7"), std::string::npos) << error;
}

// Damaged copies of a good file: reading, decompiling and printing never
// fail, the text always reads back, and it compiles to a database that
// decompiles to the same file again.
TEST(CtlHostile, DamagedFilesAlwaysGiveSourceThatReadsBack) {
  Bytes good = WriteCtlImage(Compile(Parse(kFullSource)));
  std::mt19937 rng(12345);
  for (int round = 0; round < 400; round++) {
    Bytes f = good;
    int flips = 1 + (int)(rng() % 12);
    for (int i = 0; i < flips; i++) {
      // Half the damage goes to the header and the directory.
      size_t at = rng() % 2 ? 349 + rng() % 146 : rng() % f.size();
      f[at] = (uint8_t)rng();
    }
    if (round % 3 == 0) f.resize(rng() % f.size());
    CtlImage image;
    std::string error;
    ReadCtlImage(f, &image, &error);
    VerifyCtlFile(f, &error);
    CtlDatabase db = DecompileCtlImage(image);
    std::string text = PrintCtlSource(db);
    CtlDatabase back;
    ASSERT_TRUE(ParseCtlSource(text, &back, &error)) << round << ": " << error << "\n" << text;
    ASSERT_EQ(back, db) << round;
    CtlImage compiled;
    ASSERT_TRUE(CompileCtlDatabase(db, &compiled, &error)) << round << ": " << error;
    ASSERT_TRUE(Compile(DecompileCtlImage(compiled)) == compiled) << round;
  }
}

// Damaged source text: the reader either refuses it with a line number or
// accepts it, and what it accepts always compiles.
TEST(CtlHostile, DamagedSourceIsRefusedOrCompiles) {
  const std::string good = kFullSource;
  const char alphabet[] = " \n\"\\#?x0123456789ABCDEF-=abcdefghijklmnopqrstuvwxyz";
  std::mt19937 rng(777);
  for (int round = 0; round < 2000; round++) {
    std::string text = good;
    int edits = 1 + (int)(rng() % 2);
    for (int i = 0; i < edits; i++) {
      size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0: text[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
        case 1: text.erase(at, 1 + rng() % 8); break;
        default: text.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
      }
      if (text.empty()) text = "x";
    }
    CtlDatabase db;
    std::string error;
    if (!ParseCtlSource(text, &db, &error)) {
      size_t colon = error.find(": ");
      ASSERT_NE(colon, std::string::npos) << error;
      ASSERT_GT(std::atoi(error.c_str()), 0) << error;
      continue;
    }
    CtlImage image;
    ASSERT_TRUE(CompileCtlDatabase(db, &image, &error)) << round << ": " << error << "\n" << text;
    ASSERT_EQ(Parse(PrintCtlSource(db)), db) << round;
  }
}

// ---------------------------------------------------------------------------
// The program.

TEST(CtlTool, BuildsDumpsAndReportsErrors) {
  TempDir dir;
  std::string source = dir / "db.src";
  WriteBytes(source, Bytes(kFullSource, kFullSource + sizeof kFullSource - 1));
  ToolRun run = RunTool(dir, "-o '" + (dir / "OUT.CTL") + "' '" + source + "'");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadBytes(dir / "OUT.CTL"), WriteCtlImage(Compile(Parse(kFullSource))));

  run = RunTool(dir, "--dump '" + (dir / "OUT.CTL") + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, PrintCtlSource(Parse(kFullSource)));
  EXPECT_EQ(run.err, "");

  // Without -o the database is QUELTAN.CTL in the current directory.
  run = RunTool(dir, "db.src");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadBytes(dir / "QUELTAN.CTL"), ReadBytes(dir / "OUT.CTL"));

  WriteBytes(dir / "bad.src", Bytes{'v', 'i', 'r', 'u', 's', ' ', '1', '\n', ' ', 's', 'i', 'g',
                                    ' ', '0', '1', '\n'});
  run = RunTool(dir, "-o '" + (dir / "BAD.CTL") + "' '" + (dir / "bad.src") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ctlbuild: " + (dir / "bad.src") + ":2: a signature pattern has 1 byte; it needs 5 to 16\n");
  EXPECT_EQ(std::system(("test ! -e '" + (dir / "BAD.CTL") + "'").c_str()), 0);

  const struct { const char* args; int status; } usage[] = {
      {"", 2}, {"--dump", 2}, {"-o x", 2}, {"--frobnicate x", 2}, {"a b", 2},
      {"--dump a -o b", 2}, {"--help", 0}, {"/nonexistent/source.src", 1},
  };
  for (const auto& u : usage) {
    run = RunTool(dir, u.args);
    EXPECT_TRUE(run.exited) << u.args;
    EXPECT_EQ(run.status, u.status) << u.args << ": " << run.err;
  }
}

TEST(CtlTool, DumpOfAHostileFileDoesNotCrash) {
  TempDir dir;
  Bytes f = WriteCtlImage(Compile(Parse(kFullSource)));
  f[349] = 0x30;     // N = 30,000: far more heads than the file holds
  f[350] = 0x75;
  f[359] = 0xFF;     // 32,767 names
  f[360] = 0x7F;
  SealCtlChecksums(&f);
  WriteBytes(dir / "HOSTILE.CTL", f);
  ToolRun run = RunTool(dir, "--dump '" + (dir / "HOSTILE.CTL") + "'");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("lies outside the file"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the service would refuse this file"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.rfind("title ", 0), 0u) << run.out;

  WriteBytes(dir / "SHORT.CTL", Bytes(100, 0xEE));
  run = RunTool(dir, "--dump '" + (dir / "SHORT.CTL") + "'");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.status, 1);
}

// The database the build put beside the programs is the shipped source.
TEST(CtlTool, TheBuiltDatabaseDumpsAsTheShippedSource) {
  TempDir dir;
  ToolRun run = RunTool(dir, std::string("--dump '") + KORVANE_BIN_DIR + "/QUELTAN.CTL'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            PrintCtlSource(Parse(ReadText(std::string(KORVANE_SOURCE_DIR) + "/data/queltan.src"))));
}

}  // namespace
