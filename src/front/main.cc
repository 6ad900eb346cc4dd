// SPDX-License-Identifier: MIT
// micom: sends one command letter to the board's microcontroller and prints
// its reply.
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "front/command_table.h"
#include "front/standard_streams.h"
#include "front/usage.h"
#include "link/micom_exchange.h"
#include "link/micom_port.h"

int main(int argc, char* argv[]) {
  if (!open_closed_standard_descriptors()) std::exit(1);
  // Each line is out as soon as it is printed, also into a pipe whose reader
  // may kill the run while it waits.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  if (argc < 2 || !is_command_character(argv[1][0])) {
    print_usage(program_name(argc, argv));
    std::exit(status_after_output(0));
  }

  std::optional<micom_port> port = micom_port_open();
  if (!port) {
    std::puts("MICOM OPEN FAILED");
    std::exit(status_after_output(-1));
  }

  const char letter = fold_command_letter(argv[1][0]);
  micom_send_command(*port, letter);
  if (command_expects_reply(letter)) {
    const micom_reply reply = micom_read_reply(*port);
    micom_print_reply(reply.bytes, reply.count);
  }
  micom_port_close(*port);
  std::exit(status_after_output(0));
}
