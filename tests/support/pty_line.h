// SPDX-License-Identifier: MIT
// A pseudo-terminal standing in for the microcontroller's line in tests.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>

struct pty_line {
  int far_end;                 // master: the microcontroller's side
  int observer;                // a descriptor of the line itself, to look at it
  std::string path;            // the line's device name, for the port to open
  std::string lock_directory;  // empty and the run's own, for its lock files
};

pty_line open_pty_line();
// Also removes the lock directory and whatever is left in it.
void close_pty_line(pty_line& line);

// A lock file's text naming pid, as the run writes it: "%10d\n".
std::string lock_text(pid_t pid);

// Gives the line a state no run would leave behind: 9600 baud, two stop bits,
// hang-up on close, canonical mode with echo, IEXTEN and ECHOE. Returns the
// state as the line took it: a pty always forces 8 data bits without parity.
termios set_distinctive_state(const pty_line& line);

termios line_settings(const pty_line& line);
int bytes_waiting(const pty_line& line);

// Waits until the port has taken every byte sent to it, so that a hang-up
// that follows cannot discard them.
void wait_until_taken(const pty_line& line);

// Hangs the line up, as an unplugged adapter would.
void hang_up(pty_line& line);

// Field-by-field comparison, for readable failures.
void expect_same_settings(const termios& expected, const termios& actual);
