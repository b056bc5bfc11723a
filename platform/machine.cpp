// The machine directory and its drive map: see machine.h.
#include "platform/machine.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

static struct {
  std::string dir;                              // machine directory in use
  std::array<std::optional<DriveInfo>, 26> drives;  // by letter - 'A'
} gMachine;

static const struct {
  const char* word;
  DriveType type;
} kDriveTypes[] = {
    {"fixed", kDriveFixed},     {"removable", kDriveRemovable},
    {"cdrom", kDriveCdrom},     {"remote", kDriveRemote},
    {"ramdisk", kDriveRamdisk},
};

const std::string& MachineDir() {
  if (gMachine.dir.empty()) {
    const char* env = std::getenv("KORVANE_MACHINE");
    gMachine.dir = (env && *env) ? env : kDefaultMachineDir;
  }
  return gMachine.dir;
}

// Splits one line into words; a word in double quotes may hold blanks
// (written as key="a b" or "a b"). Returns false on an unclosed quote.
static bool SplitWords(const std::string& line, std::vector<std::string>* words) {
  size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) i++;
    if (i >= n || line[i] == '#') break;
    std::string w;
    while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
      if (line[i] == '"') {
        size_t close = line.find('"', i + 1);
        if (close == std::string::npos) return false;
        w.append(line, i + 1, close - i - 1);
        i = close + 1;
      } else if (line[i] == '#' && w.empty()) {
        break;
      } else {
        w.push_back(line[i++]);
      }
    }
    if (!w.empty() || (i > 0 && line[i - 1] == '"')) words->push_back(w);
  }
  return true;
}

bool ParseDrivesConf(const std::string& text, const std::string& name,
                     std::string* error) {
  std::array<std::optional<DriveInfo>, 26> drives;
  size_t pos = 0;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    *error = name + ":" + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (pos <= text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    lineNo++;
    std::vector<std::string> words;
    if (!SplitWords(line, &words)) return fail("unclosed double quote");
    if (words.empty()) {
      if (eol == text.size()) break;
      continue;
    }
    const std::string& d = words[0];
    if (d.size() != 2 || d[1] != ':' || !std::isalpha((unsigned char)d[0]))
      return fail("expected a drive letter such as C:, found \"" + d + "\"");
    char letter = (char)std::toupper((unsigned char)d[0]);
    if (words.size() < 3) return fail("expected LETTER: TYPE HOSTDIR");
    DriveInfo info{letter, kDriveUnknown, words[2], "", ""};
    for (const auto& t : kDriveTypes)
      if (words[1] == t.word) info.type = t.type;
    if (info.type == kDriveUnknown)
      return fail("unknown drive type \"" + words[1] +
                  "\" (fixed, removable, cdrom, remote or ramdisk)");
    if (info.hostDir.empty() || info.hostDir[0] != '/')
      return fail("host directory must be an absolute path");
    while (info.hostDir.size() > 1 && info.hostDir.back() == '/') info.hostDir.pop_back();
    for (size_t k = 3; k < words.size(); k++) {
      const std::string& w = words[k];
      if (w.rfind("label=", 0) == 0)
        info.label = w.substr(6);
      else if (w.rfind("image=", 0) == 0)
        info.image = w.substr(6);
      else
        return fail("unknown option \"" + w + "\" (label= or image=)");
    }
    if (drives[letter - 'A']) return fail(std::string("drive ") + letter + ": given twice");
    drives[letter - 'A'] = info;
    if (eol == text.size()) break;
  }
  gMachine.drives = drives;
  return true;
}

bool MachineOpen(const char* dir, std::string* error) {
  gMachine.dir.clear();
  if (dir && *dir) gMachine.dir = dir;
  for (auto& d : gMachine.drives) d.reset();
  std::string path = MachineDir() + "/drives.conf";
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return true;   // no drive map yet: no drives
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  if (!ParseDrivesConf(text, path, error)) {
    for (auto& d : gMachine.drives) d.reset();
    return false;
  }
  return true;
}

const DriveInfo* FindDrive(char letter) {
  int c = std::toupper((unsigned char)letter);
  if (c < 'A' || c > 'Z') return nullptr;
  const auto& d = gMachine.drives[c - 'A'];
  return d ? &*d : nullptr;
}

DriveType GetDriveType(char letter) {
  const DriveInfo* d = FindDrive(letter);
  return d ? d->type : kDriveNoRoot;
}

bool MapDrive(char letter, DriveType type, const std::string& hostDir,
              const std::string& label) {
  int c = std::toupper((unsigned char)letter);
  if (c < 'A' || c > 'Z' || hostDir.empty() || hostDir[0] != '/') return false;
  std::string dir = hostDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  gMachine.drives[c - 'A'] = DriveInfo{(char)c, type, dir, label, ""};
  return true;
}

void UnmapDrive(char letter) {
  int c = std::toupper((unsigned char)letter);
  if (c >= 'A' && c <= 'Z') gMachine.drives[c - 'A'].reset();
}

unsigned FixedDriveMask() {
  unsigned mask = 0;
  for (int i = 0; i < 26; i++)
    if (gMachine.drives[i] && gMachine.drives[i]->type == kDriveFixed) mask |= 1u << i;
  return mask;
}
