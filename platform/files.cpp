// File services over the host file system: see files.h.
//
// Every path is taken apart into a drive and components and walked from the
// drive's root one component at a time with openat(O_NOFOLLOW), so that no
// link below a drive root is ever followed, even when the tree changes while
// we walk it. A component that is not found exactly is matched without
// regard to case against the directory's entries.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "platform/dosattr.h"
#include "platform/faults.h"
#include "platform/machine.h"

static struct {
  bool known;              // text below has been set or derived
  char drive;              // drive letter of the current directory, 0 if none
  std::vector<std::string> comps;   // components below the drive root
} gCwd;

// ---------------------------------------------------------------------------
// Paths

static const char kTokenPrefix[] = "\\\\?\\";

// A Windows path taken apart: a drive letter (or a host token) and the
// normalized components below its root.
struct SplitPath {
  bool hostToken;                   // "\\?\..." names a host path
  char drive;                       // 'A'..'Z' when !hostToken
  std::vector<std::string> comps;   // no ".", "..", or empty names
};

static char Upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 32) : c; }

static bool EqualNoCase(const char* a, const char* b) {
  for (; *a && *b; a++, b++)
    if (Upper(*a) != Upper(*b)) return false;
  return *a == *b;
}

static void EnsureCwd() {
  if (gCwd.known) return;
  gCwd.known = true;
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return;
  std::string win = PlatWindowsPath(buf);
  if (win.size() < 3) return;
  gCwd.drive = win[0];
  gCwd.comps.clear();
  size_t p = 3;
  while (p < win.size()) {
    size_t q = win.find('\\', p);
    if (q == std::string::npos) q = win.size();
    if (q > p) gCwd.comps.push_back(win.substr(p, q - p));
    p = q + 1;
  }
}

static void PushComponent(std::vector<std::string>* comps, const std::string& c) {
  if (c.empty() || c == ".") return;
  if (c == "..") {
    if (!comps->empty()) comps->pop_back();
    return;
  }
  comps->push_back(c);
}

static void AppendComponents(std::vector<std::string>* comps, const std::string& s) {
  size_t p = 0;
  while (p <= s.size()) {
    size_t q = s.find('\\', p);
    if (q == std::string::npos) q = s.size();
    PushComponent(comps, s.substr(p, q - p));
    p = q + 1;
  }
}

static bool Split(const char* path, SplitPath* out) {
  if (path == nullptr || *path == 0) return false;
  std::string s(path);
  std::replace(s.begin(), s.end(), '/', '\\');
  out->comps.clear();
  out->hostToken = false;
  out->drive = 0;
  if (s.rfind(kTokenPrefix, 0) == 0) {
    out->hostToken = true;
    AppendComponents(&out->comps, s.substr(sizeof kTokenPrefix - 1));
    return true;
  }
  if (s.size() >= 2 && s[1] == ':' &&
      ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) {
    out->drive = Upper(s[0]);
    std::string rest = s.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // "C:NAME": relative to the current directory when it is on that drive.
      EnsureCwd();
      if (gCwd.drive == out->drive) out->comps = gCwd.comps;
    }
    AppendComponents(&out->comps, rest);
    return true;
  }
  EnsureCwd();
  if (gCwd.drive == 0) return false;
  out->drive = gCwd.drive;
  if (s[0] != '\\') out->comps = gCwd.comps;
  AppendComponents(&out->comps, s);
  return true;
}

// Root host directory of a split path, or empty.
static std::string RootOf(const SplitPath& sp) {
  if (sp.hostToken) return "/";
  const DriveInfo* d = FindDrive(sp.drive);
  return d ? d->hostDir : std::string();
}

// ---------------------------------------------------------------------------
// Walking components with openat

// Finds the entry of directory fd whose name equals want without regard to
// case. Returns false when none does.
static bool FindNoCase(int dirfd, const std::string& want, std::string* found) {
  int fd = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* d = fdopendir(fd);
  if (!d) {
    close(fd);
    return false;
  }
  bool ok = false;
  while (struct dirent* e = readdir(d)) {
    if (EqualNoCase(e->d_name, want.c_str())) {
      *found = e->d_name;
      ok = true;
      break;
    }
  }
  closedir(d);
  return ok;
}

