// The work buffer: see work_buffer.h. A static array, so it exists from
// start-up to the end of the process and can never fail to be had.
#include "engine/work_buffer.h"

static uint8_t gWorkBuffer[kWorkBufferSize];

uint8_t* WorkBuffer() { return gWorkBuffer; }
