// Report log: see report_log.h.
//
// One WriteReport is one open, one seek to the end, perhaps a rollover, one
// translated write and one close. The rollover renames the file while its
// handle is still open and then writes through that handle, so the line that
// triggers it ends up at the end of the ".OLD" file and the next line creates
// a fresh report file.
//
// Nothing is cut: a line longer than the line buffer is formatted again into
// a temporary of its full length, and the old-log name buffer holds the
// longest report file name the configuration can carry plus ".OLD".
#include "cure/report_log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/config.h"
#include "cure/alerts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/memory.h"

static const char kOldSuffix[] = ".OLD";
constexpr size_t kReportNameSize = sizeof(Config::reportFileName);
constexpr size_t kOldNameSize = kReportNameSize + sizeof(kOldSuffix) - 1;
constexpr size_t kStageSize = 512;   // translated bytes gathered per write call

static const char kUnloadText[] = "Korvane is unloaded";
static_assert(sizeof(kUnloadText) <= sizeof(alertText));

static struct {
  FileHandle handle;            // kNoFile between writes
  char line[kReportLineSize];   // formatted text of one write
  char oldName[kOldNameSize];   // old-log name formed for a rollover
  char stage[kStageSize];       // translated bytes waiting to be written
} gReport = {kNoFile, {}, {}, {}};

void FormatTimeStamp(char* out) {
  SystemTime t;
  PlatGetSystemTimeUtc(&t);
  snprintf(out, kTimeStampSize, "%02d/%02d/%04d  %02d:%02d:%02d ", t.day, t.month,
           t.year, t.hour, t.minute, t.second);
}

// Writes len bytes of text at the current position with each LF stored as
// CR LF. Stops at the first failed write; failures are not reported.
static void WriteTranslated(FileHandle h, const char* text, size_t len) {
  size_t used = 0;
  for (size_t i = 0; i < len; i++) {
    if (used + 2 > kStageSize) {
      if (PlatWriteFile(h, gReport.stage, (uint32_t)used) != (int32_t)used) return;
      used = 0;
    }
    if (text[i] == '\n') gReport.stage[used++] = '\r';
    gReport.stage[used++] = text[i];
  }
  if (used) PlatWriteFile(h, gReport.stage, (uint32_t)used);
}

// Formats into the line buffer and writes the text. A longer text is
// formatted again into a temporary of its full size; only when that cannot
// be allocated are the first 255 characters written.
__attribute__((format(printf, 2, 0)))
static void WriteFormatted(FileHandle h, const char* format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(gReport.line, kReportLineSize, format, ap);
  if (n >= 0 && (size_t)n < kReportLineSize) {
    WriteTranslated(h, gReport.line, (size_t)n);
  } else if (n >= 0) {
    char* whole = (char*)PlatAlloc((size_t)n + 1);
    if (whole && vsnprintf(whole, (size_t)n + 1, format, again) == n)
      WriteTranslated(h, whole, (size_t)n);
    else
      WriteTranslated(h, gReport.line, kReportLineSize - 1);
    PlatFree(whole);
  }
  va_end(again);
}

// Renames the report file to its old-log name: everything from the first
// '.' replaced by ".OLD", or ".OLD" appended when there is none. The name is
// known to be terminated within kReportNameSize, so it always fits. An
// existing old-log file is not replaced; the outcome is ignored.
static void RollOver(const char* name) {
  size_t keep = strcspn(name, ".");
  memcpy(gReport.oldName, name, keep);
  memcpy(gReport.oldName + keep, kOldSuffix, sizeof kOldSuffix);
  uint32_t attrs = PlatGetAttributes(name);
  if (attrs != kAttrInvalid && (attrs & kAttrReadOnly)) {
    uint32_t keep = attrs & (kAttrHidden | kAttrSystem | kAttrArchive);
    PlatSetAttributes(name, keep ? keep : kAttrNormal);
  }
  PlatRenameFile(name, gReport.oldName);
}

void WriteReport(const char* format, ...) {
  if (!gConfig.generateReport) return;
  const char* name = gConfig.reportFileName;
  // A name without its terminator cannot be opened safely: drop the line.
  if (!memchr(name, 0, kReportNameSize)) return;
  if (gReport.handle == kNoFile)
    gReport.handle = PlatOpenFile(name, kAccessReadWrite | kOpenCreate);
  if (gReport.handle == kNoFile) return;
  // Without the end position the write would land on the first records:
  // drop the line instead.
  int64_t size = PlatSeek(gReport.handle, 0, kSeekEnd);
  if (size >= 0) {
    if (size > (int64_t)gConfig.sizeLimitInKB * 1024) RollOver(name);
    va_list ap;
    va_start(ap, format);
    WriteFormatted(gReport.handle, format, ap);
    va_end(ap);
  }
  PlatCloseFile(gReport.handle);
  gReport.handle = kNoFile;
}

void ReportDetection(const char* path, const char* virusName, const char* userName) {
  char stamp[kTimeStampSize];
  FormatTimeStamp(stamp);
  WriteReport("\r\n\r\nTime   : %s", stamp);
  WriteReport("\r\nFile   : %s", path ? path : "");
  WriteReport("\r\nVirus  : %s", virusName ? virusName : "Unknown");
  WriteReport("\r\nStatus : %s", virusName ? "Infection" : "Modification");
  if (userName && userName[0]) WriteReport("\r\nUser   : %s%s", userName, "");
}

void ReportNotice(const char* text) {
  char stamp[kTimeStampSize];
  FormatTimeStamp(stamp);
  WriteReport("\r\n\r\nTime   : %s", stamp);
  WriteReport("\r\nUser   : %s", text ? text : "");
}

void ReportUnload() {
  char stamp[kTimeStampSize];
  FormatTimeStamp(stamp);
  WriteReport("\r\n\r\nTime   : %s", stamp);
  WriteReport("\r\nAction   : Korvane is unloaded");
  memcpy(alertText, kUnloadText, sizeof kUnloadText);
  RaiseAlert();
}

void CloseReportLog() {
  if (gReport.handle == kNoFile) return;
  PlatCloseFile(gReport.handle);
  gReport.handle = kNoFile;
}
