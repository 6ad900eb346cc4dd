// SPDX-License-Identifier: MIT
#include "front/usage.h"

#include <cstdio>

const char* program_name(int argc, char* argv[]) {
  return (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : "micom";
}

void print_usage(const char* program) {
  std::printf("%s argument error !!!\n", program);
  std::printf("%s usage : %s S/V/H/R/W/\n", program, program);
}
