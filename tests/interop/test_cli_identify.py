"""hylo-cli identify against a unit played by this script: on 127.0.0.1 (ephemeral port) and on
a pseudo-terminal."""
import os
import socket
import subprocess
import sys
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wire import crc16_arc, frame, identify_payload, split_frames, Checks, json_or_empty  # noqa: E402

IDENTIFY = bytes.fromhex("2A45000019CD")


def answer(read, write, seen: list, unit: int, stop: threading.Event) -> None:
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
        frames, buf = split_frames(buf + data)
        for one in frames:
            seen.append(one)
            if crc16_arc(one) == 0 and one[1:2] == b"E":
                write(frame("E", identify_payload(unit)))


def serve_tcp(server: socket.socket, seen: list, stop: threading.Event) -> None:
    server.settimeout(10)
    try:
        conn, _ = server.accept()
    except OSError:
        return
    conn.settimeout(5)
    with conn:
        answer(lambda: conn.recv(4096), conn.sendall, seen, 1234, stop)


def identify(cli, *args):
    return subprocess.run([cli, "identify", *args], capture_output=True, text=True, timeout=60)


def over_tcp(check, cli, build) -> None:
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    port = server.getsockname()[1]
    seen: list = []
    stop = threading.Event()
    threading.Thread(target=serve_tcp, args=(server, seen, stop), daemon=True).start()
    settings = os.path.join(build, "interop-cli-settings")
    result = identify(cli, "--host", "127.0.0.1", "--port", str(port), "--timeout-ms", "500", "--settings-dir", settings)
    stop.set()
    server.close()

    check(result.returncode == 0, f"tcp: exit 0 (got {result.returncode}, stderr {result.stderr!r})")
    check(bool(seen) and seen[0] == IDENTIFY, "tcp: the identify frame is 2A 45 00 00 19 CD")
    out = json_or_empty(result.stdout)
    check(out.get("modelCode") == 5 and out.get("model") == "Aurisond HF", f"tcp: model in {out}")
    check(out.get("unitNumber") == 1234, "tcp: unit number")
    check(out.get("firmware") == "v2.1.0" and out.get("firmwareVersion") == 0x20100, "tcp: firmware")
    check(out.get("status") == "Ready" and out.get("link") == "ethernet" and out.get("port") == port,
          "tcp: status, link, port")
    check(os.path.exists(os.path.join(settings, "Hylo.ini")), "tcp: settings written to --settings-dir")
    # Nothing answering: a clear message and a non-zero exit.
    dead = socket.socket()
    dead.bind(("127.0.0.1", 0))
    dead_port = dead.getsockname()[1]
    dead.close()
    refused = identify(cli, "--host", "127.0.0.1", "--port", str(dead_port), "--timeout-ms", "200", "--settings-dir",
                       settings)
    check(refused.returncode != 0 and "no unit answered" in refused.stderr, "tcp: nothing answering fails clearly")


def over_serial(check, cli, build) -> None:
    master, slave = os.openpty()
    tty.setraw(master)
    device = os.ttyname(slave)
    seen: list = []
    stop = threading.Event()
    threading.Thread(target=answer, args=(lambda: os.read(master, 4096), lambda b: os.write(master, b), seen, 4711,
                                          stop), daemon=True).start()
    settings = os.path.join(build, "interop-cli-serial-settings")
    result = identify(cli, "--serial", device, "--baud", "1250000", "--timeout-ms", "500", "--settings-dir", settings)
    stop.set()

    check(result.returncode == 0, f"serial: exit 0 (got {result.returncode}, stderr {result.stderr!r})")
    check(bool(seen) and seen[0] == IDENTIFY, "serial: the identify frame came over the pty")
    out = json_or_empty(result.stdout)
    check(out.get("modelCode") == 5 and out.get("unitNumber") == 4711, f"serial: unit in {out}")
    check(out.get("link") == "serial" and out.get("device") == device and out.get("baud") == 1250000,
          "serial: link, device and baud")
    with open(os.path.join(settings, "Hylo.ini"), encoding="latin-1") as f:
        ini = f.read()
    check(f'Comm Serial Device = "{device}"' in ini, "serial: the device is kept in the settings")
    missing = identify(cli, "--serial", "/dev/hylo-no-such-port", "--timeout-ms", "200", "--settings-dir", settings)
    check(missing.returncode != 0 and "no unit answered" in missing.stderr, "serial: a missing device fails clearly")


def main() -> int:
    build = sys.argv[1]
    cli = os.path.join(build, "cli", "hylo-cli")
    check = Checks()
    over_tcp(check, cli, build)
    over_serial(check, cli, build)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
