#!/usr/bin/python3
"""Port servers that fail in one way each, for the tests, on 127.0.0.1.

    rfc2217_faults.py MODE PORT LOG

A well-behaved server agrees to COM-PORT-OPTION, BINARY and SUPPRESS-GO-AHEAD
and replies to every setting with its value; the modes break it:
  refuse     DONT COM-PORT-OPTION
  binary     DONT BINARY
  silent     reads and never answers
  baud       replies 9600 to a baud rate that is set
  busy       "Port already in use" and a close, at once
  busy-once  so for the first connection, well-behaved for the next
  query      closes on the baud rate question (the value 0)
  unanswered never answers the baud rate question
  chatty     sends device bytes at once, before any answer, and more mixed
             with Telnet commands once the settings are replied, then logs
             every command it gets
LOG gets one line per connection's end, and in chatty mode the commands.
"""
import socket
import sys

IAC, DONT, DO, WONT, WILL, SB, SE, NOP = 255, 254, 253, 252, 251, 250, 240, 241
COM_PORT, BINARY, SGA, ECHO = 44, 0, 3, 1

# Device bytes with commands among them: a NOP, a new offer (ECHO), a doubled
# 0xFF, notifications, flow control suspend and resume, a repeated DO BINARY.
CHATTY = bytes([ord("a"), ord("b"), IAC, NOP, IAC, WILL, ECHO, IAC, IAC, 13, 0,
                IAC, SB, COM_PORT, 107, 0x30, IAC, SE, ord("c"),
                IAC, SB, COM_PORT, 108, IAC, SE, IAC, SB, COM_PORT, 109, IAC, SE,
                IAC, DO, BINARY, ord("d"), IAC, IAC])


def commands(data, state):
    """Telnet commands and subnegotiations in data; state carries a partial
    one over to the next call."""
    buf = state.pop() + data if state else data
    out = []
    i = 0
    while i < len(buf):
        if buf[i] != IAC:
            i += 1
            continue
        if i + 1 >= len(buf):
            break
        verb = buf[i + 1]
        if verb == IAC:
            i += 2
        elif verb in (WILL, WONT, DO, DONT):
            if i + 2 >= len(buf):
                break
            out.append((verb, buf[i + 2]))
            i += 3
        elif verb == SB:
            end = buf.find(bytes([IAC, SE]), i + 2)
            if end < 0:
                break
            out.append((SB, buf[i + 2:end].replace(bytes([IAC, IAC]), bytes([IAC]))))
            i = end + 2
        else:
            i += 2
    state.append(buf[i:])
    return out


def answer(mode, verb, value):
    """What a server in mode answers to one command; None closes."""
    if verb == WILL:
        refused = (mode == "refuse" and value == COM_PORT) or (mode == "binary" and value == BINARY)
        return bytes([IAC, DONT if refused else DO, value])
    if verb == DO:
        return bytes([IAC, WILL, value])
    if verb != SB or value[:1] != bytes([COM_PORT]) or len(value) < 3:
        return b""
    command, setting = value[1], value[2:]
    if command == 1 and setting == bytes(4) and mode == "query":
        return None
    if command == 1 and setting == bytes(4) and mode == "unanswered":
        return b""
    if command == 1 and setting != bytes(4) and mode == "baud":
        setting = (9600).to_bytes(4, "big")
    return bytes([IAC, SB, COM_PORT, command + 100]) + setting.replace(b"\xff", b"\xff\xff") + bytes([IAC, SE])


def serve(conn, mode, log):
    state = []
    replies = 0
    if mode == "chatty":
        conn.sendall(bytes([ord("<"), IAC, IAC, ord(">")]))
    while True:
        data = conn.recv(65536)
        if not data:
            return
        for verb, value in commands(data, state):
            if mode == "chatty" and replies >= 7:
                log.write("%d %s\n" % (verb, value if isinstance(value, int) else list(value)))
            out = answer(mode, verb, value)
            if out is None:
                return
            conn.sendall(out)
            if verb == SB and out:
                replies += 1
                if mode == "chatty" and replies == 7:
                    conn.sendall(CHATTY)


def main():
    mode, port, logpath = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(1)
    connections = 0
    while True:
        conn, _ = listener.accept()
        connections += 1
        with conn, open(logpath, "a") as log:
            if mode == "busy" or (mode == "busy-once" and connections == 1):
                conn.sendall(b"\r\nPort already in use\x07\r\nbye\r\n")
            elif mode != "silent":
                serve(conn, mode, log)
            else:
                while conn.recv(65536):
                    pass
            log.write("closed\n")


if __name__ == "__main__":
    main()
