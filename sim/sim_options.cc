// SPDX-License-Identifier: MIT
#include "sim_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <initializer_list>

bool parse_hex_bytes(const std::string& text, std::vector<unsigned char>* out) {
  if (text.size() % 2 != 0) return false;
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return false;
    }
    bytes.push_back(static_cast<unsigned char>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
  }
  *out = bytes;
  return true;
}

bool device_node_from_name(const std::string& name, DeviceNode* out) {
  static const struct {
    const char* name;
    DeviceNode node;
  } names[] = {{"tty", DeviceNode::tty},   {"link", DeviceNode::link},         {"none", DeviceNode::none},
               {"directory", DeviceNode::directory}, {"file", DeviceNode::file}, {"null", DeviceNode::null},
               {"fifo", DeviceNode::fifo}, {"dangling", DeviceNode::dangling}};
  for (const auto& n : names) {
    if (name == n.name) {
      *out = n.node;
      return true;
    }
  }
  return false;
}

// A decimal number in [lo, hi], digits only.
static bool parse_number(const std::string& text, long lo, long hi, int* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

constexpr std::size_t kMaxReplyBytes = 64;
constexpr long kMaxMs = 600000;

// One option that takes a value. Returns false with *error set.
static bool apply_valued(const std::string& name, const std::string& value, SimOptions* o, std::string* error) {
  if (name == "--reply") {
    int i = -1;
    if (value.size() >= 2 && value[1] == '=') {
      i = micom_letter_index(static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(value[0]))));
    }
    if (i < 0) {
      *error = "--reply wants LETTER=HEX[,HEX...] with LETTER one of S V W H R, got '" + value + "'";
      return false;
    }
    std::vector<MicomReply> replies;
    std::string list = value.substr(2);
    for (std::size_t start = 0, end; start <= list.size(); start = end + 1) {
      end = std::min(list.find(',', start), list.size());
      std::string hex = list.substr(start, end - start);
      replies.emplace_back();
      if (!parse_hex_bytes(hex, &replies.back()) || replies.back().size() > kMaxReplyBytes) {
        *error = "--reply " + value.substr(0, 1) + ": '" + hex + "' is not up to 64 bytes of hex";
        return false;
      }
    }
    o->micom.replies[i] = replies;
  } else if (name == "--gap" || name == "--delay") {
    int* field = name == "--gap" ? &o->micom.gap_ms : &o->micom.delay_ms;
    if (!parse_number(value, 0, kMaxMs, field)) {
      *error = name + " wants milliseconds from 0 to 600000, got '" + value + "'";
      return false;
    }
  } else if (name == "--hangup-after" || name == "--read-error-after") {
    if (o->micom.hangup_after >= 0) {
      *error = "--hangup-after and --read-error-after exclude each other";
      return false;
    }
    if (!parse_number(value, 0, 3, &o->micom.hangup_after)) {
      *error = name + " wants a byte count from 0 to 3, got '" + value + "'";
      return false;
    }
    o->hangup_closes_only = name == "--read-error-after";
  } else if (name == "--device") {
    if (!device_node_from_name(value, &o->device)) {
      *error = "--device wants tty, link, none, directory, file, null, fifo or dangling, got '" + value + "'";
      return false;
    }
  } else if (name == "--stale") {
    if (!parse_hex_bytes(value, &o->stale) || o->stale.empty() || o->stale.size() > kMaxReplyBytes) {
      *error = "--stale wants 1 to 64 bytes of hex, got '" + value + "'";
      return false;
    }
  } else if (name == "--prior") {
    if (!prior_line_from_name(value, &o->prior)) {
      *error = "--prior wants pty-default or cooked-9600-7e1, got '" + value + "'";
      return false;
    }
  } else {  // --log, --socket, --pty-link
    if (value.empty()) {
      *error = name + " wants a path";
      return false;
    }
    (name == "--log" ? o->log_path : o->socket_path) = value;
    if (name == "--pty-link") o->socket_is_pty_link = true;
  }
  return true;
}

static bool is_valued(const std::string& name) {
  for (const char* n : {"--reply", "--gap", "--delay", "--hangup-after", "--read-error-after", "--device", "--stale",
                         "--prior", "--log", "--socket", "--pty-link"}) {
    if (name == n) return true;
  }
  return false;
}

// Options that only make sense with a pseudo-terminal and a command.
static const char* pty_only_option(const SimOptions& o) {
  if (o.micom.hangup_after >= 0) return o.hangup_closes_only ? "--read-error-after" : "--hangup-after";
  if (o.prior != PriorLine::pty_default) return "--prior";
  if (o.device != DeviceNode::tty) return "--device";
  if (o.exclusive) return "--exclusive";
  return nullptr;
}

bool parse_sim_options(int argc, const char* const* argv, SimOptions* out, std::string* error) {
  SimOptions o;
  bool dashdash = false;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      dashdash = true;
      ++i;
      break;
    }
    std::string name = arg.substr(0, arg.find('='));
    if (is_valued(name)) {
      std::string value;
      if (name.size() < arg.size()) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        *error = name + " wants a value";
        return false;
      }
      if (!apply_valued(name, value, &o, error)) return false;
    } else if (arg == "--silent") {
      o.micom.silent = true;
    } else if (arg == "--exclusive") {
      o.exclusive = true;
    } else if (arg == "--summary") {
      o.summary = true;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg.empty() || arg[0] != '-') {
      *error = "missing -- before the command '" + arg + "' (micom-sim [options] -- COMMAND [ARGS...])";
      return false;
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  for (; i < argc; ++i) o.command.push_back(argv[i]);

  if (o.help) {
    *out = o;
    return true;
  }
  if (!o.socket_path.empty()) {
    if (dashdash) {
      *error = "--socket takes no command";
      return false;
    }
    if (const char* name = pty_only_option(o)) {
      *error = std::string(name) + " needs a command, not --socket";
      return false;
    }
  } else if (!dashdash) {
    *error = "missing -- before the command (micom-sim [options] -- COMMAND [ARGS...])";
    return false;
  } else if (o.command.empty()) {
    *error = "no command after --";
    return false;
  }
  *out = o;
  return true;
}
