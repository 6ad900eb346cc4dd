// SPDX-License-Identifier: MIT
// micom-sim on its own, with plain shell commands in place of micom; its log
// beside micom's output; and ./try, which runs micom or a script under it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <poll.h>
#include <regex>
#include <set>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim_run.h"

namespace {

SimResult sim_exec(const std::vector<std::string>& args) {
  SimRun run = sim_spawn(args);
  return sim_finish(&run, 20000);
}

std::vector<double> times(const std::string& log, const std::string& tag) {
  std::vector<double> t;
  for (const std::string& line : lines_starting(log, tag + " 0x")) {
    t.push_back(std::atof(line.substr(line.find(" t=") + 3).c_str()));
  }
  return t;
}

std::set<std::string> host_dev() {
  const std::vector<std::string> names = directory_entries("/dev");
  return {names.begin(), names.end()};
}

TEST(MicomSim, HelpIsAManualPageOnStandardOutput) {
  SimResult r = sim_exec({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "DEFAULT REPLIES", "EXIT STATUS", "EXAMPLES"}) {
    EXPECT_NE(("\n" + r.out).find(std::string("\n") + section + "\n"), std::string::npos) << section;
  }
}

TEST(MicomSim, ItsOwnMistakesAndUnrunnableCommandsExitTwoWithOneLine) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus", "--", "true"},
           {"true"},
           {"--"},
           {"--reply", "V=XYZ", "--", "true"},
           {"--hangup-after", "9", "--", "true"},
       }) {
    SimResult r = sim_exec(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err.rfind("micom-sim: ", 0), 0u) << r.err;
    EXPECT_EQ(lines_starting(r.err, "").size(), 1u) << r.err;
  }
  SimResult r = sim_run({}, {"/nonexistent/micom", "v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "micom-sim: cannot run '/nonexistent/micom': No such file or directory\n");
}

TEST(MicomSim, PassesOnTheCommandsExitStatusOrSignal) {
  SimResult r = sim_run({}, {"sh", "-c", "echo out; exit 7"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(lines_starting(r.log, "exit status=7").size(), 1u);
  r = sim_run({}, {"sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(r.status, 128 + 15);
  EXPECT_EQ(lines_starting(r.log, "exit signal=15").size(), 1u);
}

TEST(MicomSim, PrivateDevWithATtyAtTtyS2OrNoneOrADirectory) {
  std::set<std::string> before = host_dev();
  SimResult r = sim_run({}, {"sh", "-c", "test -c /dev/ttyS2 && test -t 0 </dev/ttyS2 && test -c /dev/null && "
                                        "echo x >/dev/null && test -c /dev/zero && test -c /dev/tty && ! echo x 2>/dev/null >/dev/full && echo ok"});
  EXPECT_EQ(r.out, "ok\n") << r.err;
  r = sim_run({"--device", "none"}, {"sh", "-c", "test -e /dev/ttyS2 || echo none"});
  EXPECT_EQ(r.out, "none\n");
  r = sim_run({"--device", "directory"}, {"sh", "-c", "test -d /dev/ttyS2 && echo dir"});
  EXPECT_EQ(r.out, "dir\n");
  EXPECT_EQ(host_dev(), before) << "the host's /dev changed";
}

TEST(MicomSim, LockFilesGoToALockDirectoryOfTheNamespacesOwn) {
  if (access("/var/lock", F_OK) != 0) GTEST_SKIP() << "this host has no /var/lock";
  const std::string name = "/var/lock/LCK..sim-test-" + std::to_string(getpid());
  SimResult r = sim_run({}, {"sh", "-c", "test -z \"$(ls -A /var/lock)\" && touch " + name + " && stat -c %a /var/lock/"});
  EXPECT_EQ(r.out, "1777\n") << r.err;
  EXPECT_NE(access(name.c_str(), F_OK), 0) << "the lock file reached the host's /var/lock";
}

TEST(MicomSim, AnswersWithDelayAndGapAndLogsTheLine) {
  // stty and dd stand in for micom: raw line, one byte out, four back.
  SimResult r = sim_run({"--delay", "300", "--gap", "200"},
                        {"sh", "-c", "stty raw -echo </dev/ttyS2 && printf V >/dev/ttyS2 && "
                                     "dd bs=1 count=4 </dev/ttyS2 2>/dev/null | od -An -tx1"});
  EXPECT_EQ(r.out, " 01 00 02 00\n") << r.log;
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{'V'});
  std::vector<double> rx = times(r.log, "rx"), tx = times(r.log, "tx");
  ASSERT_EQ(tx.size(), 4u);
  EXPECT_GE(tx[0] - rx[0], 0.29);
  for (int i = 1; i < 4; ++i) EXPECT_GE(tx[i] - tx[i - 1], 0.19);
  EXPECT_NE(logged_line(r.log, "during"), "");
  EXPECT_EQ(field(logged_line(r.log, "after"), "lflag"), field(logged_line(r.log, "during"), "lflag"));
}

TEST(MicomSim, LogLinesSharingAPipeWithTheCommandsOutputAreWhole) {
  // Only a whole line matches: micom's lines start with capitals, so one of
  // them inside a log line, or a log line's newline left behind, does not.
  const std::regex whole(
      "SEND [SVWHR] TO MICOM|READ DATA\\(0x[0-9A-F]{2}\\)|child pid=[0-9]+|exit status=0|"
      "(rx|tx) 0x[0-9a-f]{2} t=[0-9.]+|hangup( \\(master closed only\\))? t=[0-9.]+|"
      "line (before|during|after): ([0-9]+ [5-8][NEO][12] (raw|cooked) iflag=[^A-Z]* cc=[0-9a-f]+|unknown \\([a-z :,]+\\)|"
      "unavailable \\([A-Z][a-z/ ]+\\))");
  for (int i = 0; i < 20; ++i) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, std::vector<std::string>{"--hangup-after", "2"}}) {
      args.push_back("--");
      for (const std::string& word : micom_with({"w"})) args.push_back(word);
      SimRun run = sim_spawn(args, true);
      SimResult r = sim_finish(&run, 20000);
      std::string::size_type start = 0;
      for (std::string::size_type end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = r.out.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(line, whole)) << "torn: '" << line << "'\n" << r.out;
      }
      EXPECT_EQ(start, r.out.size()) << "no newline at the end";
    }
  }
}

