// SPDX-License-Identifier: MIT
#include "front/command_table.h"

#include <cstring>

bool is_command_character(char c) {
  // The terminating zero of an empty argument is no command.
  return c != '\0' && std::strchr("SVHRWsvhrw", c) != nullptr;
}

char fold_command_letter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; }
