// The engine's work buffer: 8,193 bytes shared in turn by whoever runs (the
// special detectors, the vaccine executor and its operations, the boot
// sector and macro code). Only one user at a time, on the service thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kWorkBufferSize = 8193;

uint8_t* WorkBuffer();
