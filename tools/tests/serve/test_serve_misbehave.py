"""Clients that misbehave get an error or a close, and never hold up or break
the others. Everything runs on the loopback address with short timeouts."""

import socket
import time

import pytest
from conftest import HOST, Server

IDLE = 2  # seconds the server waits on a silent or stalled client


@pytest.fixture
def strict():
    s = Server("--idle-timeout", str(IDLE), "--max-clients", "6", "--threads", "2")
    yield s
    assert s.stop() == 0


def served(server):
    """A well-behaved client still gets its definitions."""
    c = server.connect()
    reply = c.reply("DEFINE lexicon apple")
    c.close()
    return reply[0] == "150 1 definition retrieved" and reply[-1] == "250 ok"


def closed_by_server(sock, timeout):
    sock.settimeout(timeout)
    data = b""
    try:
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return True, data
            data += chunk
    except socket.timeout:
        return False, data
    except ConnectionResetError:
        return True, data


def test_garbage_is_answered_with_errors(strict):
    c = strict.connect()
    for junk, code in [(b"\x00\x01\xff\xfe garbage\r\n", "501"), (b"FROB the knob\r\n", "500"),
                       (b"DEFINE lexicon \"unclosed\r\n", "501"), (b"MATCH * re (\r\n", "501"),
                       (b"MATCH * re (a*)*\\1\r\n", "501"), (b"\r\n", "500")]:
        c.send(junk)
        assert c.line()[:3] == code, junk
    assert c.reply("DEFINE lexicon apple")[-1] == "250 ok"
    c.close()
    assert served(strict)


def test_overlong_line_gets_an_error_and_a_close(strict):
    c = strict.connect()
    c.send(b"DEFINE * " + b"a" * 1013 + b"\r\n")  # 1,024 bytes with the line end: allowed
    assert c.line() == "552 no match"
    c.send(b"DEFINE * " + b"a" * 2000 + b"\r\n")
    assert c.line().startswith("500 line too long")
    assert closed_by_server(c.sock, 5)[0]
    assert served(strict)


def test_half_closed_client_still_gets_its_answer(strict):
    c = strict.connect()
    c.send("DEFINE lexicon apple")
    c.sock.shutdown(socket.SHUT_WR)
    done, data = closed_by_server(c.sock, 5)
    assert done and b"apple (noun)" in data and data.endswith(b"250 ok\r\n")
    assert served(strict)


def test_stalled_clients_are_closed_without_holding_others(strict):
    silent = strict.connect()
    half_line = strict.connect()
    half_line.send(b"DEFI")
    no_reader = strict.connect()
    no_reader.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    no_reader.sock.setblocking(False)
    sent = 0
    try:
        for _ in range(20000):  # answers pile up unread until the server's writes block
            sent += no_reader.sock.send(b"SHOW INFO glossary\r\n")
    except BlockingIOError:
        pass
    began = time.monotonic()
    assert served(strict)
    assert time.monotonic() - began < IDLE  # served while the others stall
    for stalled in (silent, half_line, no_reader):
        stalled.sock.setblocking(True)
        assert closed_by_server(stalled.sock, IDLE * 5)[0]
    assert served(strict)


def test_too_many_clients_are_told_so(strict):
    held = [strict.connect() for _ in range(6)]
    extra = socket.create_connection((HOST, strict.port), timeout=5)
    assert extra.makefile("rb").readline().startswith(b"420 ")
    for c in held:
        c.close()
    time.sleep(0.2)
    assert served(strict)


def test_stops_cleanly_on_sigterm_with_clients_connected():
    s = Server()
    idle = s.connect()
    busy = s.connect()
    busy.send(b"DEFI")
    assert s.stop() == 0
    for c in (idle, busy):
        done, data = closed_by_server(c.sock, 5)
        assert done and data in (b"", b"421 server shutting down\r\n")
