// Instruction decoder: see decoder.h.
//
// The instruction table describes the 8086 one-byte opcode map with its
// standard operand sizes, plus three two-byte forms. Each row names its two
// operands by a format code; the decoder needs only the class of each code
// (ModR/M operand, immediate of 1, 2 or 4 bytes, register, none) to measure
// an instruction. Opcodes of later processors and ModR/M register fields
// that have no row decode as unknown, one byte long.
//
// State: gDecoder (the jumpMode setting). The tables are constant.
#include "engine/decoder.h"

#include <cstdint>

#include "engine/target_file.h"
#include "platform/files.h"

static struct {
  bool jumpMode;   // an E9 or EB ends a FindInstruction search without result
} gDecoder = {true};

// ---------------------------------------------------------------------------
// Operand format codes

// 0x29-0x2E are operands given by a ModR/M byte; 0x2B, 0x2F and 0x31 take a
// 1-byte immediate; 0x2C, 0x30, 0x32 and 0x34 a 2-byte one; 0x33 four bytes.
// 0x2B and 0x2C carry both marks, so they serve as the immediate of a row
// whose other operand is a ModR/M one. Codes below 0x29 name registers and
// take no bytes.
enum : uint8_t {
  kAL = 0x00, kCL, kDL, kBL, kAH, kCH, kDH, kBH,    // 8-bit registers
  kAX = 0x08, kCX, kDX, kBX, kSP, kBP, kSI, kDI,    // 16-bit registers
  kES = 0x10, kCS, kSS, kDS,                        // segment registers
  kSreg = 0x14,   // segment register named by the ModR/M register field
  kOne = 0x15,    // shift count 1
  kThree = 0x16,  // interrupt number 3 of the one-byte Int
  kEb = 0x29,     // 8-bit register or memory (ModR/M)
  kEw = 0x2A,     // 16-bit register or memory (ModR/M)
  kIbM = 0x2B,    // imm8 of a ModR/M instruction
  kIwM = 0x2C,    // imm16 of a ModR/M instruction
  kGb = 0x2D,     // 8-bit register named by the ModR/M register field
  kGw = 0x2E,     // 16-bit register named by the ModR/M register field
  kIb = 0x2F,     // imm8
  kIw = 0x30,     // imm16
  kRel8 = 0x31,   // 8-bit relative jump target
  kRel16 = 0x32,  // 16-bit relative jump target
  kFarPtr = 0x33, // offset:segment, four bytes
  kAddr = 0x34,   // 16-bit direct memory address
  kNone = 0xFF,   // no operand
};

static constexpr bool IsModRMFormat(uint8_t f) { return f >= 0x29 && f <= 0x2E; }

// Immediate bytes one operand code brings.
static constexpr int FormatImmediateBytes(uint8_t f) {
  if (f == kFarPtr) return 4;
  if (f == kIwM || f == kIw || f == kRel16 || f == kAddr) return 2;
  if (f == kIbM || f == kIb || f == kRel8) return 1;
  return 0;
}

// ---------------------------------------------------------------------------
// The instruction table

// One row of the one-byte opcode map.
//   opcode    the instruction's first byte
//   selector  ' ' no ModR/M byte; 'R' a ModR/M byte with any register
//             field; '0'-'7' the row applies only when the ModR/M byte's
//             register field (bits 3-5) has that value
//   mnemonic  8086 name, for listings only
//   format1, format2  operand format codes (above)
struct OpcodeRow {
  uint8_t opcode;
  char selector;
  const char* mnemonic;
  uint8_t format1;
  uint8_t format2;
};

