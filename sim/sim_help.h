// SPDX-License-Identifier: MIT
// The text of micom-sim --help.
#pragma once

extern const char kSimHelp[];
