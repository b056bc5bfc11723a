// Scan dispatch: see dispatch.h.
#include "engine/dispatch.h"

#include <cstdio>
#include <cstring>

#include "cure/alerts.h"
#include "cure/report_log.h"
#include "cure/vaccine.h"
#include "engine/file_scanner.h"
#include "engine/status.h"
#include "engine/target_file.h"
#include "engine/virus_db.h"

// Passes over one file at most. A vaccine that keeps "curing" without
// removing its virus is stopped by the dropper rename after 50 detections
// in a row; this bound also ends the work when two vaccines undo each
// other, or a rename keeps failing, so no file can hold the scan forever.
constexpr int kMaxPasses = 256;
// Repeats of the special pass in one pass, for the same reason.
constexpr int kMaxSpecialRepeats = 50;
// The 51st detection in a row of the same virus renames the file.
constexpr int32_t kDropperRepeat = 50;

static struct {
  ScanRequest request;       // the file being scanned
  ScanVerdict verdict;       // its state and outcome
  bool stillInfected;        // the last detection was not cured
  ScanObserver observer;     // tool watching the results
  bool cureDisabled;         // detect and report only
  char upperName[kNameMax];  // the file's name, upper-cased, for the detectors
  bool keptOpen;             // the special pass left the file open in scan mode
} gDispatch;

const char* SpecialPassName() { return gDispatch.upperName; }

void SetCureEnabled(bool on) { gDispatch.cureDisabled = !on; }
bool CureEnabled() { return !gDispatch.cureDisabled; }

ScanRequest& Request() { return gDispatch.request; }
ScanVerdict& Verdict() { return gDispatch.verdict; }
void SetScanObserver(ScanObserver observer) { gDispatch.observer = observer; }

void NotifyScanEvent(const ScanEvent& event) {
  if (gDispatch.observer) gDispatch.observer(event);
}

const char* ScanUserName() { return OnlineUserName(); }

static void CopyText(char* dst, size_t size, const char* src) {
  SetStatusText(dst, size, src);
}

static void Notify(ScanEventKind kind, const char* action, const char* detail) {
  ScanVerdict& v = gDispatch.verdict;
  ScanEvent e{kind, gDispatch.request.displayName, gDispatch.request.reportName,
              v.virusName, ScanUserName(), action ? action : "", detail ? detail : ""};
  NotifyScanEvent(e);
}

// messageText: what the console and the alerts say about a result.
static void ComposeMessage() {
  ScanVerdict& v = gDispatch.verdict;
  const char* user = ScanUserName();
  int n = std::snprintf(v.messageText, sizeof v.messageText, "Detected %s Virus !.\nFile Name   : %s",
                        v.virusName, gDispatch.request.displayName);
  if (n < 0 || (size_t)n >= sizeof v.messageText) return;
  if (user[0]) {
    n += std::snprintf(v.messageText + n, sizeof v.messageText - (size_t)n, "\nInfected by : %s", user);
    if ((size_t)n >= sizeof v.messageText) return;
  }
  std::snprintf(v.messageText + n, sizeof v.messageText - (size_t)n, "\nAction Taken : %s", v.actionText);
}

static void SendAlert() {
  CopyText(alertText, sizeof alertText, gDispatch.verdict.messageText);
  RaiseAlert();
}

// The reports of a result: action texts, console record, alert.
static void ReportResult(const char* action) {
  ScanVerdict& v = gDispatch.verdict;
  StatusTexts& st = Status();
  CopyText(v.actionText, sizeof v.actionText, action);
  SetStatusText(st.lastAction, sizeof st.lastAction, action);
  SetStatusText(st.currentAction, sizeof st.currentAction, action);
  SetStatusText(st.currentVirus, sizeof st.currentVirus, v.virusName);
  ComposeMessage();
  SendStatusLine(true);
}

