// SPDX-License-Identifier: MIT
// The MICOM on a pseudo-terminal master, with the command under test on the
// slave at /dev/ttyS2 in the sim's private /dev.
#pragma once

#include "sim_log.h"
#include "sim_options.h"

// Sets the line up, runs the command, answers it until it ends.
// Returns the sim's exit status: the command's, 128 + signal, or 2 when the
// sim itself could not set things up (a message is on standard error).
int run_pty_session(const sim_options& o, sim_log* log);
