// SPDX-License-Identifier: MIT
#include "device_tree.h"

#include <sys/wait.h>

#include "guarded_process.h"

namespace {

constexpr double fdtput_limit_s = 30;

}  // namespace

std::string set_dt_properties(const std::string& dtb, const std::vector<dt_property>& properties,
                              const std::string& log_path) {
  for (const dt_property& p : properties) {
    std::string error;
    pid_t pid = start_process({"fdtput", "-t", "s", dtb, p.node, p.name, p.value}, log_path, &error);
    if (pid < 0) return error;
    process_end end = wait_or_kill(pid, fdtput_limit_s);
    if (!end.in_time || !WIFEXITED(end.wait_status) || WEXITSTATUS(end.wait_status) != 0) {
      return "fdtput could not set " + p.node + " " + p.name + ", see " + log_path;
    }
  }
  return "";
}
