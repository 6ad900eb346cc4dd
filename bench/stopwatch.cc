// SPDX-License-Identifier: MIT
// stopwatch RESULT COMMAND [ARGS...]
// Runs COMMAND (a path, no search) and writes to RESULT how many nanoseconds
// passed from just before its spawn to just after it was reaped. Runs inside
// micom-sim, so the figure holds the command alone, without the sim's own
// start-up and namespace setup. Exits with the command's status, or 128 +
// the signal that ended it.
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdio>
#include <cstring>

extern char** environ;

namespace {

long long monotonic_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: stopwatch RESULT COMMAND [ARGS...]\n", stderr);
    return 2;
  }
  long long start = monotonic_ns();
  pid_t pid;
  int error = posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ);
  if (error != 0) {
    std::fprintf(stderr, "stopwatch: cannot run %s: %s\n", argv[2], std::strerror(error));
    return 127;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return 2;
  long long elapsed = monotonic_ns() - start;

  std::FILE* result = std::fopen(argv[1], "w");
  if (!result || std::fprintf(result, "%lld\n", elapsed) < 0 || std::fclose(result) != 0) {
    std::fprintf(stderr, "stopwatch: cannot write %s\n", argv[1]);
    return 2;
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
