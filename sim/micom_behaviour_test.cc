// SPDX-License-Identifier: MIT
#include "micom_behaviour.h"

#include <gtest/gtest.h>

namespace {

using bytes = std::vector<unsigned char>;

// Everything the MICOM writes, as (time, chunk) pairs, stepping the clock 1 ms at a time.
std::vector<std::pair<long, bytes>> play(const micom_behaviour& b, micom_state* s, long until_ms) {
  std::vector<std::pair<long, bytes>> out;
  for (long now = 0; now <= until_ms; ++now) {
    for (bytes c = micom_take_due(b, s, now); !c.empty(); c = micom_take_due(b, s, now)) out.push_back({now, c});
  }
  return out;
}

// The chunks written for one command letter received at 0, up to until_ms.
std::vector<bytes> answer_to(const micom_behaviour& b, micom_state* s, unsigned char letter, long until_ms) {
  micom_received(b, s, letter, 0);
  std::vector<bytes> chunks;
  for (const auto& out : play(b, s, until_ms)) chunks.push_back(out.second);
  return chunks;
}

TEST(MicomBehaviour, DefaultAnswersAreFixedAndOnlyForSVW) {
  micom_behaviour b = micom_default_behaviour();
  for (int byte : {0x48, 0x52, 0x76, 0x78, 0x00, 0xFF}) {  // H R v x
    micom_state s;
    micom_received(b, &s, static_cast<unsigned char>(byte), 0);
    EXPECT_TRUE(s.pending.empty()) << byte;
    EXPECT_EQ(micom_next_due_in(b, s, 0), -1);
  }
  micom_state s;
  micom_received(b, &s, 'V', 0);
  auto out = play(b, &s, 10);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], (std::pair<long, bytes>{0, {0x01, 0x00, 0x02, 0x00}}));
}

TEST(MicomBehaviour, DelayThenOneBytePerWriteWithTheGap) {
  micom_behaviour b = micom_default_behaviour();
  b.replies[micom_letter_index('S')] = {{1, 2, 3, 4}};
  b.delay_ms = 100;
  b.gap_ms = 30;
  micom_state s;
  micom_received(b, &s, 'S', 5);
  EXPECT_EQ(micom_next_due_in(b, s, 5), 100);
  auto out = play(b, &s, 400);
  std::vector<std::pair<long, bytes>> want = {{105, {1}}, {135, {2}}, {165, {3}}, {195, {4}}};
  EXPECT_EQ(out, want);
  EXPECT_EQ(micom_next_due_in(b, s, 400), -1);
}

TEST(MicomBehaviour, GapZeroStillWritesOneByteAtATime) {
  micom_behaviour b = micom_default_behaviour();
  b.gap_ms = 0;
  micom_state s;
  EXPECT_EQ(answer_to(b, &s, 'W', 0), (std::vector<bytes>{{0x57}, {0x41}, {0x4B}, {0x45}}));
}

TEST(MicomBehaviour, CommandsArrivingTogetherAreAnsweredInTurn) {
  micom_behaviour b = micom_default_behaviour();
  b.delay_ms = 50;
  micom_state s;
  micom_received(b, &s, 'S', 0);
  micom_received(b, &s, 'V', 10);
  auto out = play(b, &s, 200);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].first, 50);
  EXPECT_EQ(out[0].second, (bytes{0, 0, 0, 1}));
  EXPECT_EQ(out[1].first, 60);
  EXPECT_EQ(out[1].second, (bytes{1, 0, 2, 0}));
}

TEST(MicomBehaviour, SuccessiveCommandsTakeTheirLettersRepliesInTurnAndTheLastRepeats) {
  micom_behaviour b = micom_default_behaviour();
  b.replies[micom_letter_index('S')] = {{0}, {}, {1, 2}};
  micom_state s;
  std::vector<bytes> got;
  for (unsigned char letter : {'S', 'V', 'S', 'S', 'S'}) {
    micom_received(b, &s, letter, 0);
    auto out = play(b, &s, 0);
    got.push_back(out.empty() ? bytes{} : out[0].second);
  }
  EXPECT_EQ(got, (std::vector<bytes>{{0}, {1, 0, 2, 0}, {}, {1, 2}, {1, 2}}));
}

TEST(MicomBehaviour, SilentAnswersNothing) {
  micom_behaviour b = micom_default_behaviour();
  b.silent = true;
  micom_state s;
  micom_received(b, &s, 'S', 0);
  EXPECT_TRUE(play(b, &s, 100).empty());
  EXPECT_FALSE(micom_hangup_due(s));
}

TEST(MicomBehaviour, HangupCutsTheFirstAnswerAndIsDueOnceItIsOut) {
  micom_behaviour b = micom_default_behaviour();
  b.hangup_after = 2;
  b.gap_ms = 10;
  micom_state s;
  EXPECT_FALSE(micom_hangup_due(s));
  micom_received(b, &s, 'V', 0);
  EXPECT_FALSE(micom_hangup_due(s));
  auto out = play(b, &s, 5);
  EXPECT_FALSE(micom_hangup_due(s));
  out = play(b, &s, 100);
  ASSERT_EQ(out.size(), 1u);  // the second byte; the first went out at 0
  EXPECT_EQ(out[0].second, bytes{0x00});
  EXPECT_TRUE(micom_hangup_due(s));
  micom_received(b, &s, 'S', 100);  // too late: the line is going away
  EXPECT_TRUE(s.pending.empty());
}

TEST(MicomBehaviour, HangupAfterZeroIsDueAtTheCommandEvenForH) {
  micom_behaviour b = micom_default_behaviour();
  b.hangup_after = 0;
  micom_state s;
  micom_received(b, &s, 'x', 0);  // not a command: no hang-up yet
  EXPECT_FALSE(micom_hangup_due(s));
  micom_received(b, &s, 'H', 0);
  EXPECT_TRUE(micom_hangup_due(s));
}

TEST(MicomBehaviour, HangupAfterMoreThanTheAnswerSendsItAll) {
  micom_behaviour b = micom_default_behaviour();
  b.replies[micom_letter_index('V')] = {{0x55}};
  b.hangup_after = 3;
  micom_state s;
  EXPECT_EQ(answer_to(b, &s, 'V', 1), std::vector<bytes>{{0x55}});
  EXPECT_TRUE(micom_hangup_due(s));
}

}  // namespace
