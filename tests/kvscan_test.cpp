// kvscan as an administrator runs it: on a generated tree of samples, with
// the shipped database, reading its output and exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/fixtures/fixtures.h"

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;

// Runs one of the programs in the build's bin directory.
Result RunTool(const std::string& args) { return RunCommand(std::string(KORVANE_BIN_DIR) + "/" + args); }

// The samples of the shipped database, listed by samplegen: path, virus.
std::map<std::string, std::string> Manifest(const std::string& dir) {
  std::map<std::string, std::string> m;
  std::ifstream in(dir + "/SAMPLES.TXT");
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    size_t end = line.find('\t', tab + 1);   // further columns describe the sample
    m[dir + "/" + line.substr(0, tab)] = line.substr(tab + 1, end == std::string::npos ? end : end - tab - 1);
  }
  return m;
}

class KvscanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree = machine.root() + "/tree";
    Result r = RunTool("samplegen " + tree);
    ASSERT_EQ(r.status, 0) << r.out;
    samples = Manifest(tree);
    ASSERT_FALSE(samples.empty());
  }
  std::string Kvscan(const std::string& args) {
    return "kvscan --machine " + machine.root() + " " + args;
  }
  TempMachine machine;
  std::string tree;
  std::map<std::string, std::string> samples;
};

TEST_F(KvscanTest, FindsEverySampleAndNothingInTheCleanHosts) {
  Result r = RunTool(Kvscan("--no-cure " + tree));
  EXPECT_EQ(r.status, 1) << r.out;
  for (const auto& [path, virus] : samples)
    EXPECT_NE(r.out.find(path + ": " + virus + ": detected"), std::string::npos) << path << "\n" << r.out;
  EXPECT_EQ(r.out.find("/CLEAN/"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Infected      : " + std::to_string(samples.size())), std::string::npos) << r.out;
  // The clean hosts alone: exit status 0.
  Result clean = RunTool(Kvscan(tree + "/CLEAN"));
  EXPECT_EQ(clean.status, 0) << clean.out;
  EXPECT_NE(clean.out.find("Infected      : 0"), std::string::npos);
}

TEST_F(KvscanTest, JsonLinesAndTheSummary) {
  Result r = RunTool(Kvscan("--no-cure --json " + tree + "/EICAR.COM"));
  EXPECT_EQ(r.status, 1);
  std::istringstream lines(r.out);
  std::string first, last, line;
  std::getline(lines, first);
  while (std::getline(lines, line)) last = line;
  EXPECT_EQ(first, "{\"event\":\"detected\",\"path\":\"" + tree + "/EICAR.COM\",\"file\":\"A:\\\\EICAR.COM\","
                   "\"virus\":\"EICAR-Test-File\",\"user\":\"System\",\"action\":\"Detected\"}");
  EXPECT_EQ(last, "{\"total\":0,\"copied\":0,\"cleaned\":0,\"infected\":1,\"reconstructed\":0,\"modified\":0}");
}

TEST_F(KvscanTest, NoCureLeavesEveryFileAsItWas) {
  std::map<std::string, Bytes> before;
  for (const auto& [path, virus] : samples) {
    std::ifstream in(path, std::ios::binary);
    before[path] = Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  RunTool(Kvscan("--no-cure " + tree));
  for (const auto& [path, bytes] : before) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), bytes) << path;
  }
}

TEST_F(KvscanTest, TheReportLogGetsEveryDetection) {
  std::string log = machine.root() + "/SCAN.LOG";
  RunTool(Kvscan("--no-cure --report " + log + " " + tree + "/EICAR.COM"));
  std::ifstream in(log, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\r\r\nFile   : A:\\EICAR.COM\r\r\nVirus  : EICAR-Test-File\r\r\nStatus : Infection"),
            std::string::npos)
      << text;
}

TEST_F(KvscanTest, ErrorsStopWithStatusTwo) {
  // A database that fails its checksum prints the database's own text.
  std::string bad = machine.root() + "/BAD.CTL";
  {
    std::ifstream in(std::string(KORVANE_BIN_DIR) + "/QUELTAN.CTL", std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    b.back() ^= 1;
    std::ofstream(bad, std::ios::binary).write((const char*)b.data(), (std::streamsize)b.size());
  }
  Result r = RunTool(Kvscan("--database " + bad + " " + tree));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Integrity checking failure, Cannot continue!"), std::string::npos) << r.out;
  r = RunTool(Kvscan("--database " + machine.root() + "/NONE.CTL " + tree));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Unable to open virus data file."), std::string::npos) << r.out;
  EXPECT_EQ(RunTool(Kvscan("--bogus " + tree)).status, 2);
  EXPECT_EQ(RunTool(Kvscan("")).status, 2);
  // A malformed drive map refuses to start.
  std::ofstream(machine.root() + "/drives.conf") << "C: sideways /tmp\n";
  r = RunTool(Kvscan(tree));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("drives.conf:1:"), std::string::npos) << r.out;
  EXPECT_EQ(RunTool("kvscan --help").status, 0);
}

