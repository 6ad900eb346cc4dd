// SPDX-License-Identifier: MIT
// The sim takes SIGINT, SIGTERM, SIGHUP and SIGCHLD through a descriptor so
// its poll loop sees them between bytes, never in the middle of a write.
#pragma once

#include <csignal>

// Blocks those signals and returns a signalfd for them (-1 on failure).
// *old_mask gets the mask from before, for the command to run with.
int open_signal_fd(sigset_t* old_mask);

// The next pending signal's number, or 0 when there is none.
int read_signal(int fd);
