// SPDX-License-Identifier: MIT
// The MICOM on a unix stream socket, for a UART whose far end is a socket
// (an emulator's serial chardev connects to it).
#pragma once

#include "sim_log.h"
#include "sim_options.h"

// Listens at o.socket_path, accepts one connection, answers on it until the
// peer closes (status 0). A signal ends it with 128 + signal; a setup
// failure with 2 and a message on standard error. The socket file is
// removed on the way out.
int run_socket_session(const SimOptions& o, SimLog* log);