// The result of walking a path: the directory that holds its last
// component, open, and the last component's name as it is on disk (or as
// given, when it does not exist).
struct Walked {
  int parentFd = -1;        // directory fd, -1 on failure
  std::string name;         // last component; empty for a drive root
  std::string hostPath;     // host path of the whole thing
  std::string winDir;       // Windows path of the parent, with on-disk names
  bool exists = false;      // last component found
  ~Walked() {
    if (parentFd >= 0) close(parentFd);
  }
};

// Looks one name up in dirfd: exactly, then without regard to case.
// Returns the on-disk name in *onDisk and whether it exists.
static bool Lookup(int dirfd, const std::string& name, std::string* onDisk) {
  struct stat st;
  if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    *onDisk = name;
    return true;
  }
  if (errno == ENOENT && FindNoCase(dirfd, name, onDisk)) return true;
  *onDisk = name;
  return false;
}

static std::string WinPrefix(const SplitPath& sp) {
  if (sp.hostToken) return kTokenPrefix;
  return std::string(1, sp.drive) + ":\\";
}

// Walks every component but the last, entering directories without
// following links. For a drive root (no components) the parent is the root
// itself and name is empty.
static bool WalkPath(const char* path, Walked* w) {
  SplitPath sp;
  if (!Split(path, &sp)) return false;
  std::string root = RootOf(sp);
  if (root.empty()) return false;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string host = root;
  std::string win = WinPrefix(sp);
  for (size_t i = 0; i + 1 < sp.comps.size(); i++) {
    std::string disk;
    Lookup(fd, sp.comps[i], &disk);
    // Host tokens name a path an administrator gave; drives never follow
    // links below their roots.
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (sp.hostToken ? 0 : O_NOFOLLOW);
    int next = openat(fd, disk.c_str(), flags);
    close(fd);
    if (next < 0) return false;
    fd = next;
    if (host.back() != '/') host += '/';
    host += disk;
    if (win.back() != '\\') win += '\\';
    win += disk;
  }
  w->parentFd = fd;
  w->winDir = win;
  if (sp.comps.empty()) {
    w->name.clear();
    w->exists = true;
    w->hostPath = host;
    return true;
  }
  w->exists = Lookup(fd, sp.comps.back(), &w->name);
  if (host.back() != '/') host += '/';
  w->hostPath = host + w->name;
  return true;
}

// Opens a directory path (including the last component) without following
// links. Returns the fd or -1; *winPath gets its Windows form.
static int OpenDirectoryPath(const char* path, std::string* winPath, std::string* hostPath) {
  Walked w;
  if (!WalkPath(path, &w)) return -1;
  if (w.name.empty()) {
    int fd = w.parentFd;
    w.parentFd = -1;
    if (winPath) *winPath = w.winDir;
    if (hostPath) *hostPath = w.hostPath;
    return fd;
  }
  int fd = openat(w.parentFd, w.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    if (winPath) *winPath = w.winDir + (w.winDir.back() == '\\' ? "" : "\\") + w.name;
    if (hostPath) *hostPath = w.hostPath;
  }
  return fd;
}

std::string PlatHostPath(const char* path) {
  Walked w;
  if (!WalkPath(path, &w)) return std::string();
  return w.hostPath;
}

std::string PlatWindowsPath(const std::string& hostPath) {
  const DriveInfo* best = nullptr;
  for (char c = 'A'; c <= 'Z'; c++) {
    const DriveInfo* d = FindDrive(c);
    if (!d) continue;
    const std::string& r = d->hostDir;
    bool inside = hostPath == r ||
                  (hostPath.size() > r.size() && hostPath.compare(0, r.size(), r) == 0 &&
                   (r == "/" || hostPath[r.size()] == '/'));
    if (inside && (!best || r.size() > best->hostDir.size())) best = d;
  }
  if (!best) return std::string();
  std::string rest = hostPath.substr(best->hostDir == "/" ? 0 : best->hostDir.size());
  std::string win(1, best->letter);
  win += ":\\";
  std::vector<std::string> comps;
  size_t p = 0;
  while (p <= rest.size()) {
    size_t q = rest.find('/', p);
    if (q == std::string::npos) q = rest.size();
    PushComponent(&comps, rest.substr(p, q - p));
    p = q + 1;
  }
  for (size_t i = 0; i < comps.size(); i++) {
    if (i) win += '\\';
    win += comps[i];
  }
  return win;
}

std::string HostPathToken(const std::string& hostPath) {
  std::string t = kTokenPrefix;
  size_t start = (!hostPath.empty() && hostPath[0] == '/') ? 1 : 0;
  for (size_t i = start; i < hostPath.size(); i++)
    t += hostPath[i] == '/' ? '\\' : hostPath[i];
  return t;
}

