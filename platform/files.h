// File services in Windows terms, backed by the host file system.
//
// Paths are Windows paths: "C:\DIR\FILE.EXE", "\DIR" (root of the current
// drive), relative names, "." and ".."; "/" is accepted as "\". A drive path
// maps to the drive's host directory (machine.h). A name is looked up
// exactly first and then, component by component, without regard to case.
// A path of the form "\\?\home\x\FILE" names the host path /home/x/FILE
// directly (programs use it for files outside every drive, such as a
// database given on the command line); HostPathToken builds one.
//
// Symbolic links below a drive's root are never followed: a file is never
// opened through one, a directory is never entered through one, and an
// enumeration reports a link as a non-regular entry.
//
// Sharing: kShareDenyWrite keeps other writers out, and a writer is kept out
// while someone denies writers. These are advisory locks between Korvane's
// own programs; other Linux programs are not held back by them.
//
// State: the current directory text (module state of files.cpp); the process
// current directory is moved for real. Single-threaded use (the service
// thread), like the Windows current directory it stands for.
#pragma once

#include <cstdint>
#include <string>

using FileHandle = int;
constexpr FileHandle kNoFile = -1;

// PlatOpenFile flags.
enum : unsigned {
  kAccessRead = 0x01,
  kAccessWrite = 0x02,
  kAccessReadWrite = kAccessRead | kAccessWrite,
  kShareDenyWrite = 0x04,   // deny other writers while open
  kOpenCreate = 0x08,       // create the file when it does not exist
  kOpenTruncate = 0x10,     // cut an existing file to length 0
};

// Seek origins.
enum : int { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// File attributes with their Windows values.
enum : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  kAttrReparse = 0x400,     // a link or other non-regular entry
  kAttrInvalid = 0xFFFFFFFFu,
};

// Opens a regular file; returns kNoFile on failure (missing, not a regular
// file, reached through a link, sharing conflict).
FileHandle PlatOpenFile(const char* path, unsigned flags);
void PlatCloseFile(FileHandle h);
// Bytes read or written, -1 on failure.
int32_t PlatReadFile(FileHandle h, void* buf, uint32_t n);
int32_t PlatWriteFile(FileHandle h, const void* buf, uint32_t n);
// New position, -1 on failure (also for a resulting negative position).
int64_t PlatSeek(FileHandle h, int64_t offset, int origin);
int64_t PlatFileSize(FileHandle h);
bool PlatSetFileLength(FileHandle h, int64_t length);

// Attributes: read-only is the absence of write permission; hidden, system
// and archive live in the extended attribute user.DOSATTRIB. kAttrNormal
// clears them all.
uint32_t PlatGetAttributes(const char* path);
bool PlatSetAttributes(const char* path, uint32_t attrs);

bool PlatDeleteFile(const char* path);
// Fails when newPath exists.
bool PlatRenameFile(const char* oldPath, const char* newPath);
bool PlatCreateDirectory(const char* path);
bool PlatRemoveDirectory(const char* path);
bool PlatFileExists(const char* path);

// The current directory, as a Windows path ("C:\GAMES"). Setting it moves
// the process's current directory.
bool PlatSetCurrentDirectory(const char* path);
std::string PlatGetCurrentDirectory();

// Volume label of a drive; empty when it has none or the drive is unmapped.
std::string PlatGetVolumeLabel(char letter);

// Windows path of the running program; "\\?\..." when it lies outside every
// drive.
std::string PlatGetModulePath();
// Host path of the running program.
std::string PlatGetModuleHostPath();

// Host path of a Windows path, or empty when it cannot be mapped. The file
// need not exist; existing components are matched without regard to case.
std::string PlatHostPath(const char* path);
// Windows path of a host path inside a drive ("C:\DIR\F.EXE"), or empty.
std::string PlatWindowsPath(const std::string& hostPath);
// "\\?\..." token that names a host path directly.
std::string HostPathToken(const std::string& hostPath);

// Directory enumeration with the Windows pattern rules: '*' any run, '?' one
// character, "*.*" every name (also one without a dot), letters matched
// without regard to case. Entries come sorted by name; "." and ".." are not
// reported.
struct FindData {
  char name[256];
  uint32_t attributes;      // kAttrDirectory, kAttrReparse, ...
  int64_t size;
};
using FindHandle = void*;
constexpr FindHandle kNoFind = nullptr;
// "DIR\*.EXE" or a bare pattern in the current directory. kNoFind when the
// directory cannot be read or nothing matches. With kFindDirectoriesOnly
// only the subdirectories are reported (a walk's search for them needs no
// look at its files); with kFindNamesOnly a regular file is reported with
// kAttrNormal and a size of -1, without a look at the file itself (a walk
// needs only its name).
enum : unsigned { kFindDirectoriesOnly = 0x01, kFindNamesOnly = 0x02 };
FindHandle PlatFindFirst(const char* pattern, FindData* out, unsigned flags = 0);
bool PlatFindNext(FindHandle h, FindData* out);
void PlatFindClose(FindHandle h);

// True when name matches the Windows wildcard pattern.
bool PlatMatchPattern(const char* pattern, const char* name);
