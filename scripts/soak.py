#!/usr/bin/env python3
"""Hostile-datagram and flood soak of korvan-cli agent, run by hand (not part of the tests).

Serves a copy of the demo home on 127.0.0.1 and, in three runs of the agent:
  1. sends N malformed datagrams (random bytes, truncated and mutated valid requests), then
     checks that the agent still answers a Get;
  2. floods it with valid Get requests for a given time without --debug;
  3. the same with --debug, showing that debug.out and debug.out.1 stay within DEBUGMAXSIZE.
Each run reports what was sent and answered, whether the agent died, its RSS (VmRSS) at start
and end, and the agent's output lines (status lines of malformed datagrams are cut to a few a
second).

The full run (533,800 hostile datagrams, two-minute floods, the default DEBUGMAXSIZE of 100 MB):
    cmake --build build --target korvan-cli korvimo_home
    scripts/soak.py --home build/home
A shorter one for a shared machine:
    scripts/soak.py --home build/home --hostile 100000 --flood-seconds 20 --debug-max-size 10

Python 3 standard library only.
"""

import argparse
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

COMMUNITY = b"vintor"
SYS_NAME = [1, 3, 6, 1, 2, 1, 1, 5, 0]


def ber_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, body):
    return bytes([tag]) + ber_length(len(body)) + body


