// Configuration reader and writer: see config.h.
//
// The reader pulls the file through a small buffer one character at a time,
// with the text-mode rules of the programs' runtime: CR LF is read as LF, a
// bare LF is a line end too, and Ctrl-Z ends the file. NextConfigToken turns
// the characters into (name, value) tokens; ReadConfig looks each top-level
// token up in the section table and hands the section's lines to the
// section's apply routine. The writer formats each text into a line buffer
// and writes it with every LF turned into CR LF.
//
// State: gConfig and gConfigFlavor (config.h), the reader record (open file,
// read-ahead buffer, token buffers), the writer record and the path buffer.
// Used from one thread per program: the service thread or the console's
// window thread.
#include "common/config.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/memory.h"

static const char kConfigPathTemplate[] = "C:\\QUELTAN\\QUELTAN.INI";
static const char kReportPathTemplate[] = "C:\\QUELTAN\\QUELTAN.LOG";
static const char kFixedUserName[] = "ADMINISTRATOR";
static_assert(sizeof kReportPathTemplate <= kReportFileNameSize);
static_assert(sizeof kFixedUserName <= kUserNameSize);

constexpr size_t kTokenChars = 50;                // stored characters per buffer
constexpr size_t kTokenSize = kTokenChars + 1;
constexpr size_t kReadChunkSize = 512;
constexpr size_t kWriteLineSize = 400;            // longest formatted text and then some
constexpr size_t kWriteBufferSize = 1024;
constexpr int kCtrlZ = 0x1A;                      // end of file in text mode
constexpr size_t kSkipFields = 4;                 // name and three flags

static_assert(kWriteLineSize > kSkipDirNameSize + 40, "a Directory line must fit");
static_assert(kWriteLineSize > kReportFileNameSize + 40, "a ReportFileName line must fit");

ConfigFlavor gConfigFlavor = kConfigService;

Config gConfig = {
    .sendToUsers = 1,
    .sendToConsole = 1,
    .generateReport = 1,
    .reportFileName = "C:\\QUELTAN\\QUELTAN.LOG",
    .sizeLimitInKB = kDefaultSizeLimitInKB,
    .reportFileNameSet = 0,
    .skipDirectories = nullptr,
    .fileSpecs = nullptr,
    .authorizedUsers = {"ADMINISTRATOR", nullptr},
};

static struct ConfigReader {
  FileHandle file;                 // the configuration file, or kNoFile
  uint8_t chunk[kReadChunkSize];   // bytes read ahead
  uint32_t chunkPos;               // next unread byte of chunk
  uint32_t chunkLen;               // bytes held in chunk
  bool rawEnd;                     // the file gave no more bytes (end or error)
  int pushedBack;                  // character given back by the tokenizer, or -1
  bool eof;                        // end-of-file state: a read found the end
  char name[kTokenSize];           // section or key name of the last token
  char value[kTokenSize];          // value of the last token
} gReader = {kNoFile, {}, 0, 0, false, -1, false, {}, {}};

static struct ConfigWriter {
  FileHandle file;                 // the file being written
  char line[kWriteLineSize];       // one formatted text
  char out[kWriteBufferSize];      // bytes not yet written, line ends as CR LF
  uint32_t used;                   // bytes held in out
  bool failed;                     // a text did not fit or a write failed
} gWriter;

static char gConfigPath[sizeof kConfigPathTemplate];   // ConfigFilePath's result

// ---------------------------------------------------------------------------
// Small text helpers (ASCII only: the file is in the ANSI code page and only
// a..z are folded).

static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
static char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

static void UpperCase(char* s) {
  for (; *s; s++) *s = UpperChar(*s);
}

// Copies at most size - 1 characters of src and terminates dst.
static void CopyText(char* dst, size_t size, const char* src) {
  size_t i = 0;
  if (src)
    for (; i + 1 < size && src[i]; i++) dst[i] = src[i];
  dst[i] = 0;
}

// True when a and b agree over their first `max` characters, without regard
// to case.
static bool SameTextNoCase(const char* a, const char* b, size_t max) {
  for (size_t i = 0; i < max; i++) {
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    if (a[i] == 0) return true;
  }
  return true;
}

// The drive letter of the running program, or 'C' when its path has none
// (a program outside every drive is named by a "\\?\" token).
static char ProgramDrive() {
  std::string module = PlatGetModulePath();
  if (module.size() >= 2 && IsLetter(module[0]) && module[1] == ':') return module[0];
  return 'C';
}