TEST(MicomSim, StaleBytesEchoedByThePriorStateAreNotTakenAsReceived) {
  SimResult r = sim_run({"--prior", "cooked-9600-7e1", "--stale", "414243"}, {"true"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(logged_bytes(r.log, "stale"), (std::vector<int>{0x41, 0x42, 0x43}));
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{});
  EXPECT_EQ(lines_starting(r.log, "stale settled").size(), 1u);
  EXPECT_NE(r.log.find("echo-discarded=3"), std::string::npos) << r.log;
}

int connect_to(const std::string& path) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Up to n bytes, waiting at most timeout_ms for each.
std::string receive(int fd, size_t n, int timeout_ms) {
  std::string got;
  pollfd p = {fd, POLLIN, 0};
  char c;
  while (got.size() < n && poll(&p, 1, timeout_ms) > 0 && read(fd, &c, 1) == 1) got += c;
  return got;
}

TEST(MicomSim, SocketModeServesOneConnectionUntilThePeerCloses) {
  std::string log = temp_path("socket-log");
  std::string path = temp_path("socket");
  std::remove(path.c_str());  // the sim makes the socket itself
  SimRun run = sim_spawn({"--reply", "V=0A0B0C0D", "--gap", "50", "--stale", "EE", "--socket", path, "--log", log});
  run.log_path = log;
  ASSERT_NE(sim_wait_log(run, "listening path=" + path, 20000), "");
  int fd = connect_to(path);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(receive(fd, 1, 5000), "\xEE");
  ASSERT_EQ(write(fd, "V", 1), 1);
  EXPECT_EQ(receive(fd, 4, 5000), "\x0A\x0B\x0C\x0D");
  ASSERT_EQ(write(fd, "H", 1), 1);
  EXPECT_EQ(receive(fd, 1, 500), "");
  close(fd);
  SimResult r = sim_finish(&run, 20000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(logged_bytes(r.log, "rx"), (std::vector<int>{'V', 'H'}));
  EXPECT_EQ(logged_bytes(r.log, "tx"), (std::vector<int>{0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(lines_starting(r.log, "peer closed").size(), 1u);
  EXPECT_NE(access(path.c_str(), F_OK), 0) << "the socket file is left behind";
}

TEST(MicomSim, SocketModeRefusesAPathInUse) {
  std::string path = temp_path("socket");  // a plain file is there already
  SimResult r = sim_exec({"--socket", path});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(path), std::string::npos);
  EXPECT_EQ(access(path.c_str(), F_OK), 0) << "the sim removed a file it did not make";
  std::remove(path.c_str());
}

// ./try builds and runs build/native: only that tree's tests run it.
class Try : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MICOM_TRY_TREE) GTEST_SKIP() << "./try runs build/native, not this build tree";
  }
  SimResult run_try(std::vector<std::string> args) {
    args.insert(args.begin(), MICOM_SOURCE_DIR "/try");
    SimRun run = spawn(args);
    return sim_finish(&run, 100000);
  }
};

TEST_F(Try, ShowsMicomsOwnLinesAndOneLineFromTheSim) {
  SimResult r = run_try({"v"});
  EXPECT_EQ(r.out, expected_stdout('V', {0x01, 0x00, 0x02, 0x00}));
  EXPECT_EQ(r.err, "micom-sim: received V at 57600 8N1 raw; sent 01 00 02 00; full log in build/try.log\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(logged_bytes(read_file(MICOM_SOURCE_DIR "/build/try.log"), "rx"), std::vector<int>{'V'});
}

TEST_F(Try, RunsAScriptWithThisBuildsMicomOnItsPathAndTheRepliesInTurn) {
  // A script that polls until the status word says ready.
  SimResult r = run_try({"--reply", "S=00000000,00000000,00000001", "--run", "sh", "-c",
                         "command -v micom; n=1; until micom s | grep -q '^READ DATA(0x01)' || [ $n = 5 ]; do "
                         "n=$((n + 1)); done; echo \"polls: $n\""});
  EXPECT_EQ(r.out, MICOM_SOURCE_DIR "/build/native/micom\npolls: 3\n");
  EXPECT_EQ(r.err,
            "micom-sim: received S at 57600 8N1 raw (3 times); sent 00 00 00 00 00 00 00 00 00 00 00 01; "
            "full log in build/try.log\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Try, HelpShowsHowToUseTryAndTheSimulatorsOptionsNotMicomsUsage) {
  for (const char* help : {"--help", "-h"}) {
    SimResult r = run_try({help});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_EQ(r.err, "") << help;
    EXPECT_EQ(r.out.rfind("Usage: " MICOM_SOURCE_DIR "/try LETTER", 0), 0u) << help << ":\n" << r.out;
    EXPECT_NE(r.out.find("\n    --silent "), std::string::npos) << help;
    EXPECT_NE(r.out.find("\n    --reply L=HEX"), std::string::npos) << help;
    // Options ./try sets itself, or that run no command, are not offered.
    EXPECT_EQ(r.out.find("--socket"), std::string::npos) << help;
    EXPECT_EQ(r.out.find("argument error"), std::string::npos) << help;
  }
}

TEST_F(Try, ASimulatorsMistakeNamesCommandsTheUserCanType) {
  // An option without the -- after it would reach micom as its argument.
  SimResult r = run_try({"--silent", "v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "try: --silent is an option for the simulator: put -- between the options and micom's "
                   "argument, e.g. " MICOM_SOURCE_DIR "/try --silent -- v (see " MICOM_SOURCE_DIR "/try --help)\n");
  r = run_try({"--quiet", "--", "v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "micom-sim: unknown option '--quiet'; see " MICOM_SOURCE_DIR "/try --help\n");
}


// A command the README shows being typed, and what it shows coming back.
struct ReadmeExample {
  std::string command;  // with its here-document, if it has one
  std::string shown;    // standard output and standard error together
};

// The README's examples that run without the board: every fenced block whose
// first line starts with "$ ./try". In it a line starting with "$ " is a
// command; one ending in a here-document (<<'EOF') goes on up to the line
// that ends it; the lines after a command, up to the next one, are what it
// prints.
std::vector<ReadmeExample> readme_examples(const std::string& readme) {
  std::vector<ReadmeExample> found;
  bool in_block = false, first_line = false, checked = false;
  std::string heredoc_end;
  size_t start = 0;
  while (start < readme.size()) {
    size_t end = readme.find('\n', start);
    if (end == std::string::npos) end = readme.size();
    std::string line = readme.substr(start, end - start);
    start = end + 1;
    if (line.rfind("```", 0) == 0) {
      in_block = !in_block;
      first_line = in_block;
      continue;
    }
    if (!in_block) continue;
    if (first_line) checked = line.rfind("$ ./try", 0) == 0;
    first_line = false;
    if (!checked) continue;
    if (!heredoc_end.empty()) {
      found.back().command += "\n" + line;
      if (line == heredoc_end) heredoc_end.clear();
    } else if (line.rfind("$ ", 0) == 0) {
      found.push_back({line.substr(2), ""});
      size_t here = line.find("<<'");
      if (here != std::string::npos) heredoc_end = line.substr(here + 3, line.find('\'', here + 3) - here - 3);
    } else {
      found.back().shown += line + "\n";
    }
  }
  return found;
}

TEST_F(Try, EveryExampleInTheReadmePrintsWhatTheReadmeShows) {
  std::vector<ReadmeExample> examples = readme_examples(read_file(MICOM_SOURCE_DIR "/README.md"));
  // ./try v, the scripts in Scripting and the polling script at the least.
  ASSERT_GE(examples.size(), 4u) << "the README's checked examples are gone";
  for (const ReadmeExample& e : examples) {
    SimRun run = spawn({"/bin/bash", "-c", "cd " MICOM_SOURCE_DIR " && " + e.command}, true);
    SimResult r = sim_finish(&run, 100000);
    EXPECT_EQ(r.out, e.shown) << "$ " << e.command;
  }
}

}  // namespace
