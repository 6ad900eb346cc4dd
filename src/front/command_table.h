// SPDX-License-Identifier: MIT
// The five commands, each named by a letter in either case.
#pragma once

// True for s, v, h, r, w and their capitals.
bool is_command_character(char c);

// The command letter for a character of the table: its capital, whose code is
// the byte sent on the wire.
char fold_command_letter(char c);
