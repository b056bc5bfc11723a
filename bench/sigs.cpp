// kvbench-sigs: the benchmark's two uses of a virus database.
//
//   kvbench-sigs ndb CTL OUT.ndb
//       Writes every signature of CTL as a ClamAV extended signature (one
//       line "NAME:0:*:HEX", any file type, any offset): the pattern bytes
//       in hex, "??" for the wildcard byte, and for a signature that needs
//       confirmation its confirmation patterns at their distances ({n}
//       skips n bytes). ClamAV has no entry point for DOS programs, so the
//       pattern may lie anywhere in the file. A signature whose COM and EXE
//       placements differ gives a line for each.
//
//   kvbench-sigs fill [--seed S] [--count N] CTL OUT.src
//       Writes database source text: the definitions of CTL, then synthetic
//       ones ("Bench-Filler.NUMBER", random bytes that no sample carries)
//       until there are N signatures (default 3,276, the most a database
//       may hold). They are filed under the bytes that programs commonly
//       start with, most at the entry point, some before it, after it and
//       beyond the scan window, a tenth with confirmation patterns. Build
//       it with ctlbuild.
//
// State: the random stream of fill (file static).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/ctlbuild/ctl_image.h"

static bool ReadDatabase(const char* path, CtlDatabase* db) {
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "kvbench-sigs: cannot open %s\n", path);
    return false;
  }
  std::vector<uint8_t> raw;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) raw.insert(raw.end(), buf, buf + n);
  std::fclose(f);
  CtlImage image;
  std::string err;
  if (!ReadCtlImage(raw, &image, &err)) {
    std::fprintf(stderr, "kvbench-sigs: cannot read %s: %s\n", path, err.c_str());
    return false;
  }
  *db = DecompileCtlImage(image);
  return true;
}

// ---------------------------------------------------------------------------
// ClamAV export

// The bytes a signature requires, by offset from the entry point, for one
// kind of program. False when two patterns ask for different bytes at one
// place (such a signature can never match).
static bool Layout(const CtlVirusDef& v, const CtlSignatureDef& s, bool mz,
                   std::map<int, uint8_t>* bytes) {
  auto put = [&](int at, const std::vector<uint8_t>& pattern) {
    for (size_t i = 0; i < pattern.size(); i++) {
      auto [it, fresh] = bytes->emplace(at + (int)i, pattern[i]);
      if (fresh || pattern[i] == kCtlWildcard) continue;
      if (it->second == kCtlWildcard) it->second = pattern[i];
      else if (it->second != pattern[i]) return false;
    }
    return true;
  };
  if (!put(mz ? s.exeOffset : s.comOffset, s.pattern)) return false;
  if (s.needsConfirmation)
    for (const CtlConfirmDef& c : v.confirms)
      if (!put(mz ? c.exeOffset : c.comOffset, c.pattern)) return false;
  return true;
}

// ClamAV's hex form: "??" for the wildcard, "{n}" for n bytes not asked
// for. Wildcards at either end ask for nothing ClamAV can use and are left
// out.
static std::string ClamHex(const std::map<int, uint8_t>& bytes) {
  std::vector<std::pair<int, uint8_t>> fixed(bytes.begin(), bytes.end());
  while (!fixed.empty() && fixed.front().second == kCtlWildcard) fixed.erase(fixed.begin());
  while (!fixed.empty() && fixed.back().second == kCtlWildcard) fixed.pop_back();
  std::string hex;
  for (size_t i = 0; i < fixed.size(); i++) {
    if (i > 0 && fixed[i].first != fixed[i - 1].first + 1)
      hex += "{" + std::to_string(fixed[i].first - fixed[i - 1].first - 1) + "}";
    char b[4];
    std::snprintf(b, sizeof b, "%02x", fixed[i].second);
    hex += fixed[i].second == kCtlWildcard ? "??" : b;
  }
  return hex;
}

static int ExportNdb(const char* ctl, const char* out) {
  CtlDatabase db;
  if (!ReadDatabase(ctl, &db)) return 1;
  std::set<std::string> lines;
  std::vector<std::string> ordered;
  for (const CtlVirusDef& v : db.viruses) {
    std::string name = v.names.empty() ? "unknown" : v.names[0];
    for (char& c : name)
      if (c == ':' || c == ' ') c = '_';
    for (const CtlSignatureDef& s : v.signatures) {
      for (int mz = 0; mz < 2; mz++) {
        if ((mz ? s.exeKeys : s.comKeys).empty()) continue;   // never tried there
        std::map<int, uint8_t> bytes;
        if (!Layout(v, s, mz != 0, &bytes)) continue;
        std::string hex = ClamHex(bytes);
        if (hex.size() < 4) continue;
        std::string line = name + ":0:*:" + hex;
        if (lines.insert(line).second) ordered.push_back(line);
      }
    }
  }
  FILE* f = std::fopen(out, "w");
  if (!f) {
    std::fprintf(stderr, "kvbench-sigs: cannot write %s\n", out);
    return 1;
  }
  for (const std::string& line : ordered) std::fprintf(f, "%s\n", line.c_str());
  if (std::fclose(f) != 0) return 1;
  std::printf("kvbench-sigs: %zu ClamAV signatures written to %s\n", ordered.size(), out);
  return 0;
}