void RecordDetection(const char* virusName) {
  StatusTexts& st = Status();
  const char* user = ScanUserName();
  SetStatusText(st.lastVirus, sizeof st.lastVirus, virusName);
  SetStatusText(st.lastFile, sizeof st.lastFile, gDispatch.request.displayName);
  SetStatusText(st.lastUser, sizeof st.lastUser, user[0] ? user : "System");
  ReportDetection(gDispatch.request.reportName, virusName, user);
  ScanVerdict& v = gDispatch.verdict;
  CopyText(v.virusName, sizeof v.virusName, virusName);
  Notify(kEventDetected, "", "");
}

// ---------------------------------------------------------------------------
// The cure of a signature match

static bool Cure(const char* name, int16_t virusNumber) {
  ScanVerdict& v = gDispatch.verdict;
  v.vaccineErrorText[0] = 0;
  if (virusNumber == v.lastCuredVirus)
    v.repeatCount++;
  else
    v.repeatCount = 0;

  VaccineRecord record;
  VaccineLookup found = FindVaccine(virusNumber, &record);
  if (found == kVaccineNotFound || gDispatch.cureDisabled) {
    // No vaccine: the detection record is all that is said.
    v.lastCuredVirus = -1;
    return false;
  }
  bool cured = false;
  if (found == kVaccineFound) {
    ResetCleaningResult();
    cured = RunVaccine(name, &record) != 0;
    if (cured && v.repeatCount >= kDropperRepeat) {
      cured = RenameDropper() != 0;
      v.repeatCount = 0;
    }
    v.actionCode = CleaningAction();
    if (!cured) CopyText(v.vaccineErrorText, sizeof v.vaccineErrorText,
                         CleaningMessage()[0] ? CleaningMessage() : kMsgUnknown);
  }
  if (cured) {
    v.lastCuredVirus = virusNumber;
    const char* action = v.actionCode == kActionDropper ? kActionTextDropper : kActionTextCleaned;
    CopyText(v.actionText, sizeof v.actionText, action);
    WriteReport("\r\nResult : %s", v.actionText);
    ReportResult(action);
    SendAlert();
    Notify(kEventCured, action, "");
    return true;
  }
  v.lastCuredVirus = -1;
  CopyText(v.actionText, sizeof v.actionText, kActionTextVaccinationError);
  ReportResult(kActionTextVaccinationError);
  WriteReport("\r\nResult : Vaccination error.");
  WriteReport("\r\n         %s", v.vaccineErrorText);
  SendAlert();
  Notify(kEventFailed, kActionTextVaccinationError, v.vaccineErrorText);
  return false;
}

void HandleSignatureMatch(const char* name, int16_t virusNumber) {
  ScanVerdict& v = gDispatch.verdict;
  TargetFile* tf = ScannerFile();
  v.infected = true;
  char virusName[kNameLength + 1];
  FindVirusName(virusNumber, virusName);
  RecordDetection(virusName);
  SetStatusText(Status().currentVirus, sizeof Status().currentVirus, v.virusName);
  int64_t position = PlatSeek(tf->handle, 0, kSeekCurrent);
  CloseTargetFile(name, tf);
  v.curedThisPass = Cure(name, virusNumber);
  if (!v.curedThisPass) {
    gDispatch.stillInfected = true;
    if (OpenTargetFile(name, kModeScan, tf) == kNoFile)
      v.cureStopped = true;
    else if (position >= 0)
      PlatSeek(tf->handle, position, kSeekBegin);
  }
}

// ---------------------------------------------------------------------------
// The special pass