// Rows are tried in this order and the first match wins; no row is
// shadowed by an earlier one (checked below), so the order is the opcode
// order for the reader's sake.
static constexpr OpcodeRow kOneByteRows[] = {
    // Arithmetic and logic in eight blocks of six (r/m,reg; reg,r/m; AL/AX,imm),
    // with segment pushes and pops, segment prefixes and decimal adjusts.
    {0x00, 'R', "Add",         kEb,    kGb},
    {0x01, 'R', "Add",         kEw,    kGw},
    {0x02, 'R', "Add",         kGb,    kEb},
    {0x03, 'R', "Add",         kGw,    kEw},
    {0x04, ' ', "Add",         kAL,    kIb},
    {0x05, ' ', "Add",         kAX,    kIw},
    {0x06, ' ', "Push",        kES,    kNone},
    {0x07, ' ', "Pop",         kES,    kNone},
    {0x08, 'R', "Or",          kEb,    kGb},
    {0x09, 'R', "Or",          kEw,    kGw},
    {0x0A, 'R', "Or",          kGb,    kEb},
    {0x0B, 'R', "Or",          kGw,    kEw},
    {0x0C, ' ', "Or",          kAL,    kIb},
    {0x0D, ' ', "Or",          kAX,    kIw},
    {0x0E, ' ', "Push",        kCS,    kNone},
    {0x10, 'R', "Adc",         kEb,    kGb},
    {0x11, 'R', "Adc",         kEw,    kGw},
    {0x12, 'R', "Adc",         kGb,    kEb},
    {0x13, 'R', "Adc",         kGw,    kEw},
    {0x14, ' ', "Adc",         kAL,    kIb},
    {0x15, ' ', "Adc",         kAX,    kIw},
    {0x16, ' ', "Push",        kSS,    kNone},
    {0x17, ' ', "Pop",         kSS,    kNone},
    {0x18, 'R', "Sbb",         kEb,    kGb},
    {0x19, 'R', "Sbb",         kEw,    kGw},
    {0x1A, 'R', "Sbb",         kGb,    kEb},
    {0x1B, 'R', "Sbb",         kGw,    kEw},
    {0x1C, ' ', "Sbb",         kAL,    kIb},
    {0x1D, ' ', "Sbb",         kAX,    kIw},
    {0x1E, ' ', "Push",        kDS,    kNone},
    {0x1F, ' ', "Pop",         kDS,    kNone},
    {0x20, 'R', "And",         kEb,    kGb},
    {0x21, 'R', "And",         kEw,    kGw},
    {0x22, 'R', "And",         kGb,    kEb},
    {0x23, 'R', "And",         kGw,    kEw},
    {0x24, ' ', "And",         kAL,    kIb},
    {0x25, ' ', "And",         kAX,    kIw},
    {0x26, ' ', "Es:",         kNone,  kNone},
    {0x27, ' ', "Daa",         kNone,  kNone},
    {0x28, 'R', "Sub",         kEb,    kGb},
    {0x29, 'R', "Sub",         kEw,    kGw},
    {0x2A, 'R', "Sub",         kGb,    kEb},
    {0x2B, 'R', "Sub",         kGw,    kEw},
    {0x2C, ' ', "Sub",         kAL,    kIb},
    {0x2D, ' ', "Sub",         kAX,    kIw},
    {0x2E, ' ', "Cs:",         kNone,  kNone},
    {0x2F, ' ', "Das",         kNone,  kNone},
    {0x30, 'R', "Xor",         kEb,    kGb},
    {0x31, 'R', "Xor",         kEw,    kGw},
    {0x32, 'R', "Xor",         kGb,    kEb},
    {0x33, 'R', "Xor",         kGw,    kEw},
    {0x34, ' ', "Xor",         kAL,    kIb},
    {0x35, ' ', "Xor",         kAX,    kIw},
    {0x36, ' ', "Ss:",         kNone,  kNone},
    {0x37, ' ', "Aaa",         kNone,  kNone},
    {0x38, 'R', "Cmp",         kEb,    kGb},
    {0x39, 'R', "Cmp",         kEw,    kGw},
    {0x3A, 'R', "Cmp",         kGb,    kEb},
    {0x3B, 'R', "Cmp",         kGw,    kEw},
    {0x3C, ' ', "Cmp",         kAL,    kIb},
    {0x3D, ' ', "Cmp",         kAX,    kIw},
    {0x3E, ' ', "Ds:",         kNone,  kNone},
    {0x3F, ' ', "Aas",         kNone,  kNone},
    // Inc, Dec, Push and Pop of the 16-bit registers.
    {0x40, ' ', "Inc",         kAX,    kNone},
    {0x41, ' ', "Inc",         kCX,    kNone},
    {0x42, ' ', "Inc",         kDX,    kNone},
    {0x43, ' ', "Inc",         kBX,    kNone},
    {0x44, ' ', "Inc",         kSP,    kNone},
    {0x45, ' ', "Inc",         kBP,    kNone},
    {0x46, ' ', "Inc",         kSI,    kNone},
    {0x47, ' ', "Inc",         kDI,    kNone},
    {0x48, ' ', "Dec",         kAX,    kNone},
    {0x49, ' ', "Dec",         kCX,    kNone},
    {0x4A, ' ', "Dec",         kDX,    kNone},
    {0x4B, ' ', "Dec",         kBX,    kNone},
    {0x4C, ' ', "Dec",         kSP,    kNone},
    {0x4D, ' ', "Dec",         kBP,    kNone},
    {0x4E, ' ', "Dec",         kSI,    kNone},
    {0x4F, ' ', "Dec",         kDI,    kNone},
    {0x50, ' ', "Push",        kAX,    kNone},
    {0x51, ' ', "Push",        kCX,    kNone},
    {0x52, ' ', "Push",        kDX,    kNone},
    {0x53, ' ', "Push",        kBX,    kNone},
    {0x54, ' ', "Push",        kSP,    kNone},
    {0x55, ' ', "Push",        kBP,    kNone},
    {0x56, ' ', "Push",        kSI,    kNone},
    {0x57, ' ', "Push",        kDI,    kNone},
    {0x58, ' ', "Pop",         kAX,    kNone},
    {0x59, ' ', "Pop",         kCX,    kNone},
    {0x5A, ' ', "Pop",         kDX,    kNone},
    {0x5B, ' ', "Pop",         kBX,    kNone},
    {0x5C, ' ', "Pop",         kSP,    kNone},
    {0x5D, ' ', "Pop",         kBP,    kNone},
    {0x5E, ' ', "Pop",         kSI,    kNone},
    {0x5F, ' ', "Pop",         kDI,    kNone},
    // Conditional short jumps.
    {0x70, ' ', "Jo",          kRel8,  kNone},
    {0x71, ' ', "Jno",         kRel8,  kNone},
    {0x72, ' ', "Jb",          kRel8,  kNone},
    {0x73, ' ', "Jnb",         kRel8,  kNone},
    {0x74, ' ', "Jz",          kRel8,  kNone},
    {0x75, ' ', "Jnz",         kRel8,  kNone},
    {0x76, ' ', "Jbe",         kRel8,  kNone},
    {0x77, ' ', "Ja",          kRel8,  kNone},
    {0x78, ' ', "Js",          kRel8,  kNone},
    {0x79, ' ', "Jns",         kRel8,  kNone},
    {0x7A, ' ', "Jp",          kRel8,  kNone},
    {0x7B, ' ', "Jnp",         kRel8,  kNone},
    {0x7C, ' ', "Jl",          kRel8,  kNone},
    {0x7D, ' ', "Jge",         kRel8,  kNone},
    {0x7E, ' ', "Jle",         kRel8,  kNone},
    {0x7F, ' ', "Jg",          kRel8,  kNone},
    // Arithmetic with an immediate, chosen by the register field; 83 /6 has
    // no row.
    {0x80, '0', "Add",         kEb,    kIbM},
    {0x80, '1', "Or",          kEb,    kIbM},
    {0x80, '2', "Adc",         kEb,    kIbM},
    {0x80, '3', "Sbb",         kEb,    kIbM},
    {0x80, '4', "And",         kEb,    kIbM},
    {0x80, '5', "Sub",         kEb,    kIbM},
    {0x80, '6', "Xor",         kEb,    kIbM},
    {0x80, '7', "Cmp",         kEb,    kIbM},
    {0x81, '0', "Add",         kEw,    kIwM},
    {0x81, '1', "Or",          kEw,    kIwM},
    {0x81, '2', "Adc",         kEw,    kIwM},
    {0x81, '3', "Sbb",         kEw,    kIwM},
    {0x81, '4', "And",         kEw,    kIwM},
    {0x81, '5', "Sub",         kEw,    kIwM},
    {0x81, '6', "Xor",         kEw,    kIwM},
    {0x81, '7', "Cmp",         kEw,    kIwM},
    {0x83, '0', "Add",         kEw,    kIbM},
    {0x83, '1', "Or",          kEw,    kIbM},
    {0x83, '2', "Adc",         kEw,    kIbM},
    {0x83, '3', "Sbb",         kEw,    kIbM},
    {0x83, '4', "And",         kEw,    kIbM},
    {0x83, '5', "Sub",         kEw,    kIbM},
    {0x83, '7', "Cmp",         kEw,    kIbM},
    // Test, Xchg, Mov, Lea and Pop r/m.
    {0x84, 'R', "Test",        kEb,    kGb},
    {0x85, 'R', "Test",        kEw,    kGw},
    {0x86, 'R', "Xchg",        kEb,    kGb},
    {0x87, 'R', "Xchg",        kEw,    kGw},
    {0x88, 'R', "Mov",         kEb,    kGb},
    {0x89, 'R', "Mov",         kEw,    kGw},
    {0x8A, 'R', "Mov",         kGb,    kEb},
    {0x8B, 'R', "Mov",         kGw,    kEw},
    {0x8C, 'R', "Mov",         kEw,    kSreg},
    {0x8D, 'R', "Lea",         kGw,    kEw},
    {0x8E, 'R', "Mov",         kSreg,  kEw},
    {0x8F, '0', "Pop",         kEw,    kNone},
    // Nop, Xchg AX with a register, conversions, far call, flag transfers.
    {0x90, ' ', "Nop",         kNone,  kNone},
    {0x91, ' ', "Xchg",        kAX,    kCX},
    {0x92, ' ', "Xchg",        kAX,    kDX},
    {0x93, ' ', "Xchg",        kAX,    kBX},
    {0x94, ' ', "Xchg",        kAX,    kSP},
    {0x95, ' ', "Xchg",        kAX,    kBP},
    {0x96, ' ', "Xchg",        kAX,    kSI},
    {0x97, ' ', "Xchg",        kAX,    kDI},
    {0x98, ' ', "Cbw",         kNone,  kNone},
    {0x99, ' ', "Cwd",         kNone,  kNone},
    {0x9A, ' ', "Call Far",    kFarPtr, kNone},
    {0x9B, ' ', "Wait",        kNone,  kNone},
    {0x9C, ' ', "Pushf",       kNone,  kNone},
    {0x9D, ' ', "Popf",        kNone,  kNone},
    {0x9E, ' ', "Sahf",        kNone,  kNone},
    {0x9F, ' ', "Lahf",        kNone,  kNone},
    // Moves to and from a direct address, string instructions, Test
    // AL/AX with an immediate.
    {0xA0, ' ', "Mov",         kAL,    kAddr},
    {0xA1, ' ', "Mov",         kAX,    kAddr},
    {0xA2, ' ', "Mov",         kAddr,  kAL},
    {0xA3, ' ', "Mov",         kAddr,  kAX},
    {0xA4, ' ', "Movsb",       kNone,  kNone},
    {0xA5, ' ', "Movsw",       kNone,  kNone},
    {0xA6, ' ', "Cmpsb",       kNone,  kNone},
    {0xA7, ' ', "Cmpsw",       kNone,  kNone},
    {0xA8, ' ', "Test",        kAL,    kIb},
    {0xA9, ' ', "Test",        kAX,    kIw},
    {0xAA, ' ', "Stosb",       kNone,  kNone},
    {0xAB, ' ', "Stosw",       kNone,  kNone},
    {0xAC, ' ', "Lodsb",       kNone,  kNone},
    {0xAD, ' ', "Lodsw",       kNone,  kNone},
    {0xAE, ' ', "Scasb",       kNone,  kNone},
    {0xAF, ' ', "Scasw",       kNone,  kNone},
    // Mov register, immediate.
    {0xB0, ' ', "Mov",         kAL,    kIb},
    {0xB1, ' ', "Mov",         kCL,    kIb},
    {0xB2, ' ', "Mov",         kDL,    kIb},
    {0xB3, ' ', "Mov",         kBL,    kIb},
    {0xB4, ' ', "Mov",         kAH,    kIb},
    {0xB5, ' ', "Mov",         kCH,    kIb},
    {0xB6, ' ', "Mov",         kDH,    kIb},
    {0xB7, ' ', "Mov",         kBH,    kIb},
    {0xB8, ' ', "Mov",         kAX,    kIw},
    {0xB9, ' ', "Mov",         kCX,    kIw},
    {0xBA, ' ', "Mov",         kDX,    kIw},
    {0xBB, ' ', "Mov",         kBX,    kIw},
    {0xBC, ' ', "Mov",         kSP,    kIw},
    {0xBD, ' ', "Mov",         kBP,    kIw},
    {0xBE, ' ', "Mov",         kSI,    kIw},
    {0xBF, ' ', "Mov",         kDI,    kIw},
    // Returns, Les/Lds, Mov r/m with an immediate, interrupts.
    {0xC2, ' ', "Ret",         kIw,    kNone},
    {0xC3, ' ', "Ret",         kNone,  kNone},
    {0xC4, 'R', "Les",         kGw,    kEw},
    {0xC5, 'R', "Lds",         kGw,    kEw},
    {0xC6, 'R', "Mov",         kEb,    kIbM},
    {0xC7, 'R', "Mov",         kEw,    kIwM},
    {0xCA, ' ', "Retf",        kIw,    kNone},
    {0xCB, ' ', "Retf",        kNone,  kNone},
    {0xCC, ' ', "Int",         kThree, kNone},
    {0xCD, ' ', "Int",         kIb,    kNone},
    {0xCE, ' ', "Into",        kNone,  kNone},
    {0xCF, ' ', "Iret",        kNone,  kNone},
    // Shifts and rotations by 1 or by CL; /6 has no row. D8 (coprocessor
    // escape) is taken as the opcode and one byte.
    {0xD0, '0', "Rol",         kEb,    kOne},
    {0xD0, '1', "Ror",         kEb,    kOne},
    {0xD0, '2', "Rcl",         kEb,    kOne},
    {0xD0, '3', "Rcr",         kEb,    kOne},
    {0xD0, '4', "Shl",         kEb,    kOne},
    {0xD0, '5', "Shr",         kEb,    kOne},
    {0xD0, '7', "Sar",         kEb,    kOne},
    {0xD1, '0', "Rol",         kEw,    kOne},
    {0xD1, '1', "Ror",         kEw,    kOne},
    {0xD1, '2', "Rcl",         kEw,    kOne},
    {0xD1, '3', "Rcr",         kEw,    kOne},
    {0xD1, '4', "Shl",         kEw,    kOne},
    {0xD1, '5', "Shr",         kEw,    kOne},
    {0xD1, '7', "Sar",         kEw,    kOne},
    {0xD2, '0', "Rol",         kEb,    kCL},
    {0xD2, '1', "Ror",         kEb,    kCL},
    {0xD2, '2', "Rcl",         kEb,    kCL},
    {0xD2, '3', "Rcr",         kEb,    kCL},
    {0xD2, '4', "Shl",         kEb,    kCL},
    {0xD2, '5', "Shr",         kEb,    kCL},
    {0xD2, '7', "Sar",         kEb,    kCL},
    {0xD3, '0', "Rol",         kEw,    kCL},
    {0xD3, '1', "Ror",         kEw,    kCL},
    {0xD3, '2', "Rcl",         kEw,    kCL},
    {0xD3, '3', "Rcr",         kEw,    kCL},
    {0xD3, '4', "Shl",         kEw,    kCL},
    {0xD3, '5', "Shr",         kEw,    kCL},
    {0xD3, '7', "Sar",         kEw,    kCL},
    {0xD7, ' ', "Xlat",        kNone,  kNone},
    {0xD8, ' ', "Coprocessor", kIb,    kNone},
    // Loops, port I/O, calls and jumps.
    {0xE0, ' ', "Loopne",      kRel8,  kNone},
    {0xE1, ' ', "Loope",       kRel8,  kNone},
    {0xE2, ' ', "Loop",        kRel8,  kNone},
    {0xE3, ' ', "Jcxz",        kRel8,  kNone},
    {0xE4, ' ', "In",          kAL,    kIb},
    {0xE5, ' ', "In",          kAX,    kIb},
    {0xE6, ' ', "Out",         kIb,    kAL},
    {0xE7, ' ', "Out",         kIb,    kAX},
    {0xE8, ' ', "Call",        kRel16, kNone},
    {0xE9, ' ', "Jmp",         kRel16, kNone},
    {0xEA, ' ', "Jmp Far",     kFarPtr, kNone},
    {0xEB, ' ', "Jmp",         kRel8,  kNone},
    {0xEC, ' ', "In",          kAL,    kDX},
    {0xED, ' ', "In",          kAX,    kDX},
    {0xEE, ' ', "Out",         kDX,    kAL},
    {0xEF, ' ', "Out",         kDX,    kAX},
    // Prefixes and flag instructions; the F6/F7, FE and FF groups.
    {0xF0, ' ', "Lock",        kNone,  kNone},
    {0xF2, ' ', "Repne",       kNone,  kNone},
    {0xF3, ' ', "Rep",         kNone,  kNone},
    {0xF4, ' ', "Hlt",         kNone,  kNone},
    {0xF5, ' ', "Cmc",         kNone,  kNone},
    {0xF6, '0', "Test",        kEb,    kIbM},
    {0xF6, '2', "Not",         kEb,    kNone},
    {0xF6, '3', "Neg",         kEb,    kNone},
    {0xF6, '4', "Mul",         kEb,    kNone},
    {0xF6, '5', "Imul",        kEb,    kNone},
    {0xF6, '6', "Div",         kEb,    kNone},
    {0xF6, '7', "Idiv",        kEb,    kNone},
    {0xF7, '0', "Test",        kEw,    kIwM},
    {0xF7, '2', "Not",         kEw,    kNone},
    {0xF7, '3', "Neg",         kEw,    kNone},
    {0xF7, '4', "Mul",         kEw,    kNone},
    {0xF7, '5', "Imul",        kEw,    kNone},
    {0xF7, '6', "Div",         kEw,    kNone},
    {0xF7, '7', "Idiv",        kEw,    kNone},
    {0xF8, ' ', "Clc",         kNone,  kNone},
    {0xF9, ' ', "Stc",         kNone,  kNone},
    {0xFA, ' ', "Cli",         kNone,  kNone},
    {0xFB, ' ', "Sti",         kNone,  kNone},
    {0xFC, ' ', "Cld",         kNone,  kNone},
    {0xFD, ' ', "Std",         kNone,  kNone},
    {0xFE, '0', "Inc",         kEb,    kNone},
    {0xFE, '1', "Dec",         kEb,    kNone},
    {0xFF, '0', "Inc",         kEw,    kNone},
    {0xFF, '1', "Dec",         kEw,    kNone},
    {0xFF, '2', "Call",        kEw,    kNone},
    {0xFF, '3', "Call Far",    kEw,    kNone},
    {0xFF, '4', "Jmp",         kEw,    kNone},
    {0xFF, '5', "Jmp Far",     kEw,    kNone},
    {0xFF, '6', "Push",        kEw,    kNone},
};
constexpr int kOneByteRowCount = 286;
static_assert(sizeof kOneByteRows / sizeof kOneByteRows[0] == kOneByteRowCount);

