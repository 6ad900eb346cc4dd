// SPDX-License-Identifier: MIT
#include "front/usage.h"

#include <gtest/gtest.h>

namespace {

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
