// SPDX-License-Identifier: MIT
// The line settings the sim starts the line from, and their text in the log.
#pragma once

#include <termios.h>

#include <string>

enum class prior_line {
  pty_default,      // as a new pseudo-terminal comes up: canonical, echo, 38400 8N1
  cooked_9600_7e1,  // a console line: canonical with echo, 9600 baud, 7 data bits, even parity
};

// Parses a --prior name ("pty-default", "cooked-9600-7e1").
bool prior_line_from_name(const std::string& name, prior_line* out);

// Turns t, read from a new pseudo-terminal, into the named prior state.
void prior_line_apply(prior_line prior, termios* t);

// The settings in words: output speed, data bits, parity, stop bits and
// "cooked" (ICANON) or "raw", e.g. "57600 8N1 raw" or "9600 7E1 cooked".
std::string line_state_words(const termios& t);

// The words, then every field: "57600 8N1 raw iflag=0x0 oflag=0x0 cflag=0x18b1
// lflag=0x8a30 line=0 vmin=0 vtime=1 ispeed=57600 ospeed=57600 cc=031c7f15...".
std::string line_state_text(const termios& t);
