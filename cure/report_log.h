// Report log: the plain text file (gConfig.reportFileName, by default
// C:\QUELTAN\QUELTAN.LOG) to which the service appends a record for every
// detection, modification, cleaning result, skipped file and its own stop.
//
// Each WriteReport opens the file, appends one formatted line and closes it
// again, so the file is never held open between events. When the file has
// grown past gConfig.sizeLimitInKB × 1024 bytes it is renamed to its ".OLD"
// name before the line is written. Every LF of a text is stored as CR LF, so
// a "\r\n" of a record format becomes CR CR LF in the file.
//
// State: the log handle, the line buffer and the old-log name (module state
// of report_log.cpp). Service thread only; no lock is taken.
#pragma once

#include <cstddef>

constexpr size_t kTimeStampSize = 22;    // 21 characters and the terminator
constexpr size_t kReportLineSize = 256;  // line buffer: 255 characters + NUL

// Fills out (at least kTimeStampSize bytes) with the current UTC time as
// "DD/MM/YYYY  hh:mm:ss " (21 characters).
void FormatTimeStamp(char* out);

// Formats a line with the printf rules and appends it to the report log.
// Does nothing when gConfig.generateReport is off; a line that cannot be
// written is dropped without a report. A line longer than the line buffer is
// written whole.
void WriteReport(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Detection record: time, file, virus, status lines, then the user line when
// userName is given and not empty. A null virusName is a modification found
// by the integrity check: virus "Unknown", status "Modification".
void ReportDetection(const char* path, const char* virusName, const char* userName);

// Time line, then text under the "User" label.
void ReportNotice(const char* text);

// Unload record (time line, unload line), then the alert
// "Korvane is unloaded". Called once when the service stops.
void ReportUnload();

// Closes the log handle if it is still open; for the service's stop.
void CloseReportLog();