TEST_F(KvscanTest, DrivesOfTheMachineAreScannedByTheirWindowsPaths) {
  fs::create_directories(machine.root() + "/c/GAMES");
  fs::copy_file(tree + "/EICAR.COM", machine.root() + "/c/GAMES/EICAR.COM");
  std::ofstream(machine.root() + "/drives.conf") << "C: fixed " << machine.root() << "/c\n";
  Result r = RunTool(Kvscan("--no-cure --json C:\\\\GAMES"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("\"file\":\"C:\\\\GAMES\\\\EICAR.COM\""), std::string::npos) << r.out;
  // A host path inside a drive is the same file.
  r = RunTool(Kvscan("--no-cure --json " + machine.root() + "/c/GAMES"));
  EXPECT_NE(r.out.find("\"file\":\"C:\\\\GAMES\\\\EICAR.COM\""), std::string::npos) << r.out;
}

Bytes ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(KvscanTest, AFixedDriveIsScannedThroughItsIntegrityFiles) {
  const std::string c = machine.root() + "/c";
  fs::create_directories(c + "/GAMES");
  fs::create_directories(c + "/QUELTAN");
  fs::create_directories(machine.root() + "/e");
  fs::copy_file(tree + "/CLEAN/HOST.COM", c + "/GAMES/HOST.COM");
  fs::copy_file(tree + "/CLEAN/HOST.EXE", c + "/GAMES/HOST.EXE");
  std::ofstream(machine.root() + "/drives.conf") << "C: fixed " << c << "\nE: cdrom " << machine.root() << "/e\n";
  // The configuration is read: FILESPEC takes DATA.BIN while the database is new.
  std::ofstream(c + "/QUELTAN/QUELTAN.INI") << "[FileToScan]\nFileSpec = *.BIN\n";
  fs::copy_file(tree + "/EICAR.COM", c + "/DATA.BIN");

  Result first = RunTool(Kvscan("--no-cure C:\\\\"));
  EXPECT_EQ(first.status, 1) << first.out;
  EXPECT_NE(first.out.find(c + "/DATA.BIN: EICAR-Test-File: detected"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("Total files   : 2\nCopied        : 2"), std::string::npos) << first.out;
  for (const char* f : {"KVNET.IMP", "KVNET.ORT", "KVNET.ANT"}) EXPECT_TRUE(fs::exists(c + "/" + f)) << f;
  EXPECT_EQ(fs::file_size(c + "/QUELTAN/QUELTAN.CDI"), 1200u);
  fs::remove(c + "/DATA.BIN");

  // Unchanged: nothing is new, nothing is written.
  const Bytes ort = ReadHost(c + "/KVNET.ORT");
  Result second = RunTool(Kvscan("C:\\\\"));
  EXPECT_EQ(second.status, 0) << second.out;
  EXPECT_NE(second.out.find("Total files   : 2\nCopied        : 0"), std::string::npos) << second.out;
  EXPECT_EQ(ReadHost(c + "/KVNET.ORT"), ort);

  // A program changed by a virus no signature knows: reported, and rebuilt
  // unless curing is off.
  const Bytes original = ReadHost(c + "/GAMES/HOST.COM");
  const Bytes changed = AppendComVirus(original, Hex("CE E1 E2 E3 E4 E5"));
  std::ofstream(c + "/GAMES/HOST.COM", std::ios::binary).write((const char*)changed.data(), (std::streamsize)changed.size());
  Result kept = RunTool(Kvscan("--no-cure C:\\\\GAMES"));
  EXPECT_EQ(kept.status, 1) << kept.out;
  EXPECT_NE(kept.out.find(c + "/GAMES/HOST.COM: Unknown: modified"), std::string::npos) << kept.out;
  EXPECT_EQ(ReadHost(c + "/GAMES/HOST.COM"), changed);
  Result rebuilt = RunTool(Kvscan("--json C:\\\\GAMES"));
  EXPECT_EQ(rebuilt.status, 1) << rebuilt.out;
  EXPECT_NE(rebuilt.out.find("{\"event\":\"modified\",\"path\":\"" + c + "/GAMES/HOST.COM\",\"file\":\"C:\\\\GAMES\\\\HOST.COM\","
                             "\"virus\":\"\",\"user\":\"System\",\"action\":\"File is reconstructed.\"}"),
            std::string::npos)
      << rebuilt.out;
  EXPECT_NE(rebuilt.out.find("\"reconstructed\":1,\"modified\":1}"), std::string::npos) << rebuilt.out;
  EXPECT_EQ(ReadHost(c + "/GAMES/HOST.COM"), original);
  const Bytes log = ReadHost(c + "/QUELTAN/QUELTAN.LOG");
  EXPECT_NE(std::string(log.begin(), log.end()).find("Status : Modification\r\r\nResult : File is reconstructed."),
            std::string::npos);

  // Drives without integrity files are not scanned, and say so.
  fs::copy_file(tree + "/EICAR.COM", machine.root() + "/e/EICAR.COM");
  Result cdrom = RunTool(Kvscan("E:\\\\"));
  EXPECT_EQ(cdrom.status, 0) << cdrom.out;
  EXPECT_NE(cdrom.out.find("E: is a CD-ROM drive"), std::string::npos) << cdrom.out;
}

TEST_F(KvscanTest, WithoutTheStateFileAFixedDriveIsStillScanned) {
  const std::string c = machine.root() + "/c";
  fs::create_directories(c);
  fs::copy_file(tree + "/CLEAN/HOST.COM", c + "/HOST.COM");
  std::ofstream(machine.root() + "/drives.conf") << "C: fixed " << c << "\n";
  Result first = RunTool(Kvscan("C:\\\\"));
  EXPECT_EQ(first.status, 0) << first.out;
  EXPECT_NE(first.out.find("QUELTAN.CDI cannot be opened"), std::string::npos) << first.out;
  Result second = RunTool(Kvscan("C:\\\\"));
  EXPECT_NE(second.out.find("Copied        : 0"), std::string::npos) << second.out;
  EXPECT_FALSE(fs::exists(c + "/QUELTAN"));
}

}  // namespace