// A row whose first two bytes are both fixed; the selector and formats
// mean what they mean in OpcodeRow, the ModR/M byte being the third byte.
struct TwoByteRow {
  uint8_t opcode[2];
  char selector;
  const char* mnemonic;
  uint8_t format1;
  uint8_t format2;
};

// Tried before the one-byte rows. D4 and D5 with another second byte, and
// every other 0F pair, are unknown.
static constexpr TwoByteRow kTwoByteRows[] = {
    {{0xD5, 0x0A}, ' ', "Aad", kNone, kNone},
    {{0xD4, 0x0A}, ' ', "Aam", kNone, kNone},
    {{0x0F, 0xAF}, 'R', "Imul", kGw, kEw},
};
constexpr int kTwoByteRowCount = 3;
static_assert(sizeof kTwoByteRows / sizeof kTwoByteRows[0] == kTwoByteRowCount);

// A row is sound when its selector is one of the allowed ones, it has a
// ModR/M operand exactly when its selector is not blank, and it uses the
// ModR/M-only immediates 0x2B/0x2C only beside a ModR/M operand.
static constexpr bool RowIsSound(char selector, uint8_t f1, uint8_t f2) {
  bool modrm = IsModRMFormat(f1) || IsModRMFormat(f2);
  bool validSel = selector == ' ' || selector == 'R' || (selector >= '0' && selector <= '7');
  return validSel && modrm == (selector != ' ');
}

