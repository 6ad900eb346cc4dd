// SPDX-License-Identifier: MIT
// The guest's report of its micom runs, as written to its "results" port:
//   boot
//   case N NAME
//   KEY VALUE...       (stty-before, stty-after, uart-before, uart-after, status, ...)
//   out LINE           (micom's standard output, one line each)
//   err LINE           (its standard error)
//   done               (after the last case)
#pragma once

#include <map>
#include <string>
#include <vector>

struct guest_case {
  std::string name;  // as in the case list, such as "run:v"
  std::map<std::string, std::string> fields;
  std::vector<std::string> out;
  std::vector<std::string> err;
};

struct guest_report {
  bool booted = false;  // the guest's /init got as far as the results port
  bool done = false;    // it went through every case
  std::vector<guest_case> cases;
};

guest_report parse_guest_report(const std::string& text);

// The value of a counter such as "tx" or "rx" in a line of
// /proc/tty/driver/serial ("2: uart:16550A port:000003E8 irq:4 tx:1 rx:4 RTS|DTR"); -1 if absent.
long uart_counter(const std::string& line, const std::string& name);
