// SPDX-License-Identifier: MIT
// The two lines shown for a missing or unknown command.
#pragma once

// argv[0] exactly as received, or "micom" when there is no argument vector.
// Linux (5.18 on) hands a program started with none a single empty argument,
// so an empty name counts as none.
const char* program_name(int argc, char* argv[]);

void print_usage(const char* program);
