"""hylo-cli identify --serial against a unit played by this script on a pseudo-terminal."""
import os
import subprocess
import sys
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wire import crc16_arc, frame, identify_payload, split_frames, Checks, json_or_empty  # noqa: E402


def serve(master: int, seen: list, stop: threading.Event) -> None:
    buf = b""
    deadline = time.monotonic() + 30
    while not stop.is_set() and time.monotonic() < deadline:
        try:
            data = os.read(master, 4096)
        except OSError:
            time.sleep(0.01)  # no reader on the other side yet, or it just closed
            continue
        buf += data
        frames, buf = split_frames(buf)
        for one in frames:
            seen.append(one)
            if crc16_arc(one) == 0 and one[1:2] == b"E":
                os.write(master, frame("E", identify_payload(4711)))


def main() -> int:
    build = sys.argv[1]
    cli = os.path.join(build, "cli", "hylo-cli")
    master, slave = os.openpty()
    tty.setraw(master)
    device = os.ttyname(slave)
    seen: list = []
    stop = threading.Event()
    t = threading.Thread(target=serve, args=(master, seen, stop), daemon=True)
    t.start()
    settings = os.path.join(build, "interop-cli-serial-settings")
    result = subprocess.run([cli, "identify", "--serial", device, "--baud", "1250000", "--timeout-ms", "500",
                             "--settings-dir", settings], capture_output=True, text=True, timeout=60)
    stop.set()
    check = Checks()

    check(result.returncode == 0, f"exit 0 (got {result.returncode}, stderr {result.stderr!r})")
    check(bool(seen) and seen[0] == bytes.fromhex("2A45000019CD"), "the identify frame came over the pty")
    out = json_or_empty(result.stdout)
    check(out.get("modelCode") == 5 and out.get("unitNumber") == 4711, f"unit in {out}")
    check(out.get("link") == "serial" and out.get("device") == device and out.get("baud") == 1250000,
          "link, device and baud")
    with open(os.path.join(settings, "Hylo.ini"), encoding="latin-1") as f:
        ini = f.read()
    check(f'Comm Serial Device = "{device}"' in ini, "the device is kept in the settings")
    missing = subprocess.run([cli, "identify", "--serial", "/dev/hylo-no-such-port", "--timeout-ms", "200",
                              "--settings-dir", settings], capture_output=True, text=True, timeout=60)
    check(missing.returncode != 0 and "no unit answered" in missing.stderr, "a missing device fails clearly")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
