// samplegen: writes inert sample files for the test definitions of a
// virus database, so that there is something real to find and clean.
//
//   samplegen [--database FILE] [--virus N] [--op CODE] OUTDIR
//
// For every virus of the database that has a signature (or only virus N),
// it writes a harmless host program with the virus's synthetic bytes where
// the definition expects them: OUTDIR/COM/V<N>.COM for a signature filed
// for non-MZ programs, OUTDIR/EXE/V<N>.EXE for MZ programs. A definition
// with a vaccine gets one sample made by the infection row of the
// operation its vaccine names (tools/samplegen/infections.h), with the
// signature at the virus's entry point, and its clean host as
// OUTDIR/CLEAN/V<N>.COM or .EXE; when the row's vaccine record is not the
// definition's, or the signature cannot sit at the entry, the sample is
// skipped with a warning. The EICAR test file is written as it is.
// OUTDIR/CLEAN holds the clean hosts, and OUTDIR/SAMPLES.TXT lists every
// sample, its virus name and "clean" when a cure restores its host exactly.
//
// --op CODE writes OUTDIR/OP<CODE>.COM or .EXE for one operation (its
// clean host in OUTDIR/CLEAN) and prints the vaccine line that a database
// definition needs to cure it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/samplegen/infections.h"
#include "tools/samplegen/samples.h"

namespace fs = std::filesystem;

// Stands for the virus code in a sample made for one operation: call next
// / pop bp.
static const Bytes kOpPrologue = {0xE8, 0x00, 0x00, 0x5D};
// The byte a signature's wildcard becomes in a sample (inc cx).
constexpr uint8_t kWildcardFill = 0x41;

static bool WriteFile(const fs::path& p, const Bytes& b) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write((const char*)b.data(), (std::streamsize)b.size());
  return (bool)out;
}

static std::string DefaultDatabase(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::canonical("/proc/self/exe", ec);
  if (ec) self = argv0;
  return (self.parent_path() / "QUELTAN.CTL").string();
}

static bool StartsMz(const Bytes& b) { return b.size() >= 2 && b[0] == 'M' && b[1] == 'Z'; }

// The vaccine line of the source format for a record.
static std::string VaccineLine(const CtlVaccineRecord& r) {
  CtlDatabase db;
  CtlVirusDef v{};
  v.number = 1;
  v.vaccines.push_back(r);
  db.viruses.push_back(v);
  std::string text = PrintCtlSource(db);
  size_t at = text.find("vaccine");
  if (at == std::string::npos) return "vaccine";
  return text.substr(at, text.find('\n', at) - at);
}

// Whether the signature matches the file at its entry point, filed under
// the byte there, for the kind of program the file is.
static bool SignatureAtEntry(const CtlSignatureDef& sig, const Infection& inf) {
  bool mz = StartsMz(inf.file);
  int32_t offset = mz ? sig.exeOffset : sig.comOffset;
  const std::vector<uint8_t>& keys = mz ? sig.exeKeys : sig.comKeys;
  if (offset != 0 || inf.entry != inf.virusPosition) return false;
  if (inf.entry < 0 || (size_t)inf.entry + sig.pattern.size() > inf.file.size()) return false;
  bool filed = false;
  for (uint8_t k : keys) filed = filed || k == inf.file[(size_t)inf.entry];
  if (!filed) return false;
  for (size_t i = 0; i < sig.pattern.size(); i++)
    if (sig.pattern[i] != kCtlWildcard && sig.pattern[i] != inf.file[(size_t)inf.entry + i]) return false;
  return true;
}

// The sample of a definition with a vaccine: false with a reason when the
// infection row cannot make one that the definition finds and cures.
static bool VaccineSample(const CtlVirusDef& v, Infection* inf, std::string* why) {
  InfectionPoint point;
  uint16_t code = VaccineOperation(v.vaccines[0], &point);
  const InfectionRow* row = code ? FindInfectionRow(code) : nullptr;
  if (!row) {
    *why = "its vaccine names no operation with an infection";
    return false;
  }
  if (row->point != point) {
    *why = "its vaccine names operation " + std::to_string(code) + " in another field than its infection";
    return false;
  }
  Bytes prologue = v.signatures[0].pattern;
  for (uint8_t& b : prologue)
    if (b == kCtlWildcard) b = kWildcardFill;
  if (!Infect(*row, prologue, inf)) {
    *why = "operation " + std::to_string(code) + " cannot infect its host";
    return false;
  }
  if (!(inf->vaccine == v.vaccines[0])) {
    *why = "its vaccine is not the one operation " + std::to_string(code) + " needs: " + VaccineLine(inf->vaccine);
    return false;
  }
  if (!SignatureAtEntry(v.signatures[0], *inf)) {
    *why = "its first signature cannot sit at the entry point of operation " + std::to_string(code) + "'s sample";
    return false;
  }
  return true;
}

static const char* Extension(const InfectionRow& row, const Infection& inf) {
  return IsMzHost(row.host) && inf.companion.empty() ? ".EXE" : ".COM";
}

