// SPDX-License-Identifier: MIT
#include "sim_log.h"

#include <cstdarg>
#include <ctime>

long monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

void log_event(SimLog* log, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(log->out, fmt, ap);
  va_end(ap);
  std::fputc('\n', log->out);
  std::fflush(log->out);
}

double log_seconds(const SimLog& log) { return (monotonic_ms() - log.start_ms) / 1000.0; }
