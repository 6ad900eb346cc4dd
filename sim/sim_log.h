// SPDX-License-Identifier: MIT
// The sim's event log: one event per line, each line written whole by one
// write(), so that a test can follow it while the command runs and the
// command's own output never lands inside a line when both share a terminal
// or a pipe. Beside it, what the summary line tells: the bytes received and
// sent.
#pragma once

#include <string>
#include <vector>

// Where the log goes, and what the summary will tell.
struct sim_log {
  int fd = 2;  // standard error, or the --log file
  long start_ms = 0;
  std::vector<std::string> received;  // one per byte: "V at 57600 8N1 raw", "H (line settings unknown)"
  std::vector<unsigned char> sent;
};

// Milliseconds on the monotonic clock, for due times and the t= field.
long monotonic_ms();

// Writes one line (fmt without the newline).
void log_event(sim_log* log, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// "rx 0xNN t=..." for a byte from the command; how is what the summary adds
// after the byte ("at 57600 8N1 raw"; empty: nothing).
void log_received(sim_log* log, unsigned char byte, const std::string& how);

// "tx 0xNN t=..." for each byte of a chunk sent to the command.
void log_sent(sim_log* log, const std::vector<unsigned char>& bytes);

// Seconds since the sim started, for the t= field.
double log_seconds(const sim_log& log);

// The one line --summary prints on standard error at the end: "micom-sim:
// received V at 57600 8N1 raw; sent 01 00 02 00; full log in PATH" (no
// "full log" part when the log went to standard error).
void print_summary(const sim_log& log, const std::string& log_path);
