"""Many clients at once on the loopback address, bounded in count and time:
every answer must be the one a lone client gets. Prints the throughput and
the 99th-percentile latency."""

import os
import threading
import time

from conftest import Server

CLIENTS = int(os.environ.get("ZAV_LOAD_CLIENTS", "50"))
COMMANDS = int(os.environ.get("ZAV_LOAD_COMMANDS", "1000"))
TIME_LIMIT = 300  # seconds for the whole run
MIX = ["DEFINE * bank", "DEFINE lexicon apple", "DEFINE glossary \"bone folder\"", "DEFINE ! gathering",
       "MATCH * prefix b", "MATCH * lev bnak", "MATCH lexicon suffix er", "MATCH * re ^[a-c]",
       "MATCH glossary exact FOLIO", "DEFINE * nothing", "SHOW DB", "SHOW INFO glossary"]


def test_many_clients_get_right_answers(capsys):
    server = Server("--threads", "4", "--max-per-address", str(CLIENTS + 1), quiet=True)
    try:
        lone = server.connect()
        expected = {command: lone.reply(command) for command in MIX}
        lone.close()
        assert all(expected[c][-1].startswith(("250", "552")) for c in MIX)

        deadline = time.monotonic() + TIME_LIMIT
        latencies, failures = [], []
        lock = threading.Lock()

        def client(n):
            mine, wrong = [], []
            try:
                c = server.connect()
                for i in range(COMMANDS):
                    if time.monotonic() > deadline:
                        wrong.append("time limit reached")
                        break
                    command = MIX[(n + i) % len(MIX)]
                    began = time.perf_counter()
                    reply = c.reply(command)
                    mine.append(time.perf_counter() - began)
                    if reply != expected[command]:
                        wrong.append(f"{command}: {reply[:3]}")
                c.reply("QUIT")
                c.close()
            except Exception as error:  # a dropped connection is a failure of the run
                wrong.append(repr(error))
            with lock:
                latencies.extend(mine)
                failures.extend(wrong)

        began = time.perf_counter()
        threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENTS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(TIME_LIMIT + 10)
        elapsed = time.perf_counter() - began
    finally:
        assert server.stop() == 0

    assert not failures, failures[:10]
    assert len(latencies) == CLIENTS * COMMANDS
    latencies.sort()
    p50 = latencies[len(latencies) // 2] * 1000
    p99 = latencies[int(len(latencies) * 0.99)] * 1000
    figures = (f"zav serve load: {CLIENTS} clients x {COMMANDS} commands in {elapsed:.2f} s: "
               f"{len(latencies) / elapsed:.0f} commands/s, latency p50 {p50:.2f} ms, p99 {p99:.2f} ms")
    with capsys.disabled():
        print("\n" + figures)
    if os.environ.get("ZAV_LOAD_REPORT"):
        with open(os.environ["ZAV_LOAD_REPORT"], "w") as report:
            report.write(figures + "\n")
