// Inert sample programs for trying Korvane out and for its tests.
//
// A sample is a harmless host program (it prints one line and exits) with
// synthetic virus bytes placed where a test definition of the database
// expects them: the file's entry point is moved to the planted bytes, the
// signature pattern sits at its offset from that entry, and the
// confirmation patterns at theirs. Nothing here is, or makes, a
// self-replicating program.
//
// State: none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/ctlbuild/ctl_image.h"

using Bytes = std::vector<uint8_t>;

// A COM program that prints text with DOS function 9 and exits, padded
// with NOPs to at least `size` bytes.
Bytes MakeComHost(const std::string& text = "Korvane test host", size_t size = 0);

// An MZ program: a 32-byte header (2 paragraphs, no relocations), then a
// load module whose code at CS:IP = 0:0 prints text and exits; padded to at
// least moduleSize bytes of load module.
Bytes MakeExeHost(const std::string& text = "Korvane test host", size_t moduleSize = 0);

// Recomputes the page count and last-page bytes of an MZ file for its length.
void FixMzSize(Bytes* file);

// The planted infection of one signature. For a COM host the file starts
// with a near jump to the planted bytes; for an MZ host CS:IP points at
// them. keyByte is the byte at the entry point. Returns false when the
// signature cannot be planted for that kind (no key byte, or a key that
// would itself be followed as a jump).
struct Planted {
  Bytes file;
  int32_t entry;           // file offset of the planted entry point
};
bool PlantSignature(const Bytes& host, bool mz, const CtlSignatureDef& sig,
                    const std::vector<CtlConfirmDef>& confirms, Planted* out);

// The EICAR anti-virus test file (68 bytes).
Bytes EicarTestFile();
