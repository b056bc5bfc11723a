// Tests of the instruction decoder: instruction lengths, the opcodes and
// register fields without a row, reads that stay inside the given bytes,
// FindInstruction over a real file opened as the scanner's target, and the
// rotations.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/decoder.h"
#include "engine/target_file.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/machine.h"

namespace {

// "81 06 34 12" -> bytes.
std::vector<uint8_t> Hex(const char* text) {
  std::vector<uint8_t> out;
  const char* p = text;
  while (*p) {
    if (*p == ' ') { p++; continue; }
    char pair[3] = {p[0], p[1], 0};
    out.push_back((uint8_t)std::strtoul(pair, nullptr, 16));
    p += 2;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Lengths

struct LengthCase {
  const char* bytes;   // the instruction, hex
  int rowSign;         // +1 one-byte row, -1 two-byte row, 0 unknown
  int opcodeBytes;
  int displacement;
  int immediate;
  int length;
};

const LengthCase kLengthCases[] = {
    // ADD with a direct address and an imm16; ADD AX-style imm8 group.
    {"81 06 34 12 78 56", +1, 2, 2, 2, 6},
    {"83 C0 05", +1, 2, 0, 1, 3},
    // Two-byte rows and their near misses.
    {"D5 0A", -1, 2, 0, 0, 2},
    {"D4 0A", -1, 2, 0, 0, 2},
    {"D5 0B", 0, 1, 0, 0, 1},
    {"D4 00", 0, 1, 0, 0, 1},
    {"0F 05", 0, 1, 0, 0, 1},
    {"0F AF C3", -1, 3, 0, 0, 3},
    {"0F AF 47 10", -1, 3, 1, 0, 4},
    {"0F AF 06 34 12", -1, 3, 2, 0, 5},
    // Every addressing class of MOV Gw, Ew.
    {"8B 00", +1, 2, 0, 0, 2},            // mod 0 [BX+SI]
    {"8B 07", +1, 2, 0, 0, 2},            // mod 0 [BX]
    {"8B 06 34 12", +1, 2, 2, 0, 4},      // mod 0 r/m 6: direct address
    {"8B 46 FE", +1, 2, 1, 0, 3},         // mod 1 [BP+disp8]
    {"8B 87 34 12", +1, 2, 2, 0, 4},      // mod 2 [BX+disp16]
    {"8B C3", +1, 2, 0, 0, 2},            // mod 3 register
    // Register-field selectors.
    {"F6 06 34 12 FF", +1, 2, 2, 1, 5},   // TEST byte [1234], imm8
    {"F6 C0 01", +1, 2, 0, 1, 3},
    {"F6 D0", +1, 2, 0, 0, 2},            // NOT AL: /2 has no immediate
    {"F6 C8", 0, 1, 0, 0, 1},             // /1
    {"F7 C0 34 12", +1, 2, 0, 2, 4},      // TEST AX, imm16
    {"F7 5E 02", +1, 2, 1, 0, 3},         // NEG word [BP+2]
    {"F7 C8", 0, 1, 0, 0, 1},
    {"FF 36 34 12", +1, 2, 2, 0, 4},      // PUSH [1234]
    {"FF E3", +1, 2, 0, 0, 2},            // JMP BX
    {"FF F8", 0, 1, 0, 0, 1},             // /7
    {"83 F8 01", +1, 2, 0, 1, 3},         // CMP AX, imm8
    {"83 F0 01", 0, 1, 0, 0, 1},          // /6
    {"8F 06 34 12", +1, 2, 2, 0, 4},      // POP [1234]
    {"8F C8", 0, 1, 0, 0, 1},             // /1
    {"FE C0", +1, 2, 0, 0, 2},
    {"FE D0", 0, 1, 0, 0, 1},             // /2
    {"D0 E0", +1, 2, 0, 0, 2},            // SHL AL, 1
    {"D3 F8", +1, 2, 0, 0, 2},            // SAR AX, CL
    {"D2 F0", 0, 1, 0, 0, 1},             // /6
    {"80 3E 34 12 07", +1, 2, 2, 1, 5},   // CMP byte [1234], 7
    {"81 C3 34 12", +1, 2, 0, 2, 4},
    // "R" takes any register field.
    {"C6 E8 07", +1, 2, 0, 1, 3},
    {"C6 46 02 07", +1, 2, 1, 1, 4},
    {"C7 06 34 12 78 56", +1, 2, 2, 2, 6},
    {"8E D8", +1, 2, 0, 0, 2},            // MOV DS, AX
    {"C4 1E 34 12", +1, 2, 2, 0, 4},      // LES BX, [1234]
    // Prefixes are instructions of their own.
    {"2E 8B 07", +1, 1, 0, 0, 1},
    {"26", +1, 1, 0, 0, 1},
    {"F0", +1, 1, 0, 0, 1},
    {"F2", +1, 1, 0, 0, 1},
    {"F3 A4", +1, 1, 0, 0, 1},
    // Immediates without ModR/M.
    {"9A 00 01 00 F0", +1, 1, 0, 4, 5},
    {"EA 00 01 00 F0", +1, 1, 0, 4, 5},
    {"A1 34 12", +1, 1, 0, 2, 3},
    {"B0 05", +1, 1, 0, 1, 2},
    {"BB 34 12", +1, 1, 0, 2, 3},
    {"C2 04 00", +1, 1, 0, 2, 3},
    {"CD 21", +1, 1, 0, 1, 2},
    {"E2 FE", +1, 1, 0, 1, 2},
    {"E8 00 00", +1, 1, 0, 2, 3},
    {"EB 10", +1, 1, 0, 1, 2},
    {"E6 61", +1, 1, 0, 1, 2},
    // The coprocessor escape is two bytes whatever its second byte says.
    {"D8 06 34 12", +1, 1, 0, 1, 2},
    // Unknown opcodes of later processors.
    {"60", 0, 1, 0, 0, 1},
    {"C0 E0 04", 0, 1, 0, 0, 1},
    {"C8 04 00 00", 0, 1, 0, 0, 1},
};

TEST(DecodeInstruction, Lengths) {
  for (const LengthCase& c : kLengthCases) {
    SCOPED_TRACE(c.bytes);
    std::vector<uint8_t> b = Hex(c.bytes);
    InstructionInfo info;
    int row = DecodeInstruction(b.data(), b.size(), &info);
    EXPECT_EQ(row, info.row);
    EXPECT_EQ((row > 0) - (row < 0), c.rowSign);
    EXPECT_EQ(info.opcodeBytes, c.opcodeBytes);
    EXPECT_EQ(info.displacementBytes, c.displacement);
    EXPECT_EQ(info.immediateBytes, c.immediate);
    EXPECT_EQ(info.length, c.length);
    if (row != 0) {
      EXPECT_NE(InstructionMnemonic(row), nullptr);
    }
  }
}

// Bytes that were not given count as zero: 81 alone is ADD [BX+SI], imm16,
// and 81 06 is ADD [disp16], imm16 even with the rest missing.
TEST(DecodeInstruction, MissingBytesCountAsZero) {
  const struct {
    const char* bytes;
    int length;
  } kCases[] = {
      {"81", 4},
      {"81 06", 6},
      {"F6", 3},      // TEST [BX+SI], imm8 (register field 0)
      {"F7", 4},
      {"0F", 1},      // 0F 00 is unknown
      {"D5", 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    std::vector<uint8_t> b = Hex(c.bytes);
    InstructionInfo info;
    DecodeInstruction(b.data(), b.size(), &info);
    EXPECT_EQ(info.length, c.length);
  }
  InstructionInfo info;
  DecodeInstruction(nullptr, 0, &info);   // reads as 00 00: ADD [BX+SI], AL
  EXPECT_EQ(info.length, 2);
}

// Every opcode and register field against the list of forms that have no
// row, and the length each known one takes with a register operand, as the
// opcode map's groups give them.
TEST(DecodeInstruction, OpcodeMapMatchesGroups) {
  // Immediate bytes (or 'm' for ModR/M) by opcode group, written from the
  // opcode map rather than from the table.
  enum Kind { kUnknown, kPlain, kImm1, kImm2, kImm4, kModRM, kModRMImm1, kModRMImm2 };
  Kind kind[256][8];
  auto set = [&](int lo, int hi, Kind k) {
    for (int op = lo; op <= hi; op++)
      for (int r = 0; r < 8; r++) kind[op][r] = k;
  };
  auto setRegs = [&](int op, int lo, int hi, Kind k) {
    for (int r = lo; r <= hi; r++) kind[op][r] = k;
  };
  set(0x00, 0xFF, kUnknown);
  for (int b = 0x00; b <= 0x38; b += 8) {
    set(b, b + 3, kModRM);
    set(b + 4, b + 4, kImm1);
    set(b + 5, b + 5, kImm2);
  }
  for (int op : {0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F, 0x26, 0x27, 0x2E, 0x2F,
                 0x36, 0x37, 0x3E, 0x3F})
    set(op, op, kPlain);
  set(0x40, 0x5F, kPlain);
  set(0x70, 0x7F, kImm1);
  set(0x80, 0x80, kModRMImm1);
  set(0x81, 0x81, kModRMImm2);
  setRegs(0x83, 0, 5, kModRMImm1);
  setRegs(0x83, 7, 7, kModRMImm1);
  set(0x84, 0x8E, kModRM);
  setRegs(0x8F, 0, 0, kModRM);
  set(0x90, 0x99, kPlain);
  set(0x9A, 0x9A, kImm4);
  set(0x9B, 0x9F, kPlain);
  set(0xA0, 0xA3, kImm2);
  set(0xA4, 0xA7, kPlain);
  set(0xA8, 0xA8, kImm1);
  set(0xA9, 0xA9, kImm2);
  set(0xAA, 0xAF, kPlain);
  set(0xB0, 0xB7, kImm1);
  set(0xB8, 0xBF, kImm2);
  set(0xC2, 0xC2, kImm2);
  set(0xC3, 0xC3, kPlain);
  set(0xC4, 0xC5, kModRM);
  set(0xC6, 0xC6, kModRMImm1);
  set(0xC7, 0xC7, kModRMImm2);
  set(0xCA, 0xCA, kImm2);
  set(0xCB, 0xCC, kPlain);
  set(0xCD, 0xCD, kImm1);
  set(0xCE, 0xCF, kPlain);
  for (int op = 0xD0; op <= 0xD3; op++) {
    setRegs(op, 0, 5, kModRM);
    setRegs(op, 7, 7, kModRM);
  }
  set(0xD7, 0xD7, kPlain);
  set(0xD8, 0xD8, kImm1);
  set(0xE0, 0xE7, kImm1);
  set(0xE8, 0xE9, kImm2);
  set(0xEA, 0xEA, kImm4);
  set(0xEB, 0xEB, kImm1);
  set(0xEC, 0xF0, kPlain);
  set(0xF2, 0xF5, kPlain);
  setRegs(0xF6, 0, 0, kModRMImm1);
  setRegs(0xF7, 0, 0, kModRMImm2);
  setRegs(0xF6, 2, 7, kModRM);
  setRegs(0xF7, 2, 7, kModRM);
  set(0xF8, 0xFD, kPlain);
  setRegs(0xFE, 0, 1, kModRM);
  setRegs(0xFF, 0, 6, kModRM);

  static const int kLength[] = {1, 1, 2, 3, 5, 2, 3, 4};
  for (int op = 0; op < 256; op++)
    for (int r = 0; r < 8; r++) {
      // A register ModR/M byte (mod 3) that is never a two-byte row's
      // second byte (0A, AF).
      uint8_t b[6] = {(uint8_t)op, (uint8_t)(0xC0 | (r << 3)), 0, 0, 0, 0};
      InstructionInfo info;
      int row = DecodeInstruction(b, sizeof b, &info);
      SCOPED_TRACE(testing::Message() << std::hex << "opcode " << op << " /" << r);
      EXPECT_EQ(row > 0, kind[op][r] != kUnknown);
      EXPECT_GE(row, 0);
      EXPECT_EQ(info.length, kLength[kind[op][r]]);
    }
}

// Every first byte, with one or two bytes given, decodes without reading
// past them (the buffers are exactly that long, so the address sanitizer
// sees an over-read) and as if the rest were zero.
TEST(DecodeInstruction, NeverReadsPastAvail) {
  for (int b0 = 0; b0 < 256; b0++)
    for (int b1 = 0; b1 < 256; b1++) {
      for (size_t avail = 1; avail <= 2; avail++) {
        if (avail == 1 && b1 != 0) continue;
        std::unique_ptr<uint8_t[]> p(new uint8_t[avail]);
        p[0] = (uint8_t)b0;
        if (avail == 2) p[1] = (uint8_t)b1;
        uint8_t padded[kMaxInstructionLength] = {(uint8_t)b0, (uint8_t)b1};
        InstructionInfo cut, full;
        int rowCut = DecodeInstruction(p.get(), avail, &cut);
        int rowFull = DecodeInstruction(padded, sizeof padded, &full);
        ASSERT_EQ(rowCut, rowFull) << b0 << " " << b1;
        ASSERT_EQ(cut.length, full.length) << b0 << " " << b1;
        ASSERT_GE(cut.length, 1);
        ASSERT_LE(cut.length, kMaxInstructionLength);
      }
    }
}

TEST(DecodeInstruction, AddressingForms) {
  EXPECT_STREQ(AddressingForm(0), "[ Bx + Si ]");
  EXPECT_STREQ(AddressingForm(6), "[ $W ]");
  EXPECT_STREQ(AddressingForm(14), "[ Bp + $B ]");
  EXPECT_STREQ(AddressingForm(23), "[ Bx + $W ]");
  EXPECT_EQ(AddressingForm(24), nullptr);
  EXPECT_EQ(AddressingForm(-1), nullptr);
  EXPECT_EQ(InstructionMnemonic(0), nullptr);
  EXPECT_EQ(InstructionMnemonic(287), nullptr);
  EXPECT_EQ(InstructionMnemonic(-4), nullptr);
}

// ---------------------------------------------------------------------------
// FindInstruction

constexpr int32_t kUntouched = 0x5EADBEEF;

class FindInstructionTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvdecoderXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_TRUE(MapDrive('T', kDriveFixed, dir_));
  }
  void TearDown() override {
    CloseTargetFile("T:\\PROG.COM", ScannerFile());
    SetJumpMode(true);
    FaultReset();
    UnmapDrive('T');
    std::remove((dir_ + "/PROG.COM").c_str());
    rmdir(dir_.c_str());
  }
  // Writes the program and opens it as the scanner's file at `start`.
  void Open(const std::vector<uint8_t>& bytes, int64_t start = 0) {
    CloseTargetFile("T:\\PROG.COM", ScannerFile());
    {
      std::ofstream f(dir_ + "/PROG.COM", std::ios::binary | std::ios::trunc);
      f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    }
    ASSERT_NE(OpenTargetFile("T:\\PROG.COM", kModeScan, ScannerFile()), kNoFile);
    ASSERT_EQ(PlatSeek(ScannerFile()->handle, start, kSeekBegin), start);
  }
  int64_t Position() { return PlatSeek(ScannerFile()->handle, 0, kSeekCurrent); }

  std::string dir_;
};

struct FindCase {
  const char* name;
  const char* bytes;
  int64_t start;
  int kind;
  bool jumpMode;
  int32_t result;     // expected position or -1
  int32_t value;      // expected *out
};

const FindCase kFindCases[] = {
    {"add r16 one past the 81", "81 C3 34 12", 0, 3, true, 1, 0x1234},
    {"add r16 after others", "90 8B 46 FE 81 C3 34 12", 0, 3, true, 5, 0x1234},
    {"81 with memory operand is not add r16", "81 06 C3 00 34 12 81 C1 78 56", 0, 3, true,
     7, 0x5678},
    {"81 inside an immediate is stepped over", "B0 81 C3 34 12", 0, 3, true, -1, kUntouched},
    {"short jump ends the search", "90 EB 10 81 C3 34 12", 0, 3, true, -1, kUntouched},
    {"short jump passed with jumpMode off", "90 EB 10 81 C3 34 12", 0, 3, false, 4, 0x1234},
    {"near jump ends the search", "E9 00 00 B8 34 12", 0, 2, true, -1, kUntouched},
    {"kind 1 near jump", "90 E9 34 12", 0, 1, false, 1, 0x1234},
    {"kind 1 short jump zero-extended", "90 EB F0", 0, 1, false, 1, 0xF0},
    {"kind 1 with jumpMode on finds nothing", "90 E9 34 12", 0, 1, true, -1, kUntouched},
    {"mov r16", "31 C0 BE 00 01", 0, 2, true, 2, 0x0100},
    {"mov di", "FC BF 34 12", 0, 2, true, 1, 0x1234},
    {"mov r8 is not mov r16", "B4 2A B8 78 56", 0, 2, true, 2, 0x5678},
    {"xor [bx+disp16], dl", "2E 30 97 34 12", 0, 4, true, 2, 0x1234},
    {"xor with another operand", "30 96 34 12", 0, 4, true, -1, kUntouched},
    {"opcode kind, value untouched", "B9 10 00 E2 FE", 0, 0xE2, true, 3, kUntouched},
    {"opcode kind 0", "90 00 C0", 0, 0, true, 1, kUntouched},
    {"opcode kind outside a byte", "90 00 C0", 0, 0x100, true, -1, kUntouched},
    {"negative kind", "90 00 C0", 0, -5, true, -1, kUntouched},
    {"non-zero start", "B8 11 11 90 B8 22 22", 3, 2, true, 4, 0x2222},
    {"start inside an instruction", "B8 B8 22 22", 1, 2, true, 1, 0x2222},
    {"cut-off instruction at end of file", "90 B8 34", 0, 2, true, -1, kUntouched},
    {"cut-off add r16 at end of file", "81 C3 34", 0, 3, true, -1, kUntouched},
    {"empty remainder", "90 90", 2, 0x90, true, -1, kUntouched},
};

TEST_F(FindInstructionTest, Cases) {
  for (const FindCase& c : kFindCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = Hex(c.bytes);
    Open(bytes, c.start);
    SetJumpMode(c.jumpMode);
    int32_t value = kUntouched;
    EXPECT_EQ(FindInstruction(c.kind, &value), c.result);
    EXPECT_EQ(value, c.value);
    if (c.result >= 0) {
      EXPECT_EQ(Position(), c.result);
    } else {
      EXPECT_EQ(Position(), (int64_t)bytes.size());   // after the window read
    }
  }
}

// The walk covers the 100 bytes from the start: an instruction starting at
// the last of them is found with its operand read from beyond, one starting
// after them is not, and a failed search leaves the file after the window.
TEST_F(FindInstructionTest, WindowOfHundredBytes) {
  const struct {
    int nops;          // NOPs before B8 34 12
    int64_t start;
    int32_t result;
  } kCases[] = {
      {99, 0, 99},
      {100, 0, -1},
      {120, 21, 120},
      {120, 20, -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.nops);
    std::vector<uint8_t> bytes(c.nops, 0x90);
    for (uint8_t b : {0xB8, 0x34, 0x12, 0x90, 0x90, 0x90, 0x90}) bytes.push_back(b);
    Open(bytes, c.start);
    int32_t value = kUntouched;
    EXPECT_EQ(FindInstruction(2, &value), c.result);
    if (c.result >= 0) {
      EXPECT_EQ(value, 0x1234);
      EXPECT_EQ(Position(), c.result);
    } else {
      EXPECT_EQ(value, kUntouched);
      EXPECT_EQ(Position(), c.start + kFindWindow);
    }
  }
}

TEST_F(FindInstructionTest, FailuresGiveMinusOne) {
  int32_t value = kUntouched;
  EXPECT_EQ(FindInstruction(2, &value), -1);   // no file open

  Open(Hex("B8 34 12"));
  FaultArm(kFaultRead, 0);
  EXPECT_EQ(FindInstruction(2, &value), -1);
  FaultReset();
  FaultArm(kFaultSeek, 0);
  EXPECT_EQ(FindInstruction(2, &value), -1);
  FaultReset();
  EXPECT_EQ(value, kUntouched);

  // A failed seek to the result is no result either.
  Open(Hex("B8 34 12"));
  FaultArm(kFaultSeek, 1);
  EXPECT_EQ(FindInstruction(2, &value), -1);
  FaultReset();
  EXPECT_EQ(value, kUntouched);
}

TEST(JumpMode, OnByDefaultAndRestorable) {
  EXPECT_TRUE(JumpMode());
  EXPECT_TRUE(SetJumpMode(false));
  EXPECT_FALSE(JumpMode());
  EXPECT_FALSE(SetJumpMode(true));
  EXPECT_TRUE(JumpMode());
}

// ---------------------------------------------------------------------------
// Rotations

// One bit at a time, the way the loops the detectors undo do it.
uint32_t SlowRotateLeft(uint32_t v, unsigned n, int bits) {
  uint32_t mask = (1u << bits) - 1;
  for (unsigned i = 0; i < n; i++) v = ((v << 1) | (v >> (bits - 1))) & mask;
  return v;
}

TEST(Rotate, MatchesBitByBitRotation) {
  for (unsigned n = 0; n <= 40; n++) {
    for (uint32_t v = 0; v < 256; v++) {
      ASSERT_EQ(RotateLeft8((uint8_t)v, n), SlowRotateLeft(v, n, 8)) << v << " " << n;
      ASSERT_EQ(RotateRight8((uint8_t)v, n), SlowRotateLeft(v, 8 * 40 - n, 8)) << v << " " << n;
    }
    for (uint32_t v : {0x0000u, 0x0001u, 0x8000u, 0x8001u, 0x1234u, 0xFFFEu, 0xA55Au}) {
      ASSERT_EQ(RotateLeft16((uint16_t)v, n), SlowRotateLeft(v, n, 16)) << v << " " << n;
      ASSERT_EQ(RotateRight16((uint16_t)v, n), SlowRotateLeft(v, 16 * 40 - n, 16)) << v << " " << n;
    }
  }
  EXPECT_EQ(RotateLeft8(0x81, 1), 0x03);
  EXPECT_EQ(RotateRight8(0x81, 1), 0xC0);
  EXPECT_EQ(RotateLeft16(0x8001, 4), 0x0018);
  EXPECT_EQ(RotateRight16(0x8001, 4), 0x1800);
}

}  // namespace
