// The samples of the shipped database as a user meets them: samplegen
// writes them, kvscan cleans them, and every sample marked "clean" must be
// its clean host again, byte for byte; cleaned samples still run under
// DOSBox (when it is installed) and print their host's line. Also checks
// that every shipped definition with a vaccine gets its sample.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/fixtures/fixtures.h"
#include "tools/samplegen/infections.h"

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;


std::string Tool(const std::string& args) { return std::string(KORVANE_BIN_DIR) + "/" + args; }

Bytes ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One line of SAMPLES.TXT: path, virus name, and whether a cure gives the
// host back exactly.
struct Sample {
  std::string path;
  std::string virus;
  bool clean;
};

std::vector<Sample> Manifest(const fs::path& dir) {
  std::vector<Sample> list;
  std::ifstream in(dir / "SAMPLES.TXT");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Sample s;
    std::string mark;
    std::getline(fields, s.path, '\t');
    std::getline(fields, s.virus, '\t');
    std::getline(fields, mark, '\t');
    s.clean = mark == "clean";
    list.push_back(s);
  }
  return list;
}

CtlDatabase ShippedDatabase() {
  CtlImage image;
  std::string err;
  EXPECT_TRUE(ReadCtlImage(ReadBytes(std::string(KORVANE_BIN_DIR) + "/QUELTAN.CTL"), &image, &err)) << err;
  return DecompileCtlImage(image);
}

class SamplesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree = fs::path(machine.root()) / "tree";
    Result r = RunCommand(Tool("samplegen " + tree.string()));
    ASSERT_EQ(r.status, 0) << r.out;
    generated = r.out;
    samples = Manifest(tree);
    ASSERT_FALSE(samples.empty());
  }
  // Cleans the tree with kvscan.
  void Clean() {
    Result r = RunCommand(Tool("kvscan --machine " + machine.root() + " --report " + machine.root() + "/SCAN.LOG " +
                        tree.string()));
    ASSERT_EQ(r.status, 1) << r.out;
  }
  TempMachine machine;
  fs::path tree;
  std::string generated;
  std::vector<Sample> samples;
};

TEST_F(SamplesTest, KvscanGivesBackTheHostOfEveryCleanSample) {
  Clean();
  int clean = 0;
  for (const Sample& s : samples) {
    if (!s.clean) continue;
    clean++;
    Bytes host = ReadBytes(tree / "CLEAN" / fs::path(s.path).filename());
    ASSERT_FALSE(host.empty()) << s.path << ": no clean host";
    EXPECT_EQ(ReadBytes(tree / s.path), host) << s.path << " (" << s.virus << ")";
  }
  EXPECT_GT(clean, 0);
}

// Every definition with a vaccine names an operation whose infection has
// that very vaccine, and its sample is written and marked clean; together
// they name operations at every point of a vaccine.
TEST_F(SamplesTest, DefinitionsWithVaccinesAllGetTheirSample) {
  EXPECT_EQ(generated.find("warning"), std::string::npos) << generated;
  std::set<int> points;
  for (const CtlVirusDef& v : ShippedDatabase().viruses) {
    if (v.vaccines.empty()) continue;
    InfectionPoint point;
    uint16_t code = VaccineOperation(v.vaccines[0], &point);
    const InfectionRow* row = FindInfectionRow(code);
    ASSERT_NE(row, nullptr) << "virus " << v.number;
    EXPECT_EQ(row->point, point) << "virus " << v.number;
    points.insert(point);
    std::string base = "V" + std::to_string(v.number) + ".";
    bool listed = false;
    for (const Sample& s : samples)
      if (fs::path(s.path).filename().string().rfind(base, 0) == 0) listed = s.clean && s.virus == v.names[0];
    EXPECT_TRUE(listed) << "virus " << v.number << " has no clean sample";
  }
  EXPECT_EQ(points, (std::set<int>{kPointExeRoutine, kPointExePreOp, kPointComRoutine, kPointComPreOp,
                                   kPointComPostOp}));
}

