// SPDX-License-Identifier: MIT
// The sim's log on the same pipe as micom's output.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "sim_run.h"

namespace {

TEST(MicomSim, LogLinesSharingAPipeWithTheCommandsOutputAreWhole) {
  // Only a whole line matches: micom's lines start with capitals, so one of
  // them inside a log line, or a log line's newline left behind, does not.
  const std::regex whole(
      "SEND [SVWHR] TO MICOM|READ DATA\\(0x[0-9A-F]{2}\\)|child pid=[0-9]+|exit status=0|"
      "(rx|tx) 0x[0-9a-f]{2} t=[0-9.]+|hangup( \\(master closed only\\))? t=[0-9.]+|"
      "line (before|during|after): ("
      "[0-9]+ [5-8][NEO][12] (raw|cooked) iflag=[^A-Z]* cc=[0-9a-f]+|"
      "unknown \\([a-z :,]+\\)|"
      "unavailable \\([A-Z][a-z/ ]+\\))");
  for (int i = 0; i < 20; ++i) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, std::vector<std::string>{"--hangup-after", "2"}}) {
      args.push_back("--");
      for (const std::string& word : micom_with({"w"})) args.push_back(word);
      sim_process run = sim_spawn(args, true);
      sim_result r = sim_finish(&run, 20000);
      std::string::size_type start = 0;
      for (std::string::size_type end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = r.out.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(line, whole)) << "torn: '" << line << "'\n" << r.out;
      }
      EXPECT_EQ(start, r.out.size()) << "no newline at the end";
    }
  }
}

}  // namespace
