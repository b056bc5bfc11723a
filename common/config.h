// Config: the in-memory form of QUELTAN.INI, and its reader and writer,
// shared by the service and the console.
//
// The file lives in "<drive>:\QUELTAN\QUELTAN.INI", the drive being that of
// the running program. It is text in sections read by a small tokenizer of
// its own (NextConfigToken): blanks and tabs are dropped everywhere, names
// and values are upper-cased and cut at 50 characters, and anything that is
// not a known "KEY = value" line is silently ignored.
//
// The two programs read the same file slightly differently (user names,
// skip directory names, the report file name); the program's main picks its
// flavour once in gConfigFlavor before the first ReadConfig.
//
// State: one static Config per program (gConfig) and the flavour, owned by
// that program's main thread (the service thread, the console's window
// thread). List entries come from PlatAlloc and belong to their list until
// FreeConfigLists releases them; a console page that removes an entry
// unlinks it and frees it with PlatFree.
#pragma once

#include <cstddef>
#include <cstdint>

// Field sizes, each with its terminator.
constexpr size_t kReportFileNameSize = 300;    // REPORTFILENAME, cut at 299
constexpr size_t kSkipDirNameSize = 300;       // DIRECTORY names, cut at 299
constexpr size_t kConsoleSkipDirChars = 259;   // the console's DIRECTORY cut
constexpr size_t kFileSpecSize = 256;          // FILESPEC, cut at 255
constexpr size_t kUserNameSize = 20;           // USERNAME, 19 characters
constexpr size_t kUserCompareChars = 20;       // duplicate test for users

// Defaults.
constexpr int16_t kDefaultSizeLimitInKB = 100;
constexpr int16_t kMinSizeLimitInKB = 5;
constexpr int16_t kMaxSizeLimitInKB = 999;

// Which program is reading: they differ in the user-name character set, the
// DIRECTORY name filter and duplicate rule, and the report file name.
enum ConfigFlavor { kConfigService, kConfigConsole };
extern ConfigFlavor gConfigFlavor;    // set once by main; default service

// One DIRECTORYTOSKIP entry.
struct SkipDirectory {
  char name[kSkipDirNameSize];   // directory path as read (upper-cased)
  uint8_t SubDirsAlso;           // also covers its subdirectories; default no
  uint8_t PreventKnownVirus;     // still scan for known viruses; default yes
  uint8_t PreventNewVirus;       // still check against integrity; default no
  SkipDirectory* next;
};

// One FILETOSCAN entry: a pattern where only "*" is special.
struct FileSpec {
  char pattern[kFileSpecSize];   // upper-cased, at most 255 characters
  FileSpec* next;
};

// One AUTHORIZEDUSERS entry.
struct AuthorizedUser {
  char name[kUserNameSize];      // at most 19 characters
  AuthorizedUser* next;
};

struct Config {
  uint8_t sendToUsers;                    // MESSAGES / SENDTOUSERS, default yes
  uint8_t sendToConsole;                  // MESSAGES / SENDTOCONSOLE, default yes
  uint8_t generateReport;                 // REPORT / GENERATEREPORT, default yes
  char reportFileName[kReportFileNameSize];   // REPORT / REPORTFILENAME
  int16_t sizeLimitInKB;                  // REPORT / SIZELIMITINKB, 5..999, default 100
  uint8_t reportFileNameSet;              // 0: ReadConfig puts in the default name
  SkipDirectory* skipDirectories;         // DIRECTORYTOSKIP, file order; null when empty
  FileSpec* fileSpecs;                    // FILETOSCAN, file order; null when empty
  AuthorizedUser authorizedUsers;         // AUTHORIZEDUSERS: fixed "ADMINISTRATOR", then file order
};

extern Config gConfig;

// NextConfigToken results besides a keyword number (1 or more).
constexpr int kTokenNoMatch = -1;
constexpr int kTokenNextSection = -2;
constexpr int kTokenEndOfFile = -3;

enum ConfigTokenMode {
  kTokenTopLevel,    // reading section names
  kTokenInSection,   // reading keys; a "[" line ends the section
};

// Path of the configuration file: "C:\QUELTAN\QUELTAN.INI" on the drive of
// the running program (C when its path has no drive letter). Points into
// module state, rebuilt on each call.
const char* ConfigFilePath();

// Reads the configuration file into gConfig: lists are appended to, scalar
// fields change only for keys present. Returns whether the file opened; the
// report file name gets its default either way when it is still unset.
bool ReadConfig();
bool ReadConfigFrom(const char* path);

// Releases every list entry except the fixed first user and empties the
// lists. The service also forgets the report file name, so that the next
// ReadConfig puts the default back when the file has no name.
void FreeConfigLists();

// Back to the start-up state: lists released, every field at its default,
// the report file name unset. For tests and tools.
void ResetConfig();

// Writes the whole file from gConfig (console). Returns false when the file
// cannot be created or a write fails.
bool WriteConfig();
bool WriteConfigTo(const char* path);

// Append one entry; the reader and the console pages both use them. Each
// returns true when an entry was appended, false when the text is refused
// (see config.cpp for the flavour's rules) or the entry cannot be allocated.
bool AddSkipDirectory(const char* name, uint8_t subDirsAlso, uint8_t preventKnownVirus,
                      uint8_t preventNewVirus);
bool AddFileSpec(const char* spec);
bool AddAuthorizedUser(const char* name);

// Reads one token from the file ReadConfig has open and looks its name up
// in `keywords` (upper case, null-terminated). Returns the keyword's number
// counted from 1, or kTokenNoMatch, kTokenNextSection, kTokenEndOfFile; the
// end-of-file code also when no file is open.
int NextConfigToken(const char* const* keywords, ConfigTokenMode mode);

// 1 when the text, after blanks and tabs, starts with Y or T (any case).
uint8_t ParseYesNo(const char* text);
