// SPDX-License-Identifier: MIT
// One command byte out to the microcontroller, up to four reply bytes back.
#pragma once

#include "link/micom_port.h"

inline constexpr int micom_reply_length = 4;

// The reply as collected, in order of arrival.
struct micom_reply {
  const unsigned char* bytes;  // front of the exchange buffer
  int count;                   // 0 to 4; 0 when the line failed before the first byte
};

// Clears RTS, prints the SEND line, writes the letter as one byte and sets RTS
// again as soon as the write has returned.
void micom_send_command(const micom_port& port, char letter);

// Every command is answered but H and R.
bool command_expects_reply(char letter);

// Reads the reply one byte at a time until four have come, a read fails or the
// line hangs up. A silent line is waited on without limit.
micom_reply micom_read_reply(const micom_port& port);

// One "READ DATA(0x..)" line per byte.
void micom_print_reply(const unsigned char* bytes, int count);