const char* ConfigFilePath() {
  CopyText(gConfigPath, sizeof gConfigPath, kConfigPathTemplate);
  gConfigPath[0] = ProgramDrive();
  return gConfigPath;
}

static void SetDefaultReportFileName() {
  CopyText(gConfig.reportFileName, sizeof gConfig.reportFileName, kReportPathTemplate);
  gConfig.reportFileName[0] = ProgramDrive();
  gConfig.reportFileNameSet = 1;
}

// ---------------------------------------------------------------------------
// Character input

// Next byte of the file without text-mode rules; -1 once the file has no
// more (its end, a read error, or no file open). With consume false the byte
// stays unread.
static int ReadRawByte(bool consume) {
  if (gReader.chunkPos >= gReader.chunkLen) {
    if (gReader.rawEnd || gReader.file == kNoFile) return -1;
    int32_t n = PlatReadFile(gReader.file, gReader.chunk, sizeof gReader.chunk);
    if (n <= 0) {
      gReader.rawEnd = true;
      return -1;
    }
    gReader.chunkPos = 0;
    gReader.chunkLen = (uint32_t)n < sizeof gReader.chunk ? (uint32_t)n : sizeof gReader.chunk;
  }
  int c = gReader.chunk[gReader.chunkPos];
  if (consume) gReader.chunkPos++;
  return c;
}

// Next character in text mode, or -1 at the end of the file, which also sets
// the end-of-file state.
static int ReadChar() {
  if (gReader.pushedBack >= 0) {
    int c = gReader.pushedBack;
    gReader.pushedBack = -1;
    return c;
  }
  if (gReader.eof) return -1;
  int c = ReadRawByte(true);
  if (c == '\r' && ReadRawByte(false) == '\n') c = ReadRawByte(true);
  if (c < 0 || c == kCtrlZ) {
    gReader.eof = true;
    return -1;
  }
  return c;
}

static bool OpenReader(const char* path) {
  gReader.file = PlatOpenFile(path, kAccessRead);
  gReader.chunkPos = 0;
  gReader.chunkLen = 0;
  gReader.rawEnd = false;
  gReader.pushedBack = -1;
  gReader.eof = false;
  return gReader.file != kNoFile;
}

static void CloseReader() {
  if (gReader.file != kNoFile) PlatCloseFile(gReader.file);
  gReader.file = kNoFile;
  gReader.chunkPos = 0;
  gReader.chunkLen = 0;
  gReader.pushedBack = -1;
}

// ---------------------------------------------------------------------------
// Token reader

enum TokenState { kAtLineStart, kInSectionName, kInKey, kInValue };

int NextConfigToken(const char* const* keywords, ConfigTokenMode mode) {
  std::memset(gReader.name, 0, sizeof gReader.name);
  std::memset(gReader.value, 0, sizeof gReader.value);
  TokenState state = kAtLineStart;
  char* buf = gReader.name;     // the buffer being filled
  size_t stored = 0;            // characters in it
  for (;;) {
    int c = ReadChar();
    if (c < 0) {
      if (state == kInValue) break;
      return kTokenEndOfFile;
    }
    // Blanks and tabs vanish wherever they stand; so do NUL bytes, which
    // would otherwise hide the rest of a name.
    if (c == ' ' || c == '\t' || c == 0) continue;
    if (c == '\n') {
      if (state == kAtLineStart) continue;
      if (state == kInValue) break;
      return kTokenNoMatch;     // a line without "=", or "[" without "]"
    }
    if (state == kAtLineStart && c == '[') {
      if (mode == kTokenInSection) {
        gReader.pushedBack = c;  // the header belongs to the top level
        return kTokenNextSection;
      }
      state = kInSectionName;
      continue;
    }
    if (state == kInSectionName && c == ']') break;   // rest of the line is read next
    if (state == kInKey && c == '=') {
      buf = gReader.value;
      stored = 0;
      state = kInValue;
      continue;
    }
    if (state == kAtLineStart) state = kInKey;
    buf[stored++] = (char)c;
    if (stored == kTokenChars) {
      // A full buffer ends the token as a line end would; what follows on
      // the line is read as a line of its own.
      if (state == kInValue) break;
      return kTokenNoMatch;
    }
  }
  UpperCase(gReader.name);
  UpperCase(gReader.value);
  if (!keywords) return kTokenNoMatch;
  for (int i = 0; keywords[i]; i++)
    if (std::strcmp(gReader.name, keywords[i]) == 0) return i + 1;
  return kTokenNoMatch;
}

