"""hylo-cli identify against a unit played by this script from the wire format alone, on
127.0.0.1 (ephemeral port) and on a pseudo-terminal; then with nothing answering."""
import json
import os
import socket
import struct
import subprocess
import sys
import threading
import time
import tty

IDENTIFY = bytes.fromhex("2A45000019CD")


def crc16_arc(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(letter, payload):
    head = b"*" + letter.encode() + struct.pack("<H", len(payload)) + payload
    return head + struct.pack("<H", crc16_arc(head))


def identify_payload(unit):
    p = bytearray(43)
    p[0:2] = struct.pack("<H", unit)
    p[2:8] = b"v2.1.0"
    p[10:23] = b"Hydrophone HF"
    p[28], p[32], p[42] = 5, 3, 3
    return bytes(p)


def answer(read, write, seen, unit, stop):
    """Answers every identify with a good CRC until `read` ends, `stop` is set or 30 s pass."""
    buf = b""
    deadline = time.monotonic() + 30
    while not stop.is_set() and time.monotonic() < deadline:
        try:
            data = read()
        except OSError:
            time.sleep(0.01)  # no reader on the other side yet, or it just closed
            continue
        if not data:
            break
        buf += data
        while len(buf) >= 6 and len(buf) >= struct.unpack("<H", buf[2:4])[0] + 6:
            n = struct.unpack("<H", buf[2:4])[0] + 6
            one, buf = buf[:n], buf[n:]
            seen.append(one)
            if crc16_arc(one) == 0 and one[1:2] == b"E":
                write(frame("E", identify_payload(unit)))


def serve_tcp(server, seen, unit, stop):
    server.settimeout(10)
    try:
        conn, _ = server.accept()
    except OSError:
        return
    conn.settimeout(5)
    with conn:
        answer(lambda: conn.recv(4096), conn.sendall, seen, unit, stop)


def tcp_unit(seen, stop):
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    port = server.getsockname()[1]
    threading.Thread(target=serve_tcp, args=(server, seen, 1234, stop), daemon=True).start()
    return (["--host", "127.0.0.1", "--port", str(port)], {"unitNumber": 1234, "link": "ethernet", "port": port},
            server.close)


def pty_unit(seen, stop):
    master, slave = os.openpty()
    tty.setraw(master)
    device = os.ttyname(slave)
    threading.Thread(target=answer, args=(lambda: os.read(master, 4096), lambda b: os.write(master, b), seen, 4711,
                                          stop), daemon=True).start()
    return (["--serial", device, "--baud", "1250000"],
            {"unitNumber": 4711, "link": "serial", "device": device, "baud": 1250000}, lambda: None)


def main():
    build = sys.argv[1]
    cli = os.path.join(build, "cli", "hylo-cli")
    failures = 0

    def check(ok, what):
        nonlocal failures
        print(("ok   " if ok else "FAIL ") + what)
        failures += 0 if ok else 1

    def identify(*args):
        return subprocess.run([cli, "identify", *args, "--settings-dir", settings], capture_output=True, text=True,
                              timeout=60)

    for name, start in (("tcp", tcp_unit), ("serial", pty_unit)):
        settings = os.path.join(build, f"interop-cli-{name}-settings")
        seen, stop = [], threading.Event()
        link, expected, close = start(seen, stop)
        result = identify(*link, "--timeout-ms", "500")
        stop.set()
        close()
        check(result.returncode == 0, f"{name}: exit 0 (got {result.returncode}, stderr {result.stderr!r})")
        check(bool(seen) and seen[0] == IDENTIFY, f"{name}: the identify frame is 2A 45 00 00 19 CD")
        try:
            out = json.loads(result.stdout)
        except ValueError:
            out = {}
        expected.update({"modelCode": 5, "model": "Aurisond HF", "firmware": "v2.1.0", "firmwareVersion": 0x20100,
                         "status": "Ready"})
        check(all(out.get(k) == v for k, v in expected.items()), f"{name}: {out} holds {expected}")
        ini_path = os.path.join(settings, "Hylo.ini")
        ini = open(ini_path, encoding="latin-1").read() if os.path.exists(ini_path) else ""
        check(ini and (name == "tcp" or f'Comm Serial Device = "{expected["device"]}"' in ini),
              f"{name}: settings written to --settings-dir, with the serial device")

    # Nothing answering: a clear message and a non-zero exit.
    dead = socket.socket()
    dead.bind(("127.0.0.1", 0))
    dead_port = dead.getsockname()[1]
    dead.close()
    for link in (["--host", "127.0.0.1", "--port", str(dead_port)], ["--serial", "/dev/hylo-no-such-port"]):
        refused = identify(*link, "--timeout-ms", "200")
        check(refused.returncode != 0 and "no unit answered" in refused.stderr, f"{link[1]}: nothing answering fails")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
