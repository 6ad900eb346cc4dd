// SPDX-License-Identifier: MIT
#include "sim_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

// A string of hex digit pairs ("0102A5ff"); false for anything else.
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

// The device_node of a --device name; false for an unknown name.
bool device_node_from_name(const std::string& name, device_node* out) {
  static const struct {
    const char* name;
    device_node node;
  } names[] = {{"tty", device_node::tty},   {"link", device_node::link},
               {"none", device_node::none}, {"directory", device_node::directory},
               {"file", device_node::file}, {"null", device_node::null},
               {"fifo", device_node::fifo}, {"dangling", device_node::dangling}};
  for (const auto& n : names) {
    if (name == n.name) {
      *out = n.node;
      return true;
    }
  }
  return false;
}

// A decimal number in [lo, hi], digits only.
bool parse_number(const std::string& text, long lo, long hi, int* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

constexpr std::size_t max_reply_bytes = 64;
constexpr long max_ms = 600000;

// The replies of a --reply value after its "L=": comma-separated hex, each up to 64 bytes.
bool parse_reply_list(const std::string& value, std::vector<micom_reply>* out, std::string* error) {
  std::string list = value.substr(2);
  for (std::size_t start = 0, end; start <= list.size(); start = end + 1) {
    end = std::min(list.find(',', start), list.size());
    std::string hex = list.substr(start, end - start);
    out->emplace_back();
    if (!parse_hex_bytes(hex, &out->back()) || out->back().size() > max_reply_bytes) {
      *error = "--reply " + value.substr(0, 1) + ": '" + hex + "' is not up to 64 bytes of hex";
      return false;
    }
  }
  return true;
}

bool apply_reply(const std::string& value, sim_options* o, std::string* error) {
  int i = -1;
  if (value.size() >= 2 && value[1] == '=') {
    i = micom_letter_index(static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(value[0]))));
  }
  if (i < 0) {
    *error = "--reply wants LETTER=HEX[,HEX...] with LETTER one of S V W H R, got '" + value + "'";
    return false;
  }
  std::vector<micom_reply> replies;
  if (!parse_reply_list(value, &replies, error)) return false;
  o->micom.replies[i] = replies;
  return true;
}

bool apply_ms(const char* name, const std::string& value, int* field, std::string* error) {
  if (parse_number(value, 0, max_ms, field)) return true;
  *error = std::string(name) + " wants milliseconds from 0 to 600000, got '" + value + "'";
  return false;
}

bool apply_gap(const std::string& value, sim_options* o, std::string* error) {
  return apply_ms("--gap", value, &o->micom.gap_ms, error);
}

bool apply_delay(const std::string& value, sim_options* o, std::string* error) {
  return apply_ms("--delay", value, &o->micom.delay_ms, error);
}

bool apply_silent(const std::string&, sim_options* o, std::string*) {
  o->micom.silent = true;
  return true;
}

// --hangup-after and --read-error-after: the same cut, the line hung up or its master closed alone.
bool apply_cut(const char* name, const std::string& value, bool closes_only, sim_options* o, std::string* error) {
  if (o->micom.hangup_after >= 0) {
    *error = "--hangup-after and --read-error-after exclude each other";
    return false;
  }
  if (!parse_number(value, 0, 3, &o->micom.hangup_after)) {
    *error = std::string(name) + " wants a byte count from 0 to 3, got '" + value + "'";
    return false;
  }
  o->hangup_closes_only = closes_only;
  return true;
}

bool apply_hangup_after(const std::string& value, sim_options* o, std::string* error) {
  return apply_cut("--hangup-after", value, false, o, error);
}

bool apply_read_error_after(const std::string& value, sim_options* o, std::string* error) {
  return apply_cut("--read-error-after", value, true, o, error);
}

bool apply_stale(const std::string& value, sim_options* o, std::string* error) {
  if (parse_hex_bytes(value, &o->stale) && !o->stale.empty() && o->stale.size() <= max_reply_bytes) return true;
  *error = "--stale wants 1 to 64 bytes of hex, got '" + value + "'";
  return false;
}

