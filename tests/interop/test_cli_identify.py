"""hylo-cli identify against a unit played by this script on 127.0.0.1 (ephemeral port)."""
import os
import socket
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wire import crc16_arc, frame, identify_payload, split_frames, Checks, json_or_empty  # noqa: E402


def serve(server: socket.socket, seen: list) -> None:
    server.settimeout(10)
    try:
        conn, _ = server.accept()
    except OSError:
        return
    conn.settimeout(5)
    with conn:
        buf = b""
        try:
            while True:
                data = conn.recv(4096)
                if not data:
                    break
                buf += data
                frames, buf = split_frames(buf)
                for one in frames:
                    seen.append(one)
                    if crc16_arc(one) != 0:
                        continue
                    if one[1:2] == b"E":
                        conn.sendall(frame("E", identify_payload()))
        except OSError:
            pass


def main() -> int:
    build = sys.argv[1]
    cli = os.path.join(build, "cli", "hylo-cli")
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    port = server.getsockname()[1]
    seen: list = []
    t = threading.Thread(target=serve, args=(server, seen), daemon=True)
    t.start()
    settings = os.path.join(build, "interop-cli-settings")
    result = subprocess.run(
        [cli, "identify", "--host", "127.0.0.1", "--port", str(port), "--timeout-ms", "500", "--settings-dir", settings],
        capture_output=True, text=True, timeout=60)
    server.close()
    check = Checks()

    check(result.returncode == 0, f"exit 0 (got {result.returncode}, stderr {result.stderr!r})")
    check(bool(seen) and seen[0] == bytes.fromhex("2A45000019CD"), "the identify frame is 2A 45 00 00 19 CD")
    out = json_or_empty(result.stdout)
    check(out.get("modelCode") == 5 and out.get("model") == "Aurisond HF", f"model in {out}")
    check(out.get("unitNumber") == 1234, "unit number")
    check(out.get("firmware") == "v2.1.0" and out.get("firmwareVersion") == 0x20100, "firmware")
    check(out.get("status") == "Ready" and out.get("link") == "ethernet" and out.get("port") == port, "status, link, port")
    check(os.path.exists(os.path.join(settings, "Hylo.ini")), "settings written to --settings-dir")
    # Nothing answering: a clear message and a non-zero exit.
    dead = socket.socket()
    dead.bind(("127.0.0.1", 0))
    dead_port = dead.getsockname()[1]
    dead.close()
    refused = subprocess.run([cli, "identify", "--host", "127.0.0.1", "--port", str(dead_port), "--timeout-ms", "200",
                              "--settings-dir", settings], capture_output=True, text=True, timeout=60)
    check(refused.returncode != 0 and "no unit answered" in refused.stderr, "nothing answering fails clearly")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