// ---------------------------------------------------------------------------
// Value conversions

uint8_t ParseYesNo(const char* text) {
  if (!text) return 0;
  while (*text == ' ' || *text == '\t') text++;
  char c = UpperChar(*text);
  return (c == 'Y' || c == 'T') ? 1 : 0;
}

// A decimal integer (leading white space, optional sign, digits up to the
// first non-digit, none meaning 0) clamped to the size limit's range. The
// number saturates rather than wrapping, so "65540" is the maximum and not 4.
static int16_t ParseSizeLimit(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\v' || *p == '\f') p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int32_t v = 0;
  for (; *p >= '0' && *p <= '9'; p++)
    if (v <= kMaxSizeLimitInKB) v = v * 10 + (*p - '0');
  if (negative) v = -v;
  if (v > kMaxSizeLimitInKB) return kMaxSizeLimitInKB;
  if (v < kMinSizeLimitInKB) return kMinSizeLimitInKB;
  return (int16_t)v;
}

// ---------------------------------------------------------------------------
// List entries

// Characters the console keeps in a skip directory name: "." to "{".
static bool IsConsoleDirChar(char c) {
  unsigned char u = (unsigned char)c;
  return u >= 46 && u <= 123;
}

static bool IsUserNameChar(char c) {
  if (IsLetter(c)) return true;
  if (gConfigFlavor == kConfigService) return false;
  return (c >= '0' && c <= '9') || c == '_';
}

// The service keeps the name as given (cut at 299 characters). The console
// keeps it up to the first character outside "." to "{", at most 259, and
// refuses an empty name or one already listed (without regard to case).
bool AddSkipDirectory(const char* name, uint8_t subDirsAlso, uint8_t preventKnownVirus,
                      uint8_t preventNewVirus) {
  char kept[kSkipDirNameSize];
  if (!name) name = "";
  if (gConfigFlavor == kConfigConsole) {
    size_t n = 0;
    while (n < kConsoleSkipDirChars && IsConsoleDirChar(name[n])) {
      kept[n] = name[n];
      n++;
    }
    kept[n] = 0;
    if (n == 0) return false;
    for (SkipDirectory* d = gConfig.skipDirectories; d; d = d->next)
      if (SameTextNoCase(d->name, kept, sizeof kept)) return false;
  } else {
    CopyText(kept, sizeof kept, name);
  }
  SkipDirectory* entry = static_cast<SkipDirectory*>(PlatAlloc(sizeof(SkipDirectory)));
  if (!entry) return false;
  std::memcpy(entry->name, kept, sizeof kept);
  entry->SubDirsAlso = subDirsAlso ? 1 : 0;
  entry->PreventKnownVirus = preventKnownVirus ? 1 : 0;
  entry->PreventNewVirus = preventNewVirus ? 1 : 0;
  entry->next = nullptr;
  SkipDirectory** link = &gConfig.skipDirectories;
  while (*link) link = &(*link)->next;
  *link = entry;
  return true;
}

// Stores the text upper-cased and cut at 255 characters; empty texts and
// duplicates are kept too.
bool AddFileSpec(const char* spec) {
  FileSpec* entry = static_cast<FileSpec*>(PlatAlloc(sizeof(FileSpec)));
  if (!entry) return false;
  CopyText(entry->pattern, sizeof entry->pattern, spec);
  UpperCase(entry->pattern);
  entry->next = nullptr;
  FileSpec** link = &gConfig.fileSpecs;
  while (*link) link = &(*link)->next;
  *link = entry;
  return true;
}

