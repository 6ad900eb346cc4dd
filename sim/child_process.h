// SPDX-License-Identifier: MIT
// Starting the command under test and reporting how it ended.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

// Forks and execs argv (PATH is searched). The child gets signal mask
// child_mask and default handling of SIGINT, SIGTERM, SIGHUP and SIGCHLD, so
// the signals the sim forwards reach it even when the sim's caller ignored
// them. Returns the pid, or -1 with *error saying why it could not be run.
pid_t spawn_command(const std::vector<std::string>& argv, const sigset_t& child_mask, std::string* error);

// The sim's exit status for a wait status: the exit code, or 128 + signal.
int exit_code_of(int wait_status);
