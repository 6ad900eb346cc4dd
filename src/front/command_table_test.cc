// SPDX-License-Identifier: MIT
#include "front/command_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CommandTable, EachLetterInEitherCaseFoldsToItsCapital) {
  const std::string lower = "svhrw";
  const std::string upper = "SVHRW";
  for (size_t i = 0; i < lower.size(); ++i) {
    EXPECT_TRUE(is_command_character(lower[i]));
    EXPECT_TRUE(is_command_character(upper[i]));
    EXPECT_EQ(fold_command_letter(lower[i]), upper[i]);
    EXPECT_EQ(fold_command_letter(upper[i]), upper[i]);
  }
  EXPECT_EQ(fold_command_letter('v'), 0x56);
  EXPECT_EQ(fold_command_letter('h'), 0x48);
}

TEST(CommandTable, EverythingElseIsRejected) {
  for (char c : std::string("xX3 aAbB-/?zZ\t\x7f\xff")) EXPECT_FALSE(is_command_character(c)) << int(c);
  EXPECT_FALSE(is_command_character('\0'));
}

}  // namespace
