// SPDX-License-Identifier: MIT
// The serial line to the microcontroller, held for the length of one run.
#pragma once

#include <termios.h>

#include <optional>

#include "link/uucp_lock.h"

// The board's line to the microcontroller.
inline constexpr char micom_device_path[] = "/dev/ttyS2";

struct micom_port {
  int fd;          // descriptor of the open line
  termios saved;   // the settings found at open, put back at close
  uucp_lock lock;  // the lock files held for the run
};

// Opens the microcontroller's line, waits for its turn on it, claims it with
// lock files, saves its settings, discards pending input and switches it to
// raw 57600 baud 8N1 with a 0.1 s read timeout.
// Empty when the device cannot be opened, is no working terminal (its settings
// cannot be read) or is held by another program (TIOCEXCL, or a lock file of
// a live process). Prints nothing.
std::optional<micom_port> micom_port_open();

// The same on any terminal device, with lock files in lock_directory; tests
// use it on a pseudo-terminal.
std::optional<micom_port> micom_port_open_path(const char* path, const char* lock_directory);

// Puts the saved settings back once the command byte has left, then removes
// the lock files, and closes the line.
void micom_port_close(const micom_port& port);

// The settings of the exchange, made from those found on the line.
termios micom_raw_settings(const termios& saved);