bool RunSpecialPass(const char* name) {
  ScanVerdict& v = gDispatch.verdict;
  TargetFile* tf = ScannerFile();
  char* upper = gDispatch.upperName;
  CopyText(upper, kNameMax, name);
  for (char* p = upper; *p; p++)
    if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 32);
  for (int repeat = 0;; repeat++) {
    // Opened by the name as given (an upper-cased name would cost a lookup
    // without regard to case); the detectors get the upper-cased one.
    if (OpenTargetFile(name, kModeScan, tf) == kNoFile) return false;
    if (LocateEntryPoint() < 0) {
      CloseTargetFile(name, tf);
      return false;
    }
    bool cured = false;
    for (const SpecialDetector* d = kSpecialDetectors; d->name; d++) {
      PlatSeek(tf->handle, Layout()->entryOffset, kSeekBegin);
      int answer = d->routine(d->name);
      if (answer != kSpecialCured && answer != kSpecialError) {
        if (v.documentFile) break;
        continue;
      }
      if (!v.documentFile) CopyText(v.virusName, sizeof v.virusName, d->name);
      SetStatusText(Status().lastVirus, sizeof Status().lastVirus, v.virusName);
      if (answer == kSpecialCured) {
        ReportResult(kActionTextCleaned);
        SendAlert();
        WriteReport("\r\nResult : File is cleaned.");
        Notify(kEventCured, kActionTextCleaned, "");
        v.curedThisPass = true;
        cured = true;
      } else {
        ReportResult(kActionTextCorrupt);
        SendAlert();
        WriteReport("\r\nResult : Vaccination error.");
        Notify(kEventFailed, kActionTextCorrupt, "");
        v.cureStopped = true;
        gDispatch.stillInfected = true;
      }
      break;
    }
    bool again = cured && !v.documentFile && !v.cureStopped && repeat + 1 < kMaxSpecialRepeats;
    // A file the pass leaves as it found it stays open for the signature
    // pass, which would open the same file again at once: one open, not two.
    if (!again && !cured && !v.documentFile && tf->mode == kModeScan) {
      gDispatch.keptOpen = true;
      return true;
    }
    CloseTargetFile(name, tf);
    if (!again) return true;
  }
}

// ---------------------------------------------------------------------------
// One file

bool ScanOneFile(const char* name) {
  ScanVerdict& v = gDispatch.verdict;
  TargetFile* tf = ScannerFile();
  v.infected = v.curedAny = v.curedThisPass = v.documentFile = false;
  v.lastCuredVirus = -1;
  v.repeatCount = 0;
  for (int pass = 0;; pass++) {
    // 2. A new pass.
    v.cureStopped = false;
    v.actionCode = 0;
    gDispatch.stillInfected = false;
    ResetCleaningResult();
    bool ok = RunSpecialPass(name);
    if (!v.documentFile) {
      // 5-7. The signature pass.
      bool opened = gDispatch.keptOpen || OpenTargetFile(name, kModeScan, tf) != kNoFile;
      gDispatch.keptOpen = false;
      if (opened && tf->size <= 0) {
        bool negative = tf->size < 0;
        CloseTargetFile(name, tf);
        if (negative) ReportNotice(kInvalidSizeNotice);
        return false;
      }
      if (!opened || !ok) {
        CloseTargetFile(name, tf);
        return false;
      }
      SearchSignatures(name);
      CloseTargetFile(name, tf);
    }
    // 8. After a cure the whole scan runs again, for a further layer.
    if (!v.curedThisPass) break;
    v.curedAny = true;
    v.curedThisPass = false;
    if (v.documentFile) break;
    if (pass + 1 >= kMaxPasses) {
      gDispatch.stillInfected = true;
      break;
    }
  }
  // 9. Counting. A file that still carries a virus after its cures is not
  // counted as cleaned and is not clean.
  if (!v.infected) return true;
  Counters().infected++;
  if (v.curedAny && !gDispatch.stillInfected && !v.cureStopped) {
    Counters().cleaned++;
    return true;
  }
  return false;
}

void DispatchFile(const char* bareName, bool scan) {
  ScanVerdict& v = gDispatch.verdict;
  ScanRequest& r = gDispatch.request;
  if (IsExcludedSystemName(bareName)) {
    v.notClean = true;
    return;
  }
  CopyText(r.bareName, sizeof r.bareName, bareName);
  // reportName: the directory, a backslash unless it ends with one, the
  // name; a "/" keeps only what follows the first one.
  size_t dl = std::strlen(r.directory);
  const char* sep = (dl > 0 && r.directory[dl - 1] == '\\') ? "" : "\\";
  char full[2 * kNameMax + 2];
  std::snprintf(full, sizeof full, "%s%s%s", r.directory, sep, bareName);
  const char* slash = std::strchr(full, '/');
  CopyText(r.reportName, sizeof r.reportName, slash ? slash + 1 : full);
  if (!scan) return;
  v.notClean = !ScanOneFile(bareName);
}