// --op CODE: one operation's sample, its clean host and its vaccine line.
static int WriteOperationSample(const fs::path& out, long code) {
  const InfectionRow* row = code > 0 && code <= 65535 ? FindInfectionRow((uint16_t)code) : nullptr;
  Infection inf;
  if (!row || !Infect(*row, kOpPrologue, &inf)) {
    std::fprintf(stderr, "samplegen: no operation %ld\n", code);
    return 1;
  }
  std::string name = "OP" + std::to_string(code) + Extension(*row, inf);
  WriteFile(out / name, inf.file);
  if (!inf.companion.empty()) WriteFile(out / ("OP" + std::to_string(code) + ".EXE"), inf.companion);
  if (inf.outcome == kCureRestores) WriteFile(out / "CLEAN" / name, inf.expected);
  std::printf("%s\n", VaccineLine(inf.vaccine).c_str());
  return 0;
}

int main(int argc, char** argv) {
  static const char kUsage[] = "Usage: samplegen [--database FILE] [--virus N] [--op CODE] OUTDIR\n";
  std::string database;
  long only = -1, op = -1;
  const char* outDir = nullptr;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--database") == 0 && i + 1 < argc) {
      database = argv[++i];
    } else if (std::strcmp(argv[i], "--virus") == 0 && i + 1 < argc) {
      only = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--op") == 0 && i + 1 < argc) {
      op = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("%sWrites inert sample programs for the database's test definitions;\n"
                  "with --op, the sample of one vaccine operation and its vaccine line.\n",
                  kUsage);
      return 0;
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "samplegen: unknown option %s\n", argv[i]);
      return 2;
    } else {
      outDir = argv[i];
    }
  }
  if (!outDir) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  fs::path out(outDir);
  if (op >= 0) return WriteOperationSample(out, op);

  if (database.empty()) database = DefaultDatabase(argv[0]);
  std::ifstream in(database, std::ios::binary);
  Bytes raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  CtlImage image;
  std::string err;
  if (raw.empty() || !ReadCtlImage(raw, &image, &err)) {
    std::fprintf(stderr, "samplegen: cannot read %s %s\n", database.c_str(), err.c_str());
    return 1;
  }
  CtlDatabase db = DecompileCtlImage(image);

  std::string manifest;
  WriteFile(out / "CLEAN" / "HOST.COM", MakeComHost("Korvane sample host (COM)", 200));
  WriteFile(out / "CLEAN" / "HOST.EXE", MakeExeHost("Korvane sample host (EXE)", 200));
  WriteFile(out / "CLEAN" / "README.TXT",
            Bytes{'I', 'n', 'e', 'r', 't', ' ', 's', 'a', 'm', 'p', 'l', 'e', 's', '.', '\r', '\n'});
  int written = 0;
  for (const CtlVirusDef& v : db.viruses) {
    if (only >= 0 && v.number != only) continue;
    std::string name = v.names.empty() ? "unknown" : v.names[0];
    if (name == "EICAR-Test-File") {
      WriteFile(out / "EICAR.COM", EicarTestFile());
      manifest += "EICAR.COM\t" + name + "\t\n";
      written++;
      continue;
    }
    if (v.signatures.empty()) continue;
    std::string base = "V" + std::to_string(v.number);
    if (!v.vaccines.empty()) {
      Infection inf;
      std::string why;
      if (!VaccineSample(v, &inf, &why)) {
        std::fprintf(stderr, "samplegen: warning: no sample for virus %d: %s\n", v.number, why.c_str());
        continue;
      }
      InfectionPoint point;
      const InfectionRow& row = *FindInfectionRow(VaccineOperation(v.vaccines[0], &point));
      const char* ext = Extension(row, inf);
      std::string rel = std::string(IsMzHost(row.host) ? "EXE/" : "COM/") + base + ext;
      WriteFile(out / rel, inf.file);
      if (!inf.companion.empty()) WriteFile(out / (std::string("COM/") + base + ".EXE"), inf.companion);
      bool clean = inf.outcome == kCureRestores;
      if (clean) WriteFile(out / "CLEAN" / (base + ext), inf.expected);
      manifest += rel + "\t" + name + "\t" + (clean ? "clean" : "") + "\n";
      written++;
      continue;
    }
    const CtlSignatureDef& sig = v.signatures[0];
    std::vector<CtlConfirmDef> confirms = sig.needsConfirmation ? v.confirms : std::vector<CtlConfirmDef>{};
    // A planted sample for each kind of program the signature is filed for.
    struct Kind {
      bool mz;
      const char* dir;
      const char* ext;
    } const kinds[] = {{false, "COM/", ".COM"}, {true, "EXE/", ".EXE"}};
    for (const Kind& k : kinds) {
      Planted p;
      Bytes host = k.mz ? MakeExeHost("Korvane sample host (EXE)", 200)
                        : MakeComHost("Korvane sample host (COM)", 200);
      if (!PlantSignature(host, k.mz, sig, confirms, &p)) continue;
      std::string rel = k.dir;
      rel += base;
      rel += k.ext;
      WriteFile(out / rel, p.file);
      manifest += rel + "\t" + name + "\t\n";
      written++;
    }
  }
  std::ofstream(out / "SAMPLES.TXT", std::ios::binary | std::ios::trunc) << manifest;
  std::printf("samplegen: %d samples written to %s\n", written, outDir);
  return written ? 0 : 1;
}
