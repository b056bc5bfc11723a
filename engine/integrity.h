// Integrity database: per fixed drive, a catalog of its directories, a
// fingerprint of every program and document in them and a copy of each
// one's first and last bytes, so that a drive scan looks again only at
// files that changed and rebuilds a program whose start and end a virus
// changed, whether or not the virus is known.
//
// Three files in the root of each fixed drive, records of fixed size at the
// positions they record (all integers little-endian, -1 = none):
//   KVNET.IMP  DirectoryRecords (286 bytes); record 0 is the root "\",
//              whose next-sibling field heads the free list.
//   KVNET.ORT  FileRecords (303 bytes); record 0 is the header
//              "********.***" with the format 4 and revision 4 at offsets
//              272 and 274, and its next field heads the free list.
//   KVNET.ANT  SaveBlocks (255 bytes): a file's first bytes (up to 127),
//              then its last bytes (up to 128), zero-filled.
// and C:\QUELTAN\QUELTAN.CDI, 100 DriveStateRecords of 12 bytes indexed by
// drive number (A = 0): a marker, kMarkerClean when the drive's files were
// closed cleanly and kMarkerDirty while they are open and written to, then
// 8 reserved bytes. A drive whose marker is not clean gets new files.
//
// Records are read and written one at a time; nothing of a database is
// held in memory beyond the records at hand and the walk's stack. Every
// record read is checked before use, and every loop over records is bounded
// (kSearchStepLimit, kFreeDirectoryLimit, kFreeFileLimit): damaged or
// hostile files mark the database inconsistent, the walk ends and the three
// files are deleted, so that the next scan builds them anew.
//
// State: the open database of one drive (its three files, the drive, the
// dirty, fresh and inconsistent flags, the switches of the directory being
// examined), the state file and the sample buffer (module state of
// integrity.cpp). Service thread only; one drive at a time, opened and
// closed by the path walker.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kDirectoryRecordSize = 286;
constexpr uint32_t kFileRecordSize = 303;
constexpr uint32_t kSaveBlockSize = 255;
constexpr uint32_t kDriveStateSize = 12;
constexpr int kDriveStates = 100;
constexpr size_t kRecordNameField = 256;

constexpr uint32_t kMarkerClean = 0xFEDCBA98u;
constexpr uint32_t kMarkerDirty = 0x01234567u;

constexpr int kFirstBytes = 127;      // saved from the start of a file
constexpr int kLastBytes = 128;       // saved from its end
constexpr int kSampleBytes = 5000;    // each of the head, middle and tail samples

constexpr int kSearchStepLimit = 6000;
constexpr int kFreeDirectoryLimit = 10000;
constexpr int kFreeFileLimit = 12000;

constexpr uint8_t kRecordInUse = 8;
constexpr uint8_t kRecordFree = 7;
constexpr int16_t kFileListFormat = 4;
constexpr int16_t kFileListRevision = 4;

constexpr const char* kStateFilePath = "C:\\QUELTAN\\QUELTAN.CDI";

// One directory of the catalog.
struct DirectoryRecord {
  int32_t own;                          // its position in KVNET.IMP
  int32_t unused;                       // -1 in new records, kept as read
  char name[kRecordNameField + 1];      // "\" for the root
  int32_t parent;                       // parent's position
  int32_t firstChild;                   // first subdirectory's position
  int32_t prev;                         // previous sibling
  int32_t next;                         // next sibling; root: first free record
  uint8_t depth;                        // levels below the drive root
  uint8_t state;                        // kRecordInUse or kRecordFree
  int32_t firstFile;                    // first FileRecord in KVNET.ORT
};

// One file of a directory's list.
struct FileRecord {
  int32_t own;                          // its position in KVNET.ORT
  int32_t unused;                       // -1 in new records, kept as read
  char name[kRecordNameField + 1];
  int32_t prev;                         // previous file of the directory
  int32_t next;                         // next file; header: first free record
  uint16_t headSumA;                    // checksums of the saved bytes (header: format)
  uint16_t headSumB;                    // (header: revision)
  uint32_t sampleSumA;                  // checksums of the three samples
  uint32_t sampleSumB;
  uint16_t firstCount;                  // first bytes saved, <= 127
  uint16_t lastCount;                   // last bytes saved, <= 128
  uint16_t headLength;                  // head sample, <= 5000
  uint16_t middleLength;                // middle sample, <= 5000
  uint16_t tailLength;                  // tail sample, <= 5000
  int32_t length;                       // file length when recorded
  int32_t saveBlock;                    // position of its SaveBlock in KVNET.ANT
  uint8_t state;                        // kRecordInUse, kRecordFree (0 in the header)
};

