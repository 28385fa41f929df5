"""hylo-cli files against hylo-sim's storage over both transports, the file protocol of an LF unit
and the FTP server of an HF v2.1.0 unit: the same subcommands and JSON (list, get with checksums,
rm with the home-folder refusal, put), then what only one transport has (a wrong update password,
update with the reboot that applies the package, clear) and SIGINT in the middle of a retrieve
over a 115200 baud pty."""
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


def wait_for(check, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if check():
            return True
        time.sleep(0.1)
    return check()


# name, sim arguments, data folder on the unit, root listing, home path rm must refuse and its message
TRANSPORTS = [
    ("file protocol", ["--model", "lf"], "/1/DATA", {"path": "/1", "name": "Volume 1", "size": -1, "folder": True},
     "/1/AURISOND", "cannot be deleted", False),
    ("FTP", ["--model", "hf", "--firmware", "v2.1.0", "--reboot-delay", "0.3"], "/home/Aurisond/Data",
     {"path": "/home/Aurisond", "name": "Aurisond", "size": -1, "folder": True}, "/home/Aurisond/",
     "Cannot delete Aurisond directory.", True),
]


def main(build):
    check = Checks()
    cli = os.path.join(build, "cli", "hylo-cli")
    for name, sim_args, folder, root, home, refusal, ftp in TRANSPORTS:
        with tempfile.TemporaryDirectory() as tmp:
            store, local, log = (os.path.join(tmp, n) for n in ("store", "local", "commands.log"))
            data = store + folder
            big = (5 << 20) if ftp else (1 << 20)
            put(os.path.join(data, "BIG.WAV"), os.urandom(big))
            put(os.path.join(data, "2026/DAY.TXT"), os.urandom(7000))
            settings = ["--settings-dir", os.path.join(tmp, "settings")]

            def files(link, *args, timeout=120):
                r = subprocess.run([cli, "files", *args, *link, *settings], capture_output=True, text=True,
                                   timeout=timeout)
                return r.returncode, r.stdout.strip(), r.stderr

            with Sim(build, [*sim_args, "--storage", store, "--command-log", log], ftp=ftp) as sim:
                link = sim.link_args()
                rc, out, err = files(link, "list")
                check(rc == 0 and json.loads(out) == [root], f"{name}: list without a folder gives the top: {err}")
                rc, out, err = files(link, "list", folder, "--recursive")
                sizes = {e["path"]: e["size"] for e in json.loads(out)} if rc == 0 else err
                check(sizes == {folder + "/2026": -1, folder + "/2026/DAY.TXT": 7000, folder + "/BIG.WAV": big},
                      f"{name}: recursive list with sizes: {sizes}")
                rc, out, err = files(link, "get", folder, "--to", local)
                summary = json.loads(out) if out else {}
                check(rc == 0 and summary.get("failed") == [] and summary.get("bytes") == big + 7000 and
                      (not ftp or "Download Completed Successfully" in err), f"{name}: get a folder: {summary} {err}")
                check(all(md5(os.path.join(local, f)) == md5(os.path.join(data, f))
                          for f in ("BIG.WAV", "2026/DAY.TXT")),
                      f"{name}: retrieved files have the instrument's checksums")
                rc, out, err = files(link, "rm", folder + "/2026/DAY.TXT", home)
                check(rc == 1 and not os.path.exists(os.path.join(data, "2026/DAY.TXT")) and refusal in err and
                      json.loads(out) == {"deleted": [folder + "/2026/DAY.TXT"]},
                      f"{name}: rm deletes a file and refuses the home folder (exit 1): {out} {err}")
                put(os.path.join(tmp, "NOTE.TXT"), b"n" * 939)
                rc, _, err = files(link, "put", os.path.join(tmp, "NOTE.TXT"), folder)
                check(rc == 0 and md5(os.path.join(data, "NOTE.TXT")) == md5(os.path.join(tmp, "NOTE.TXT")),
                      f"{name}: put writes the file: {err}")
                if not ftp:
                    put(os.path.join(tmp, "fw.bin"), os.urandom(3000))
                    rc, _, err = files(link, "update", os.path.join(tmp, "fw.bin"), "--password", "nope")
                    check(rc == 1 and "Invalid Password" in err, "a wrong password ends the update")
                    rc, _, _ = files(link, "get", folder, timeout=30)
                    check(rc == 2, "get without --to is a bad option (exit 2)")
                    continue
                package = os.path.join(tmp, "hf-2.2.0.aup")
                put(package, os.urandom(400000))
                rc, out, err = files(link, "update", package)
                reply = json.loads(out) if rc == 0 else {}
                check(reply.get("message", "").startswith("Update file uploaded."), f"update reports the upload: {err}")
                check(wait_for(lambda: "ftp update applied hf-2.2.0.aup 400000" in open(log).read(), 10),
                      "the unit applies the package on \"Y\"")
                check(not os.path.exists(os.path.join(data, "BIG.WAV")), "the update cleared the logged data")
                put(os.path.join(data, "new.wav"), b"x" * 100)
                for _ in range(20):  # until the unit is back from its reboot
                    rc, out, err = files(link, "clear")
                    if "Connection failed" not in err:
                        break
                    time.sleep(0.5)
                check(rc == 0 and json.loads(out).get("cleared") is True, f"clear: {err}")
                check(wait_for(lambda: "ftp clean data" in open(log).read(), 10) and
                      not os.path.exists(os.path.join(data, "new.wav")), "the clean-data trigger clears the data")

    with tempfile.TemporaryDirectory() as tmp:
        store = os.path.join(tmp, "store")
        put(os.path.join(store, "1/DATA/BIG.BIN"), os.urandom(1 << 20))
        with Sim(build, ["--model", "lf", "--storage", store, "--baud", "115200", "--pace-line"], pty=True) as sim:
            target = os.path.join(tmp, "cancel")
            proc = subprocess.Popen([cli, "files", "get", "/1/DATA/BIG.BIN", "--to", target, "--serial", sim.device,
                                     "--baud", "115200", "--settings-dir", os.path.join(tmp, "settings")],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            part = os.path.join(target, "BIG.BIN.part")
            wait_for(lambda: os.path.exists(part) and os.path.getsize(part) > 0, 30)
            proc.send_signal(signal.SIGINT)
            out, _ = proc.communicate(timeout=60)
            summary = json.loads(out.strip().splitlines()[-1]) if out.strip() else {}
            check(proc.returncode == 1 and summary.get("retrieved") == [], "SIGINT ends the get with exit 1")
            check(not os.path.exists(os.path.join(target, "BIG.BIN")) and not os.path.exists(part),
                  "a cancelled retrieve leaves no file under the name, and no partial file")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
