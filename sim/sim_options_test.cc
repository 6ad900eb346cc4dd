// SPDX-License-Identifier: MIT
#include "sim_options.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

struct parsed {
  bool ok;
  sim_options o;
  std::string error;
};

parsed parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv = {"micom-sim"};
  argv.insert(argv.end(), args);
  parsed p;
  p.ok = parse_sim_options(static_cast<int>(argv.size()), argv.data(), &p.o, &p.error);
  return p;
}

std::vector<micom_reply> replies(const sim_options& o, char letter) {
  return o.micom.replies[micom_letter_index(static_cast<unsigned char>(letter))];
}

TEST(SimOptions, CommandAfterDashDashIsTakenWholeIncludingItsOwnOptions) {
  parsed p = parse({"--", "micom", "--silent", "v"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.o.command, (std::vector<std::string>{"micom", "--silent", "v"}));
  EXPECT_FALSE(p.o.micom.silent);
  EXPECT_EQ(replies(p.o, 'V'), (std::vector<micom_reply>{{0x01, 0x00, 0x02, 0x00}}));
  EXPECT_EQ(p.o.device, device_node::tty);
  EXPECT_EQ(p.o.prior, prior_line::pty_default);
}

TEST(SimOptions, ValuesInBothSpellingsAndEveryOption) {
  parsed p = parse(
      {"--reply",   "v=0102a5FF",     "--reply=H=", "--reply", "W=01,0203,", "--summary", "--gap=5",         "--delay",
       "250",       "--hangup-after", "3",          "--stale", "4142",       "--prior",   "cooked-9600-7e1", "--device",
       "directory", "--exclusive",    "--log",      "x.log",   "--",         "true"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(replies(p.o, 'V'), (std::vector<micom_reply>{{0x01, 0x02, 0xA5, 0xFF}}));
  EXPECT_EQ(replies(p.o, 'H'), (std::vector<micom_reply>{{}}));
  EXPECT_EQ(replies(p.o, 'W'), (std::vector<micom_reply>{{0x01}, {0x02, 0x03}, {}}));
  EXPECT_EQ(replies(p.o, 'S'), (std::vector<micom_reply>{{0x00, 0x00, 0x00, 0x01}}));
  EXPECT_TRUE(p.o.summary);
  EXPECT_EQ(p.o.micom.gap_ms, 5);
  EXPECT_EQ(p.o.micom.delay_ms, 250);
  EXPECT_EQ(p.o.micom.hangup_after, 3);
  EXPECT_EQ(p.o.stale, (std::vector<unsigned char>{0x41, 0x42}));
  EXPECT_EQ(p.o.prior, prior_line::cooked_9600_7e1);
  EXPECT_EQ(p.o.device, device_node::directory);
  EXPECT_TRUE(p.o.exclusive);
  EXPECT_FALSE(p.o.hangup_closes_only);
  EXPECT_EQ(p.o.log_path, "x.log");
  p = parse({"--read-error-after", "2", "--device=fifo", "--", "true"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.o.micom.hangup_after, 2);
  EXPECT_TRUE(p.o.hangup_closes_only);
  EXPECT_EQ(p.o.device, device_node::fifo);
}

TEST(SimOptions, SocketModeTakesNoCommandAndOnlyTheReplyOptions) {
  parsed p = parse({"--silent", "--stale", "00", "--socket", "/tmp/u.sock"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.o.socket_path, "/tmp/u.sock");
  EXPECT_TRUE(p.o.command.empty());
  EXPECT_FALSE(parse({"--socket", "/tmp/u.sock", "--", "true"}).ok);
  EXPECT_FALSE(parse({"--hangup-after", "1", "--socket", "/tmp/u.sock"}).ok);
  EXPECT_FALSE(parse({"--device", "none", "--socket", "/tmp/u.sock"}).ok);
  EXPECT_FALSE(parse({"--exclusive", "--socket", "/tmp/u.sock"}).ok);
  p = parse({"--reply", "S=01", "--pty-link", "/tmp/uart"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.o.socket_path, "/tmp/uart");
  EXPECT_TRUE(p.o.socket_is_pty_link);
  EXPECT_FALSE(parse({"--pty-link", "/tmp/uart", "--", "true"}).ok);
}

TEST(SimOptions, HelpNeedsNothingElse) {
  parsed p = parse({"--help"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.o.help);
}

TEST(SimOptions, MistakesAreRefusedWithAMessageNamingThem) {
  struct mistake {
    std::initializer_list<const char*> args;
    const char* named;
  };
  for (const mistake& c : std::initializer_list<mistake>{
           {{"micom", "v"}, "missing --"},
           {{"--"}, "no command"},
           {{"--bogus", "--", "true"}, "--bogus"},
           {{"--reply", "X=01", "--", "true"}, "S V W H R"},
           {{"--reply", "V01", "--", "true"}, "LETTER=HEX"},
           {{"--reply", "V=0G", "--", "true"}, "'0G'"},
           {{"--reply", "V=123", "--", "true"}, "'123'"},
           {{"--reply", "V=01,0G,02", "--", "true"}, "'0G'"},
           {{"--stale", "", "--", "true"}, "--stale"},
           {{"--gap", "-1", "--", "true"}, "--gap"},
           {{"--delay", "600001", "--", "true"}, "--delay"},
           {{"--delay", "1x", "--", "true"}, "--delay"},
           {{"--hangup-after", "4", "--", "true"}, "--hangup-after"},
           {{"--prior", "raw", "--", "true"}, "--prior"},
           {{"--hangup-after", "1", "--read-error-after", "1", "--", "true"}, "exclude"},
           {{"--device", "socket", "--", "true"}, "--device wants"},
           {{"--log"}, "--log wants a value"},
           {{"--log=", "--", "true"}, "--log wants a path"},
       }) {
    parsed p = parse(c.args);
    EXPECT_FALSE(p.ok) << c.named;
    EXPECT_NE(p.error.find(c.named), std::string::npos) << p.error;
  }
}

TEST(SimOptions, ReplyLongerThanSixtyFourBytesIsRefused) {
  std::string arg = "S=" + std::string(130, 'a');
  EXPECT_FALSE(parse({"--reply", arg.c_str(), "--", "true"}).ok);
  arg = "S=" + std::string(128, 'a');
  EXPECT_TRUE(parse({"--reply", arg.c_str(), "--", "true"}).ok);
}

}  // namespace
