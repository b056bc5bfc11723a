// kvscan: the command-line scanner.
//
// Runs the service's engine over files and directory trees given on the
// command line: every candidate file goes through scan dispatch, which
// names, cures (unless --no-cure) and logs what it finds. Paths are host
// paths or Windows paths of the machine's drives; a host path outside every
// drive is scanned the way a diskette is, mapped as drive A: for the run.
//
// State: the options and the event count of this run (file statics).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <filesystem>
#include <vector>

#include "common/config.h"
#include "cure/vaccine.h"
#include "engine/dispatch.h"
#include "engine/file_scanner.h"
#include "engine/status.h"
#include "engine/virus_db.h"
#include "platform/files.h"
#include "platform/machine.h"

static const char kUsage[] =
    "Usage: kvscan [--machine DIR] [--database FILE] [--report FILE] [--no-cure] [--json] PATH...\n"
    "\n"
    "Scans DOS programs (COM, EXE, OVL, OVR) and Word documents for viruses with\n"
    "the Korvane engine, cleans what it can, and writes every detection and cure\n"
    "to the report log.\n"
    "\n"
    "  PATH             a file or directory: a host path, or a Windows path of one\n"
    "                   of the machine's drives (C:\\GAMES). Directories are walked\n"
    "                   depth first, a directory's files before its subdirectories.\n"
    "                   A host path outside every drive is scanned like a diskette\n"
    "                   (mapped as drive A: for the run).\n"
    "  --machine DIR    the machine directory (default $KORVANE_MACHINE, else\n"
    "                   /var/lib/korvane/machine); its drives.conf maps the drives.\n"
    "  --database FILE  the virus database (default: QUELTAN.CTL beside kvscan).\n"
    "  --report FILE    the report log (default: the configured report file,\n"
    "                   C:\\QUELTAN\\QUELTAN.LOG).\n"
    "  --no-cure        detect and report only; no file is changed.\n"
    "  --json           one JSON object per line for every detection, cure and\n"
    "                   failure, then a summary object.\n"
    "  --help           this text.\n"
    "\n"
    "Exit status: 0 no virus found, 1 a virus was found (cured or not),\n"
    "2 an error stopped the scan (unreadable database, bad arguments).\n";

static struct {
  bool json;                 // --json
  bool cure;                 // not --no-cure
  int detections;            // viruses found in this run
} gRun = {false, true, 0};

// ---------------------------------------------------------------------------
// Output

static void JsonString(std::string* out, const char* s) {
  *out += '"';
  for (const unsigned char* p = (const unsigned char*)s; *p; p++) {
    switch (*p) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (*p < 0x20 || *p >= 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", *p);
          *out += buf;
        } else {
          *out += (char)*p;
        }
    }
  }
  *out += '"';
}

static void OnScanEvent(const ScanEvent& e) {
  static const char* const kKinds[] = {"detected", "cured", "failed", "modified"};
  if (e.kind == kEventDetected || e.kind == kEventModified) gRun.detections++;
  std::string host = PlatHostPath(e.displayName);
  if (host.empty()) host = e.displayName;
  if (gRun.json) {
    std::string line = "{\"event\":";
    JsonString(&line, kKinds[e.kind]);
    line += ",\"path\":";
    JsonString(&line, host.c_str());
    line += ",\"file\":";
    JsonString(&line, e.displayName);
    line += ",\"virus\":";
    JsonString(&line, e.virusName);
    line += ",\"user\":";
    JsonString(&line, e.userName[0] ? e.userName : "System");
    line += ",\"action\":";
    JsonString(&line, e.kind == kEventDetected ? "Detected" : e.actionText);
    if (e.detail[0]) {
      line += ",\"detail\":";
      JsonString(&line, e.detail);
    }
    line += "}";
    std::printf("%s\n", line.c_str());
  } else if (e.kind == kEventDetected) {
    std::printf("%s: %s: detected\n", host.c_str(), e.virusName);
  } else if (e.detail[0]) {
    std::printf("%s: %s: %s: %s\n", host.c_str(), e.virusName, e.actionText, e.detail);
  } else {
    std::printf("%s: %s: %s\n", host.c_str(), e.virusName[0] ? e.virusName : "Unknown", e.actionText);
  }
  std::fflush(stdout);
}

