// The machine: one directory that stands for one Windows NT machine.
//
// KORVANE_MACHINE names the directory (default /var/lib/korvane/machine). It
// holds drives.conf, the map of drive letters to host directories, and the
// state of the other platform services (pipes, devices, the event log).
// MachineOpen reads the drive map once; the rest of the platform layer asks
// it which host directory a drive letter stands for.
//
// drives.conf, one drive per line:
//     LETTER: TYPE HOSTDIR [label=TEXT] [image=FILE]
// TYPE is fixed, removable, cdrom, remote or ramdisk; a HOSTDIR or TEXT with
// blanks is written in double quotes; '#' starts a comment.
//
// State: the drive table (module state of machine.cpp). Single-threaded use:
// the table is filled at start-up and by kvscan's temporary mapping, before
// any scan runs.
#pragma once

#include <cstddef>
#include <string>

// Drive types with the values of GetDriveType.
enum DriveType : int {
  kDriveUnknown = 0,
  kDriveNoRoot = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamdisk = 6,
};

struct DriveInfo {
  char letter;            // 'A' .. 'Z'
  DriveType type;         // one of the values above, never kDriveNoRoot
  std::string hostDir;    // absolute host directory of the drive's root
  std::string label;      // volume label, may be empty
  std::string image;      // raw image or block device of a diskette drive
};

constexpr const char* kDefaultMachineDir = "/var/lib/korvane/machine";

// Reads <dir>/drives.conf into the drive table; dir null or empty means
// $KORVANE_MACHINE, else the default. A missing drives.conf gives an empty
// map. On a malformed line returns false with "FILE:LINE: reason" in *error
// and leaves the table empty.
bool MachineOpen(const char* dir, std::string* error);

// The machine directory chosen by the last MachineOpen (or the default).
const std::string& MachineDir();

// Drive table access. Letters are taken without regard to case.
const DriveInfo* FindDrive(char letter);
DriveType GetDriveType(char letter);

// Adds or replaces a mapping for the life of the process (kvscan maps host
// trees outside every drive as A:, tests build machines this way).
bool MapDrive(char letter, DriveType type, const std::string& hostDir,
              const std::string& label = std::string());
void UnmapDrive(char letter);

// Bit n set for every drive "A" + n of type fixed.
unsigned FixedDriveMask();

// Parses one drives.conf text; used by MachineOpen and by tests. Returns
// false with "NAME:LINE: reason" in *error.
bool ParseDrivesConf(const std::string& text, const std::string& name,
                     std::string* error);
