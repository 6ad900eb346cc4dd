// SPDX-License-Identifier: MIT
// The sim's event log: one event per line, flushed at once so a test can
// follow it while the command runs.
#pragma once

#include <cstdio>

struct SimLog {
  std::FILE* out = nullptr;
  long start_ms = 0;
};

long monotonic_ms();

// Writes one line (fmt without the newline).
void log_event(SimLog* log, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Seconds since the sim started, for the t= field.
double log_seconds(const SimLog& log);
