// The platform layer's file positions and read buffers, checked against a
// model of the file: whatever the mix of seeks, reads, writes and length
// changes, every call returns what reading and writing the file directly
// returns, and a handle sees what another handle of the process wrote.
// Also the bare names that are opened in the held current directory.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"

namespace fs = std::filesystem;

namespace {

class BufferedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/korvane-io-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    fs::create_directories(root + "/DIR");
    ASSERT_TRUE(MapDrive('C', kDriveFixed, root));
    ASSERT_TRUE(PlatSetCurrentDirectory("C:\\DIR"));
  }
  void TearDown() override {
    UnmapDrive('C');
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(root + "/DIR/" + name, std::ios::binary)
        .write((const char*)bytes.data(), (std::streamsize)bytes.size());
  }
  std::string root;
};

uint64_t gState = 7;
uint32_t Below(uint32_t n) {
  gState = gState * 6364136223846793005ull + 1442695040888963407ull;
  return (uint32_t)((gState >> 33) % n);
}

// The model: the bytes of the file and one position per handle.
struct Model {
  std::vector<uint8_t>* file;
  int64_t pos = 0;
};

int64_t ModelSeek(Model* m, int64_t offset, int origin) {
  int64_t base = origin == kSeekBegin ? 0 : origin == kSeekCurrent ? m->pos : (int64_t)m->file->size();
  if (base + offset < 0) return -1;
  return m->pos = base + offset;
}

int32_t ModelRead(Model* m, uint8_t* out, uint32_t n) {
  int64_t avail = (int64_t)m->file->size() - m->pos;
  int64_t take = avail <= 0 ? 0 : avail < (int64_t)n ? avail : (int64_t)n;
  for (int64_t i = 0; i < take; i++) out[i] = (*m->file)[(size_t)(m->pos + i)];
  m->pos += take;
  return (int32_t)take;
}

void ModelWrite(Model* m, const uint8_t* in, uint32_t n) {
  if (n == 0) return;   // writing nothing extends nothing
  if ((int64_t)m->file->size() < m->pos + n) m->file->resize((size_t)(m->pos + n), 0);
  for (uint32_t i = 0; i < n; i++) (*m->file)[(size_t)m->pos + i] = in[i];
  m->pos += n;
}

const uint32_t kLengths[] = {0, 1, 2, 5, 28, 50, 127, 128, 511, 1000, 4000, 5000, 7168, 7169, 8192, 9000, 20000};
const int64_t kSizes[] = {0, 1, 49, 511, 1024, 8191, 8192, 8193, 9000, 17000, 70000};

