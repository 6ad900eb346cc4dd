// Bad arguments never touch the device; a missing or unusable device is reported.
#include <gtest/gtest.h>

#include "sim_run.h"

namespace {

std::string usage() {
  std::string name = micom_argv0();
  return name + " argument error !!!\n" + name + " usage : " + name + " S/V/H/R/W/\n";
}

TEST(MicomDevice, BadOrMissingArgumentPrintsUsageWithoutOpeningTheDevice) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"x"}, {"3"}, {""}, {"?v"}, {"-s"}}) {
    SimResult r = sim_run({"--no-device"}, micom_with(args));
    SCOPED_TRACE(args.empty() ? "(none)" : "'" + args[0] + "'");
    EXPECT_EQ(r.out, usage());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(MicomDevice, NoNodeOrADirectoryIsAnOpenFailure) {
  for (const char* device : {"--no-device", "--device-dir"}) {
    for (const char* arg : {"v", "h"}) {
      SimResult r = sim_run({device}, micom_with({arg}));
      SCOPED_TRACE(std::string(device) + " " + arg);
      EXPECT_EQ(r.out, "MICOM OPEN FAILED\n");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.status, 255);
    }
  }
}

}  // namespace
