// SPDX-License-Identifier: MIT
// The board's device tree, edited before a boot as the board's vendor edits
// the SoC's: nodes enabled, aliases that fix the ttyS numbers.
#pragma once

#include <string>
#include <vector>

// A string property, as "fdtput -t s DTB NODE NAME VALUE" sets it.
struct dt_property {
  std::string node;
  std::string name;
  std::string value;
};

// Sets each property in the DTB file, in order, logging fdtput's words to
// log_path. Returns "" or what went wrong.
std::string set_dt_properties(const std::string& dtb, const std::vector<dt_property>& properties,
                              const std::string& log_path);