// ---------------------------------------------------------------------------
// Sharing locks
//
// Open file description locks on two bytes far beyond any real file's end:
// one marks "open with write access", the other "denies writers". A writer
// fails while another description denies writers, and a denier fails while
// another description writes.

constexpr off_t kLockWriteAccess = 0x7FFFFFFF00000000LL;
constexpr off_t kLockDenyWrite = kLockWriteAccess + 1;

static bool LockHeldByOther(int fd, off_t where) {
  struct flock fl{};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = where;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

static bool TakeMarker(int fd, off_t where) {
  struct flock fl{};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = where;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// ---------------------------------------------------------------------------
// Files

FileHandle PlatOpenFile(const char* path, unsigned flags) {
  if (FaultHit(kFaultOpen, path)) return kNoFile;
  Walked w;
  if (!WalkPath(path, &w) || w.name.empty()) return kNoFile;
  int oflags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  if ((flags & kAccessReadWrite) == kAccessReadWrite)
    oflags |= O_RDWR;
  else if (flags & kAccessWrite)
    oflags |= O_WRONLY;
  else
    oflags |= O_RDONLY;
  if (flags & kOpenCreate) oflags |= O_CREAT;
  int fd = openat(w.parentFd, w.name.c_str(), oflags, 0666);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return kNoFile;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Locks need a readable description; write-only opens skip the markers.
  if (flags & kAccessRead) {
    if ((flags & kAccessWrite) && LockHeldByOther(fd, kLockDenyWrite)) {
      close(fd);
      return kNoFile;
    }
    if ((flags & kShareDenyWrite) && LockHeldByOther(fd, kLockWriteAccess)) {
      close(fd);
      return kNoFile;
    }
    if (flags & kAccessWrite) TakeMarker(fd, kLockWriteAccess);
    if (flags & kShareDenyWrite) TakeMarker(fd, kLockDenyWrite);
  }
  if ((flags & kOpenTruncate) && ftruncate(fd, 0) != 0) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

void PlatCloseFile(FileHandle h) {
  if (h >= 0) close(h);
}

int32_t PlatReadFile(FileHandle h, void* buf, uint32_t n) {
  if (h < 0 || FaultHit(kFaultRead)) return -1;
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = read(h, (char*)buf + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return done ? (int32_t)done : -1;
    }
    if (r == 0) break;
    done += (uint32_t)r;
  }
  return (int32_t)done;
}

int32_t PlatWriteFile(FileHandle h, const void* buf, uint32_t n) {
  if (h < 0 || FaultHit(kFaultWrite)) return -1;
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = write(h, (const char*)buf + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return done ? (int32_t)done : -1;
    }
    if (r == 0) break;
    done += (uint32_t)r;
  }
  return (int32_t)done;
}

int64_t PlatSeek(FileHandle h, int64_t offset, int origin) {
  if (h < 0 || FaultHit(kFaultSeek)) return -1;
  int whence = origin == kSeekBegin ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : SEEK_END;
  off_t r = lseek(h, (off_t)offset, whence);
  return r < 0 ? -1 : (int64_t)r;
}

int64_t PlatFileSize(FileHandle h) {
  struct stat st;
  if (h < 0 || fstat(h, &st) != 0) return -1;
  return (int64_t)st.st_size;
}

bool PlatSetFileLength(FileHandle h, int64_t length) {
  if (h < 0 || length < 0 || FaultHit(kFaultSetLength)) return false;
  return ftruncate(h, (off_t)length) == 0;
}

// ---------------------------------------------------------------------------
// Attributes

// Opens the last component of a path as an O_PATH descriptor, refusing
// links. Returns -1 on failure.
static int OpenEntry(const char* path, struct stat* st) {
  Walked w;
  if (!WalkPath(path, &w)) return -1;
  int fd;
  if (w.name.empty()) {
    fd = w.parentFd;
    w.parentFd = -1;
  } else {
    fd = openat(w.parentFd, w.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) return -1;
  if (fstat(fd, st) != 0 || S_ISLNK(st->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

static std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

uint32_t PlatGetAttributes(const char* path) {
  struct stat st;
  int fd = OpenEntry(path, &st);
  if (fd < 0) return kAttrInvalid;
  uint32_t attrs = 0;
  if (S_ISDIR(st.st_mode)) attrs |= kAttrDirectory;
  else if (!S_ISREG(st.st_mode)) attrs |= kAttrReparse;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) attrs |= kAttrReadOnly;
  uint8_t blob[256];
  ssize_t n = getxattr(ProcPath(fd).c_str(), kDosAttribName, blob, sizeof blob);
  close(fd);
  if (n > 0) {
    uint32_t dos = 0;
    if (DecodeDosAttrib(blob, (size_t)n, &dos, nullptr))
      attrs |= dos & (kAttrHidden | kAttrSystem | kAttrArchive);
  }
  if (attrs == 0) attrs = kAttrNormal;
  return attrs;
}

bool PlatSetAttributes(const char* path, uint32_t attrs) {
  struct stat st;
  int fd = OpenEntry(path, &st);
  if (fd < 0) return false;
  if (attrs & kAttrNormal) attrs = 0;
  std::string proc = ProcPath(fd);
  mode_t mode = st.st_mode & 07777;
  mode_t want = mode;
  if (attrs & kAttrReadOnly)
    want &= ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH);
  else if (!(mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
    want |= S_IWUSR;
  bool ok = true;
  if (want != mode && chmod(proc.c_str(), want) != 0) ok = false;
  // Hidden, system and archive: keep what else the blob holds (times).
  uint8_t old[256];
  ssize_t n = getxattr(proc.c_str(), kDosAttribName, old, sizeof old);
  uint32_t oldDos = 0;
  DosAttribTimes times{};
  bool hadBlob = n > 0 && DecodeDosAttrib(old, (size_t)n, &oldDos, &times);
  uint32_t dos = attrs & (kAttrHidden | kAttrSystem | kAttrArchive);
  if (S_ISDIR(st.st_mode)) dos |= kAttrDirectory;
  if (hadBlob || (attrs & (kAttrHidden | kAttrSystem | kAttrArchive))) {
    uint8_t blob[64];
    size_t len = EncodeDosAttrib(dos, hadBlob ? &times : nullptr, blob, sizeof blob);
    if (setxattr(proc.c_str(), kDosAttribName, blob, len, 0) != 0 &&
        errno != ENOTSUP && errno != EOPNOTSUPP)
      ok = false;
  }
  close(fd);
  return ok;
}

// ---------------------------------------------------------------------------
// Names

bool PlatDeleteFile(const char* path) {
  if (FaultHit(kFaultDelete)) return false;
  Walked w;
  if (!WalkPath(path, &w) || w.name.empty() || !w.exists) return false;
  struct stat st;
  if (fstatat(w.parentFd, w.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
    return false;
  return unlinkat(w.parentFd, w.name.c_str(), 0) == 0;
}

bool PlatRenameFile(const char* oldPath, const char* newPath) {
  if (FaultHit(kFaultRename)) return false;
  Walked a, b;
  if (!WalkPath(oldPath, &a) || !a.exists || a.name.empty()) return false;
  if (!WalkPath(newPath, &b) || b.name.empty()) return false;
  if (!b.exists)
    return renameat2(a.parentFd, a.name.c_str(), b.parentFd, b.name.c_str(), RENAME_NOREPLACE) == 0;
  // An existing target is refused, unless it is the same entry spelled in
  // another case: then the rename changes the case of its name.
  if (a.hostPath != b.hostPath) return false;
  SplitPath sp;
  if (!Split(newPath, &sp) || sp.comps.empty()) return false;
  const std::string& spelled = sp.comps.back();
  if (spelled == a.name) return true;
  return renameat(a.parentFd, a.name.c_str(), b.parentFd, spelled.c_str()) == 0;
}

bool PlatCreateDirectory(const char* path) {
  Walked w;
  if (!WalkPath(path, &w) || w.name.empty() || w.exists) return false;
  return mkdirat(w.parentFd, w.name.c_str(), 0777) == 0;
}

bool PlatRemoveDirectory(const char* path) {
  Walked w;
  if (!WalkPath(path, &w) || w.name.empty() || !w.exists) return false;
  return unlinkat(w.parentFd, w.name.c_str(), AT_REMOVEDIR) == 0;
}

bool PlatFileExists(const char* path) {
  Walked w;
  return WalkPath(path, &w) && w.exists;
}

// ---------------------------------------------------------------------------
// Current directory, volumes, module path

bool PlatSetCurrentDirectory(const char* path) {
  SplitPath sp;
  if (!Split(path, &sp) || sp.hostToken) return false;
  std::string win;
  int fd = OpenDirectoryPath(path, &win, nullptr);
  if (fd < 0) return false;
  bool ok = fchdir(fd) == 0;
  close(fd);
  if (!ok) return false;
  gCwd.known = true;
  gCwd.drive = sp.drive;
  gCwd.comps.clear();
  AppendComponents(&gCwd.comps, win.substr(3));
  return true;
}

std::string PlatGetCurrentDirectory() {
  EnsureCwd();
  if (gCwd.drive == 0) return std::string();
  std::string s(1, gCwd.drive);
  s += ":\\";
  for (size_t i = 0; i < gCwd.comps.size(); i++) {
    if (i) s += '\\';
    s += gCwd.comps[i];
  }
  return s;
}

std::string PlatGetVolumeLabel(char letter) {
  const DriveInfo* d = FindDrive(letter);
  return d ? d->label : std::string();
}

std::string PlatGetModuleHostPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  buf[n] = 0;
  return buf;
}

std::string PlatGetModulePath() {
  std::string host = PlatGetModuleHostPath();
  if (host.empty()) return host;
  std::string win = PlatWindowsPath(host);
  return win.empty() ? HostPathToken(host) : win;
}

// ---------------------------------------------------------------------------
// Enumeration

bool PlatMatchPattern(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*") == 0 || std::strcmp(pattern, "*.*") == 0) return true;
  // Iterative wildcard match with one backtrack point for the last '*'.
  const char* p = pattern;
  const char* n = name;
  const char* star = nullptr;
  const char* mark = nullptr;
  while (*n) {
    if (*p == '*') {
      star = p++;
      mark = n;
    } else if (*p == '?' || (*p && Upper(*p) == Upper(*n))) {
      p++;
      n++;
    } else if (star) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (*p == '*') p++;
  return *p == 0;
}

struct FindState {
  std::vector<FindData> entries;
  size_t next;
};

FindHandle PlatFindFirst(const char* pattern, FindData* out) {
  std::string s(pattern ? pattern : "");
  std::replace(s.begin(), s.end(), '/', '\\');
  size_t cut = s.find_last_of('\\');
  std::string dir, pat;
  if (cut == std::string::npos) {
    size_t colon = s.find(':');
    dir = colon == std::string::npos ? "." : s.substr(0, colon + 1) + ".";
    pat = colon == std::string::npos ? s : s.substr(colon + 1);
  } else {
    dir = s.substr(0, cut + 1);
    pat = s.substr(cut + 1);
  }
  if (pat.empty()) return kNoFind;
  int fd = OpenDirectoryPath(dir.c_str(), nullptr, nullptr);
  if (fd < 0) return kNoFind;
  int fd2 = dup(fd);
  DIR* d = fd2 >= 0 ? fdopendir(fd2) : nullptr;
  if (!d) {
    if (fd2 >= 0) close(fd2);
    close(fd);
    return kNoFind;
  }
  auto* st = new FindState{{}, 0};
  while (struct dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (std::strlen(e->d_name) >= sizeof(FindData::name)) continue;
    if (!PlatMatchPattern(pat.c_str(), e->d_name)) continue;
    FindData fdat{};
    std::strcpy(fdat.name, e->d_name);
    struct stat sb;
    if (fstatat(fd, e->d_name, &sb, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(sb.st_mode))
      fdat.attributes = kAttrDirectory;
    else if (S_ISREG(sb.st_mode))
      fdat.attributes = (sb.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) ? kAttrNormal : kAttrReadOnly;
    else
      fdat.attributes = kAttrReparse;
    fdat.size = S_ISREG(sb.st_mode) ? (int64_t)sb.st_size : 0;
    st->entries.push_back(fdat);
  }
  closedir(d);
  close(fd);
  std::sort(st->entries.begin(), st->entries.end(), [](const FindData& a, const FindData& b) {
    for (const char *x = a.name, *y = b.name;; x++, y++) {
      char cx = Upper(*x), cy = Upper(*y);
      if (cx != cy) return (unsigned char)cx < (unsigned char)cy;
      if (!cx) return std::strcmp(a.name, b.name) < 0;
    }
  });
  if (st->entries.empty()) {
    delete st;
    return kNoFind;
  }
  *out = st->entries[0];
  st->next = 1;
  return st;
}

bool PlatFindNext(FindHandle h, FindData* out) {
  auto* st = static_cast<FindState*>(h);
  if (!st || st->next >= st->entries.size()) return false;
  *out = st->entries[st->next++];
  return true;
}

void PlatFindClose(FindHandle h) { delete static_cast<FindState*>(h); }
