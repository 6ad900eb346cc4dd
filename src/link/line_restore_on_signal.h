// SPDX-License-Identifier: MIT
// Keeps a run that a signal ends (Ctrl-C, a script's timeout, a closed
// console, a reader of its output that has gone) from leaving the line raw.
#pragma once

#include <termios.h>

#include "link/uucp_lock.h"

// From here every catchable signal whose default is to end the process
// raises RTS, puts `saved` back on `fd` once its output has left, removes the
// run's lock files, closes the line and ends the process by the same signal.
// A signal the caller ignores stays ignored; stop and continue signals keep
// their defaults.
void restore_line_on_signal(int fd, const termios& saved, const uucp_lock& lock);

// Once the saved settings are back: those signals end the process as by
// default, with nothing left to put back.
void stop_restoring_line_on_signal();