bool apply_prior(const std::string& value, sim_options* o, std::string* error) {
  if (prior_line_from_name(value, &o->prior)) return true;
  *error = "--prior wants pty-default or cooked-9600-7e1, got '" + value + "'";
  return false;
}

bool apply_device(const std::string& value, sim_options* o, std::string* error) {
  if (device_node_from_name(value, &o->device)) return true;
  *error = "--device wants tty, link, none, directory, file, null, fifo or dangling, got '" + value + "'";
  return false;
}

bool apply_exclusive(const std::string&, sim_options* o, std::string*) {
  o->exclusive = true;
  return true;
}

bool apply_path(const char* name, const std::string& value, std::string* field, std::string* error) {
  if (value.empty()) {
    *error = std::string(name) + " wants a path";
    return false;
  }
  *field = value;
  return true;
}

bool apply_log(const std::string& value, sim_options* o, std::string* error) {
  return apply_path("--log", value, &o->log_path, error);
}

bool apply_socket(const std::string& value, sim_options* o, std::string* error) {
  return apply_path("--socket", value, &o->socket_path, error);
}

bool apply_pty_link(const std::string& value, sim_options* o, std::string* error) {
  if (!apply_path("--pty-link", value, &o->socket_path, error)) return false;
  o->socket_is_pty_link = true;
  return true;
}

bool apply_summary(const std::string&, sim_options* o, std::string*) {
  o->summary = true;
  return true;
}

bool apply_help(const std::string&, sim_options* o, std::string*) {
  o->help = true;
  return true;
}

bool uses_hangup(const sim_options& o) { return o.micom.hangup_after >= 0 && !o.hangup_closes_only; }
bool uses_read_error(const sim_options& o) { return o.micom.hangup_after >= 0 && o.hangup_closes_only; }
bool uses_prior(const sim_options& o) { return o.prior != prior_line::pty_default; }
bool uses_device(const sim_options& o) { return o.device != device_node::tty; }
bool uses_exclusive(const sim_options& o) { return o.exclusive; }

}  // namespace

const sim_option sim_option_table[] = {
    {"--reply", "L=HEX[,HEX...]", nullptr,
     "answer command letter L (S V W H R, either case) with\n"
     "these bytes, e.g. --reply V=0102A5FF; up to 64 bytes;\n"
     "an empty HEX answers nothing. With a list, successive\n"
     "commands with L take the replies in turn and the last\n"
     "one repeats: --reply S=00000000,00000000,00000001\n"
     "answers the first two S with 00 00 00 00 and every\n"
     "later one with 00 00 00 01. Given again for the same\n"
     "letter, the later --reply counts.",
     apply_reply},
    {"--gap", "MS", nullptr,
     "write the answer one byte per write, MS ms apart\n"
     "(default: the whole answer in one write)",
     apply_gap},
    {"--delay", "MS", nullptr, "wait MS ms after the command byte before answering", apply_delay},
    {"--silent", nullptr, nullptr, "never answer", apply_silent},
    {"--hangup-after", "N", uses_hangup,
     "send only the first N (0-3) bytes of the first answer,\n"
     "wait until the command has read them, then hang the\n"
     "line up (the slave's reads return 0 with POLLHUP, as\n"
     "on a modem hang-up; without CAP_SYS_ADMIN only the\n"
     "master is closed and the reads fail with EIO)",
     apply_hangup_after},
    {"--stale", "HEX", nullptr,
     "put these bytes (1-64) on the line before COMMAND starts;\n"
     "with a prior state that echoes, their echo is discarded",
     apply_stale},
    {"--prior", "NAME", uses_prior,
     "the line's settings before COMMAND starts:\n"
     "pty-default      as a new pseudo-terminal (the default)\n"
     "cooked-9600-7e1  9600 baud, CS7, PARENB, CREAD; ICANON\n"
     "                 ECHO ECHOE IEXTEN ISIG; ICRNL; OPOST\n"
     "                 ONLCR; VMIN 1, VTIME 0",
     apply_prior},
    {"--read-error-after", "N", uses_read_error,
     "the same, but only the master is closed: the command's\n"
     "reads fail with EIO instead of seeing a hang-up",
     apply_read_error_after},
    {"--device", "KIND", uses_device,
     "what stands at /dev/ttyS2:\n"
     "tty        the pseudo-terminal slave (the default)\n"
     "link       a symlink to it, as a udev rule makes\n"
     "none       nothing\n"
     "directory  an empty directory\n"
     "file       a regular file holding \"x\\n\"\n"
     "null       the null device\n"
     "fifo       a named pipe\n"
     "dangling   a symlink to a node that is not there",
     apply_device},
    {"--exclusive", nullptr, uses_exclusive,
     "hold the line open with TIOCEXCL, as a program that\n"
     "claims it for itself does",
     apply_exclusive},
    {"--log", "FILE", nullptr, "write the log to FILE instead of standard error", apply_log},
    {"--socket", "PATH", nullptr, "serve a unix socket instead of running a command", apply_socket},
    {"--pty-link", "PATH", nullptr,
     "the same on a new pseudo-terminal whose slave is linked\n"
     "at PATH, for an emulator's serial chardev on a host tty\n"
     "(qemu's -chardev serial,path=PATH); the session ends\n"
     "once the peer, having sent something, closes the slave",
     apply_pty_link},
    {"--summary", nullptr, nullptr,
     "end with one line on standard error saying what was\n"
     "received and sent (see above)",
     apply_summary},
    {"--help", nullptr, nullptr, "this text", apply_help, "-h"},
};

