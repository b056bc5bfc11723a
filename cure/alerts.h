// Network alerts, first cut: the shared alert text and RaiseAlert.
//
// A caller fills alertText (at most kAlertTextMax characters and the
// terminator) and calls RaiseAlert, which hands the text on. Until the network
// sender exists, RaiseAlert keeps each text it accepts in an in-process
// outbox, a ring of the last kAlertOutboxSize texts, which tests read and
// clear; the sender replaces RaiseAlert's body and keeps its interface.
//
// State: alertText and the outbox (module state of alerts.cpp). Service
// thread only.
#pragma once

#include <cstddef>

constexpr size_t kAlertTextMax = 1120;   // characters, without the terminator
constexpr size_t kAlertOutboxSize = 16;  // texts kept, the oldest dropped first

// The caller's text of the next alert.
extern char alertText[kAlertTextMax + 1];

// Sends the current alertText. Returns 1 when the text was handed on or
// nothing is to be sent (both send flags of gConfig off), 0 when it was
// dropped (alertText not terminated within its buffer).
int RaiseAlert();

// The outbox: texts handed on by RaiseAlert, oldest first.
size_t AlertOutboxCount();
// The i-th text held, or null when i >= AlertOutboxCount().
const char* AlertOutboxText(size_t i);
void AlertOutboxClear();
