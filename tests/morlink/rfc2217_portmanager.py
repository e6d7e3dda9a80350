#!/usr/bin/python3
"""A second port server for the tests: pyserial's RFC 2217 PortManager in
front of a pseudo-terminal, one client at a time, on 127.0.0.1.

    rfc2217_portmanager.py TERMINAL PORT LOG

The terminal takes the baud rate, the stop bits and XON/XOFF; data bits and
parity, which a pseudo-terminal cannot take, are only kept and logged, as is
everything the client asks for (LOG, one line per setting).
"""
import logging
import select
import socket
import sys

import serial
import serial.rfc2217


class Terminal:
    """The serial port that PortManager drives: the pseudo-terminal for data,
    speed, stop bits and XON/XOFF; the rest kept here."""

    def __init__(self, path):
        self.port = serial.Serial(path, 9600, timeout=0)
        self.bytesize = serial.EIGHTBITS
        self.parity = serial.PARITY_NONE
        self.rtscts = False
        self.dtr = True
        self.rts = True
        self.break_condition = False
        self.cts = self.dsr = self.ri = self.cd = False

    baudrate = property(lambda self: self.port.baudrate, lambda self, v: setattr(self.port, "baudrate", v))
    stopbits = property(lambda self: self.port.stopbits, lambda self, v: setattr(self.port, "stopbits", v))
    xonxoff = property(lambda self: self.port.xonxoff, lambda self, v: setattr(self.port, "xonxoff", v))

    def reset_input_buffer(self):
        self.port.reset_input_buffer()

    def reset_output_buffer(self):
        self.port.reset_output_buffer()


class Connection:
    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        self.sock.sendall(data)


def serve(terminal, conn, logger):
    manager = serial.rfc2217.PortManager(terminal, Connection(conn), logger)
    fd = terminal.port.fileno()
    while True:
        ready, _, _ = select.select([conn, fd], [], [])
        if conn in ready:
            data = conn.recv(65536)
            if not data:
                return
            terminal.port.write(b"".join(manager.filter(data)))
        if fd in ready:
            data = terminal.port.read(65536)
            if data:
                conn.sendall(b"".join(manager.escape(data)))


def main():
    path, port, log = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    logging.basicConfig(filename=log, level=logging.INFO, format="%(message)s")
    logger = logging.getLogger("portmanager")
    terminal = Terminal(path)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(1)
    while True:
        conn, _ = listener.accept()
        with conn:
            try:
                serve(terminal, conn, logger)
            except OSError:
                pass
        for handler in logger.handlers + logging.getLogger().handlers:
            handler.flush()


if __name__ == "__main__":
    main()