// ---------------------------------------------------------------------------
// A full database

static uint64_t gRandom;

static uint32_t Below(uint32_t n) {
  uint64_t z = (gRandom += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return (uint32_t)(((z >> 32) * n) >> 32);
}

// A random byte other than the wildcard.
static uint8_t SomeByte() {
  for (;;) {
    uint8_t b = (uint8_t)Below(256);
    if (b != kCtlWildcard) return b;
  }
}

// Entry-point bytes common in DOS programs (repeats weigh them); E9 never
// stays at an entry the scanner has followed, so it is not among them.
static const uint8_t kComKeys[] = {0xB4, 0xB4, 0xB4, 0xE8, 0xE8, 0xE8, 0xB8, 0xB8, 0xBA, 0xBA,
                                   0xBE, 0xBE, 0xBF, 0xBB, 0xFC, 0xFA, 0x8C, 0x0E, 0x1E, 0x50,
                                   0x33, 0x2E, 0x06, 0xEB, 0x55, 0x9C};
static const uint8_t kExeKeys[] = {0x0E, 0x0E, 0x0E, 0xB8, 0xB8, 0xB8, 0xBA, 0xBA, 0x1E, 0x1E,
                                   0x8C, 0x8C, 0xFA, 0xFC, 0x50, 0x33, 0xE8, 0xB4, 0x55, 0x06,
                                   0x2E, 0xBE, 0x9C, 0xBB};

static int16_t SomeOffset() {
  uint32_t r = Below(100);
  if (r < 80) return 0;
  if (r < 90) return (int16_t)-(1 + (int)Below(400));
  if (r < 98) return (int16_t)(1 + Below(3500));
  return (int16_t)(3501 + Below(2500));
}

static int Fill(uint64_t seed, int count, const char* ctl, const char* out) {
  CtlDatabase db;
  if (!ReadDatabase(ctl, &db)) return 1;
  gRandom = seed;
  int have = 0;
  std::set<int> numbers;
  for (const CtlVirusDef& v : db.viruses) {
    have += (int)v.signatures.size();
    numbers.insert(v.number);
  }
  int number = 1000;
  for (; have < count; have++) {
    while (numbers.count(number)) number++;
    CtlVirusDef v;
    v.number = (int16_t)number++;
    v.names.push_back("Bench-Filler." + std::to_string(v.number));
    CtlSignatureDef s{};
    size_t length = 10 + Below(7);
    for (size_t i = 0; i < length; i++)
      s.pattern.push_back(i >= 4 && Below(8) == 0 ? kCtlWildcard : SomeByte());
    uint32_t kinds = Below(100);   // 45 both, 30 COM only, 25 EXE only
    bool com = kinds < 75, exe = kinds < 45 || kinds >= 75;
    int16_t offset = SomeOffset();
    s.comOffset = s.exeOffset = offset;
    uint8_t comKey = kComKeys[Below(sizeof kComKeys)];
    uint8_t exeKey = kExeKeys[Below(sizeof kExeKeys)];
    if (offset == 0) {
      // At the entry point the first pattern byte is the byte filed under.
      s.pattern[0] = com ? comKey : exeKey;
      comKey = exeKey = s.pattern[0];
    }
    if (com) s.comKeys.push_back(comKey);
    if (exe) s.exeKeys.push_back(exeKey);
    if (Below(10) == 0) {
      s.needsConfirmation = true;
      int n = 1 + (int)Below(2);
      for (int k = 0; k < n; k++) {
        CtlConfirmDef c{};
        c.comOffset = c.exeOffset = (int16_t)((int)Below(3900) - 400);
        size_t len = 2 + Below(11);
        for (size_t i = 0; i < len; i++) c.pattern.push_back(SomeByte());
        v.confirms.push_back(c);
      }
    }
    v.signatures.push_back(s);
    db.viruses.push_back(v);
  }
  FILE* f = std::fopen(out, "w");
  if (!f) {
    std::fprintf(stderr, "kvbench-sigs: cannot write %s\n", out);
    return 1;
  }
  std::string text = PrintCtlSource(db);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !ok) return 1;
  std::printf("kvbench-sigs: %d signatures written to %s\n", have, out);
  return 0;
}

static const char kUsage[] =
    "Usage: kvbench-sigs ndb CTL OUT.ndb\n"
    "       kvbench-sigs fill [--seed S] [--count N] CTL OUT.src\n";

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "ndb") == 0) return ExportNdb(argv[2], argv[3]);
  if (argc >= 4 && std::strcmp(argv[1], "fill") == 0) {
    uint64_t seed = 1;
    int count = kCtlMaxSignatures;
    int i = 2;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
      if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
      else if (std::strcmp(argv[i], "--count") == 0) count = std::atoi(argv[i + 1]);
      else break;
    }
    if (i + 2 == argc && count > 0 && count <= kCtlMaxSignatures)
      return Fill(seed, count, argv[i], argv[i + 1]);
  }
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}
