// kvscan as an administrator runs it: on a generated tree of samples, with
// the shipped database, reading its output and exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/fixtures/fixtures.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string out;
};

Result RunTool(const std::string& args) {
  std::string cmd = std::string(KORVANE_BIN_DIR) + "/" + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

// The samples of the shipped database, listed by samplegen.
std::map<std::string, std::string> Manifest(const std::string& dir) {
  std::map<std::string, std::string> m;
  std::ifstream in(dir + "/SAMPLES.TXT");
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos) m[dir + "/" + line.substr(0, tab)] = line.substr(tab + 1);
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

}  // namespace
