// The database source text: reading it into a CtlDatabase and printing a
// CtlDatabase in its canonical form. The format is described at the top of
// ctl_image.cpp.
//
// The reader applies every limit of the compiler as it goes, so a source it
// accepts always compiles, and a mistake is reported with its line number.
// It stops at the first error.
//
// State: none (the reader's state lives in one record per call). Callers:
// ctlbuild and the tests.

#include <algorithm>
#include <cstring>

#include "tools/ctlbuild/ctl_checks.h"
#include "tools/ctlbuild/ctl_image.h"

// ---------------------------------------------------------------------------
// Tokens.

struct CtlToken {
  std::string text;
  bool quoted;          // a string in double quotes (escapes resolved)
};

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits one line into tokens; a '#' outside a string ends it.
static bool Tokenize(const std::string& line, std::vector<CtlToken>* tokens, std::string* why) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      i++;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string text;
      i++;
      for (;;) {
        if (i >= line.size()) {
          *why = "a string is not closed";
          return false;
        }
        char d = line[i++];
        if (d == '"') break;
        if (d != '\\') {
          text += d;
          continue;
        }
        char e = i < line.size() ? line[i++] : '\0';
        if (e == '"' || e == '\\') {
          text += e;
        } else if (e == 'x' && i + 1 < line.size() && HexDigit(line[i]) >= 0 &&
                   HexDigit(line[i + 1]) >= 0) {
          int v = HexDigit(line[i]) * 16 + HexDigit(line[i + 1]);
          if (v == 0) {
            *why = "a string may not contain \\x00";
            return false;
          }
          text += (char)v;
          i += 2;
        } else {
          *why = "unknown escape in a string (use \\\" \\\\ or \\xHH)";
          return false;
        }
      }
      tokens->push_back(CtlToken{text, true});
    } else {
      size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
             line[i] != '"' && line[i] != '#')
        i++;
      tokens->push_back(CtlToken{line.substr(start, i - start), false});
    }
  }
  return true;
}

// A byte token: two hex digits, or "??" for the wildcard where allowed.
static bool IsByteToken(const CtlToken& t, bool wildcard) {
  if (t.quoted || t.text.size() != 2) return false;
  if (t.text == "??") return wildcard;
  return HexDigit(t.text[0]) >= 0 && HexDigit(t.text[1]) >= 0;
}

static uint8_t ByteOf(const CtlToken& t) {
  if (t.text == "??") return kCtlWildcard;
  return (uint8_t)(HexDigit(t.text[0]) * 16 + HexDigit(t.text[1]));
}