TEST_F(SamplesTest, OneOperationsSampleAndItsVaccineLine) {
  fs::path dir = fs::path(machine.root()) / "op";
  Result r = RunCommand(Tool("samplegen --op 7 " + dir.string()));
  ASSERT_EQ(r.status, 0) << r.out;
  Infection inf;
  ASSERT_TRUE(Infect(*FindInfectionRow(7), Bytes{0xE8, 0x00, 0x00, 0x5D}, &inf));
  EXPECT_EQ(ReadBytes(dir / "OP7.COM"), inf.file);
  EXPECT_EQ(ReadBytes(dir / "CLEAN" / "OP7.COM"), inf.expected);
  // The line, put into a database, gives the operation's record.
  CtlDatabase db;
  std::string err;
  ASSERT_TRUE(ParseCtlSource("virus 9 \"X\"\n  " + r.out, &db, &err)) << err << "\n" << r.out;
  ASSERT_EQ(db.viruses[0].vaccines.size(), 1u);
  EXPECT_EQ(db.viruses[0].vaccines[0], inf.vaccine);
  EXPECT_EQ(RunCommand(Tool("samplegen --op 53 " + dir.string())).status, 1);
}

// A vaccine that is not its operation's record, or a signature that cannot
// sit at the entry point, gets a warning and no sample; a fitting one in
// the same database gets its sample.
TEST_F(SamplesTest, DefinitionsThatDoNotFitTheirOperationAreSkipped) {
  std::string db = machine.root() + "/SMALL.CTL";
  {
    Bytes b = BuildDatabaseFromSource(
        "virus 300 \"Fits\"\n"
        "  sig 4B 56 2D 54 45 53 54 31 com 0\n"
        "  vaccine savedOffset=-49 savedLength=3 savedOrigin=2 restoreLength=3 comCutLength=97 comPostOp=7\n"
        "virus 301 \"WrongCut\"\n"
        "  sig 4B 56 2D 54 45 53 54 32 com 0\n"
        "  vaccine savedOffset=-49 savedLength=3 savedOrigin=2 restoreLength=3 comCutLength=98 comPostOp=7\n"
        "virus 302 \"WrongPoint\"\n"
        "  sig 4B 56 2D 54 45 53 54 33 com 0\n"
        "  vaccine comPreOp=7\n"
        "virus 303 \"FiledForMz\"\n"
        "  sig 4B 56 2D 54 45 53 54 34 exe 0\n"
        "  vaccine savedOffset=-49 savedLength=3 savedOrigin=2 restoreLength=3 comCutLength=97 comPostOp=7\n");
    std::ofstream(db, std::ios::binary).write((const char*)b.data(), (std::streamsize)b.size());
  }
  fs::path dir = fs::path(machine.root()) / "small";
  Result r = RunCommand(Tool("samplegen --database " + db + " " + dir.string()));
  EXPECT_EQ(r.status, 0) << r.out;
  for (const char* number : {"301", "302", "303"})
    EXPECT_NE(r.out.find(std::string("warning: no sample for virus ") + number), std::string::npos) << r.out;
  std::vector<Sample> written = Manifest(dir);
  ASSERT_EQ(written.size(), 1u) << r.out;
  EXPECT_EQ(written[0].path, "COM/V300.COM");
  EXPECT_TRUE(written[0].clean);
}

// Cleaned samples are working programs: under DOSBox each prints its
// host's line.
TEST_F(SamplesTest, CleanedSamplesRunUnderDosbox) {
  if (RunCommand("command -v dosbox").status != 0) GTEST_SKIP() << "dosbox is not installed";
  Clean();
  fs::path run = fs::path(machine.root()) / "run";
  fs::create_directories(run);
  bool com = false, exe = false;
  for (const Sample& s : samples) {
    if (!s.clean) continue;
    std::string name = fs::path(s.path).filename().string();
    fs::copy_file(tree / s.path, run / name, fs::copy_options::overwrite_existing);
    fs::remove(run / "OUT.TXT");
    Result r = RunCommand("cd " + run.string() + " && HOME=" + run.string() +
                   " SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 60 dosbox -c \"mount c " + run.string() +
                   "\" -c \"c:\" -c \"" + name + " > OUT.TXT\" -c exit");
    EXPECT_EQ(r.status, 0) << name << ": " << r.out;
    Bytes out = ReadBytes(run / "OUT.TXT");
    bool mz = name.size() > 4 && name.substr(name.size() - 4) == ".EXE";
    std::string line = std::string(mz ? kExeHostText : kComHostText) + "\r\n";
    EXPECT_EQ(std::string(out.begin(), out.end()), line) << name;
    (mz ? exe : com) = true;
  }
  EXPECT_TRUE(com && exe);
}

}  // namespace