// True when some one-byte row can never match because an earlier row with
// the same opcode takes all of its bytes.
static constexpr bool AnyRowShadowed() {
  for (int j = 0; j < kOneByteRowCount; j++)
    for (int i = 0; i < j; i++) {
      const OpcodeRow& a = kOneByteRows[i];
      const OpcodeRow& b = kOneByteRows[j];
      if (a.opcode == b.opcode &&
          (a.selector == ' ' || a.selector == 'R' || b.selector == ' ' ||
           b.selector == 'R' || a.selector == b.selector))
        return true;
    }
  return false;
}

static constexpr bool AllRowsSound() {
  for (const OpcodeRow& r : kOneByteRows)
    if (!RowIsSound(r.selector, r.format1, r.format2)) return false;
  for (const TwoByteRow& r : kTwoByteRows)
    if (!RowIsSound(r.selector, r.format1, r.format2)) return false;
  return true;
}

static_assert(AllRowsSound(), "a row's selector disagrees with its formats");
static_assert(!AnyRowShadowed(), "a one-byte row is hidden by an earlier one");

// ---------------------------------------------------------------------------
// Addressing forms

// The 16-bit memory operands, indexed by mod * 8 + r/m for mod 0-2. "$B"
// stands for a 1-byte displacement, "$W" for a 2-byte one; a form's ending
// gives the displacement bytes that follow the ModR/M byte.
static constexpr const char* kAddressingForms[] = {
    "[ Bx + Si ]",      "[ Bx + Di ]",      "[ Bp + Si ]",      "[ Bp + Di ]",
    "[ Si ]",           "[ Di ]",           "[ $W ]",           "[ Bx ]",
    "[ Bx + Si + $B ]", "[ Bx + Di + $B ]", "[ Bp + Si + $B ]", "[ Bp + Di + $B ]",
    "[ Si + $B ]",      "[ Di + $B ]",      "[ Bp + $B ]",      "[ Bx + $B ]",
    "[ Bx + Si + $W ]", "[ Bx + Di + $W ]", "[ Bp + Si + $W ]", "[ Bp + Di + $W ]",
    "[ Si + $W ]",      "[ Di + $W ]",      "[ Bp + $W ]",      "[ Bx + $W ]",
};
constexpr int kAddressingFormCount = 24;
static_assert(sizeof kAddressingForms / sizeof kAddressingForms[0] == kAddressingFormCount);

