// kvscan: the command-line scanner.
//
// Runs the service's engine over files and directory trees given on the
// command line with the service's path walker: every file it takes goes
// through scan dispatch, which names, cures (unless --no-cure) and logs
// what it finds. Paths are host paths or Windows paths of the machine's
// drives. A fixed drive is walked through its integrity database, as the
// service walks it, so a second scan looks again only at files that
// changed; A: and B: are walked plainly; other drives are not scanned. A
// host path outside every drive is scanned the way a diskette is, mapped as
// drive A: for the run. The configuration file (QUELTAN.INI) and the drive
// state file (QUELTAN.CDI) are read as the service reads them.
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
#include "engine/integrity.h"
#include "engine/status.h"
#include "engine/virus_db.h"
#include "engine/walker.h"
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
  int detections;            // viruses and modifications found in this run
  bool notedState;           // the missing state file has been mentioned
} gRun = {false, true, 0, false};

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
    JsonString(&line, e.actionText[0] ? e.actionText : "Detected");
    if (e.detail[0]) {
      line += ",\"detail\":";
      JsonString(&line, e.detail);
    }
    line += "}";
    std::printf("%s\n", line.c_str());
  } else if (e.kind == kEventDetected) {
    std::printf("%s: %s: detected\n", host.c_str(), e.virusName);
  } else if (e.kind == kEventModified && !e.actionText[0]) {
    std::printf("%s: Unknown: modified\n", host.c_str());
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
// Paths

static const char* DriveKindName(DriveType type) {
  switch (type) {
    case kDriveRemovable: return "removable";
    case kDriveRemote: return "network";
    case kDriveCdrom: return "CD-ROM";
    case kDriveRamdisk: return "RAM disk";
    default: return "unknown";
  }
}

// Scans one Windows path, a directory tree or a single file, the way the
// service does: A: and B: plainly, a fixed drive through its integrity
// database (which the scan creates in the drive's root); other drives are
// not scanned. False when the path does not exist.
static bool ScanWindowsPath(const std::string& win) {
  uint32_t attrs = PlatGetAttributes(win.c_str());
  if (attrs == kAttrInvalid || (attrs & kAttrReparse)) return false;
  char letter = (char)(win[0] & ~0x20);
  DriveType type = GetDriveType(letter);
  bool diskette = letter == 'A' || letter == 'B';
  if (!diskette && type != kDriveFixed) {
    std::fprintf(stderr, "kvscan: %s: %c: is a %s drive; only fixed drives and the diskette drives A: and B: "
                 "are scanned\n", win.c_str(), letter, DriveKindName(type));
    return true;
  }
  if (!diskette && !IntegrityStateFileOpen() && !gRun.notedState) {
    gRun.notedState = true;
    std::fprintf(stderr, "kvscan: note: %s cannot be opened; a scan of a fixed drive that is cut short will "
                 "not be noticed by the next one\n", kStateFilePath);
  }
  int result = (attrs & kAttrDirectory) ? ScanPath(win.c_str()) : ScanSingleFile(win.c_str());
  if (result == kWalkNoPath) return false;
  if (result == kWalkNoDatabase)
    std::fprintf(stderr, "kvscan: %s: the integrity files of %c: cannot be opened or created; not scanned\n",
                 win.c_str(), letter);
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
  // FILESPEC patterns and the skip list; a missing file keeps the defaults.
  ReadConfig();

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
  OpenIntegrityStateFile();
  int status = 0;
  for (const char* p : paths) {
    if (!ScanArgument(p)) {
      std::fprintf(stderr, "kvscan: cannot scan %s: no such file or directory\n", p);
      status = 2;
    }
  }
  CloseIntegrityStateFile();
  PrintSummary();
  FreeVirusDatabase();
  FreeConfigLists();
  if (status) return status;
  return gRun.detections ? 1 : 0;
}