const int sim_option_count = sizeof sim_option_table / sizeof sim_option_table[0];

namespace {

// The row for an option's name or alias; nullptr for none.
const sim_option* find_option(const std::string& name) {
  for (int i = 0; i < sim_option_count; ++i) {
    const sim_option& option = sim_option_table[i];
    if (name == option.name || (option.alias && name == option.alias)) return &option;
  }
  return nullptr;
}

// The message for a word that is no option: a command lacking its --, or a misspelling.
bool refuse_word(const std::string& arg, std::string* error) {
  if (arg.empty() || arg[0] != '-') {
    *error = "missing -- before the command '" + arg + "' (micom-sim [options] -- COMMAND [ARGS...])";
  } else {
    *error = "unknown option '" + arg + "'";
  }
  return false;
}

// Applies the option at argv[*i], its value given after '=' or as the next
// word, and moves *i past both.
bool take_option(int argc, const char* const* argv, int* i, sim_options* o, std::string* error) {
  std::string arg = argv[(*i)++];
  std::string name = arg.substr(0, arg.find('='));
  const sim_option* option = find_option(name);
  if (option && !option->value && name.size() == arg.size()) return option->apply("", o, error);
  if (!option || !option->value) return refuse_word(arg, error);
  std::string value;
  if (name.size() < arg.size()) {
    value = arg.substr(name.size() + 1);
  } else if (*i < argc) {
    value = argv[(*i)++];
  } else {
    *error = name + " wants a value";
    return false;
  }
  return option->apply(value, o, error);
}

// The first option the parsed options use that needs a command; nullptr for none.
const char* pty_only_option(const sim_options& o) {
  for (int i = 0; i < sim_option_count; ++i) {
    if (sim_option_table[i].pty_only && sim_option_table[i].pty_only(o)) return sim_option_table[i].name;
  }
  return nullptr;
}

// A session on the socket (or linked pseudo-terminal) takes no command and
// no option that needs one; any other session needs a command after --.
bool check_session(const sim_options& o, bool dashdash, std::string* error) {
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
  return true;
}

}  // namespace

bool parse_sim_options(int argc, const char* const* argv, sim_options* out, std::string* error) {
  sim_options o;
  int i = 1;
  while (i < argc && std::string(argv[i]) != "--") {
    if (!take_option(argc, argv, &i, &o, error)) return false;
  }
  const bool dashdash = i < argc;
  for (i += dashdash ? 1 : 0; i < argc; ++i) o.command.push_back(argv[i]);
  if (!o.help && !check_session(o, dashdash, error)) return false;
  *out = o;
  return true;
}