def ber_int(n):
    return tlv(0x02, n.to_bytes(max(1, (n.bit_length() + 8) // 8), "big", signed=True))


def ber_oid(ids):
    body = bytearray([ids[0] * 40 + ids[1]])
    for sub in ids[2:]:
        chunk = [sub & 0x7F]
        sub >>= 7
        while sub:
            chunk.append(0x80 | (sub & 0x7F))
            sub >>= 7
        body += bytes(reversed(chunk))
    return tlv(0x06, bytes(body))


def get_request(request_id, version=1, pdu_type=0xA0):
    binding = tlv(0x30, ber_oid(SYS_NAME) + b"\x05\x00")
    pdu = tlv(pdu_type, ber_int(request_id) + ber_int(0) + ber_int(0) + tlv(0x30, binding))
    return tlv(0x30, ber_int(version) + tlv(0x04, COMMUNITY) + pdu)


def hostile_datagram(rng):
    kind = rng.randrange(3)
    if kind == 0:
        return rng.randbytes(rng.randrange(1, 200))
    valid = get_request(rng.randrange(1 << 31), rng.choice([0, 1]),
                        rng.choice([0xA0, 0xA1, 0xA3, 0xA5]))
    if kind == 1:
        return valid[: rng.randrange(1, len(valid))]
    mutated = bytearray(valid)
    for _ in range(rng.randrange(1, 4)):
        mutated[rng.randrange(len(mutated))] = rng.randrange(256)
    return bytes(mutated)


def rss_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


class Agent:
    def __init__(self, home, port, debug, out_path):
        args = [os.path.join(home, "bin", "korvan-cli"), "--home", home, "agent",
                "--address", "127.0.0.1", "--port", str(port),
                "--debug" if debug else "--no-debug"]
        self.out = open(out_path, "w")
        self.process = subprocess.Popen(args, stdout=self.out, stderr=subprocess.STDOUT)
        self.out_path = out_path
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and "(UDP port" not in self.output():
            if self.process.poll() is not None:
                raise SystemExit(f"soak: the agent did not start:\n{self.output()}")
            time.sleep(0.05)

    def output(self):
        with open(self.out_path, errors="replace") as f:
            return f.read()

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        if self.alive():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.out.close()
        return self.process.returncode


def answers(port, tries=3):
    # A Response to this Get, whatever sysName holds now: the hostile datagrams include
    # mutated Sets, some of them well-formed, which may have changed it.
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(1)
        for attempt in range(tries):
            request_id = ber_int(424242 + attempt)
            s.sendto(get_request(424242 + attempt), ("127.0.0.1", port))
            try:
                reply, _ = s.recvfrom(2000)
                if b"\xa2" in reply and request_id in reply:
                    return True
            except socket.timeout:
                pass
    return False


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def hostile_run(home, count, seed):
    port = free_port()
    agent = Agent(home, port, False, os.path.join(home, "hostile.out"))
    pid = agent.process.pid
    rss_start = rss_kb(pid)
    rng = random.Random(seed)
    sent = 0
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        while sent < count and agent.alive():
            for _ in range(min(1000, count - sent)):
                try:
                    s.sendto(hostile_datagram(rng), ("127.0.0.1", port))
                    sent += 1
                except OSError:
                    pass
            time.sleep(0.001)  # lets the agent keep up rather than measure drops
    time.sleep(1.5)  # the last suppressed counts
    crashed = not agent.alive()
    answered = not crashed and answers(port)
    rss_end = rss_kb(pid)
    output_lines = agent.output().count("\n")
    status = agent.stop()
    print(f"hostile: {sent} datagrams sent; agent {'CRASHED (status %s)' % status if crashed else 'alive'};"
          f" answers a Get afterwards: {'yes' if answered else 'NO'}; exit status {status};"
          f" RSS {rss_start} kB -> {rss_end} kB; {output_lines} output lines")
    return not crashed and answered


def flood_run(home, seconds, debug, window=32):
    for name in ("debug.out", "debug.out.1"):
        try:
            os.remove(os.path.join(home, "agent", name))
        except FileNotFoundError:
            pass
    port = free_port()
    agent = Agent(home, port, debug, os.path.join(home, f"flood-{int(debug)}.out"))
    pid = agent.process.pid
    rss_start = rss_kb(pid)
    sent = answered = 0
    largest_log = 0
    end = time.monotonic() + seconds
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.2)
        target = ("127.0.0.1", port)
        in_flight = 0
        next_check = time.monotonic() + 1
        while time.monotonic() < end and agent.alive():
            while in_flight < window:
                s.sendto(get_request(sent & 0x7FFFFFFF), target)
                sent += 1
                in_flight += 1
            try:
                s.recvfrom(2000)
                answered += 1
                in_flight -= 1
            except socket.timeout:
                in_flight = 0  # lost ones are given up
            if debug and time.monotonic() >= next_check:
                next_check += 1
                largest_log = max(largest_log, log_size(home))
    crashed = not agent.alive()
    rss_end = rss_kb(pid)
    log = log_size(home)
    status = agent.stop()
    line = (f"flood {'with' if debug else 'without'} --debug, {seconds} s: {sent} requests sent,"
            f" {answered} answered ({answered / seconds:.0f}/s); agent"
            f" {'CRASHED' if crashed else 'alive'}; exit status {status};"
            f" RSS {rss_start} kB -> {rss_end} kB")
    if debug:
        sizes = {name: file_size(os.path.join(home, "agent", name))
                 for name in ("debug.out", "debug.out.1")}
        line += (f"; debug.out {sizes['debug.out']} B, debug.out.1 {sizes['debug.out.1']} B"
                 f" (largest sum seen {max(largest_log, log)} B)")
    print(line)
    return not crashed


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def log_size(home):
    return sum(file_size(os.path.join(home, "agent", n)) for n in ("debug.out", "debug.out.1"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--home", default="build/home", help="the built home to copy")
    parser.add_argument("--hostile", type=int, default=533800, help="malformed datagrams")
    parser.add_argument("--flood-seconds", type=float, default=120, help="length of each flood")
    parser.add_argument("--debug-max-size", type=int, default=None,
                        help="DEBUGMAXSIZE (MB) for the run; default: the home's (100)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", action="store_true", help="keep the home copy")
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix="korvimo-soak-")
    home = os.path.join(work, "home")
    for sub in ("bin", "agent", "mibs", "docs"):
        source = os.path.join(options.home, sub)
        if os.path.isdir(source):
            shutil.copytree(source, os.path.join(home, sub))
    if options.debug_max_size is not None:
        with open(os.path.join(home, "bin", "korvan.ini"), "a") as ini:
            ini.write(f"DEBUGMAXSIZE={options.debug_max_size}\r\n")
    print(f"soak: home copy {home}")
    ok = hostile_run(home, options.hostile, options.seed)
    ok = flood_run(home, options.flood_seconds, False) and ok
    ok = flood_run(home, options.flood_seconds, True) and ok
    if options.keep:
        print(f"soak: kept {home}")
    else:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
