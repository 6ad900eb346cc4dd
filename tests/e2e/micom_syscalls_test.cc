// SPDX-License-Identifier: MIT
// The order of micom's system calls on the line, as strace sees them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>

#include "sim_run.h"

namespace {

struct syscall_trace {
  std::vector<std::string> calls;  // the traced process's lines, pid prefix removed
  std::string fd;                  // the line's descriptor, "" if the open was not found
  std::string open_flags;
};

bool strace_available() { return std::system("strace -V >/dev/null 2>&1") == 0; }

// micom ARG under strace; with reader_gone its standard output is a pipe
// whose reader has left.
syscall_trace trace_micom(const std::string& arg, sim_result* result, bool reader_gone = false) {
  std::string path = temp_path("strace");
  std::string script = "exec strace -f -o " + path + " \"$@\"";
  *result = sim_run({}, micom_in_shell(reader_gone ? with_reader_gone(script) : script, {arg}), 60000);
  syscall_trace t;
  static const std::regex pid_prefix(R"(^\d+ +)");
  // strace names a request number that two drivers share as "A or B"; a tty's is the last.
  static const std::regex shared_request(R"(^ioctl\((\d+), [A-Z0-9_]+ or ([A-Z0-9_]+))");
  static const std::regex open_call(R"(^open(at)?\((AT_FDCWD, )?"/dev/ttyS2", ([^,)]*)(, [^)]*)?\) = (\d+))");
  for (const std::string& line : lines_starting(read_file(path), "")) {
    std::string call = std::regex_replace(std::regex_replace(line, pid_prefix, ""), shared_request, "ioctl($1, $2");
    std::smatch m;
    if (t.fd.empty() && std::regex_search(call, m, open_call)) {
      t.open_flags = m[3];
      t.fd = m[5];
    }
    if (!t.fd.empty()) t.calls.push_back(call);
  }
  std::remove(path.c_str());
  return t;
}

// Index of the first call at or after `from` that starts with prefix; -1 if none.
long find(const syscall_trace& t, const std::string& prefix, long from = 0) {
  for (long i = from < 0 ? 0 : from; i < static_cast<long>(t.calls.size()); ++i) {
    if (t.calls[i].compare(0, prefix.size(), prefix) == 0) return i;
  }
  return -1;
}

long find_last_before(const syscall_trace& t, const std::string& prefix, long before) {
  for (long i = before - 1; i >= 0; --i) {
    if (t.calls[i].compare(0, prefix.size(), prefix) == 0) return i;
  }
  return -1;
}

std::set<std::string> flag_set(const std::string& flags) {
  std::set<std::string> names;
  std::stringstream in(flags);
  for (std::string name; std::getline(in, name, '|');) names.insert(name);
  return names;
}

class MicomSyscalls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!strace_available()) GTEST_SKIP() << "strace is not installed";
  }
};

