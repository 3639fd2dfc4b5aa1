"""Clients that misbehave get an error or a close, and never hold up or break
the others: a new client is greeted at once and answered soon while others
attack. Everything runs on the loopback address with short timeouts."""

import random
import signal
import socket
import subprocess
import time

import pytest
from conftest import HOST, ZAV, Client, Server

IDLE = 2  # seconds the server waits on a silent or stalled client
# Seconds of work on the big book (the expression tries each position of
# each 200-letter headword); the patterns are accepted, only their cost is high.
SLOW = 'MATCH big re "(a|b|z)*a.{400}b"'


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
                       (b"MATCH * re (a*)*\\1\r\n", "501"), (b"MATCH * re a{1001}\r\n", "501"), (b"\r\n", "500")]:
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


@pytest.fixture(scope="module")
def big_book(tmp_path_factory):
    """20,000 headwords of 200 letters, and "apple"."""
    folder, r = tmp_path_factory.mktemp("big"), random.Random(7)
    words = ["".join(r.choices("abz", k=200)) for _ in range(20000)]
    (folder / "big.tsv").write_text("apple\ta fruit\n" + "".join(w + "\tx\n" for w in words))
    subprocess.run([ZAV, "import", "tsv", "--quiet", str(folder / "big.tsv"), str(folder / "big.zav")],
                   check=True, timeout=300)
    return str(folder / "big.zav")


def attacker(server, command=None):
    c = server.connect(timeout=30)
    if command:
        c.send(command)
    return c


def slow_patterns(server):
    return [attacker(server, SLOW) for _ in range(2)]


def hang_ups(server):
    for _ in range(100):
        attacker(server, SLOW).close()
    return []


def idle_connections(server):
    held = []
    for _ in range(100):  # past the 16 allowed from one address each is told 420 and closed
        s = socket.create_connection((HOST, server.port), timeout=30)
        held.append(Client(s))
    return held


@pytest.mark.parametrize("attack,options", [
    (slow_patterns, ["--threads", "1", "--command-timeout", "1"]),
    (hang_ups, ["--threads", "2", "--max-clients", "300", "--max-per-address", "200"]),
    (idle_connections, []),
])
def test_new_client_is_greeted_and_answered_during_an_attack(big_book, attack, options):
    server = Server(*options, books=[big_book], quiet=True)
    try:
        attackers = attack(server)
        began = time.monotonic()
        s = socket.socket()
        s.settimeout(30)
        s.bind(("127.0.0.2", 0))  # another address than the attackers'
        s.connect((HOST, server.port))
        fresh = Client(s)
        assert fresh.line().startswith("220 ")
        greeted = time.monotonic() - began
        assert fresh.reply("DEFINE big apple")[-1] == "250 ok"
        answered = time.monotonic() - began
        assert greeted < 2 and answered < 10, (greeted, answered)
        if attack is slow_patterns:  # each gets the time-out status, not a partial answer
            assert all(c.line().startswith("420 ") for c in attackers)
    finally:
        assert server.stop() == 0


def test_a_full_server_closes_idle_clients_sooner():
    crowded = Server("--max-clients", "8", "--max-per-address", "8")  # idle time-out 60 s
    try:
        held = [crowded.connect() for _ in range(8)]
        began = time.monotonic()
        while True:
            s = socket.create_connection((HOST, crowded.port), timeout=10)
            greeting = s.makefile("rb").readline()
            s.close()
            if greeting.startswith(b"220 "):
                break
            assert time.monotonic() - began < 10, "idle clients were not closed"
            time.sleep(0.2)
        assert closed_by_server(held[0].sock, 1)[0]  # the one idle longest
    finally:
        assert crowded.stop() == 0


def test_sigterm_stops_a_busy_server_at_once(big_book):
    server = Server("--threads", "2", "--command-timeout", "600", books=[big_book], quiet=True)
    busy = [attacker(server, SLOW) for _ in range(4)]
    time.sleep(0.5)  # two running, two waiting
    began = time.monotonic()
    server.process.send_signal(signal.SIGTERM)
    assert server.stop() == 0
    assert time.monotonic() - began < 2
    for c in busy:
        assert closed_by_server(c.sock, 5)[0]