static constexpr bool EndsWith(const char* text, const char* tail) {
  int n = 0, m = 0;
  while (text[n]) n++;
  while (tail[m]) m++;
  if (m > n) return false;
  for (int i = 0; i < m; i++)
    if (text[n - m + i] != tail[i]) return false;
  return true;
}

static constexpr int FormDisplacementBytes(const char* form) {
  return EndsWith(form, "$W ]") ? 2 : EndsWith(form, "$B ]") ? 1 : 0;
}

// Displacement bytes by mod * 8 + r/m, taken from the forms' texts.
struct DisplacementTable {
  uint8_t bytes[kAddressingFormCount];
};
static constexpr DisplacementTable MakeDisplacementTable() {
  DisplacementTable t{};
  for (int k = 0; k < kAddressingFormCount; k++)
    t.bytes[k] = (uint8_t)FormDisplacementBytes(kAddressingForms[k]);
  return t;
}
static constexpr DisplacementTable kDisplacement = MakeDisplacementTable();
static_assert(kDisplacement.bytes[6] == 2 && kDisplacement.bytes[7] == 0 &&
              kDisplacement.bytes[8] == 1 && kDisplacement.bytes[23] == 2);

// ---------------------------------------------------------------------------
// Decoding

// The byte at index i, or 0 when i is at or past avail.
static uint8_t ByteAt(const uint8_t* p, size_t avail, size_t i) {
  return i < avail ? p[i] : 0;
}

