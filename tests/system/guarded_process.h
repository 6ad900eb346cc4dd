// SPDX-License-Identifier: MIT
// Child processes of the system tests (the sim, qemu), each with a hard limit.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts argv[0] (PATH is searched) with standard input from /dev/null and
// standard output and error appended to log_path; it is killed if the caller
// dies. Returns its pid, or -1 with *error saying why.
pid_t start_process(const std::vector<std::string>& argv, const std::string& log_path, std::string* error);

// True once pid has ended; its wait status goes to *wait_status. Does not block.
bool process_ended(pid_t pid, int* wait_status);

// Kills pid (by that pid alone) and reaps it.
void kill_process(pid_t pid);

struct process_end {
  bool in_time;     // false: it overran and was killed
  int wait_status;  // as from waitpid
};

// Waits up to timeout_s for pid to end, then kills it.
process_end wait_or_kill(pid_t pid, double timeout_s);

// Seconds on a clock that only goes forward.
double monotonic_seconds();
