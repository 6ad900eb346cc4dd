// SPDX-License-Identifier: MIT
// The MICOM at the far end of an emulator's serial chardev: a unix stream
// socket the chardev connects to, or a pseudo-terminal whose slave the
// chardev opens as a host serial device.
#pragma once

#include "sim_log.h"
#include "sim_options.h"

// Listens at o.socket_path (or, with o.socket_is_pty_link, links a new
// pseudo-terminal's slave there), takes one peer, answers it until the peer
// closes (status 0). A signal ends it with 128 + signal; a setup failure with
// 2 and a message on standard error. The socket or link is removed on the
// way out.
int run_socket_session(const sim_options& o, sim_log* log);
