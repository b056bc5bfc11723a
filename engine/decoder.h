// Table-driven 8086 instruction decoder.
//
// DecodeInstruction measures one instruction: which row of the instruction
// table it matches and how many opcode, displacement and immediate bytes it
// takes. The file scanner uses it to step over the first instructions of a
// program; the special detectors use FindInstruction to find the parts of a
// virus's decryption loop in the scanner's open file. The byte and word
// rotations are the ones those decryption loops use.
//
// State: the jumpMode setting (on unless a caller switches it off for one
// search) and the constant tables in decoder.cpp. Service thread only.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest instruction the table describes: opcode, ModR/M, a 2-byte
// displacement and a 2-byte immediate (81 /r with [BX+SI+disp16], imm16).
constexpr int kMaxInstructionLength = 6;

// Bytes FindInstruction walks from its start position.
constexpr int kFindWindow = 100;

struct InstructionInfo {
  int row;                 // > 0 one-byte row, < 0 two-byte row, 0 unknown
  int opcodeBytes;         // opcode byte(s) plus the ModR/M byte if any
  int displacementBytes;   // 0, 1 or 2
  int immediateBytes;      // 0, 1, 2 or 4
  int length;              // sum of the three; 1 for an unknown opcode
};

// Decodes the instruction at p, of which avail bytes may be read (p may be
// null when avail is 0). Bytes at or past avail are never read: they count
// as zero, so a cut-off instruction still gets the length its known bytes
// give, and the caller must compare the length with avail before taking
// an operand from the buffer. Fills *out and returns out->row.
int DecodeInstruction(const uint8_t* p, size_t avail, InstructionInfo* out);

// Mnemonic of a row as DecodeInstruction returned it ("Add", "Aad"), or
// null for 0 and for a number outside the table.
const char* InstructionMnemonic(int row);

// Text of the 16-bit memory operand for k = mod * 8 + r/m ("[ Bx + Si ]",
// "[ Bp + $B ]"), or null for k of 24 and more (a register operand).
const char* AddressingForm(int k);

// Searches the scanner's open file from its current position s for an
// instruction among the 100 bytes there, stepping by decoded lengths:
//   kind 1: JMP rel16 (E9) or JMP rel8 (EB); *out = the 16-bit
//           displacement, or the 8-bit one zero-extended;
//   kind 2: MOV r16, imm16 (B8-BF); *out = the immediate;
//   kind 3: ADD r16, imm16 (81 C0-C7); *out = the immediate; the result is
//           the position one byte after the instruction's start;
//   kind 4: XOR [BX+disp16], DL (30 97); *out = the displacement; the
//           result is one byte after the start;
//   any other kind k: the first instruction whose opcode byte is k
//           (*out unchanged); kinds outside 0-255 never match.
// Values are taken unsigned (0-65535). With jumpMode on, an E9 or EB met
// first ends the search without result, whatever the kind.
// On success the file is positioned at the result, which is returned.
// Returns -1 when nothing is found, no file is open, or the seek or read
// fails; the file is then left after the bytes of the window it read.
// A short file walks only the bytes it has; an instruction that runs past
// the last byte read is not a match. Operands of an instruction that starts
// inside the window but ends past it are read from the file.
int32_t FindInstruction(int kind, int32_t* out);

// The jumpMode setting: on by default. SetJumpMode returns the previous
// setting so that a caller can put it back after its search.
bool SetJumpMode(bool on);
bool JumpMode();

// Rotations; n is taken mod 8 for bytes and mod 16 for words.
uint8_t RotateLeft8(uint8_t v, unsigned n);
uint8_t RotateRight8(uint8_t v, unsigned n);
uint16_t RotateLeft16(uint16_t v, unsigned n);
uint16_t RotateRight16(uint16_t v, unsigned n);