// A decimal number (optionally signed; with `hex`, also 0x...) within
// min..max.
static bool ParseNumber(const CtlToken& t, long min, long max, bool hex, long* out) {
  if (t.quoted || t.text.empty()) return false;
  const std::string& s = t.text;
  size_t i = 0;
  bool negative = false;
  if (s[0] == '-' || s[0] == '+') {
    negative = s[0] == '-';
    i = 1;
  }
  int base = 10;
  if (hex && s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  long long v = 0;
  for (; i < s.size(); i++) {
    int d = HexDigit(s[i]);
    if (d < 0 || d >= base) return false;
    v = v * base + d;
    if (v > 0x100000000LL) return false;
  }
  if (negative) v = -v;
  if (v < min || v > max) return false;
  *out = (long)v;
  return true;
}

static std::string Quoted(const std::string& text);

// ---------------------------------------------------------------------------
// The reader.

enum CtlBlock { kBlockNone, kBlockVirus, kBlockMacro };

struct CtlReader {
  CtlDatabase* db;
  CtlBlock block;                 // the block the current line belongs to
  int blockLine;                  // line of its header
  bool macroHasPattern;           // the open macro block has its pattern
  bool haveTitle;
  std::vector<int> virusLine;     // line that defined each virus number, 0 = none
  long signatures, comEntries, exeEntries, confirms, names, vaccines;
  int line;                       // current line, for messages of a closing block
  int errorLine;                  // line an error belongs to, when not the current one
};

using CtlTokens = std::vector<CtlToken>;

// Ends the open block: a virus must define something, a macro needs its
// pattern. The error belongs to the block's header line.
static bool CloseBlock(CtlReader* r, std::string* why) {
  if (r->block == kBlockVirus) {
    const CtlVirusDef& v = r->db->viruses.back();
    if (v.names.empty() && v.signatures.empty() && v.confirms.empty() && v.vaccines.empty()) {
      *why = "virus " + std::to_string(v.number) + " defines nothing";
      r->errorLine = r->blockLine;
      return false;
    }
  } else if (r->block == kBlockMacro && !r->macroHasPattern) {
    *why = "macro virus " + Quoted(r->db->macros.back().name) + " has no pattern line";
    r->errorLine = r->blockLine;
    return false;
  }
  r->block = kBlockNone;
  return true;
}

static bool ReadTitle(CtlReader* r, const CtlTokens& t, std::string* why) {
  if (r->haveTitle) {
    *why = "the title is given twice";
    return false;
  }
  if (t.size() != 2 || !t[1].quoted) {
    *why = "use: title \"TEXT\"";
    return false;
  }
  if (!CheckCtlTitle(t[1].text, why)) return false;
  r->db->title = t[1].text;
  r->haveTitle = true;
  return true;
}

static bool AddVirusName(CtlReader* r, const std::string& name, std::string* why) {
  if (!CheckCtlVirusName(name, why)) return false;
  if (++r->names > kCtlMaxNames) {
    *why = "more than " + CtlGrouped(kCtlMaxNames) + " names";
    return false;
  }
  r->db->viruses.back().names.push_back(name);
  return true;
}

static bool ReadVirus(CtlReader* r, const CtlTokens& t, std::string* why) {
  if (!CloseBlock(r, why)) return false;
  long number;
  if (t.size() < 2 || t.size() > 3 || !ParseNumber(t[1], -32768, 32767, false, &number) ||
      (t.size() == 3 && !t[2].quoted)) {
    *why = "use: virus NUMBER [\"NAME\"] with NUMBER in -32768..32767";
    return false;
  }
  int& seen = r->virusLine[(uint16_t)number];
  if (seen) {
    *why = "virus " + std::to_string(number) + " is already defined at line " +
           std::to_string(seen);
    return false;
  }
  seen = r->line;
  CtlVirusDef v{};
  v.number = (int16_t)number;
  r->db->viruses.push_back(v);
  r->block = kBlockVirus;
  r->blockLine = r->line;
  return t.size() == 2 || AddVirusName(r, t[2].text, why);
}

static bool ReadMacro(CtlReader* r, const CtlTokens& t, std::string* why) {
  if (!CloseBlock(r, why)) return false;
  long kind = 0, identifier = 0;
  bool haveKind = false, haveId = false;
  bool ok = t.size() == 6 && t[1].quoted;
  for (size_t i = 2; ok && i + 1 < t.size(); i += 2) {
    if (!t[i].quoted && t[i].text == "kind" && !haveKind)
      haveKind = ParseNumber(t[i + 1], -32768, 32767, false, &kind);
    else if (!t[i].quoted && t[i].text == "identifier" && !haveId)
      haveId = ParseNumber(t[i + 1], -32768, 32767, false, &identifier);
    else
      ok = false;
  }
  if (!ok || !haveKind || !haveId) {
    *why = "use: macro \"NAME\" kind KIND identifier IDENTIFIER (numbers in -32768..32767)";
    return false;
  }
  if (!CheckCtlVirusName(t[1].text, why)) return false;
  if (r->db->macros.size() >= (size_t)kCtlMaxMacros) {
    *why = "more than " + std::to_string(kCtlMaxMacros) + " macro viruses";
    return false;
  }
  CtlMacroRecord m{};
  m.name = t[1].text;
  m.kind = (int16_t)kind;
  m.identifier = (int16_t)identifier;
  r->db->macros.push_back(m);
  r->block = kBlockMacro;
  r->blockLine = r->line;
  r->macroHasPattern = false;
  return true;
}

static bool ReadName(CtlReader* r, const CtlTokens& t, std::string* why) {
  if (t.size() != 2 || !t[1].quoted) {
    *why = "use: name \"NAME\"";
    return false;
  }
  if (r->block == kBlockVirus) return AddVirusName(r, t[1].text, why);
  CtlMacroRecord& m = r->db->macros.back();
  if (!CheckCtlMacroName(t[1].text, why)) return false;
  if (m.names.size() >= (size_t)kCtlMaxMacroNames) {
    *why = "more than " + std::to_string(kCtlMaxMacroNames) + " macro names in one macro virus";
    return false;
  }
  m.names.push_back(t[1].text);
  m.nameCount = (int16_t)m.names.size();
  return true;
}

// Reads "com OFFSET [keys KEY...]" or "exe ..." starting at t[*i].
static bool ReadPlacement(const CtlTokens& t, size_t* i, bool keysAllowed, int16_t* offset,
                          bool* haveKeys, std::vector<uint8_t>* keys, std::string* why) {
  const std::string& kind = t[*i].text;
  long value;
  if (*i + 1 >= t.size() || !ParseNumber(t[*i + 1], -32768, 32767, false, &value)) {
    *why = "'" + kind + "' needs an offset in -32768..32767";
    return false;
  }
  *offset = (int16_t)value;
  *i += 2;
  if (!keysAllowed || *i >= t.size() || t[*i].quoted || t[*i].text != "keys") return true;
  (*i)++;
  *haveKeys = true;
  for (; *i < t.size() && IsByteToken(t[*i], true); (*i)++) {
    if (t[*i].text == "??") {
      *why = "a key is a plain entry-point byte; ?? is not allowed";
      return false;
    }
    uint8_t k = ByteOf(t[*i]);
    if (std::find(keys->begin(), keys->end(), k) != keys->end()) {
      *why = "the " + kind + " key " + t[*i].text + " is given twice";
      return false;
    }
    keys->push_back(k);
  }
  if (keys->empty()) {
    *why = "'keys' needs at least one byte";
    return false;
  }
  std::sort(keys->begin(), keys->end());
  return true;
}

// The keys of one kind: as given, or for offset 0 the first pattern byte.
static bool DefaultKeys(const char* kind, bool given, int16_t offset, bool haveKeys,
                        const std::vector<uint8_t>& pattern, std::vector<uint8_t>* keys,
                        std::string* why) {
  if (!given || haveKeys || offset != 0) return true;
  if (pattern[0] == kCtlWildcard) {
    *why = std::string("the first pattern byte is the wildcard, so '") + kind +
           " 0' needs explicit keys";
    return false;
  }
  keys->push_back(pattern[0]);
  return true;
}

static bool ReadSig(CtlReader* r, const CtlTokens& t, std::string* why) {
  CtlSignatureDef s{};
  size_t i = 1;
  for (; i < t.size() && IsByteToken(t[i], true); i++) s.pattern.push_back(ByteOf(t[i]));
  if (s.pattern.empty()) {
    *why = "use: sig BYTES [com OFFSET [keys KEY...]] [exe OFFSET [keys KEY...]] [needs-confirm]";
    return false;
  }
  if (!CheckCtlSignaturePattern(s.pattern, why)) return false;
  bool com = false, exe = false, comKeys = false, exeKeys = false;
  while (i < t.size()) {
    const std::string& word = t[i].quoted ? "" : t[i].text;
    bool* given = word == "com" ? &com : word == "exe" ? &exe : nullptr;
    if (given && *given) {
      *why = "'" + word + "' is given twice";
      return false;
    }
    if (word == "com") {
      com = true;
      if (!ReadPlacement(t, &i, true, &s.comOffset, &comKeys, &s.comKeys, why)) return false;
    } else if (word == "exe") {
      exe = true;
      if (!ReadPlacement(t, &i, true, &s.exeOffset, &exeKeys, &s.exeKeys, why)) return false;
    } else if (word == "needs-confirm" && !s.needsConfirmation) {
      s.needsConfirmation = true;
      i++;
    } else {
      *why = "unexpected '" + t[i].text + "' in a sig line";
      return false;
    }
  }
  if (!DefaultKeys("com", com, s.comOffset, comKeys, s.pattern, &s.comKeys, why) ||
      !DefaultKeys("exe", exe, s.exeOffset, exeKeys, s.pattern, &s.exeKeys, why))
    return false;
  if (++r->signatures > kCtlMaxSignatures) {
    *why = "more than " + CtlGrouped(kCtlMaxSignatures) + " signatures";
    return false;
  }
  r->comEntries += (long)s.comKeys.size();
  r->exeEntries += (long)s.exeKeys.size();
  if (r->comEntries > kCtlMaxListEntries || r->exeEntries > kCtlMaxListEntries) {
    *why = std::string("the ") + (r->comEntries > kCtlMaxListEntries ? "COM" : "EXE") +
           " index list would have more than " + CtlGrouped(kCtlMaxListEntries) +
           " entries (one per signature and key byte)";
    return false;
  }
  r->db->viruses.back().signatures.push_back(s);
  return true;
}

static bool ReadConfirm(CtlReader* r, const CtlTokens& t, std::string* why) {
  CtlConfirmDef c{};
  size_t i = 1;
  for (; i < t.size() && IsByteToken(t[i], true); i++) c.pattern.push_back(ByteOf(t[i]));
  if (c.pattern.empty()) {
    *why = "use: confirm BYTES [com OFFSET] [exe OFFSET]";
    return false;
  }
  if (!CheckCtlConfirmPattern(c.pattern, why)) return false;
  bool com = false, exe = false, unused = false;
  std::vector<uint8_t> none;
  while (i < t.size()) {
    const std::string& word = t[i].quoted ? "" : t[i].text;
    bool* given = word == "com" ? &com : word == "exe" ? &exe : nullptr;
    if (!given) {
      *why = "unexpected '" + t[i].text + "' in a confirm line";
      return false;
    }
    if (*given) {
      *why = "'" + word + "' is given twice";
      return false;
    }
    *given = true;
    if (!ReadPlacement(t, &i, false, word == "com" ? &c.comOffset : &c.exeOffset, &unused,
                       &none, why))
      return false;
  }
  if (++r->confirms > kCtlMaxConfirms) {
    *why = "more than " + CtlGrouped(kCtlMaxConfirms) + " confirmation patterns";
    return false;
  }
  r->db->viruses.back().confirms.push_back(c);
  return true;
}

// The fields of a vaccine line in record order; a row without a word is
// the signed 32-bit savedOffset.
struct CtlVaccineField {
  const char* name;
  uint16_t CtlVaccineRecord::*word;
};

static const CtlVaccineField kVaccineFields[] = {
    {"firstWord", &CtlVaccineRecord::firstWord},
    {"exeRoutine", &CtlVaccineRecord::exeRoutine},
    {"csFromEnd", &CtlVaccineRecord::csFromEnd},
    {"ipFromEnd", &CtlVaccineRecord::ipFromEnd},
    {"ssFromEnd", &CtlVaccineRecord::ssFromEnd},
    {"spFromEnd", &CtlVaccineRecord::spFromEnd},
    {"exeCutLength", &CtlVaccineRecord::exeCutLength},
    {"exePreOp", &CtlVaccineRecord::exePreOp},
    {"comRoutine", &CtlVaccineRecord::comRoutine},
    {"comPreOp", &CtlVaccineRecord::comPreOp},
    {"savedOffset", nullptr},
    {"savedLength", &CtlVaccineRecord::savedLength},
    {"savedOrigin", &CtlVaccineRecord::savedOrigin},
    {"restoreLength", &CtlVaccineRecord::restoreLength},
    {"comCutLength", &CtlVaccineRecord::comCutLength},
    {"comPostOp", &CtlVaccineRecord::comPostOp},
};
constexpr int kVaccineFieldCount = (int)(sizeof(kVaccineFields) / sizeof(kVaccineFields[0]));
static_assert(kVaccineFieldCount == 16);

static bool ReadVaccine(CtlReader* r, const CtlTokens& t, std::string* why) {
  CtlVaccineRecord v{};
  bool given[kVaccineFieldCount] = {};
  for (size_t i = 1; i < t.size(); i++) {
    size_t eq = t[i].quoted ? std::string::npos : t[i].text.find('=');
    if (eq == std::string::npos) {
      *why = "use: vaccine FIELD=VALUE ...";
      return false;
    }
    std::string name = t[i].text.substr(0, eq);
    CtlToken value{t[i].text.substr(eq + 1), false};
    int f = 0;
    while (f < kVaccineFieldCount && name != kVaccineFields[f].name) f++;
    if (f == kVaccineFieldCount) {
      *why = "unknown vaccine field '" + name + "'";
      return false;
    }
    if (given[f]) {
      *why = "the vaccine field " + name + " is given twice";
      return false;
    }
    given[f] = true;
    long number;
    if (!kVaccineFields[f].word) {
      if (!ParseNumber(value, -2147483648L, 2147483647L, true, &number)) {
        *why = "savedOffset needs a number in -2147483648..2147483647";
        return false;
      }
      v.savedOffset = (int32_t)number;
    } else {
      if (!ParseNumber(value, 0, 65535, true, &number)) {
        *why = "the vaccine field " + name + " needs a number in 0..65535";
        return false;
      }
      v.*kVaccineFields[f].word = (uint16_t)number;
    }
  }
  if (++r->vaccines > kCtlMaxVaccines) {
    *why = "more than " + CtlGrouped(kCtlMaxVaccines) + " vaccines";
    return false;
  }
  r->db->viruses.back().vaccines.push_back(v);
  return true;
}

static bool ReadPattern(CtlReader* r, const CtlTokens& t, std::string* why) {
  if (r->macroHasPattern) {
    *why = "the macro virus has a pattern already";
    return false;
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 1; i < t.size(); i++) {
    if (!IsByteToken(t[i], false)) {
      *why = "a macro pattern is 20 bytes of two hex digits each (no wildcard)";
      return false;
    }
    bytes.push_back(ByteOf(t[i]));
  }
  if (bytes.size() != (size_t)kCtlMacroPatternSize) {
    *why = "a macro pattern has " + CtlCountOf(bytes.size(), "byte") + "; it needs exactly 20";
    return false;
  }
  std::memcpy(r->db->macros.back().pattern, bytes.data(), kCtlMacroPatternSize);
  r->macroHasPattern = true;
  return true;
}

// The statements: keyword, the blocks it may stand in (bit per CtlBlock),
// and its reader.
struct CtlStatement {
  const char* keyword;
  unsigned blocks;
  bool (*read)(CtlReader* r, const CtlTokens& t, std::string* why);
};

constexpr unsigned kAnywhere = 1u << kBlockNone | 1u << kBlockVirus | 1u << kBlockMacro;
constexpr unsigned kInVirus = 1u << kBlockVirus;
constexpr unsigned kInMacro = 1u << kBlockMacro;

static const CtlStatement kStatements[] = {
    {"title", kAnywhere, ReadTitle},
    {"virus", kAnywhere, ReadVirus},
    {"macro", kAnywhere, ReadMacro},
    {"name", kInVirus | kInMacro, ReadName},
    {"sig", kInVirus, ReadSig},
    {"confirm", kInVirus, ReadConfirm},
    {"vaccine", kInVirus, ReadVaccine},
    {"pattern", kInMacro, ReadPattern},
};

bool ParseCtlSource(const std::string& text, CtlDatabase* db, std::string* error) {
  CtlDatabase result;
  CtlReader r{};
  r.db = &result;
  r.block = kBlockNone;
  r.virusLine.assign(65536, 0);
  std::string why;
  bool ok = true;
  size_t pos = 0;
  while (ok && pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    r.line++;
    CtlTokens tokens;
    if (!(ok = Tokenize(line, &tokens, &why))) break;
    if (tokens.empty()) continue;
    const CtlStatement* st = nullptr;
    if (!tokens[0].quoted)
      for (const CtlStatement& s : kStatements)
        if (tokens[0].text == s.keyword) st = &s;
    if (!st) {
      why = "unknown statement '" + tokens[0].text + "'";
      ok = false;
    } else if (!(st->blocks & (1u << r.block))) {
      const char* where = st->blocks == kInMacro   ? "macro"
                          : st->blocks == kInVirus ? "virus"
                                                   : "virus or macro";
      why = "'" + tokens[0].text + "' must stand in a " + where + " block";
      ok = false;
    } else {
      ok = st->read(&r, tokens, &why);
    }
  }
  if (ok) {
    r.line++;
    ok = CloseBlock(&r, &why);
  }
  if (!ok) {
    *error = std::to_string(r.errorLine ? r.errorLine : r.line) + ": " + why;
    return false;
  }
  *db = result;
  return true;
}

// ---------------------------------------------------------------------------
// The printer.

static const char kHex[] = "0123456789ABCDEF";

static std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

static void AppendBytes(std::string* out, const std::vector<uint8_t>& bytes, bool wildcard) {
  for (uint8_t b : bytes) {
    *out += ' ';
    if (wildcard && b == kCtlWildcard) {
      *out += "??";
    } else {
      *out += kHex[b >> 4];
      *out += kHex[b & 15];
    }
  }
}

// " com 0 keys 58": printed when the signature is filed for the kind or its
// offset is not 0 (a kind left out reads back as offset 0, not filed).
static void AppendPlacement(std::string* out, const char* kind, int16_t offset,
                            const std::vector<uint8_t>& keys) {
  if (keys.empty() && offset == 0) return;
  *out += std::string(" ") + kind + " " + std::to_string(offset);
  if (keys.empty()) return;
  std::vector<uint8_t> sorted = keys;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  *out += " keys";
  AppendBytes(out, sorted, false);
}

std::string PrintCtlSource(const CtlDatabase& db) {
  std::string out = "title " + Quoted(db.title) + "\n";
  for (const CtlVirusDef& v : db.viruses) {
    out += "\nvirus " + std::to_string(v.number);
    if (!v.names.empty()) out += " " + Quoted(v.names[0]);
    out += "\n";
    for (size_t i = 1; i < v.names.size(); i++) out += "  name " + Quoted(v.names[i]) + "\n";
    for (const CtlSignatureDef& s : v.signatures) {
      out += "  sig";
      AppendBytes(&out, s.pattern, true);
      AppendPlacement(&out, "com", s.comOffset, s.comKeys);
      AppendPlacement(&out, "exe", s.exeOffset, s.exeKeys);
      if (s.needsConfirmation) out += " needs-confirm";
      out += "\n";
    }
    for (const CtlConfirmDef& c : v.confirms) {
      out += "  confirm";
      AppendBytes(&out, c.pattern, true);
      out += " com " + std::to_string(c.comOffset) + " exe " + std::to_string(c.exeOffset) + "\n";
    }
    for (const CtlVaccineRecord& r : v.vaccines) {
      out += "  vaccine";
      for (const CtlVaccineField& f : kVaccineFields) {
        long value = f.word ? (long)(r.*f.word) : (long)r.savedOffset;
        if (value != 0) out += std::string(" ") + f.name + "=" + std::to_string(value);
      }
      out += "\n";
    }
  }
  for (const CtlMacroRecord& m : db.macros) {
    out += "\nmacro " + Quoted(m.name) + " kind " + std::to_string(m.kind) + " identifier " +
           std::to_string(m.identifier) + "\n  pattern";
    AppendBytes(&out, std::vector<uint8_t>(m.pattern, m.pattern + kCtlMacroPatternSize), false);
    out += "\n";
    for (const std::string& name : m.names) out += "  name " + Quoted(name) + "\n";
  }
  return out;
}
