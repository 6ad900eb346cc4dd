// SPDX-License-Identifier: MIT
// What the run needs of its standard descriptors and standard output.
#pragma once

// Opens every closed one of descriptors 0, 1 and 2 on /dev/null, so that the
// line, opened later, can never become one of them and receive the tool's own
// text. False when one stays closed.
bool open_closed_standard_descriptors();

// The exit status to end with: `status`, or 1 when a line of standard output
// could not be written (a full disk, a reader gone while SIGPIPE is ignored),
// so that a script never takes lost output for a reply. A failure status
// stays as it is.
int status_after_output(int status);