// The byte layouts. Decoding checks nothing; see integrity.cpp for what a
// record must satisfy before it is used.
void EncodeDirectoryRecord(const DirectoryRecord& r, uint8_t out[kDirectoryRecordSize]);
void DecodeDirectoryRecord(const uint8_t in[kDirectoryRecordSize], DirectoryRecord* r);
void EncodeFileRecord(const FileRecord& r, uint8_t out[kFileRecordSize]);
void DecodeFileRecord(const uint8_t in[kFileRecordSize], FileRecord* r);

// The checksum pairs: each byte taken as signed, XOR (i mod 256) into A and
// XOR (255 - i mod 256) into B, with wrapping sums of 16 or 32 bits.
void HeadSums(const uint8_t* bytes, size_t n, uint16_t* a, uint16_t* b);
void SampleSums(const uint8_t* bytes, size_t n, uint32_t* a, uint32_t* b);

// The state file, opened (or created with every drive clean) at start-up
// and kept open. Without it (no drive C:, no C:\QUELTAN) the drive states
// are kept in memory for the life of the process, every drive starting out
// clean: drives are still scanned and their databases kept, but a scan cut
// short by a crash is not noticed at the next start. Returns whether the
// file is open.
bool OpenIntegrityStateFile();
void CloseIntegrityStateFile();
bool IntegrityStateFileOpen();

// Opens (or creates) the database of the current directory's drive; fails
// for anything but a fixed drive C: to Z:, when the files cannot be opened
// or created, or when another program holds them.
bool OpenIntegrityDatabase();
// Closes the files; a database written to since its opening is marked clean.
void CloseIntegrityDatabase();
bool IntegrityFresh();          // the open files were created by this opening
bool IntegrityInconsistent();   // the walk found the files damaged
void MarkIntegrityInconsistent();
// Makes the drive's three files writable and deletes them.
void DeleteIntegrityFiles(char driveLetter);

// The root record of the open database.
bool ReadRootDirectory(DirectoryRecord* root);
// The directory pass over the current directory, whose record is *d: runs
// the file pass, then brings d's list of subdirectories in step with the
// disk. Yields the first subdirectory record (*haveFirst) and the number of
// subdirectories listed. False when the database proved inconsistent.
bool DirectoryPass(DirectoryRecord* d, DirectoryRecord* first, bool* haveFirst,
                   int32_t* subdirectories);
// The same pass while walking down the start path: no file is examined, and
// the subdirectory `component` is brought in step and yielded. False when
// it cannot be (see IntegrityInconsistent for why).
bool DescendPass(DirectoryRecord* d, const char* component, DirectoryRecord* child);
// The record after `child` in parent's list; *have is false at the end.
// False when the database proved inconsistent.
bool NextSiblingRecord(const DirectoryRecord& parent, const DirectoryRecord& child,
                       DirectoryRecord* next, bool* have);

// Fills r from the file `name` of the current directory (name, length,
// saved bytes, samples, checksums; state in use) and writes its SaveBlock.
// False when the file cannot be read; r is then unchanged.
bool RecordNewFile(FileRecord* r, const char* name);
// Compares a known file with its record: rescans it once when it changed,
// reports and rebuilds a program whose body is as recorded, and otherwise
// takes the change into the record.
void CheckFileIntegrity(FileRecord* r, const char* name);
// Rebuilds `name` to its recorded length, first and last bytes. On failure
// the file is put back as it was. `infected`: the rescan found a virus (the
// reconstructed counter only counts rebuilds of unknown changes).
bool ReconstructFile(const FileRecord& r, const char* name, bool infected);

// Texts of a modification report.
constexpr const char* kModificationText = "Detected file modification";
constexpr const char* kReconstructedText = "File is reconstructed.";
constexpr const char* kReconstructionErrorText = "Reconstruction error.";
constexpr const char* kUnknownVirusText = "** Unknown **";
