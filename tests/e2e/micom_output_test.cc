// SPDX-License-Identifier: MIT
// Standard output that cannot be written, a reader that leaves, and standard
// descriptors closed at start: the exchange and the line come out whole, and
// the status tells what was lost.
#include <gtest/gtest.h>

#include "sim_run.h"

namespace {

const std::vector<int> status_reply = {0x00, 0x00, 0x00, 0x01};

void expect_exchange_whole(const sim_result& r, char letter) {
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{letter}) << "the microcontroller got something else";
  EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before")) << "the line was not put back";
}

TEST(MicomOutput, AFullDeviceIsReportedAfterTheWholeExchange) {
  for (const char* arg : {"s", "h"}) {
    sim_result r = sim_run({"--prior", "cooked-9600-7e1"}, micom_in_shell("exec \"$@\" >/dev/full", {arg}));
    SCOPED_TRACE(std::string(arg) + "\n" + r.log);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 1);
    expect_exchange_whole(r, arg[0] - 0x20);
  }
  // A bad argument whose usage lines are lost, too; a failed open keeps its own status.
  EXPECT_EQ(sim_run({}, micom_in_shell("exec \"$@\" >/dev/full", {"x"})).status, 1);
  EXPECT_EQ(sim_run({"--device", "none"}, micom_in_shell("exec \"$@\" >/dev/full", {"v"})).status, 255);
}

TEST(MicomOutput, AReaderThatLeavesMidRunEndsItBySigpipeWithTheLinePutBack) {
  // head takes the SEND line and goes; the READ DATA lines come 0.9 s later.
  sim_result r = sim_run({"--prior", "cooked-9600-7e1", "--gap", "300"},
                         micom_in_shell("\"$@\" | head -n 1; exit ${PIPESTATUS[0]}", {"s"}));
  EXPECT_EQ(r.out, "SEND S TO MICOM\n");
  EXPECT_EQ(r.status, 128 + 13);
  expect_exchange_whole(r, 'S');
}

TEST(MicomOutput, AReaderGoneBeforeTheStartEndsTheRunBeforeTheByteWithTheLinePutBack) {
  sim_result r = sim_run({"--prior", "cooked-9600-7e1"}, micom_in_shell(with_reader_gone("exec \"$@\""), {"v"}));
  EXPECT_EQ(r.status, 128 + 13);
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{}) << "the SEND line comes before the byte";
  EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before"));
}

TEST(MicomOutput, WithSigpipeIgnoredTheExchangeCompletesAndTheLossIsReported) {
  sim_result r =
      sim_run({"--prior", "cooked-9600-7e1"}, micom_in_shell(with_reader_gone("trap '' PIPE && exec \"$@\""), {"s"}));
  EXPECT_EQ(r.status, 1);
  expect_exchange_whole(r, 'S');
}

TEST(MicomOutput, ClosedStandardDescriptorsNeverBecomeTheLine) {
  struct closed_stream_case {
    const char* redirect;
    std::string out;
  };
  for (const closed_stream_case& c : std::vector<closed_stream_case>{
           {">&-", ""},
           {"<&-", expected_stdout('S', status_reply)},
           {"2>&-", expected_stdout('S', status_reply)},
           {"<&- >&- 2>&-", ""},
       }) {
    sim_result r = sim_run({}, micom_in_shell(std::string("exec \"$@\" ") + c.redirect, {"s"}));
    SCOPED_TRACE(std::string(c.redirect) + "\n" + r.log);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 0);
    expect_exchange_whole(r, 'S');
  }
}

TEST(MicomOutput, AClosedStandardDescriptorWithNoNullDeviceToFillItEndsTheRunUntouched) {
  sim_result r = sim_run({}, micom_in_shell("umount /dev/null && rm /dev/null && exec \"$@\" >&-", {"s"}));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{}) << "the line was used";
  EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before"));
}

}  // namespace
