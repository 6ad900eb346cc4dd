// SPDX-License-Identifier: MIT
#include "sim_help.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "read_file.h"
#include "sim_options.h"

namespace {

// The options under OPTIONS in --help, each with its value word as shown there: "--gap MS", "--silent".
std::set<std::string> options_in_help(const std::string& help) {
  std::set<std::string> options;
  std::istringstream lines(help);
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != ' ') {
      inside = line == "OPTIONS";
    } else if (inside && line.rfind("    --", 0) == 0) {
      options.insert(line.substr(4, line.find("  ", 4) - 4));
    }
  }
  return options;
}

// The options in the first column of the doc's table under "## Options", as written there: "`--gap MS`".
std::set<std::string> options_in_doc(const std::string& doc) {
  std::set<std::string> options;
  std::istringstream lines(doc);
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("## ", 0) == 0) {
      inside = line == "## Options";
    } else if (inside && line.rfind("| `", 0) == 0) {
      std::string cell = line.substr(2, line.find(" | ", 2) - 2);
      for (std::size_t open = cell.find('`'), close; open != std::string::npos; open = cell.find('`', close + 1)) {
        close = cell.find('`', open + 1);
        options.insert(cell.substr(open + 1, close - open - 1));
      }
    }
  }
  return options;
}

TEST(SimHelp, EveryOptionOfTheTableIsInTheHelp) {
  EXPECT_EQ(options_in_help(sim_help_text()).size(), static_cast<std::size_t>(sim_option_count));
}

TEST(SimHelp, TheDocsOptionsAreTheHelpsWithTheSameValueWords) {
  std::string doc = read_file(MICOM_SOURCE_DIR "/docs/simulator.md");
  ASSERT_FALSE(doc.empty());
  EXPECT_EQ(options_in_doc(doc), options_in_help(sim_help_text()));
}

}  // namespace
