// SPDX-License-Identifier: MIT
#include "guarded_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

pid_t start_process(const std::vector<std::string>& argv, const std::string& log_path, std::string* error) {
  int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) {
    *error = "cannot open " + log_path + ": " + std::strerror(errno);
    return -1;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // no qemu left running when the test itself is killed
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(log, 1);
    dup2(log, 2);
    execvp(args[0], args.data());
    dprintf(2, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  close(log);
  if (pid < 0) *error = std::string("fork: ") + std::strerror(errno);
  return pid;
}

bool process_ended(pid_t pid, int* wait_status) {
  pid_t r;
  do {
    r = waitpid(pid, wait_status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  return r == pid;
}

void kill_process(pid_t pid) {
  kill(pid, SIGKILL);
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

process_end wait_or_kill(pid_t pid, double timeout_s) {
  double deadline = monotonic_seconds() + timeout_s;
  process_end end{true, 0};
  while (!process_ended(pid, &end.wait_status)) {
    if (monotonic_seconds() > deadline) {
      kill_process(pid);
      return {false, 0};
    }
    usleep(20 * 1000);
  }
  return end;
}

double monotonic_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
