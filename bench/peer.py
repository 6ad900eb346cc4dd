#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""One V exchange with the MICOM, as a user would script it with pyserial
instead of running micom: open at 57600 8N1, RTS clear, write, RTS set,
read four bytes, print them in hex."""

import errno

import serial


def set_rts(port, level):
    # The sim's pseudo-terminal has no modem lines and refuses the ioctl, as
    # micom's ignored TIOCMBIC/TIOCMBIS are refused there; a UART takes it.
    try:
        port.rts = level
    except OSError as e:
        if e.errno not in (errno.ENOTTY, errno.EINVAL):
            raise


port = serial.Serial("/dev/ttyS2", 57600)  # no timeout: read() waits for all 4
set_rts(port, False)
port.write(b"V")
set_rts(port, True)
reply = port.read(4)
print(reply.hex(" ").upper())
port.close()