int DecodeInstruction(const uint8_t* p, size_t avail, InstructionInfo* out) {
  uint8_t b0 = ByteAt(p, avail, 0);
  uint8_t b1 = ByteAt(p, avail, 1);
  int row = 0;
  int n = 0;
  uint8_t f1 = kNone, f2 = kNone;

  for (int i = 0; i < kTwoByteRowCount; i++) {
    const TwoByteRow& r = kTwoByteRows[i];
    if (b0 == r.opcode[0] && b1 == r.opcode[1]) {
      row = -(i + 1);
      n = 2;
      f1 = r.format1;
      f2 = r.format2;
      break;
    }
  }
  if (row == 0) {
    char field = (char)('0' + ((b1 >> 3) & 7));
    for (int i = 0; i < kOneByteRowCount; i++) {
      const OpcodeRow& r = kOneByteRows[i];
      if (b0 == r.opcode && (r.selector == ' ' || r.selector == 'R' || r.selector == field)) {
        row = i + 1;
        n = 1;
        f1 = r.format1;
        f2 = r.format2;
        break;
      }
    }
  }
  if (row == 0) {
    *out = InstructionInfo{0, 1, 0, 0, 1};
    return 0;
  }

  int displacement = 0;
  if (IsModRMFormat(f1) || IsModRMFormat(f2)) {
    uint8_t m = ByteAt(p, avail, (size_t)n);
    n++;
    int k = (m >> 6) * 8 + (m & 7);
    if (k < kAddressingFormCount) displacement = kDisplacement.bytes[k];
  }
  int i1 = FormatImmediateBytes(f1), i2 = FormatImmediateBytes(f2);
  int immediate = i1 > i2 ? i1 : i2;

  *out = InstructionInfo{row, n, displacement, immediate, n + displacement + immediate};
  return row;
}

