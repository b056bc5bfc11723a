// The target file: modes, the MZ flag, sizes and the attributes a clean-mode
// open takes away and puts back.
#include <gtest/gtest.h>

#include "engine/target_file.h"
#include "platform/faults.h"
#include "tests/fixtures/fixtures.h"

namespace {

class TargetFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.AddDrive('C');
    FaultReset();
  }
  void TearDown() override { FaultReset(); }
  TempMachine m;
  TargetFile tf{};
};

TEST_F(TargetFileTest, SizeAndTheMzFlagComeFromTheBytes) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool mz;
  } cases[] = {
      {"C:\\EMPTY.EXE", {}, false},
      {"C:\\ONE.EXE", {'M'}, false},
      {"C:\\REAL.COM", {'M', 'Z', 0, 0}, true},
      {"C:\\ZM.EXE", {'Z', 'M', 0, 0}, false},
  };
  for (const auto& c : cases) {
    m.Write(c.name, c.bytes);
    ASSERT_NE(OpenTargetFile(c.name, kModeScan, &tf), kNoFile) << c.name;
    EXPECT_EQ(tf.size, (int32_t)c.bytes.size()) << c.name;
    EXPECT_EQ(tf.isMZ, c.mz) << c.name;
    EXPECT_EQ(PlatSeek(tf.handle, 0, kSeekCurrent), 0) << c.name;   // back at the start
    EXPECT_EQ(tf.mode, kModeScan);
    CloseTargetFile(c.name, &tf);
    EXPECT_EQ(tf.handle, kNoFile);
    CloseTargetFile(c.name, &tf);   // a second close changes nothing
    EXPECT_EQ(tf.mode, kModeNotOpen);
  }
}

TEST_F(TargetFileTest, CleanModeWritesReadOnlyFilesAndPutsTheAttributesBack) {
  m.Write("C:\\RO.COM", Hex("90 90 90"));
  ASSERT_TRUE(PlatSetAttributes("C:\\RO.COM", kAttrReadOnly | kAttrSystem));
  uint32_t before = PlatGetAttributes("C:\\RO.COM");
  ASSERT_NE(OpenTargetFile("C:\\RO.COM", kModeClean, &tf), kNoFile);
  EXPECT_EQ(PlatGetAttributes("C:\\RO.COM"), (uint32_t)kAttrNormal);
  EXPECT_EQ(PlatWriteFile(tf.handle, "\xC3", 1), 1);
  CloseTargetFile("C:\\RO.COM", &tf);
  EXPECT_EQ(PlatGetAttributes("C:\\RO.COM"), before);
  EXPECT_EQ(m.Read("C:\\RO.COM"), Hex("C3 90 90"));
  // A scan-mode open leaves the attributes alone and cannot write.
  ASSERT_NE(OpenTargetFile("C:\\RO.COM", kModeScan, &tf), kNoFile);
  EXPECT_EQ(PlatWriteFile(tf.handle, "\x90", 1), -1);
  CloseTargetFile("C:\\RO.COM", &tf);
  EXPECT_EQ(PlatGetAttributes("C:\\RO.COM"), before);
}

TEST_F(TargetFileTest, AFailedCleanOpenKeepsTheAttributes) {
  m.Write("C:\\RO.COM", Hex("90"));
  ASSERT_TRUE(PlatSetAttributes("C:\\RO.COM", kAttrReadOnly | kAttrHidden));
  uint32_t before = PlatGetAttributes("C:\\RO.COM");
  FaultArm(kFaultOpen, 0, 1);
  EXPECT_EQ(OpenTargetFile("C:\\RO.COM", kModeClean, &tf), kNoFile);
  EXPECT_EQ(PlatGetAttributes("C:\\RO.COM"), before);
  EXPECT_EQ(tf.mode, kModeNotOpen);
  // A file held by a scan cannot be opened for cleaning.
  TargetFile scan{};
  ASSERT_NE(OpenTargetFile("C:\\RO.COM", kModeScan, &scan), kNoFile);
  EXPECT_EQ(OpenTargetFile("C:\\RO.COM", kModeClean, &tf), kNoFile);
  EXPECT_EQ(PlatGetAttributes("C:\\RO.COM"), before);
  CloseTargetFile("C:\\RO.COM", &scan);
}

}  // namespace