// Takes the leading run of name characters (letters in the service; letters,
// digits and "_" in the console), at most 19. Refuses an empty name and one
// already listed, "ADMINISTRATOR" included (without regard to case).
bool AddAuthorizedUser(const char* text) {
  char name[kUserNameSize];
  size_t n = 0;
  if (text)
    while (n + 1 < sizeof name && IsUserNameChar(text[n])) {
      name[n] = text[n];
      n++;
    }
  name[n] = 0;
  if (n == 0) return false;
  AuthorizedUser* last = &gConfig.authorizedUsers;
  for (AuthorizedUser* u = last; u; u = u->next) {
    if (SameTextNoCase(u->name, name, kUserCompareChars)) return false;
    last = u;
  }
  AuthorizedUser* entry = static_cast<AuthorizedUser*>(PlatAlloc(sizeof(AuthorizedUser)));
  if (!entry) return false;
  std::memcpy(entry->name, name, sizeof name);
  entry->next = nullptr;
  last->next = entry;
  return true;
}

void FreeConfigLists() {
  while (SkipDirectory* d = gConfig.skipDirectories) {
    gConfig.skipDirectories = d->next;
    PlatFree(d);
  }
  while (FileSpec* f = gConfig.fileSpecs) {
    gConfig.fileSpecs = f->next;
    PlatFree(f);
  }
  while (AuthorizedUser* u = gConfig.authorizedUsers.next) {
    gConfig.authorizedUsers.next = u->next;
    PlatFree(u);
  }
  if (gConfigFlavor == kConfigService) {
    gConfig.reportFileName[0] = 0;
    gConfig.reportFileNameSet = 0;
  }
}

void ResetConfig() {
  FreeConfigLists();
  gConfig.sendToUsers = 1;
  gConfig.sendToConsole = 1;
  gConfig.generateReport = 1;
  CopyText(gConfig.reportFileName, sizeof gConfig.reportFileName, kReportPathTemplate);
  gConfig.reportFileNameSet = 0;
  gConfig.sizeLimitInKB = kDefaultSizeLimitInKB;
  CopyText(gConfig.authorizedUsers.name, sizeof gConfig.authorizedUsers.name, kFixedUserName);
}

// ---------------------------------------------------------------------------
// Section readers: each applies one key of its section with its value.

enum MessagesKey {
  kKeySendToUsers = 1,
  kKeySendToGroups,
  kKeySendToConsole,
  kKeySendUnloadMessage,
  kKeyMessageWithUserFullName,
  kKeyDelayBetweenMessages,
};
enum ReportKey { kKeyGenerateReport = 1, kKeyReportFileName, kKeySizeLimitInKB };
enum SkipKey { kKeyDirectory = 1, kKeySubDirsAlso, kKeyPreventKnownVirus, kKeyPreventNewVirus };
enum { kKeyFileSpec = 1 };
enum { kKeyUserName = 1 };

// SENDTOGROUPS and the other reserved keys are read and dropped.
static void ApplyMessagesKey(int key, const char* value) {
  if (key == kKeySendToUsers) gConfig.sendToUsers = ParseYesNo(value);
  if (key == kKeySendToConsole) gConfig.sendToConsole = ParseYesNo(value);
}

// The service keeps an empty report file name as it is; the console treats
// it as unset, so the default goes back in.
static void ApplyReportKey(int key, const char* value) {
  switch (key) {
    case kKeyGenerateReport:
      gConfig.generateReport = ParseYesNo(value);
      break;
    case kKeyReportFileName:
      CopyText(gConfig.reportFileName, sizeof gConfig.reportFileName, value);
      gConfig.reportFileNameSet = (gConfigFlavor == kConfigService || value[0] != 0) ? 1 : 0;
      break;
    case kKeySizeLimitInKB:
      gConfig.sizeLimitInKB = ParseSizeLimit(value);
      break;
    default:
      break;
  }
}

// "name, SubDirsAlso, PreventKnownVirus, PreventNewVirus": a missing or empty
// flag field keeps its default (no, yes, no); text after a fourth comma is
// dropped. SUBDIRSALSO and the other field names are not keys of their own.
static void ApplySkipKey(int key, const char* value) {
  if (key != kKeyDirectory) return;
  char fields[kSkipFields][kTokenSize] = {};
  size_t field = 0;
  size_t len = 0;
  for (const char* p = value; *p; p++) {
    if (*p == ',') {
      if (++field == kSkipFields) break;
      len = 0;
      continue;
    }
    if (len + 1 < kTokenSize) fields[field][len++] = *p;
  }
  uint8_t flags[kSkipFields] = {0, 0, 1, 0};   // [0] unused: the name
  for (size_t i = 1; i < kSkipFields; i++)
    if (fields[i][0]) flags[i] = ParseYesNo(fields[i]);
  AddSkipDirectory(fields[0], flags[1], flags[2], flags[3]);
}

