// SPDX-License-Identifier: MIT
// ./try, which runs micom or a script under the sim, and the README's
// examples that use it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_run.h"

namespace {

// ./try builds and runs build/native: only that tree's tests run it.
class Try : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MICOM_TRY_TREE) GTEST_SKIP() << "./try runs build/native, not this build tree";
  }
  sim_result run_try(std::vector<std::string> args) {
    args.insert(args.begin(), MICOM_SOURCE_DIR "/try");
    sim_process run = spawn(args);
    return sim_finish(&run, 100000);
  }
};

TEST_F(Try, ShowsMicomsOwnLinesAndOneLineFromTheSim) {
  sim_result r = run_try({"v"});
  EXPECT_EQ(r.out, expected_stdout('V', {0x01, 0x00, 0x02, 0x00}));
  EXPECT_EQ(r.err, "micom-sim: received V at 57600 8N1 raw; sent 01 00 02 00; full log in build/try.log\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(logged_bytes(read_file(MICOM_SOURCE_DIR "/build/try.log"), "rx"), std::vector<int>{'V'});
}

TEST_F(Try, RunsAScriptWithThisBuildsMicomOnItsPathAndTheRepliesInTurn) {
  // A script that polls until the status word says ready.
  sim_result r = run_try({"--reply", "S=00000000,00000000,00000001", "--run", "sh", "-c",
                          "command -v micom; n=1; until micom s | grep -q '^READ DATA(0x01)' || [ $n = 5 ]; do "
                          "n=$((n + 1)); done; echo \"polls: $n\""});
  EXPECT_EQ(r.out, MICOM_SOURCE_DIR "/build/native/micom\npolls: 3\n");
  EXPECT_EQ(r.err,
            "micom-sim: received S at 57600 8N1 raw (3 times); sent 00 00 00 00 00 00 00 00 00 00 00 01; "
            "full log in build/try.log\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Try, HelpShowsHowToUseTryAndTheSimulatorsOptionsNotMicomsUsage) {
  for (const char* help : {"--help", "-h"}) {
    sim_result r = run_try({help});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_EQ(r.err, "") << help;
    EXPECT_EQ(r.out.rfind("Usage: " MICOM_SOURCE_DIR "/try LETTER", 0), 0u) << help << ":\n" << r.out;
    EXPECT_NE(r.out.find("\n    --silent "), std::string::npos) << help;
    EXPECT_NE(r.out.find("\n    --reply L=HEX"), std::string::npos) << help;
    // Options ./try sets itself, or that run no command, are not offered.
    EXPECT_EQ(r.out.find("--socket"), std::string::npos) << help;
    EXPECT_EQ(r.out.find("argument error"), std::string::npos) << help;
  }
}

TEST_F(Try, ASimulatorsMistakeNamesCommandsTheUserCanType) {
  // An option without the -- after it would reach micom as its argument.
  sim_result r = run_try({"--silent", "v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "try: --silent is an option for the simulator: put -- between the options and micom's "
            "argument, e.g. " MICOM_SOURCE_DIR "/try --silent -- v (see " MICOM_SOURCE_DIR "/try --help)\n");
  r = run_try({"--quiet", "--", "v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "micom-sim: unknown option '--quiet'; see " MICOM_SOURCE_DIR "/try --help\n");
}

// A command the README shows being typed, and what it shows coming back.
struct readme_example {
  std::string command;  // with its here-document, if it has one
  std::string shown;    // standard output and standard error together
};

// The README's examples that run without the board: every fenced block whose
// first line starts with "$ ./try". In it a line starting with "$ " is a
// command; one ending in a here-document (<<'EOF') goes on up to the line
// that ends it; the lines after a command, up to the next one, are what it
// prints.
std::vector<readme_example> readme_examples(const std::string& readme) {
  std::vector<readme_example> found;
  bool in_block = false, first_line = false, checked = false;
  std::string heredoc_end;
  size_t start = 0;
  while (start < readme.size()) {
    size_t end = readme.find('\n', start);
    if (end == std::string::npos) end = readme.size();
    std::string line = readme.substr(start, end - start);
    start = end + 1;
    if (line.rfind("```", 0) == 0) {
      in_block = !in_block;
      first_line = in_block;
      continue;
    }
    if (!in_block) continue;
    if (first_line) checked = line.rfind("$ ./try", 0) == 0;
    first_line = false;
    if (!checked) continue;
    if (!heredoc_end.empty()) {
      found.back().command += "\n" + line;
      if (line == heredoc_end) heredoc_end.clear();
    } else if (line.rfind("$ ", 0) == 0) {
      found.push_back({line.substr(2), ""});
      size_t here = line.find("<<'");
      if (here != std::string::npos) heredoc_end = line.substr(here + 3, line.find('\'', here + 3) - here - 3);
    } else {
      found.back().shown += line + "\n";
    }
  }
  return found;
}

TEST_F(Try, EveryExampleInTheReadmePrintsWhatTheReadmeShows) {
  std::vector<readme_example> examples = readme_examples(read_file(MICOM_SOURCE_DIR "/README.md"));
  // ./try v, the scripts in Scripting and the polling script at the least.
  ASSERT_GE(examples.size(), 4u) << "the README's checked examples are gone";
  for (const readme_example& e : examples) {
    sim_process run = spawn({"/bin/bash", "-c", "cd " MICOM_SOURCE_DIR " && " + e.command}, true);
    sim_result r = sim_finish(&run, 100000);
    EXPECT_EQ(r.out, e.shown) << "$ " << e.command;
  }
}

}  // namespace
