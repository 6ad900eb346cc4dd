// SPDX-License-Identifier: MIT
// What an operator sees for each command, against the default and chosen replies.
#include <gtest/gtest.h>

#include "sim_run.h"

namespace {

const std::vector<int> status_reply = {0x00, 0x00, 0x00, 0x01};
const std::vector<int> version_reply = {0x01, 0x00, 0x02, 0x00};
const std::vector<int> wake_reply = {0x57, 0x41, 0x4B, 0x45};

struct letter_case {
  const char* arg;
  char letter;
  std::vector<int> reply;
};

TEST(MicomReplies, EveryCommandLetterInBothCasesAndLongerArguments) {
  for (const letter_case& c : std::vector<letter_case>{
           {"s", 'S', status_reply},
           {"S", 'S', status_reply},
           {"status", 'S', status_reply},
           {"v", 'V', version_reply},
           {"V", 'V', version_reply},
           {"w", 'W', wake_reply},
           {"W", 'W', wake_reply},
           {"h", 'H', {}},
           {"H", 'H', {}},
           {"hello", 'H', {}},
           {"r", 'R', {}},
           {"R", 'R', {}},
       }) {
    sim_result r = sim_run({}, micom_with({c.arg}));
    EXPECT_EQ(r.out, expected_stdout(c.letter, c.reply)) << c.arg;
    EXPECT_EQ(r.err, "") << c.arg;
    EXPECT_EQ(r.status, 0) << c.arg << "\n" << r.log;
    EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{c.letter}) << c.arg << "\n" << r.log;
  }
}

TEST(MicomReplies, ArgumentsAfterTheFirstAreIgnored) {
  sim_result r = sim_run({}, micom_with({"w", "foo", "bar"}));
  EXPECT_EQ(r.out, expected_stdout('W', wake_reply));
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{'W'});
}

TEST(MicomReplies, BytesPrintedUnsignedInTwoCapitalHexDigits) {
  sim_result r = sim_run({"--reply", "V=00A5FF7F"}, micom_with({"v"}));
  EXPECT_EQ(r.out, "SEND V TO MICOM\nREAD DATA(0x00)\nREAD DATA(0xA5)\nREAD DATA(0xFF)\nREAD DATA(0x7F)\n");
  EXPECT_EQ(r.status, 0);
}

TEST(MicomReplies, OneByteAtATimeOrInOneBurstGiveTheSameLines) {
  for (std::vector<std::string> pacing : {std::vector<std::string>{"--gap", "150"}, std::vector<std::string>{}}) {
    pacing.insert(pacing.end(), {"--reply", "S=01020304"});
    sim_result r = sim_run(pacing, micom_with({"s"}));
    EXPECT_EQ(r.out, expected_stdout('S', {1, 2, 3, 4})) << pacing[0];
    EXPECT_EQ(r.status, 0);
  }
}

TEST(MicomReplies, AFifthByteIsNotReadAndAnAnswerToHIsNotWaitedFor) {
  sim_result r = sim_run({"--reply", "W=0102030405"}, micom_with({"w"}));
  EXPECT_EQ(r.out, expected_stdout('W', {1, 2, 3, 4}));
  // A firmware answering H anyway: the tool still only sends.
  r = sim_run({"--reply", "H=55", "--delay", "300"}, micom_with({"h"}));
  EXPECT_EQ(r.out, expected_stdout('H', {}));
  EXPECT_EQ(r.status, 0);
}

TEST(MicomReplies, ASlowFirmwareIsWaitedFor) {
  sim_result r = sim_run({"--delay", "1500", "--gap", "400"}, micom_with({"v"}));
  EXPECT_EQ(r.out, expected_stdout('V', version_reply));
  EXPECT_EQ(r.status, 0);
  EXPECT_GE(r.seconds, 2.5);  // it really waited for the last byte
}

}  // namespace
