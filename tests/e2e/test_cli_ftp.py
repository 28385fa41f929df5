"""hylo-cli files against an HF v2.1.0 hylo-sim, whose storage is served by its real FTP server:
the same subcommands and JSON as over the file protocol (list, get with checksums, rm with the
home-folder refusal, update with the reboot that applies the package, clear)."""
import hashlib
import json
import os
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


def wait_for(check, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if check():
            return True
        time.sleep(0.1)
    return check()


def main(build):
    check = Checks()
    cli = os.path.join(build, "cli", "hylo-cli")
    with tempfile.TemporaryDirectory() as tmp:
        store, local, log = os.path.join(tmp, "store"), os.path.join(tmp, "local"), os.path.join(tmp, "commands.log")
        data = os.path.join(store, "home/Aurisond/Data")
        put(os.path.join(data, "big.wav"), os.urandom(5 << 20))
        put(os.path.join(data, "2026/day.txt"), os.urandom(7000))
        settings = ["--settings-dir", os.path.join(tmp, "settings")]

        def files(link, *args, timeout=120):
            r = subprocess.run([cli, "files", *args, *link, *settings], capture_output=True, text=True,
                               timeout=timeout)
            return r.returncode, r.stdout.strip(), r.stderr

        args = ["--model", "hf", "--firmware", "v2.1.0", "--storage", store, "--command-log", log,
                "--reboot-delay", "0.3"]
        with Sim(build, args, ftp=True) as sim:
            link = sim.link_args()
            rc, out, err = files(link, "list")
            check(rc == 0 and json.loads(out) == [{"path": "/home/Aurisond", "name": "Aurisond", "size": -1,
                                                   "folder": True}], "list without a folder gives the home folder")
            rc, out, err = files(link, "list", "/home/Aurisond/Data", "--recursive")
            sizes = {e["path"]: e["size"] for e in json.loads(out)} if rc == 0 else err
            check(sizes == {"/home/Aurisond/Data/2026": -1, "/home/Aurisond/Data/2026/day.txt": 7000,
                            "/home/Aurisond/Data/big.wav": 5 << 20}, "recursive list with sizes: %s" % sizes)
            rc, out, err = files(link, "get", "/home/Aurisond/Data", "--to", local)
            summary = json.loads(out) if out else {}
            check(rc == 0 and summary.get("failed") == [] and summary.get("bytes") == (5 << 20) + 7000 and
                  "Download Completed Successfully" in err, "get a folder: %s %s" % (summary, err))
            check(md5(os.path.join(local, "big.wav")) == md5(os.path.join(data, "big.wav")) and
                  md5(os.path.join(local, "2026/day.txt")) == md5(os.path.join(data, "2026/day.txt")),
                  "retrieved files have the instrument's checksums")
            rc, out, err = files(link, "rm", "/home/Aurisond/Data/2026/day.txt", "/home/Aurisond/")
            check(rc == 1 and not os.path.exists(os.path.join(data, "2026/day.txt")) and
                  "Cannot delete Aurisond directory." in err and
                  json.loads(out) == {"deleted": ["/home/Aurisond/Data/2026/day.txt"]},
                  "rm deletes a file and refuses the home folder (exit 1)")
            package = os.path.join(tmp, "hf-2.2.0.aup")
            put(package, os.urandom(400000))
            rc, out, err = files(link, "update", package)
            reply = json.loads(out) if rc == 0 else {}
            check(reply.get("message", "").startswith("Update file uploaded."), "update reports the upload: %s" % err)
            check(wait_for(lambda: "ftp update applied hf-2.2.0.aup 400000" in open(log).read(), 10),
                  "the unit applies the package on \"Y\"")
            check(not os.path.exists(os.path.join(data, "big.wav")), "the update cleared the logged data")
            put(os.path.join(data, "new.wav"), b"x" * 100)
            for _ in range(20):  # until the unit is back from its reboot
                rc, out, err = files(link, "clear")
                if "Connection failed" not in err:
                    break
                time.sleep(0.5)
            check(rc == 0 and json.loads(out).get("cleared") is True, "clear: %s" % err)
            check(wait_for(lambda: "ftp clean data" in open(log).read(), 10) and
                  not os.path.exists(os.path.join(data, "new.wav")), "the clean-data trigger clears the data")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