static void ApplyFileSpecKey(int key, const char* value) {
  if (key == kKeyFileSpec) AddFileSpec(value);
}

static void ApplyUserKey(int key, const char* value) {
  if (key == kKeyUserName) AddAuthorizedUser(value);
}

// ---------------------------------------------------------------------------
// Keyword tables. A keyword's number is its position counted from 1, so the
// order of every table is part of the format.

static const char* const kSectionWords[] = {
    "ONLINE", "FILEHOOK", "LOGOUT", "MESSAGES", "REPORT", "DIRECTORYTOSKIP",
    "FILETOSCAN", "AUTHORIZEDUSERS", "AUTHORIZEDGROUPS", nullptr,
};
static const char* const kOnlineKeys[] = {"PRIORITY", nullptr};
static const char* const kFileHookKeys[] = {
    "HOOKENABLED", "VOLUMEDELAYINSECONDS", "MONITORDELAYINMINUTES", nullptr,
};
static const char* const kLogoutKeys[] = {
    "LOGOUTIFKNOWNVIRUS", "LOGOUTIFNEWVIRUS", "LOGOUTDELAY", nullptr,
};
static const char* const kMessagesKeys[] = {
    "SENDTOUSERS", "SENDTOGROUPS", "SENDTOCONSOLE", "SENDUNLOADMESSAGE",
    "MESSAGEWITHUSERFULLNAME", "DELAYBETWEENMESSAGES", nullptr,
};
static const char* const kReportKeys[] = {
    "GENERATEREPORT", "REPORTFILENAME", "SIZELIMITINKB", nullptr,
};
static const char* const kSkipKeys[] = {
    "DIRECTORY", "SUBDIRSALSO", "PREVENTKNOWNVIRUS", "PREVENTNEWVIRUS", nullptr,
};
static const char* const kFileSpecKeys[] = {"FILESPEC", nullptr};
static const char* const kUserKeys[] = {"USERNAME", nullptr};
static const char* const kGroupKeys[] = {"GROUPNAME", nullptr};

// One row per section, in the order of kSectionWords: the section's keys and
// the routine that applies them. Reserved sections have no routine: their
// lines are read and dropped.
struct SectionRow {
  const char* const* keys;
  void (*apply)(int key, const char* value);
};
static const SectionRow kSections[] = {
    {kOnlineKeys, nullptr},            // ONLINE (reserved)
    {kFileHookKeys, nullptr},          // FILEHOOK (reserved)
    {kLogoutKeys, nullptr},            // LOGOUT (reserved)
    {kMessagesKeys, ApplyMessagesKey}, // MESSAGES
    {kReportKeys, ApplyReportKey},     // REPORT
    {kSkipKeys, ApplySkipKey},         // DIRECTORYTOSKIP
    {kFileSpecKeys, ApplyFileSpecKey}, // FILETOSCAN
    {kUserKeys, ApplyUserKey},         // AUTHORIZEDUSERS
    {kGroupKeys, nullptr},             // AUTHORIZEDGROUPS (reserved)
};
constexpr int kSectionCount = (int)(sizeof kSections / sizeof kSections[0]);
static_assert(kSectionCount + 1 == sizeof kSectionWords / sizeof kSectionWords[0]);

// Reads the lines of one section until the next header or the end of file.
static void ReadSection(int section) {
  if (section < 1 || section > kSectionCount) return;
  const SectionRow& row = kSections[section - 1];
  while (!gReader.eof) {
    int token = NextConfigToken(row.keys, kTokenInSection);
    if (token == kTokenEndOfFile || token == kTokenNextSection) return;
    if (token > 0 && row.apply) row.apply(token, gReader.value);
  }
}

// Every top-level token is looked up in the section table, headers and
// "key = value" lines alike, so a key named like a section opens it.
bool ReadConfigFrom(const char* path) {
  bool opened = OpenReader(path);
  if (opened) {
    for (;;) {
      int token = NextConfigToken(kSectionWords, kTokenTopLevel);
      if (token == kTokenEndOfFile || gReader.eof) break;
      if (token > 0) ReadSection(token);
    }
  }
  if (!gConfig.reportFileNameSet) SetDefaultReportFileName();
  CloseReader();
  return opened;
}

bool ReadConfig() { return ReadConfigFrom(ConfigFilePath()); }

