// Config: the in-memory form of QUELTAN.INI, shared by the service and the
// console.
//
// This header is a first cut holding the settings that the engine reads; the
// configuration reader and writer fill the rest in.
//
// State: one static Config per program (gConfig), owned by that program's
// main thread.
#pragma once

#include <cstdint>

struct Config {
  uint8_t sendToUsers;         // MESSAGES / SENDTOUSERS, default yes
  uint8_t sendToConsole;       // MESSAGES / SENDTOCONSOLE, default yes
  uint8_t generateReport;      // REPORT / GENERATEREPORT, default yes
  char reportFileName[300];    // REPORT / REPORTFILENAME
  int16_t sizeLimitInKB;       // REPORT / SIZELIMITINKB, 5..999, default 100
};

extern Config gConfig;
