"""hylo-cli files against hylo-sim --storage: list, get (checksums), put, rm, update, exit codes,
and SIGINT in the middle of a retrieve over a 115200 baud pty."""
import hashlib
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

from e2e import Checks, Sim


def md5(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main(build):
    check = Checks()
    cli = os.path.join(build, "cli", "hylo-cli")
    with tempfile.TemporaryDirectory() as tmp:
        store, local = os.path.join(tmp, "store"), os.path.join(tmp, "local")
        put(os.path.join(store, "1/DATA/BIG.BIN"), os.urandom(1 << 20))
        put(os.path.join(store, "1/DATA/LOGS/L1.TXT"), os.urandom(5000))
        settings = ["--settings-dir", os.path.join(tmp, "settings")]

        def files(link, *args, timeout=120):
            r = subprocess.run([cli, "files", *args, *link, *settings], capture_output=True, text=True,
                               timeout=timeout)
            return r.returncode, r.stdout.strip(), r.stderr

        with Sim(build, ["--model", "lf", "--storage", store]) as sim:
            link = sim.link_args()
            rc, out, _ = files(link, "list")
            check(rc == 0 and json.loads(out) == [{"path": "/1", "name": "Volume 1", "size": -1, "folder": True}],
                  "list without a folder gives the volumes")
            rc, out, _ = files(link, "list", "/1/DATA", "--recursive")
            sizes = {e["path"]: e["size"] for e in json.loads(out)} if rc == 0 else {}
            check(sizes == {"/1/DATA/LOGS": -1, "/1/DATA/LOGS/L1.TXT": 5000, "/1/DATA/BIG.BIN": 1 << 20},
                  "recursive list with sizes: %s" % sizes)
            rc, out, _ = files(link, "get", "/1/DATA", "--to", local)
            summary = json.loads(out) if out else {}
            check(rc == 0 and summary.get("failed") == [] and summary.get("bytes") == (1 << 20) + 5000,
                  "get a folder: %s" % summary)
            check(md5(os.path.join(local, "BIG.BIN")) == md5(os.path.join(store, "1/DATA/BIG.BIN")) and
                  md5(os.path.join(local, "LOGS/L1.TXT")) == md5(os.path.join(store, "1/DATA/LOGS/L1.TXT")),
                  "retrieved files have the instrument's checksums")
            put(os.path.join(tmp, "note.txt"), b"n" * 939)
            rc, _, _ = files(link, "put", os.path.join(tmp, "note.txt"), "/1/DATA")
            check(rc == 0 and md5(os.path.join(store, "1/DATA/NOTE.TXT")) == md5(os.path.join(tmp, "note.txt")),
                  "put writes the file")
            rc, _, err = files(link, "rm", "/1/DATA/NOTE.TXT", "/1/AURISOND")
            check(rc == 1 and not os.path.exists(os.path.join(store, "1/DATA/NOTE.TXT")) and
                  "cannot be deleted" in err, "rm deletes a file and refuses AURISOND (exit 1)")
            put(os.path.join(tmp, "fw.bin"), os.urandom(3000))
            rc, _, err = files(link, "update", os.path.join(tmp, "fw.bin"), "--password", "nope")
            check(rc == 1 and "Invalid Password" in err, "a wrong password ends the update")
            rc, _, _ = files(link, "get", "/1/DATA", timeout=30)
            check(rc == 2, "get without --to is a bad option (exit 2)")

        with Sim(build, ["--model", "lf", "--storage", store, "--baud", "115200", "--pace-line"], pty=True) as sim:
            link = ["--serial", sim.device, "--baud", "115200"]
            target = os.path.join(tmp, "cancel")
            proc = subprocess.Popen([cli, "files", "get", "/1/DATA/BIG.BIN", "--to", target, *link, *settings],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            part = os.path.join(target, "BIG.BIN.part")
            for _ in range(600):
                if os.path.exists(part) and os.path.getsize(part) > 0:
                    break
                time.sleep(0.05)
            proc.send_signal(signal.SIGINT)
            out, _ = proc.communicate(timeout=60)
            summary = json.loads(out.strip().splitlines()[-1]) if out.strip() else {}
            check(proc.returncode == 1 and summary.get("retrieved") == [], "SIGINT ends the get with exit 1")
            check(not os.path.exists(os.path.join(target, "BIG.BIN")) and not os.path.exists(part),
                  "a cancelled retrieve leaves no file under the name, and no partial file")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
