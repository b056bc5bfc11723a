// kvbench-corpus: writes the benchmark's test tree, the kind of tree a DOS
// software archive is.
//
//   kvbench-corpus [--small] [--files N] [--seed S] [--database CTL]
//                  [--manifest FILE] OUTDIR
//
// By default about 20,000 files in a few hundred directories (--small: about
// 2,000): COM programs of 1 to 60 KB, MZ programs of 10 to 600 KB, overlays
// (.OVL/.OVR, MZ or raw), Word documents (compound files) and other files
// (text, data) whose names no scan candidate test accepts. About 1 % of the
// programs carry the synthetic test viruses of the database, planted with
// the sample library; every program is an inert host that prints a line
// and exits, whatever bytes follow its code. The same seed writes the same
// tree, byte for byte.
//
// The manifest lists every infected file as "RELATIVE/PATH<TAB>VIRUS NAME",
// sorted by path. The last line of standard output describes the tree:
//
//   corpus files N bytes B dirs D candidates C candidate_bytes CB infected I
//
// State: the generator's random stream (file static).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/le.h"
#include "tools/samplegen/samples.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The random stream (splitmix64): the same seed, the same tree on any host.

static uint64_t gRandom;

static uint64_t Next() {
  uint64_t z = (gRandom += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

static uint32_t Below(uint32_t n) { return (uint32_t)(((Next() >> 32) * n) >> 32); }
static double Unit() { return (double)(Next() >> 11) * (1.0 / 9007199254740992.0); }

// A size between lo and hi, small sizes more frequent than large ones (as
// in a real archive): log-uniform, skewed further towards lo.
static size_t SomeSize(size_t lo, size_t hi) {
  double u = Unit();
  return (size_t)((double)lo * std::pow((double)hi / (double)lo, u * u));
}

static void FillRandom(Bytes* b, size_t from) {
  size_t i = from;
  for (; i + 8 <= b->size(); i += 8) {
    uint64_t v = Next();
    std::memcpy(b->data() + i, &v, 8);
  }
  for (; i < b->size(); i++) (*b)[i] = (uint8_t)Next();
}

// ---------------------------------------------------------------------------
// Names

static const char* const kSyllables[] = {
    "AR", "BA", "CO", "DE", "DO", "EX", "FI", "GA", "HO", "IN", "JO", "KA", "LI", "MA",
    "NE", "OP", "PA", "QU", "RO", "SE", "TI", "UT", "VI", "WA", "XE", "ZO", "ST", "TR"};

static std::string SomeBase(int maxLen) {
  std::string s;
  int parts = 1 + (int)Below(4);
  for (int i = 0; i < parts && (int)s.size() + 2 <= maxLen; i++) s += kSyllables[Below(28)];
  if (Below(4) == 0 && (int)s.size() < maxLen) s += (char)('0' + Below(10));
  return s;
}

static std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
  return s;
}

// A name unique in its directory without regard to case; one name in five
// is lower case, as unpacked archives often have.
static std::string UniqueName(std::set<std::string>* taken, const std::string& ext) {
  for (;;) {
    std::string upper = SomeBase(8) + ext;
    if (!taken->insert(upper).second) continue;
    return Below(5) == 0 ? Lower(upper) : upper;
  }
}

// ---------------------------------------------------------------------------
// File contents

// Message of a host program: its name and a version.
static std::string HostText(const std::string& name) {
  return name + " version " + std::to_string(1 + Below(5)) + "." + std::to_string(Below(10));
}

// The host's code ends at its '$'; the bytes after it are never run. Fill
// them with something other than padding, as real program bodies are.
static void FillBody(Bytes* b, size_t codeStart) {
  auto dollar = std::find(b->begin() + (std::ptrdiff_t)codeStart, b->end(), (uint8_t)'$');
  FillRandom(b, (size_t)(dollar - b->begin()) + 1);
}

// A COM host; one in two starts with a jump over some data to its code
// (near or short), as many real COM programs do.
static Bytes ComProgram(const std::string& name, size_t size) {
  Bytes host = MakeComHost(HostText(name), size);
  FillBody(&host, 0);
  uint32_t kind = Below(4);
  if (kind >= 2) return host;
  size_t skip = kind == 0 ? 16 + Below(400) : 4 + Below(100);
  size_t head = kind == 0 ? 3 : 2;
  Bytes b(head + skip);
  FillRandom(&b, 0);
  b[0] = kind == 0 ? 0xE9 : 0xEB;
  if (kind == 0)
    PutU16(&b[1], (uint16_t)skip);
  else
    b[1] = (uint8_t)skip;
  // The code moves up by head + skip: so does its message.
  PutU16(&host[3], (uint16_t)(GetU16(&host[3]) + head + skip));
  b.insert(b.end(), host.begin(), host.end());
  if (b.size() > size && size >= head + skip + 64) b.resize(size);
  return b;
}

static Bytes MzProgram(const std::string& name, size_t size) {
  Bytes host = MakeExeHost(HostText(name), size > 32 ? size - 32 : 0);
  FillBody(&host, 32);
  return host;
}

// A Word document: a compound file (512-byte sectors) holding one
// "WordDocument" stream that starts with the Word file identifier.
static Bytes WordDocument(size_t size) {
  const uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFat = 0xFFFFFFFD;
  size_t streamSectors = std::max<size_t>(9, (size + 511) / 512);   // above the mini-stream cut
  size_t fatSectors = 1;
  while (fatSectors * 128 < fatSectors + 1 + streamSectors) fatSectors++;
  if (fatSectors > 109) {
    fatSectors = 109;
    streamSectors = 109 * 128 - 110;
  }
  size_t total = fatSectors + 1 + streamSectors;
  Bytes b(512 * (1 + total), 0);
  static const uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(&b[0], kMagic, 8);
  PutU16(&b[24], 0x3E);           // minor version
  PutU16(&b[26], 3);              // major version: 512-byte sectors
  PutU16(&b[28], 0xFFFE);         // byte order
  PutU16(&b[30], 9);              // sector shift
  PutU16(&b[32], 6);              // mini sector shift
  PutU32(&b[44], (uint32_t)fatSectors);
  PutU32(&b[48], (uint32_t)fatSectors);   // first directory sector
  PutU32(&b[56], 4096);           // mini stream cut-off
  PutU32(&b[60], kEnd);           // no mini FAT
  PutU32(&b[68], kEnd);           // no DIFAT sectors
  for (size_t i = 0; i < 109; i++) PutU32(&b[76 + 4 * i], i < fatSectors ? (uint32_t)i : kFree);
  auto sector = [&](size_t n) { return &b[512 * (1 + n)]; };
  auto fat = [&](size_t n, uint32_t v) { PutU32(sector(n / 128) + 4 * (n % 128), v); };
  for (size_t n = 0; n < fatSectors * 128; n++) fat(n, kFree);
  for (size_t n = 0; n < fatSectors; n++) fat(n, kFat);
  fat(fatSectors, kEnd);
  size_t first = fatSectors + 1;
  for (size_t n = 0; n < streamSectors; n++)
    fat(first + n, n + 1 < streamSectors ? (uint32_t)(first + n + 1) : kEnd);
  // Directory: the root entry and the stream.
  auto entry = [&](int i, const char* name, uint8_t type, uint32_t child, uint32_t start,
                   uint32_t length) {
    uint8_t* e = sector(fatSectors) + 128 * i;
    size_t n = std::strlen(name);
    for (size_t k = 0; k < n; k++) PutU16(e + 2 * k, (uint8_t)name[k]);
    PutU16(e + 64, (uint16_t)(2 * (n + 1)));
    e[66] = type;
    e[67] = 1;                    // black
    PutU32(e + 68, kFree);
    PutU32(e + 72, kFree);
    PutU32(e + 76, child);
    PutU32(e + 116, start);
    PutU32(e + 120, length);
  };
  for (int i = 0; i < 4; i++) {
    uint8_t* e = sector(fatSectors) + 128 * i;
    PutU32(e + 68, kFree);
    PutU32(e + 72, kFree);
    PutU32(e + 76, kFree);
  }
  entry(0, "Root Entry", 5, 1, kEnd, 0);
  entry(1, "WordDocument", 2, kFree, (uint32_t)first, (uint32_t)(512 * streamSectors));
  // The stream: the Word identifier, then text.
  uint8_t* s = sector(first);
  PutU16(s, 0xA5EC);
  PutU16(s + 2, 0x00C1);
  size_t at = 512;
  static const char* const kWords[] = {"the", "archive", "program", "disk", "install", "copy",
                                       "manual", "chapter", "menu", "press", "key", "file"};
  while (at + 12 < 512 * streamSectors) {
    const char* w = kWords[Below(12)];
    size_t n = std::strlen(w);
    std::memcpy(s + at, w, n);
    s[at + n] = ' ';
    at += n + 1;
  }
  return b;
}

static Bytes TextFile(size_t size) {
  static const char* const kWords[] = {"This", "program", "is", "shareware", "register", "for",
                                       "the", "full", "version", "disk", "DOS", "run", "to", "and"};
  Bytes b;
  b.reserve(size + 16);
  size_t column = 0;
  while (b.size() < size) {
    const char* w = kWords[Below(14)];
    for (const char* p = w; *p; p++) b.push_back((uint8_t)*p);
    column += std::strlen(w) + 1;
    if (column > 64) {
      b.push_back('\r');
      b.push_back('\n');
      column = 0;
    } else {
      b.push_back(' ');
    }
  }
  return b;
}

static Bytes DataFile(size_t size) {
  Bytes b(size);
  FillRandom(&b, 0);
  return b;
}

// ---------------------------------------------------------------------------
// Infections: the database's signatures that can be planted, by kind.

struct Infection {
  const CtlSignatureDef* sig;
  std::vector<CtlConfirmDef> confirms;
  std::string name;
};

static void CollectInfections(const CtlDatabase& db, std::vector<Infection>* com,
                              std::vector<Infection>* exe) {
  for (const CtlVirusDef& v : db.viruses) {
    std::string name = v.names.empty() ? "unknown" : v.names[0];
    for (const CtlSignatureDef& s : v.signatures) {
      Infection in{&s, s.needsConfirmation ? v.confirms : std::vector<CtlConfirmDef>{}, name};
      if (!s.comKeys.empty() && s.comKeys[0] != 0xE9) com->push_back(in);
      if (!s.exeKeys.empty() && s.exeKeys[0] != 0xE9) exe->push_back(in);
    }
  }
}

// ---------------------------------------------------------------------------
// The tree

enum Kind { kCom, kExe, kOverlayMz, kOverlayRaw, kDoc, kText, kData, kKinds };

struct Directory {
  std::string path;              // relative to OUTDIR, "" for the root
  int depth;
  std::set<std::string> taken;   // names in use, upper case
};

static bool WriteBytes(const fs::path& p, const Bytes& b) {
  FILE* f = std::fopen(p.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

static const char kUsage[] =
    "Usage: kvbench-corpus [--small] [--files N] [--seed S] [--database CTL]\n"
    "                      [--manifest FILE] OUTDIR\n";

int main(int argc, char** argv) {
  long files = 20000;
  uint64_t seed = 1;
  const char* database = nullptr;
  const char* manifestPath = nullptr;
  const char* outDir = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    bool more = i + 1 < argc;
    if (std::strcmp(a, "--small") == 0) {
      files = 2000;
    } else if (std::strcmp(a, "--files") == 0 && more) {
      files = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(a, "--seed") == 0 && more) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(a, "--database") == 0 && more) {
      database = argv[++i];
    } else if (std::strcmp(a, "--manifest") == 0 && more) {
      manifestPath = argv[++i];
    } else if (a[0] == '-') {
      std::fprintf(stderr, "kvbench-corpus: unknown option %s\n%s", a, kUsage);
      return 2;
    } else {
      outDir = a;
    }
  }
  if (!outDir || !database || files < 10) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }

  FILE* f = std::fopen(database, "rb");
  Bytes raw;
  if (f) {
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) raw.insert(raw.end(), buf, buf + n);
    std::fclose(f);
  }
  CtlImage image;
  std::string err;
  if (raw.empty() || !ReadCtlImage(raw, &image, &err)) {
    std::fprintf(stderr, "kvbench-corpus: cannot read %s %s\n", database, err.c_str());
    return 1;
  }
  CtlDatabase db = DecompileCtlImage(image);
  std::vector<Infection> comInfections, exeInfections;
  CollectInfections(db, &comInfections, &exeInfections);
  if (comInfections.empty() && exeInfections.empty()) {
    std::fprintf(stderr, "kvbench-corpus: %s has no signature to plant\n", database);
    return 1;
  }

  gRandom = seed;
  fs::path out(outDir);
  std::error_code ec;
  if (fs::exists(out, ec) && !fs::is_empty(out, ec)) {
    std::fprintf(stderr, "kvbench-corpus: %s exists and is not empty\n", outDir);
    return 1;
  }

  // Directories: a dozen top-level collections, then program directories
  // below them, at most four levels deep; about one per 60 files.
  static const char* const kTop[] = {"GAMES", "UTILS", "DEV", "BBS", "DOCS", "GRAPHICS",
                                     "SOUND", "COMM", "DISKUTIL", "EDUCAT", "BUSINESS", "MISC"};
  std::vector<Directory> dirs;
  dirs.push_back({"", 0, {}});
  long wantDirs = std::max<long>(13, files / 60);
  for (const char* t : kTop) {
    if ((long)dirs.size() >= wantDirs) break;
    dirs[0].taken.insert(t);
    dirs.push_back({t, 1, {}});
  }
  while ((long)dirs.size() < wantDirs) {
    size_t parent = 1 + Below((uint32_t)dirs.size() - 1);
    if (dirs[parent].depth >= 4) continue;
    std::string name = UniqueName(&dirs[parent].taken, "");
    dirs.push_back({dirs[parent].path + "/" + name, dirs[parent].depth + 1, {}});
  }
  for (const Directory& d : dirs) fs::create_directories(out / d.path, ec);

  // Files. The mix: COM 22 %, MZ 33 %, overlays 5 % (three in five MZ),
  // documents 10 %, text 15 %, data 15 %.
  static const int kPercent[kKinds] = {22, 33, 3, 2, 10, 15, 15};
  static const char* const kTextExt[] = {".TXT", ".DIZ", ".NFO", ".BAT", ".CFG", ".ME", ".LST"};
  static const char* const kDataExt[] = {".DAT", ".PIC", ".FNT", ".HLP", ".LIB", ".OBJ", ".ZIP"};
  long counts[kKinds] = {};
  long infected = 0, programs = 0, candidates = 0;
  unsigned long long bytes = 0, candidateBytes = 0;
  size_t nextCom = 0, nextExe = 0;
  std::vector<std::string> manifest;
  for (long i = 0; i < files; i++) {
    uint32_t r = Below(100);
    int kind = 0;
    for (int acc = kPercent[0]; (int)r >= acc; acc += kPercent[++kind]) {
    }
    Directory& d = dirs[Below(100) == 0 ? 0 : 1 + Below((uint32_t)dirs.size() - 1)];
    Bytes content;
    std::string ext;
    bool program = false, mz = false;
    switch (kind) {
      case kCom:
        ext = ".COM";
        program = true;
        content = ComProgram("PROGRAM", SomeSize(1024, 60 * 1024));
        break;
      case kExe:
        ext = ".EXE";
        program = mz = true;
        content = MzProgram("PROGRAM", SomeSize(10 * 1024, 600 * 1024));
        break;
      case kOverlayMz:
        ext = Below(2) ? ".OVL" : ".OVR";
        program = mz = true;
        content = MzProgram("OVERLAY", SomeSize(10 * 1024, 300 * 1024));
        break;
      case kOverlayRaw:
        ext = Below(2) ? ".OVL" : ".OVR";
        content = DataFile(SomeSize(5 * 1024, 200 * 1024));
        break;
      case kDoc:
        ext = Below(8) ? ".DOC" : ".DOT";
        content = WordDocument(SomeSize(8 * 1024, 200 * 1024));
        break;
      case kText:
        ext = kTextExt[Below(7)];
        content = TextFile(SomeSize(1024, 100 * 1024));
        break;
      default:
        ext = kDataExt[Below(7)];
        content = DataFile(SomeSize(1024, 300 * 1024));
        break;
    }
    std::string name = UniqueName(&d.taken, ext);
    std::string rel = d.path.empty() ? name : d.path + "/" + name;
    if (program) {
      programs++;
      // About one program in a hundred is infected; the infections take
      // the database's signatures in turn.
      std::vector<Infection>& pool = mz ? exeInfections : comInfections;
      if (!pool.empty() && Below(100) == 0) {
        size_t& next = mz ? nextExe : nextCom;
        const Infection& in = pool[next++ % pool.size()];
        Planted p;
        if (PlantSignature(content, mz, *in.sig, in.confirms, &p)) {
          content = p.file;
          manifest.push_back(rel + "\t" + in.name);
          infected++;
        }
      }
    }
    if (!WriteBytes(out / rel, content)) {
      std::fprintf(stderr, "kvbench-corpus: cannot write %s\n", (out / rel).c_str());
      return 1;
    }
    counts[kind]++;
    bytes += content.size();
    if (kind != kText && kind != kData) {
      candidates++;
      candidateBytes += content.size();
    }
  }
  // The EICAR test file itself, once, at the root.
  if (!comInfections.empty()) {
    for (const Infection& in : comInfections) {
      if (in.name != "EICAR-Test-File") continue;
      std::string name = UniqueName(&dirs[0].taken, ".COM");
      Bytes e = EicarTestFile();
      if (!WriteBytes(out / name, e)) return 1;
      manifest.push_back(name + "\t" + in.name);
      infected++;
      candidates++;
      candidateBytes += e.size();
      bytes += e.size();
      files++;
      counts[kCom]++;
      break;
    }
  }

  std::sort(manifest.begin(), manifest.end());
  if (manifestPath) {
    FILE* m = std::fopen(manifestPath, "w");
    if (!m) {
      std::fprintf(stderr, "kvbench-corpus: cannot write %s\n", manifestPath);
      return 1;
    }
    for (const std::string& line : manifest) std::fprintf(m, "%s\n", line.c_str());
    std::fclose(m);
  }
  std::printf("COM %ld, MZ %ld, overlays %ld, documents %ld, text %ld, data %ld; %ld programs, %ld infected\n",
              counts[kCom], counts[kExe], counts[kOverlayMz] + counts[kOverlayRaw], counts[kDoc],
              counts[kText], counts[kData], programs, infected);
  std::printf("corpus files %ld bytes %llu dirs %zu candidates %ld candidate_bytes %llu infected %ld\n",
              files, bytes, dirs.size(), candidates, candidateBytes, infected);
  return 0;
}
