// SPDX-License-Identifier: MIT
#include "sim_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>

long monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

namespace {

// The whole line in one write: a line of a few hundred bytes is never split
// on a pipe or a terminal, and nothing else gets between its text and its newline.
void write_line(int fd, std::string line) {
  line += '\n';
  for (std::size_t done = 0; done < line.size();) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// "S at 57600 8N1 raw (3 times), V at 57600 8N1 raw": a script that polls
// sends the same letter many times over.
std::string received_text(const std::vector<std::string>& received) {
  std::string text;
  for (std::size_t i = 0; i < received.size();) {
    std::size_t same = 1;
    while (i + same < received.size() && received[i + same] == received[i]) ++same;
    if (!text.empty()) text += ", ";
    text += received[i];
    if (same > 1) text += " (" + std::to_string(same) + " times)";
    i += same;
  }
  return text.empty() ? "nothing" : text;
}

}  // namespace

void log_event(sim_log* log, const char* fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  int size = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string line(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  std::vsnprintf(line.data(), line.size() + 1, fmt, again);
  va_end(again);
  write_line(log->fd, line);
}

void log_received(sim_log* log, unsigned char byte, const std::string& how) {
  log_event(log, "rx 0x%02x t=%.3f", byte, log_seconds(*log));
  char name[8];
  std::snprintf(name, sizeof name, byte > 0x20 && byte < 0x7f ? "%c" : "0x%02x", byte);
  log->received.push_back(how.empty() ? name : std::string(name) + " " + how);
}

void log_sent(sim_log* log, const std::vector<unsigned char>& bytes) {
  for (unsigned char b : bytes) log_event(log, "tx 0x%02x t=%.3f", b, log_seconds(*log));
  log->sent.insert(log->sent.end(), bytes.begin(), bytes.end());
}

double log_seconds(const sim_log& log) { return (monotonic_ms() - log.start_ms) / 1000.0; }

void print_summary(const sim_log& log, const std::string& log_path) {
  std::string line = "micom-sim: received " + received_text(log.received) + "; sent";
  char hex[4];
  for (unsigned char b : log.sent) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    line += hex;
  }
  if (log.sent.empty()) line += " nothing";
  if (!log_path.empty()) line += "; full log in " + log_path;
  write_line(2, line);
}
