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
#include <cstdint>
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

// The directory that PlatSetCurrentDirectory entered, held open so that a
// bare name is opened in it without walking the path from the drive root
// once more (Windows, too, keeps a handle to the current directory). Valid
// while the drive is mapped to the same host directory as when it was set.
static struct {
  int fd = -1;             // the directory, -1 when not held
  std::string root;        // host directory of its drive at that time
} gCwdDir;

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
// itself and name is empty. With resolveLast false the last component is
// left as given (name, exists and hostPath are then not looked up).
static bool WalkPath(const char* path, Walked* w, bool resolveLast = true) {
  SplitPath sp;
  if (!Split(path, &sp)) return false;
  std::string root = RootOf(sp);
  if (root.empty()) return false;
  int fd = -1;
  std::string host = root;
  std::string win = WinPrefix(sp);
  size_t first = 0;
  if (sp.hostToken && sp.comps.size() > 1) {
    // A host path is resolved as given, links included: when every
    // directory is there under its exact name, one open reaches the last.
    std::string dir, text;
    for (size_t i = 0; i + 1 < sp.comps.size(); i++) {
      dir += "/" + sp.comps[i];
      text += (i ? "\\" : "") + sp.comps[i];
    }
    int whole = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (whole >= 0) {
      fd = whole;
      host = dir;
      win += text;
      first = sp.comps.size() - 1;
    }
  }
  if (fd < 0) fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  for (size_t i = first; i + 1 < sp.comps.size(); i++) {
    // Host tokens name a path an administrator gave; drives never follow
    // links below their roots. The exact name is tried first; only a name
    // that is not there is looked for without regard to case.
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (sp.hostToken ? 0 : O_NOFOLLOW);
    std::string disk = sp.comps[i];
    int next = openat(fd, disk.c_str(), flags);
    if (next < 0 && errno == ENOENT && FindNoCase(fd, sp.comps[i], &disk))
      next = openat(fd, disk.c_str(), flags);
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
  if (!resolveLast) {
    w->name = sp.comps.back();
    return true;
  }
  w->exists = Lookup(fd, sp.comps.back(), &w->name);
  if (host.back() != '/') host += '/';
  w->hostPath = host + w->name;
  return true;
}

// The held current directory, when path is a bare name in it (no drive,
// no separator, not "." or ".."); -1 otherwise. Such a name resolves to the
// same directory as walking the current directory's path would.
static int HeldCurrentDirectory() {
  if (gCwdDir.fd < 0 || !gCwd.known) return -1;
  const DriveInfo* d = FindDrive(gCwd.drive);
  if (d == nullptr || d->hostDir != gCwdDir.root) return -1;
  return gCwdDir.fd;
}

static int CurrentDirectoryFor(const char* path) {
  if (path == nullptr || path[0] == 0) return -1;
  if (std::strcmp(path, ".") == 0 || std::strcmp(path, "..") == 0) return -1;
  if (std::strpbrk(path, "\\/:") != nullptr) return -1;
  return HeldCurrentDirectory();
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
// File positions and read buffers
//
// Each open handle has a slot that keeps its file position, so a seek costs
// no system call and a read or write is one pread or pwrite at it. A handle
// without write access also reads through a buffer: a read that misses it
// fetches the 8 KB around the position with one pread, and the reads after
// it that stay inside are served from memory. Positions, counts and bytes
// are those that reading and writing the file directly give. A handle that
// reads and denies writers keeps the size taken at its opening, since no
// writer can change the file meanwhile; other handles use that size only to
// keep a fill from reading past the end of the file.

constexpr int kSlots = 16;
constexpr int64_t kReadBuffer = 8192;
constexpr int64_t kReadBehind = 512;     // fills start up to 1 KB before the position

struct FileSlot {
  int fd = -1;               // the handle; -1 when the slot is free
  bool buffered = false;     // opened without write access
  int64_t pos = 0;           // the handle's file position
  int64_t start = 0;         // file offset of buf[0]
  int64_t held = 0;          // bytes in buf
  bool ended = false;        // the file ended after those bytes when they were read
  int64_t size = -1;         // size kept from the opening; -1 when not kept
  int64_t hint = -1;         // size at the opening, a bound for fills only
  uint8_t buf[kReadBuffer];
};
static FileSlot gSlots[kSlots];

// A write or a length change through any handle may change what another
// handle of this process reads: every buffer and kept size is dropped.
static void ForgetHeldBytes() {
  for (FileSlot& s : gSlots) {
    s.held = 0;
    s.ended = false;
    s.size = s.hint = -1;
  }
}

static FileSlot* SlotOf(int fd) {
  for (FileSlot& s : gSlots)
    if (s.fd == fd) return &s;
  return nullptr;
}

// Without a free slot the handle works on the system's file position.
static void TakeSlot(int fd, bool buffered, int64_t size, int64_t hint) {
  // The system has just handed out this number: a slot still naming it
  // belongs to a handle closed behind this layer's back.
  for (FileSlot& s : gSlots)
    if (s.fd == fd) s.fd = -1;
  for (FileSlot& s : gSlots) {
    if (s.fd >= 0) continue;
    s.fd = fd;
    s.buffered = buffered;
    s.pos = s.start = s.held = 0;
    s.ended = false;
    s.size = size;
    s.hint = hint;
    return;
  }
}

// Reads n bytes at pos, as many as there are: the count, or -1 when the
// first read fails. *ended tells whether the end of the file was met.
static int32_t ReadAtMost(int fd, void* buf, int64_t n, int64_t pos, bool* ended) {
  int64_t done = 0;
  *ended = false;
  while (done < n) {
    ssize_t r = pread(fd, (char*)buf + done, (size_t)(n - done), (off_t)(pos + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return done ? (int32_t)done : -1;
    }
    if (r == 0) {
      *ended = true;
      break;
    }
    done += r;
  }
  return (int32_t)done;
}

// Serves a read from the buffer; -2 when the buffer cannot answer it.
static int32_t ReadHeld(FileSlot* s, void* buf, uint32_t n) {
  int64_t end = s->start + s->held;
  if (s->pos < s->start || s->pos > end) return -2;
  int64_t avail = end - s->pos;
  if (avail < (int64_t)n && !s->ended) return -2;
  int64_t take = avail < (int64_t)n ? avail : (int64_t)n;
  std::memcpy(buf, s->buf + (s->pos - s->start), (size_t)take);
  s->pos += take;
  return (int32_t)take;
}

// Fills the buffer for a read of n bytes at the position. A handle that
// denies writers is a scan's: it reads the first page, or the 8 KB around
// the position, since the reads that follow stay near. Any other handle
// reads only the 512-byte blocks the read touches.
static void Fill(FileSlot* s, uint32_t n) {
  int64_t from, want;
  if (s->size >= 0) {
    if (s->pos + (int64_t)n <= 4096) {
      from = 0;
      want = 4096;
    } else {
      from = s->pos >= 2 * kReadBehind ? (s->pos - kReadBehind) & ~(kReadBehind - 1) : 0;
      want = kReadBuffer;
    }
  } else {
    // The blocks the read touches: the two ends of a program that the
    // integrity check reads. A handle that also writes (the integrity
    // files, read a record after another) reads at least 4 KB ahead.
    from = s->pos & ~(kReadBehind - 1);
    want = (s->pos + (int64_t)n - from + kReadBehind - 1) & ~(kReadBehind - 1);
    if (s->hint < 0 && want < 4096) want = 4096;
    if (want > kReadBuffer) want = kReadBuffer;
  }
  int64_t bound = s->size >= 0 ? s->size : s->hint;
  if (bound >= 0 && bound - from < want) want = bound > from ? bound - from : 0;
  bool ended = false;
  int32_t got = want > 0 ? ReadAtMost(s->fd, s->buf, want, from, &ended) : 0;
  // With the size kept, the end of the file is known without a read to
  // find it; with only the hint, it is known when a read meets it.
  if (s->size >= 0 && got == want && from + got == s->size) ended = true;
  s->start = from;
  s->held = got > 0 ? got : 0;
  s->ended = ended && got >= 0;
}

static int32_t ReadThroughSlot(FileSlot* s, void* buf, uint32_t n) {
  if (n == 0) return 0;
  if (s->buffered && s->pos < INT64_MAX / 2) {
    int32_t got = ReadHeld(s, buf, n);
    if (got != -2) return got;
    if ((int64_t)n + 2 * kReadBehind <= kReadBuffer) {
      Fill(s, n);
      got = ReadHeld(s, buf, n);
      if (got != -2) return got;
    }
  }
  // Unbuffered, a large read, or one the fill could not serve.
  bool ended;
  int32_t got = ReadAtMost(s->fd, buf, n, s->pos, &ended);
  if (got > 0) s->pos += got;
  return got;
}

// ---------------------------------------------------------------------------
// Files

FileHandle PlatOpenFile(const char* path, unsigned flags) {
  if (FaultHit(kFaultOpen, path)) return kNoFile;
  int oflags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  if ((flags & kAccessReadWrite) == kAccessReadWrite)
    oflags |= O_RDWR;
  else if (flags & kAccessWrite)
    oflags |= O_WRONLY;
  else
    oflags |= O_RDONLY;
  if (flags & kOpenCreate) oflags |= O_CREAT;
  // A bare name is opened in the held current directory; any other path is
  // walked from its drive's root. An existing file is opened by its exact
  // name first and looked for without regard to case only when that name
  // is not there; a file to be created is looked for first, so that it is
  // never made beside one whose name differs only in case.
  Walked w;
  int dirfd = CurrentDirectoryFor(path);
  std::string name;
  if (dirfd >= 0) {
    name = path;
  } else {
    if (!WalkPath(path, &w, false) || w.name.empty()) return kNoFile;
    dirfd = w.parentFd;
    name = w.name;
  }
  int fd;
  if (flags & kOpenCreate) {
    std::string disk;
    Lookup(dirfd, name, &disk);
    fd = openat(dirfd, disk.c_str(), oflags, 0666);
  } else {
    fd = openat(dirfd, name.c_str(), oflags, 0666);
    std::string disk;
    if (fd < 0 && errno == ENOENT && FindNoCase(dirfd, name, &disk))
      fd = openat(dirfd, disk.c_str(), oflags, 0666);
  }
  if (fd < 0) return kNoFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return kNoFile;
  }
  // O_NONBLOCK only keeps the open itself from waiting (on a FIFO put in
  // the file's place); it has no effect on a regular file's reads and
  // writes, so it is left set.
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
  // Every readable handle reads through its buffer; any write in the
  // process drops all buffers, so a handle always reads what is in the file.
  bool reader = !(flags & kAccessWrite);
  int64_t size = (flags & kOpenTruncate) ? 0 : (int64_t)st.st_size;
  TakeSlot(fd, (flags & kAccessRead) != 0, reader && (flags & kShareDenyWrite) ? size : -1,
           reader ? size : -1);
  return fd;
}

void PlatCloseFile(FileHandle h) {
  if (h < 0) return;
  if (FileSlot* s = SlotOf(h)) s->fd = -1;
  close(h);
}

int32_t PlatReadFile(FileHandle h, void* buf, uint32_t n) {
  if (h < 0 || FaultHit(kFaultRead)) return -1;
  if (FileSlot* s = SlotOf(h)) return ReadThroughSlot(s, buf, n);
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
  ForgetHeldBytes();
  FileSlot* s = SlotOf(h);
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = s ? pwrite(h, (const char*)buf + done, n - done, (off_t)(s->pos + done))
                  : write(h, (const char*)buf + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (done == 0) return -1;
      break;
    }
    if (r == 0) break;
    done += (uint32_t)r;
  }
  if (s) s->pos += done;
  return (int32_t)done;
}

int64_t PlatSeek(FileHandle h, int64_t offset, int origin) {
  if (h < 0 || FaultHit(kFaultSeek)) return -1;
  int whence = origin == kSeekBegin ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : SEEK_END;
  FileSlot* s = SlotOf(h);
  if (!s) {
    off_t r = lseek(h, (off_t)offset, whence);
    return r < 0 ? -1 : (int64_t)r;
  }
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->pos : PlatFileSize(h);
  if (base < 0) return -1;
  if (offset > 0 && base > INT64_MAX - offset) return -1;
  int64_t target = base + offset;
  if (target < 0) return -1;
  s->pos = target;
  return target;
}

int64_t PlatFileSize(FileHandle h) {
  if (h < 0) return -1;
  // A read-only handle answers with the size taken at its opening until
  // some write of this process drops it: the integrity check asks for the
  // size right after opening the file.
  if (FileSlot* s = SlotOf(h)) {
    if (s->size >= 0) return s->size;
    if (s->hint >= 0) return s->hint;
  }
  struct stat st;
  if (fstat(h, &st) != 0) return -1;
  return (int64_t)st.st_size;
}

bool PlatSetFileLength(FileHandle h, int64_t length) {
  if (h < 0 || length < 0 || FaultHit(kFaultSetLength)) return false;
  ForgetHeldBytes();
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

// Moves into a subdirectory of the held current directory, or to its
// parent, without walking the path from the drive root again (a walk does
// both for every directory it enters). False when the short way does not
// apply; the caller then takes the long one.
static bool StepCurrentDirectory(const char* path, bool* ok) {
  int held = HeldCurrentDirectory();
  if (held < 0) return false;
  bool up = std::strcmp(path, "..") == 0;
  if (up ? gCwd.comps.empty() : CurrentDirectoryFor(path) < 0) return false;
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  std::string disk = up ? std::string("..") : std::string(path);
  int fd = openat(held, disk.c_str(), flags);
  if (fd < 0 && !up && errno == ENOENT && FindNoCase(held, path, &disk)) fd = openat(held, disk.c_str(), flags);
  *ok = false;
  if (fd < 0) return true;
  if (fchdir(fd) != 0) {
    close(fd);
    return true;
  }
  close(gCwdDir.fd);
  gCwdDir.fd = fd;
  if (up)
    gCwd.comps.pop_back();
  else
    gCwd.comps.push_back(disk);
  *ok = true;
  return true;
}

bool PlatSetCurrentDirectory(const char* path) {
  bool stepped;
  if (path && StepCurrentDirectory(path, &stepped)) return stepped;
  SplitPath sp;
  if (!Split(path, &sp) || sp.hostToken) return false;
  std::string win;
  int fd = OpenDirectoryPath(path, &win, nullptr);
  if (fd < 0) return false;
  if (fchdir(fd) != 0) {
    close(fd);
    return false;
  }
  if (gCwdDir.fd >= 0) close(gCwdDir.fd);
  gCwdDir.fd = fd;
  gCwdDir.root = RootOf(sp);
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

FindHandle PlatFindFirst(const char* pattern, FindData* out, unsigned flags) {
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
  int held = dir == "." ? HeldCurrentDirectory() : -1;
  int fd = held >= 0 ? openat(held, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                     : OpenDirectoryPath(dir.c_str(), nullptr, nullptr);
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
    // The entry's type from the directory itself spares a stat where the
    // stat would add nothing: directories and links have no size to
    // report, and a search for directories passes over everything else.
    if (e->d_type == DT_DIR || e->d_type == DT_LNK) {
      fdat.attributes = e->d_type == DT_DIR ? kAttrDirectory : kAttrReparse;
      if (!(flags & kFindDirectoriesOnly) || e->d_type == DT_DIR) st->entries.push_back(fdat);
      continue;
    }
    if ((flags & kFindDirectoriesOnly) && e->d_type != DT_UNKNOWN) continue;
    if ((flags & kFindNamesOnly) && e->d_type == DT_REG) {
      fdat.attributes = kAttrNormal;
      fdat.size = -1;
      st->entries.push_back(fdat);
      continue;
    }
    struct stat sb;
    if (fstatat(fd, e->d_name, &sb, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if ((flags & kFindDirectoriesOnly) && !S_ISDIR(sb.st_mode)) continue;
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
