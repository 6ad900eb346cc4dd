// SPDX-License-Identifier: MIT
#include "front/command_table.h"

#include <gtest/gtest.h>

#include <string>

#include "front/usage.h"

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

TEST(Usage, ShowsTheProgramNameAsReceived) {
  testing::internal::CaptureStdout();
  print_usage("./bin/micom");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "./bin/micom argument error !!!\n./bin/micom usage : ./bin/micom S/V/H/R/W/\n");
}

TEST(Usage, ProgramNameFallsBackWithoutAnArgumentVector) {
  char name[] = "/usr/bin/micom";
  char* argv[] = {name, nullptr};
  EXPECT_STREQ(program_name(1, argv), "/usr/bin/micom");
  char* empty[] = {nullptr};
  EXPECT_STREQ(program_name(0, empty), "micom");
  char nothing[] = "";
  char* emptied[] = {nothing, nullptr};
  EXPECT_STREQ(program_name(1, emptied), "micom");
}

}  // namespace
