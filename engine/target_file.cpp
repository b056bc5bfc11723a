// Target file: see target_file.h.
#include "engine/target_file.h"

#include <cstdint>

static TargetFile gScannerFile = {0, false, kNoFile, -1, false, kModeNotOpen};

TargetFile* ScannerFile() { return &gScannerFile; }

FileHandle OpenTargetFile(const char* path, TargetMode mode, TargetFile* tf) {
  tf->haveSavedAttributes = false;
  tf->savedAttributes = 0;
  if (mode == kModeClean) {
    uint32_t attrs = PlatGetAttributes(path);
    if (attrs != kAttrInvalid) {
      tf->savedAttributes = attrs;
      tf->haveSavedAttributes = true;
      PlatSetAttributes(path, kAttrNormal);
    }
  }
  FileHandle h = PlatOpenFile(path, mode == kModeScan ? (kAccessRead | kShareDenyWrite)
                                                      : kAccessReadWrite);
  tf->size = -1;
  tf->isMZ = false;
  tf->mode = kModeNotOpen;
  if (h == kNoFile && mode == kModeClean && tf->haveSavedAttributes)
    PlatSetAttributes(path, tf->savedAttributes);
  if (h != kNoFile) {
    uint8_t sig[2];
    if (PlatReadFile(h, sig, 2) == 2 && sig[0] == 'M' && sig[1] == 'Z') tf->isMZ = true;
    int64_t size = PlatFileSize(h);
    // Programs of 2 GB and more cannot be handled by 32-bit offsets: their
    // size counts as unknown.
    tf->size = (size >= 0 && size <= INT32_MAX) ? (int32_t)size : -1;
    PlatSeek(h, 0, kSeekBegin);
    tf->mode = mode;
  }
  tf->handle = h;
  return h;
}

void CloseTargetFile(const char* path, TargetFile* tf) {
  if (tf->handle != kNoFile) {
    PlatCloseFile(tf->handle);
    if (tf->mode != kModeScan && tf->haveSavedAttributes)
      PlatSetAttributes(path, tf->savedAttributes);
  }
  tf->handle = kNoFile;
  tf->mode = kModeNotOpen;
}