static void PrintSummary() {
  const ScanCounters& c = Counters();
  if (gRun.json) {
    std::printf("{\"total\":%d,\"copied\":%d,\"cleaned\":%d,\"infected\":%d,"
                "\"reconstructed\":%d,\"modified\":%d}\n",
                c.totalFiles, c.copied, c.cleaned, c.infected, c.reconstructed, c.modified);
    return;
  }
  std::printf("\nTotal files   : %d\nCopied        : %d\nCleaned       : %d\nInfected      : %d\n"
              "Reconstructed : %d\nModified      : %d\n",
              c.totalFiles, c.copied, c.cleaned, c.infected, c.reconstructed, c.modified);
}

// Status records have no console to go to here.
static bool DropStatus(const StatusLine&) { return true; }

// ---------------------------------------------------------------------------
// The walk: a directory's files, then its subdirectories, depth first.

constexpr int kMaxDepth = 100;

static void ScanFileHere(const char* name) {
  ScanRequest& r = Request();
  std::string dir = PlatGetCurrentDirectory();
  SetStatusText(r.directory, sizeof r.directory, dir.c_str());
  std::string display = dir + (dir.back() == '\\' ? "" : "\\") + name;
  SetStatusText(r.displayName, sizeof r.displayName, display.size() <= 295 ? display.c_str() : name);
  SetStatusText(Status().currentFile, sizeof Status().currentFile, r.displayName);
  SendStatusLine(true);
  DispatchFile(name, true);
}

static void WalkHere(const char* onlyName, int depth) {
  FindData fd;
  FindHandle h = PlatFindFirst(onlyName ? onlyName : "*.*", &fd);
  if (h != kNoFind) {
    do {
      if (fd.attributes & (kAttrDirectory | kAttrReparse)) continue;
      if (IsScanCandidateName(fd.name)) ScanFileHere(fd.name);
    } while (PlatFindNext(h, &fd));
    PlatFindClose(h);
  }
  if (onlyName || depth >= kMaxDepth) return;
  std::vector<std::string> subdirs;
  h = PlatFindFirst("*.*", &fd);
  if (h != kNoFind) {
    do {
      if ((fd.attributes & kAttrDirectory) && fd.name[0] != '.') subdirs.push_back(fd.name);
    } while (PlatFindNext(h, &fd));
    PlatFindClose(h);
  }
  for (const std::string& d : subdirs) {
    if (!PlatSetCurrentDirectory(d.c_str())) continue;
    WalkHere(nullptr, depth + 1);
    PlatSetCurrentDirectory("..");
  }
}

// Scans one Windows path: a directory tree or a single file.
static bool ScanWindowsPath(const std::string& win) {
  if (PlatSetCurrentDirectory(win.c_str())) {
    WalkHere(nullptr, 0);
    return true;
  }
  size_t cut = win.find_last_of('\\');
  if (cut == std::string::npos) return false;
  std::string dir = win.substr(0, cut + 1 == 3 ? 3 : cut);
  std::string name = win.substr(cut + 1);
  if (!PlatFileExists(win.c_str()) || !PlatSetCurrentDirectory(dir.c_str())) return false;
  WalkHere(name.c_str(), 0);
  return true;
}

static bool IsWindowsPath(const char* arg) {
  return ((arg[0] >= 'A' && arg[0] <= 'Z') || (arg[0] >= 'a' && arg[0] <= 'z')) && arg[1] == ':' &&
         FindDrive(arg[0]) != nullptr;
}

// The absolute host path of an existing file or directory, links resolved
// (the administrator named it), or empty.
static std::string AbsoluteHostPath(const char* arg) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::canonical(arg, ec);
  return ec ? std::string() : p.string();
}

