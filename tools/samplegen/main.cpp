// samplegen: writes inert sample files for the test definitions of a
// virus database, so that there is something real to find and clean.
//
//   samplegen [--database FILE] [--virus N] OUTDIR
//
// For every virus of the database that has a signature (or only virus N),
// it writes a harmless host program with the virus's synthetic bytes
// planted where the definition expects them: OUTDIR/COM/V<N>.COM for a
// signature filed for non-MZ programs, OUTDIR/EXE/V<N>.EXE for MZ programs.
// The EICAR test file is written as it is. OUTDIR/CLEAN holds the clean
// hosts, and OUTDIR/SAMPLES.TXT lists every sample with the virus name a
// scanner must report for it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/samplegen/samples.h"

namespace fs = std::filesystem;

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

int main(int argc, char** argv) {
  std::string database;
  long only = -1;
  const char* outDir = nullptr;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--database") == 0 && i + 1 < argc) {
      database = argv[++i];
    } else if (std::strcmp(argv[i], "--virus") == 0 && i + 1 < argc) {
      only = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("Usage: samplegen [--database FILE] [--virus N] OUTDIR\n"
                  "Writes inert sample programs for the database's test definitions.\n");
      return 0;
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "samplegen: unknown option %s\n", argv[i]);
      return 2;
    } else {
      outDir = argv[i];
    }
  }
  if (!outDir) {
    std::fprintf(stderr, "Usage: samplegen [--database FILE] [--virus N] OUTDIR\n");
    return 2;
  }
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

  fs::path out(outDir);
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
      manifest += "EICAR.COM\t" + name + "\n";
      written++;
      continue;
    }
    if (v.signatures.empty()) continue;
    const CtlSignatureDef& sig = v.signatures[0];
    std::vector<CtlConfirmDef> confirms = sig.needsConfirmation ? v.confirms : std::vector<CtlConfirmDef>{};
    Planted p;
    std::string base = "V" + std::to_string(v.number);
    if (PlantSignature(MakeComHost("Korvane sample host (COM)", 200), false, sig, confirms, &p)) {
      std::string rel = "COM/";
      rel += base;
      rel += ".COM";
      WriteFile(out / rel, p.file);
      manifest += rel + "\t" + name + "\n";
      written++;
    }
    if (PlantSignature(MakeExeHost("Korvane sample host (EXE)", 200), true, sig, confirms, &p)) {
      std::string rel = "EXE/";
      rel += base;
      rel += ".EXE";
      WriteFile(out / rel, p.file);
      manifest += rel + "\t" + name + "\n";
      written++;
    }
  }
  std::ofstream(out / "SAMPLES.TXT", std::ios::binary | std::ios::trunc) << manifest;
  std::printf("samplegen: %d samples written to %s\n", written, outDir);
  return written ? 0 : 1;
}
