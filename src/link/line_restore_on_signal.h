// Keeps an interrupted run (Ctrl-C, a script's timeout, a closed console)
// from leaving the line in raw mode.
#pragma once

#include <termios.h>

// Until stopped, SIGINT, SIGTERM and SIGHUP put `saved` back on `fd`, close it
// and end the process by the same signal. A signal the caller ignores stays
// ignored.
void restore_line_on_signal(int fd, const termios& saved);

// Gives the three signals back their earlier actions.
void stop_restoring_line_on_signal();