TEST_F(MicomSyscalls, OpenSetupSendReadRestoreInOrder) {
  sim_result r;
  syscall_trace t = trace_micom("v", &r);
  ASSERT_EQ(r.out, expected_stdout('V', {0x01, 0x00, 0x02, 0x00})) << r.log;
  ASSERT_FALSE(t.fd.empty()) << "no open of /dev/ttyS2";
  // Non-blocking for the open alone, which then never waits for carrier.
  EXPECT_EQ(t.open_flags, "O_RDWR|O_NOCTTY|O_NONBLOCK");
  const std::string io = "ioctl(" + t.fd + ", ";

  long blocking = find(t, "fcntl(" + t.fd + ", F_SETFL, ");
  long lock = find(t, "flock(" + t.fd + ", LOCK_EX)");
  long get = find(t, io + "TCGETS");
  long guard = find(t, "rt_sigaction(");
  long flush = find(t, io + "TCFLSH, TCIFLUSH");
  long set = find(t, io + "TCSETS, ");  // at once: nothing of the run's own is leaving yet
  ASSERT_GE(blocking, 0) << "the line's reads are left non-blocking";
  ASSERT_GE(lock, 0) << "no lock on the line";
  ASSERT_GE(get, 0);
  ASSERT_GE(guard, 0);
  ASSERT_GE(flush, 0);
  ASSERT_GE(set, 0);
  EXPECT_EQ(t.calls[blocking].find("O_NONBLOCK"), std::string::npos) << t.calls[blocking];
  EXPECT_LT(blocking, get);
  EXPECT_LT(lock, get) << "the settings must be saved only once the run has the line";
  // The lock file, for programs that go by it, between the flock and the save.
  long lock_file = find(t, "openat(AT_FDCWD, \"/var/lock/LCK..ttyS2\", O_WRONLY|O_CREAT|O_EXCL", lock);
  ASSERT_GE(lock_file, 0) << "no lock file made";
  EXPECT_LT(lock_file, get);
  EXPECT_LT(get, guard) << "the guard is armed before there is anything to put back";
  EXPECT_LT(guard, flush);
  EXPECT_LT(get, set);
  EXPECT_LT(flush, set) << "the input must be flushed before the raw settings apply";
  // A pseudo-terminal reports CREAD whatever was asked for; the request shows it.
  std::smatch cflag;
  ASSERT_TRUE(std::regex_search(t.calls[set], cflag, std::regex("c_cflag=([A-Z0-9|]*)"))) << t.calls[set];
  EXPECT_EQ(flag_set(cflag[1]), (std::set<std::string>{"B57600", "CS8", "CREAD", "CLOCAL"}));

  long bic = find(t, io + "TIOCMBIC, [TIOCM_RTS]", set);
  long send_line = find(t, "write(1, \"SEND V TO MICOM\\n\", 16)", set);
  long command = find(t, "write(" + t.fd + ", \"V\", 1)", set);
  ASSERT_GE(bic, 0);
  ASSERT_GE(send_line, 0);
  ASSERT_GE(command, 0);
  EXPECT_LT(bic, send_line);
  EXPECT_LT(send_line, command);
  ASSERT_LT(command + 1, static_cast<long>(t.calls.size()));
  EXPECT_EQ(t.calls[command + 1].rfind(io + "TIOCMBIS, [TIOCM_RTS])", 0), 0u)
      << "right after the command byte: " << t.calls[command + 1];

  long first_read = find(t, "read(" + t.fd + ", ", command);
  long close_line = find(t, "close(" + t.fd + ")", command);
  ASSERT_GE(first_read, 0);
  ASSERT_GE(close_line, 0);
  EXPECT_LT(first_read, close_line);
  long restore = find_last_before(t, io + "TCSETS", close_line);
  EXPECT_GT(restore, first_read) << "the saved settings must go back before the close";
  EXPECT_EQ(t.calls[restore].rfind(io + "TCSETSW, ", 0), 0u)
      << "the restore must wait for the output: " << t.calls[restore];
  EXPECT_EQ(find(t, "write(" + t.fd + ", ", command + 1), -1) << "only one byte goes out";
  long unlock = find(t, "unlink(\"/var/lock/LCK..ttyS2\")", restore);
  EXPECT_GT(unlock, restore) << "the lock file must stay until the settings are back";
  EXPECT_LT(unlock, close_line);

  // The guard sets each signal in one call, without looking first, and is
  // not taken down: once the line is back there is nothing left to guard.
  for (long i = guard; i >= 0; i = find(t, "rt_sigaction(", i + 1)) {
    const std::string& call = t.calls[i];
    EXPECT_NE(call.compare(call.find(", ") + 2, 5, "NULL,"), 0) << "a look without a change: " << call;
  }
  EXPECT_EQ(find(t, "rt_sigaction(", restore), -1) << "signal actions changed after the restore";
}

TEST_F(MicomSyscalls, HAndRDoNotReadTheLine) {
  for (const char* arg : {"h", "r"}) {
    sim_result r;
    syscall_trace t = trace_micom(arg, &r);
    ASSERT_FALSE(t.fd.empty()) << arg;
    long command = find(t, "write(" + t.fd + ", ");
    ASSERT_GE(command, 0) << arg;
    EXPECT_EQ(t.calls[command + 1].rfind("ioctl(" + t.fd + ", TIOCMBIS, [TIOCM_RTS])", 0), 0u) << arg;
    EXPECT_EQ(find(t, "read(" + t.fd + ", "), -1) << arg;
    // The byte may still be leaving the UART: the saved speed waits for it.
    long close_line = find(t, "close(" + t.fd + ")", command);
    long restore = find_last_before(t, "ioctl(" + t.fd + ", TCSETS", close_line);
    ASSERT_GT(restore, command) << arg;
    EXPECT_EQ(t.calls[restore].rfind("ioctl(" + t.fd + ", TCSETSW, ", 0), 0u) << t.calls[restore];
  }
}

TEST_F(MicomSyscalls, KilledByItsGoneReaderBetweenRtsDownAndTheByteTheLineGoesBackWithRtsUp) {
  sim_result r;
  syscall_trace t = trace_micom("v", &r, true);
  ASSERT_FALSE(t.fd.empty());
  const std::string io = "ioctl(" + t.fd + ", ";
  long bic = find(t, io + "TIOCMBIC, [TIOCM_RTS]");
  long send_line = find(t, "write(1, \"SEND V TO MICOM\\n\", 16) = -1 EPIPE", bic);
  long delivered = find(t, "--- SIGPIPE", send_line);
  ASSERT_GE(bic, 0);
  ASSERT_GE(send_line, 0);
  ASSERT_GE(delivered, 0);
  long bis = find(t, io + "TIOCMBIS, [TIOCM_RTS]", delivered);
  long restore = find(t, io + "TCSETSW, ", delivered);
  long close_line = find(t, "close(" + t.fd + ")", delivered);
  EXPECT_GE(bis, 0) << "RTS is left down";
  EXPECT_GT(restore, bis);
  EXPECT_GT(close_line, restore);
  EXPECT_GE(find(t, "+++ killed by SIGPIPE", close_line), 0);
  EXPECT_EQ(find(t, "write(" + t.fd + ", "), -1) << "the command byte went out after all";
}

}  // namespace
