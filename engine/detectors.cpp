// The special detectors of encrypting viruses, in the order the special
// pass runs them. Each row names the virus it reports and its routine.
//
// State: none; the detectors work on the scanner's layout and open file.
#include "engine/dispatch.h"

// Rows: {virus name, routine}; the order is the order of the special pass.
// A null name ends the table.
const SpecialDetector kSpecialDetectors[] = {
    {nullptr, nullptr},
};