// Scans one argument; false with a message when it cannot be found.
static bool ScanArgument(const char* arg) {
  if (IsWindowsPath(arg)) return ScanWindowsPath(arg);
  std::string host = AbsoluteHostPath(arg);
  if (host.empty()) return false;
  std::string win = PlatWindowsPath(host);
  if (!win.empty()) return ScanWindowsPath(win);
  // Outside every drive: a diskette for the length of this scan.
  const DriveInfo* old = FindDrive('A');
  DriveInfo saved = old ? *old : DriveInfo{};
  bool hadA = old != nullptr;
  std::string root = host;
  std::string only;
  uint32_t attrs = PlatGetAttributes(HostPathToken(host).c_str());
  if (attrs == kAttrInvalid) return false;
  if (!(attrs & kAttrDirectory)) {
    size_t cut = host.find_last_of('/');
    root = cut == 0 ? "/" : host.substr(0, cut);
    only = host.substr(cut + 1);
  }
  MapDrive('A', kDriveRemovable, root);
  bool ok = ScanWindowsPath(only.empty() ? std::string("A:\\") : "A:\\" + only);
  UnmapDrive('A');
  if (hadA) MapDrive('A', saved.type, saved.hostDir, saved.label);
  return ok;
}

int main(int argc, char** argv) {
  const char* machine = nullptr;
  const char* database = nullptr;
  const char* report = nullptr;
  std::vector<const char*> paths;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kvscan: %s needs a value\n", a);
        std::exit(2);
      }
      *out = argv[++i];
    };
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(a, "--machine") == 0) {
      value(&machine);
    } else if (std::strcmp(a, "--database") == 0) {
      value(&database);
    } else if (std::strcmp(a, "--report") == 0) {
      value(&report);
    } else if (std::strcmp(a, "--no-cure") == 0) {
      gRun.cure = false;
    } else if (std::strcmp(a, "--json") == 0) {
      gRun.json = true;
    } else if (a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "kvscan: unknown option %s\n%s", a, kUsage);
      return 2;
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr, "kvscan: no path to scan\n%s", kUsage);
    return 2;
  }

  std::string err;
  if (!MachineOpen(machine, &err)) {
    std::fprintf(stderr, "kvscan: %s\n", err.c_str());
    return 2;
  }

  const char* failure = nullptr;
  bool loaded;
  if (database) {
    std::string win = IsWindowsPath(database) ? std::string(database)
                                              : HostPathToken(AbsoluteHostPath(database));
    loaded = !(win.empty() || win == HostPathToken("")) &&
             LoadVirusDatabaseFrom(win.c_str(), &failure);
    if (!loaded && !failure) failure = kDbOpenFailure;
  } else {
    loaded = LoadVirusDatabase(&failure);
  }
  if (!loaded) {
    // The database's own text, without its leading line break.
    const char* text = failure[0] == '\n' ? failure + 1 : failure;
    std::fprintf(stderr, "kvscan: %s\n", text);
    return 2;
  }

  if (report) {
    std::string win;
    if (IsWindowsPath(report)) {
      win = report;
    } else {
      // The report file need not exist yet: resolve its directory.
      std::string r(report);
      size_t cut = r.find_last_of('/');
      std::string dir = cut == std::string::npos ? "." : (cut == 0 ? "/" : r.substr(0, cut));
      std::string absDir = AbsoluteHostPath(dir.c_str());
      if (absDir.empty()) {
        std::fprintf(stderr, "kvscan: no such directory for the report: %s\n", dir.c_str());
        return 2;
      }
      win = HostPathToken(absDir + "/" + r.substr(cut == std::string::npos ? 0 : cut + 1));
    }
    if (win.size() >= sizeof gConfig.reportFileName) {
      std::fprintf(stderr, "kvscan: report path too long\n");
      return 2;
    }
    std::strcpy(gConfig.reportFileName, win.c_str());
  }

  SetStatusSink(DropStatus);
  SetScanObserver(OnScanEvent);
  SetCureEnabled(gRun.cure);
  int status = 0;
  for (const char* p : paths) {
    if (!ScanArgument(p)) {
      std::fprintf(stderr, "kvscan: cannot scan %s: no such file or directory\n", p);
      status = 2;
    }
  }
  PrintSummary();
  FreeVirusDatabase();
  if (status) return status;
  return gRun.detections ? 1 : 0;
}
