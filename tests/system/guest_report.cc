// SPDX-License-Identifier: MIT
#include "guest_report.h"

#include <cstdlib>
#include <sstream>

guest_report parse_guest_report(const std::string& text) {
  guest_report report;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::string key = line.substr(0, line.find(' '));
    std::string value = key.size() < line.size() ? line.substr(key.size() + 1) : "";
    if (key == "boot") {
      report.booted = true;
    } else if (key == "done") {
      report.done = true;
    } else if (key == "case") {
      report.cases.push_back({value.substr(value.find(' ') + 1), {}, {}, {}});
    } else if (report.cases.empty()) {
      continue;
    } else if (key == "out") {
      report.cases.back().out.push_back(value);
    } else if (key == "err") {
      report.cases.back().err.push_back(value);
    } else {
      report.cases.back().fields[key] = value;
    }
  }
  return report;
}

long uart_counter(const std::string& line, const std::string& name) {
  std::string::size_type at = line.find(" " + name + ":");
  if (at == std::string::npos) return -1;
  return std::strtol(line.c_str() + at + name.size() + 2, nullptr, 10);
}