const char* InstructionMnemonic(int row) {
  if (row > 0 && row <= kOneByteRowCount) return kOneByteRows[row - 1].mnemonic;
  if (row < 0 && -row <= kTwoByteRowCount) return kTwoByteRows[-row - 1].mnemonic;
  return nullptr;
}

const char* AddressingForm(int k) {
  return (k >= 0 && k < kAddressingFormCount) ? kAddressingForms[k] : nullptr;
}

// ---------------------------------------------------------------------------
// Searching the open file

static uint16_t Word(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

// Whether the instruction at p (all of whose bytes are present) is the one
// that kind asks for. Sets *value for kinds 1-4 and *skip to the distance
// from the instruction's start to the result position.
static bool MatchesKind(int kind, const uint8_t* p, int32_t* value, int* skip) {
  *skip = 0;
  switch (kind) {
    case 1:
      if (p[0] == 0xE9) { *value = Word(p + 1); return true; }
      if (p[0] == 0xEB) { *value = p[1]; return true; }
      return false;
    case 2:
      if (p[0] < 0xB8 || p[0] > 0xBF) return false;
      *value = Word(p + 1);
      return true;
    case 3:
      if (p[0] != 0x81 || p[1] < 0xC0 || p[1] > 0xC7) return false;
      *value = Word(p + 2);
      *skip = 1;
      return true;
    case 4:
      if (p[0] != 0x30 || p[1] != 0x97) return false;
      *value = Word(p + 2);
      *skip = 1;
      return true;
    default:
      return kind >= 0 && kind <= 0xFF && p[0] == kind;
  }
}

int32_t FindInstruction(int kind, int32_t* out) {
  FileHandle h = ScannerFile()->handle;
  if (h == kNoFile) return -1;
  int64_t start = PlatSeek(h, 0, kSeekCurrent);
  if (start < 0) return -1;

  // The window is followed by enough bytes to complete an instruction
  // that starts at its last byte.
  uint8_t buf[kFindWindow + kMaxInstructionLength - 1];
  int32_t got = PlatReadFile(h, buf, sizeof buf);
  if (got < 0) return -1;
  int window = got < kFindWindow ? got : kFindWindow;

  InstructionInfo info;
  for (int i = 0; i < window; i += info.length) {
    DecodeInstruction(buf + i, (size_t)(got - i), &info);
    if (gDecoder.jumpMode && (buf[i] == 0xE9 || buf[i] == 0xEB)) break;
    if (i + info.length > got) break;   // runs past the end of the file
    int32_t value = 0;
    int skip = 0;
    if (!MatchesKind(kind, buf + i, &value, &skip)) continue;
    int64_t pos = start + i + skip;
    if (pos > INT32_MAX || PlatSeek(h, pos, kSeekBegin) != pos) return -1;
    if (kind >= 1 && kind <= 4 && out) *out = value;
    return (int32_t)pos;
  }
  // Leave the file where a read of the window alone would have left it.
  if (got > window) PlatSeek(h, start + window, kSeekBegin);
  return -1;
}

bool SetJumpMode(bool on) {
  bool was = gDecoder.jumpMode;
  gDecoder.jumpMode = on;
  return was;
}

bool JumpMode() { return gDecoder.jumpMode; }

// ---------------------------------------------------------------------------
// Rotations

uint8_t RotateLeft8(uint8_t v, unsigned n) {
  n &= 7;
  return n ? (uint8_t)((v << n) | (v >> (8 - n))) : v;
}

uint8_t RotateRight8(uint8_t v, unsigned n) {
  n &= 7;
  return n ? (uint8_t)((v >> n) | (v << (8 - n))) : v;
}

uint16_t RotateLeft16(uint16_t v, unsigned n) {
  n &= 15;
  return n ? (uint16_t)((v << n) | (v >> (16 - n))) : v;
}

uint16_t RotateRight16(uint16_t v, unsigned n) {
  n &= 15;
  return n ? (uint16_t)((v >> n) | (v << (16 - n))) : v;
}