// ---------------------------------------------------------------------------
// Writer

static void FlushOutput() {
  if (gWriter.used && !gWriter.failed) {
    int32_t n = PlatWriteFile(gWriter.file, gWriter.out, gWriter.used);
    if (n != (int32_t)gWriter.used) gWriter.failed = true;
  }
  gWriter.used = 0;
}

static void PutByte(char c) {
  if (gWriter.used == sizeof gWriter.out) FlushOutput();
  gWriter.out[gWriter.used++] = c;
}

// Formats one text and queues it with each LF written as CR LF.
__attribute__((format(printf, 1, 2))) static void WriteText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(gWriter.line, sizeof gWriter.line, format, args);
  va_end(args);
  if (n < 0 || (size_t)n >= sizeof gWriter.line) {
    gWriter.failed = true;
    return;
  }
  for (int i = 0; i < n; i++) {
    if (gWriter.line[i] == '\n') PutByte('\r');
    PutByte(gWriter.line[i]);
  }
}

static const char* YesNo(uint8_t flag) { return flag ? "Yes" : "No"; }

bool WriteConfigTo(const char* path) {
  gWriter.file = PlatOpenFile(path, kAccessWrite | kOpenCreate | kOpenTruncate);
  if (gWriter.file == kNoFile) return false;
  gWriter.used = 0;
  gWriter.failed = false;
  // The console's pages may fill the name directly; never read past its buffer.
  char reportName[kReportFileNameSize];
  CopyText(reportName, sizeof reportName, gConfig.reportFileName);

  WriteText("// ****************** Korvane Configuration file ********************\n\n");
  WriteText("[Messages]\n");
  WriteText("// Options for messages\n\n");
  WriteText("   SendToUsers = %s\n", YesNo(gConfig.sendToUsers));
  WriteText("   SendToConsole = %s\n\n", YesNo(gConfig.sendToConsole));
  WriteText("[Report]\n");
  WriteText("// Options for report\n\n");
  WriteText("   GenerateReport = %s\n", YesNo(gConfig.generateReport));
  WriteText("   ReportFileName = %s\n", reportName);
  WriteText("   SizeLimitInKB = %d\n\n", gConfig.sizeLimitInKB);

  WriteText("[DirectoryToSkip]\n");
  WriteText("// Structure of directory info\n");
  WriteText("// Directory = <DirectoryNameTo> <SubDirs> <PreventFromKnownVirus> <PreventFromUnknownVirus>\n\n");
  for (SkipDirectory* d = gConfig.skipDirectories; d; d = d->next) {
    if (d->next)
      WriteText("   Directory = %s, %s, %s, %s\n", d->name, YesNo(d->SubDirsAlso),
                YesNo(d->PreventKnownVirus), YesNo(d->PreventNewVirus));
    else
      WriteText("   Directory = %s, %s, %s, %s\n\n", d->name, YesNo(d->SubDirsAlso),
                YesNo(d->PreventKnownVirus), YesNo(d->PreventNewVirus));
  }

  WriteText("[FileToScan]\n");
  WriteText("// Structure of file info\n");
  WriteText("// FileSpec = <File specification to be scanned>\n\n");
  for (FileSpec* f = gConfig.fileSpecs; f; f = f->next) {
    if (f->next)
      WriteText("   FileSpec = %s\n", f->pattern);
    else
      WriteText("   FileSpec = %s\n\n", f->pattern);
  }

  WriteText("[AuthorizedUsers]\n");
  WriteText("// Structure of user info\n");
  WriteText("// UserName = <UserName>\n\n");
  AuthorizedUser* lastNamed = nullptr;
  for (AuthorizedUser* u = &gConfig.authorizedUsers; u; u = u->next)
    if (u->name[0]) lastNamed = u;
  for (AuthorizedUser* u = &gConfig.authorizedUsers; u; u = u->next) {
    if (!u->name[0]) continue;
    if (u != lastNamed)
      WriteText("   UserName = %s\n", u->name);
    else
      WriteText("   UserName = %s\n\n", u->name);
  }
  WriteText("// ************************ End of configurations ***********************\n\n");

  FlushOutput();
  PlatCloseFile(gWriter.file);
  gWriter.file = kNoFile;
  return !gWriter.failed;
}

bool WriteConfig() { return WriteConfigTo(ConfigFilePath()); }
