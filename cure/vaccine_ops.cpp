// The vaccine operation table: cleaning steps chosen by a 16-bit code from
// a VaccineRecord.
//
// This file holds the operations the executor owns itself; the table has
// room for every code 1..276 (except 52..54), in ascending order, with the
// last rows empty.
//
// State: none beyond the executor's CleaningContext. Service thread only.
#include "cure/vaccine.h"

#include "engine/target_file.h"

// Code 1: the database marks this kind of file as not curable for the
// virus. The file is closed unchanged.
static uint16_t OpNoVaccine() {
  CleaningContext& c = Cleaning();
  c.message = kMsgNoVaccine;
  CloseTargetFile(c.path, &c.target);
  return 0;
}

// Code 86: rename the file as a dropper.
static uint16_t OpRenameDropper() { return RenameDropper(); }

// Rows: {code, routine}, ascending by code; searched from the start.
const VaccineOpRow kVaccineOpTable[kVaccineOpRows] = {
    {1, OpNoVaccine},
    {86, OpRenameDropper},
};