// Runs random operations on one handle (writer: also writes and length
// changes) and on a second, read-only handle, comparing every result.
void Exercise(const char* name, unsigned flags, bool writer, std::vector<uint8_t>* file) {
  FileHandle h = PlatOpenFile(name, flags);
  ASSERT_NE(h, kNoFile) << name;
  FileHandle other = writer ? PlatOpenFile(name, kAccessRead) : kNoFile;
  Model m{file}, o{file};
  std::vector<uint8_t> got(20000), want(20000);
  std::string recent;   // the last operations, for a failure message
  for (int step = 0; step < 3000; step++) {
    if (recent.size() > 400) recent.erase(0, recent.size() - 400);
    bool onOther = other != kNoFile && Below(3) == 0;
    FileHandle fh = onOther ? other : h;
    Model* mm = onOther ? &o : &m;
    uint32_t op = Below(10);
    if (op < 3) {
      int origin = (int)Below(3);
      int64_t offset = (int64_t)Below(24000) - 12000;
      int64_t expect = ModelSeek(mm, offset, origin);
      recent += " seek" + std::to_string(origin) + ":" + std::to_string(offset);
      ASSERT_EQ(PlatSeek(fh, offset, origin), expect) << "step " << step;
    } else if (op < 8 || !writer || onOther) {
      uint32_t n = kLengths[Below(sizeof kLengths / sizeof kLengths[0])];
      int32_t expect = ModelRead(mm, want.data(), n);
      recent += " read" + std::to_string(n) + (onOther ? "'" : "");
      ASSERT_EQ(PlatReadFile(fh, got.data(), n), expect) << "step " << step << " read " << n;
      ASSERT_EQ(0, std::memcmp(got.data(), want.data(), (size_t)expect)) << "step " << step;
    } else if (op == 8) {
      uint32_t n = kLengths[Below(sizeof kLengths / sizeof kLengths[0])];
      for (uint32_t i = 0; i < n; i++) want[i] = (uint8_t)Below(256);
      ModelWrite(mm, want.data(), n);
      recent += " write" + std::to_string(n) + "@" + std::to_string(mm->pos - n);
      ASSERT_EQ(PlatWriteFile(fh, want.data(), n), (int32_t)n) << "step " << step;
    } else {
      int64_t length = kSizes[Below(sizeof kSizes / sizeof kSizes[0])];
      file->resize((size_t)length, 0);
      recent += " length" + std::to_string(length);
      ASSERT_TRUE(PlatSetFileLength(fh, length));
    }
    ASSERT_EQ(PlatFileSize(fh), (int64_t)file->size()) << "step " << step << ":" << recent;
  }
  if (other != kNoFile) PlatCloseFile(other);
  PlatCloseFile(h);
}

TEST_F(BufferedFiles, EveryCallReturnsWhatTheFileHolds) {
  const unsigned kModes[] = {kAccessRead, kAccessRead | kShareDenyWrite, kAccessReadWrite};
  for (int64_t size : kSizes) {
    for (unsigned mode : kModes) {
      bool writer = (mode & kAccessWrite) != 0;
      std::vector<uint8_t> file((size_t)size);
      for (uint8_t& b : file) b = (uint8_t)Below(256);
      Write("Sample.Bin", file);
      SCOPED_TRACE("size " + std::to_string(size) + " mode " + std::to_string(mode));
      // By a bare name in the current directory, another case, a full path.
      Exercise("Sample.Bin", mode, writer, &file);
      Exercise("SAMPLE.BIN", mode, writer, &file);
      Exercise("C:\\DIR\\sample.bin", mode, writer, &file);
      std::ifstream in(root + "/DIR/Sample.Bin", std::ios::binary);
      std::vector<uint8_t> disk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      ASSERT_EQ(disk, file);
    }
  }
}

TEST_F(BufferedFiles, BareNamesAreFoundInTheCurrentDirectoryOnly) {
  Write("Play.Exe", {'M', 'Z'});
  fs::create_directories(root + "/OTHER");
  std::ofstream(root + "/OTHER/PLAY.EXE") << "other";
  FileHandle h = PlatOpenFile("PLAY.EXE", kAccessRead);
  ASSERT_NE(h, kNoFile);
  uint8_t b[8];
  EXPECT_EQ(PlatReadFile(h, b, sizeof b), 2);
  PlatCloseFile(h);
  // Creating a name that exists in another case opens the existing file.
  h = PlatOpenFile("play.exe", kAccessReadWrite | kOpenCreate);
  ASSERT_NE(h, kNoFile);
  PlatCloseFile(h);
  int entries = 0;
  for (auto& e : fs::directory_iterator(root + "/DIR")) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);
  // A drive mapped elsewhere: its current directory is no longer this one.
  fs::create_directories(root + "/ELSE");
  ASSERT_TRUE(MapDrive('C', kDriveFixed, root + "/ELSE"));
  EXPECT_EQ(PlatOpenFile("Play.Exe", kAccessRead), kNoFile);
  UnmapDrive('C');
  EXPECT_EQ(PlatOpenFile("Play.Exe", kAccessRead), kNoFile);
  ASSERT_TRUE(MapDrive('C', kDriveFixed, root));
}

}  // namespace
