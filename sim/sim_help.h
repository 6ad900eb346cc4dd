// SPDX-License-Identifier: MIT
// The text of micom-sim --help.
#pragma once

#include <string>

// The whole text, its OPTIONS part made from sim_option_table.
std::string sim_help_text();
