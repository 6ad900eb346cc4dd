// SPDX-License-Identifier: MIT
#include "sim_log_reading.h"

#include <cstdlib>
#include <sstream>

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  }
  return found;
}

std::vector<int> logged_bytes(const std::string& log, const std::string& tag) {
  std::vector<int> bytes;
  for (const std::string& line : lines_starting(log, tag + " 0x")) {
    bytes.push_back(static_cast<int>(std::strtol(line.c_str() + tag.size() + 1, nullptr, 16)));
  }
  return bytes;
}
