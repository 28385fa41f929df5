"""Discovery end to end inside a network namespace this test makes itself (unshare -rn): two
veth ends with their own subnets, hylo-sim --discovery as a unit on a foreign subnet, and
hylo-cli discover. Broadcasts and pings never leave the namespace. Exit 77 (skipped) where no
namespace can be made."""
import json
import os
import socket
import struct
import subprocess
import sys
import threading
import time

SKIP = 77
IN_NS = "HYLO_DISCOVERY_NETNS"


def crc16_arc(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def ip(*args):
    subprocess.run(["ip", *args], check=True)


def outside(build):
    try:
        probe = subprocess.run(["unshare", "-rn", "true"], capture_output=True, text=True, timeout=20)
    except (OSError, subprocess.TimeoutExpired) as e:
        print(f"SKIP: no network namespace can be made here ({e})")
        return SKIP
    if probe.returncode != 0:
        print(f"SKIP: no network namespace can be made here (unshare -rn: {probe.stderr.strip()})")
        return SKIP
    env = dict(os.environ, **{IN_NS: "1"})
    return subprocess.run(["unshare", "-rn", sys.executable, os.path.abspath(__file__), build], env=env,
                          timeout=280).returncode


def inside(build):
    # Refuse to run anywhere but in a fresh namespace: nothing but the loopback may exist.
    # (/sys still shows the mounter's namespace: ask the kernel through ip.)
    listing = subprocess.run(["ip", "-o", "link", "show"], capture_output=True, text=True, check=True).stdout
    links = [line.split(":")[1].strip().split("@")[0] for line in listing.splitlines() if line.strip()]
    if links != ["lo"]:
        print(f"FAIL not in a fresh network namespace: {links}")
        return 1
    ip("link", "set", "lo", "up")
    ip("link", "add", "va", "type", "veth", "peer", "name", "vb")
    ip("addr", "add", "10.9.0.1/24", "dev", "va")
    ip("addr", "add", "10.9.1.1/24", "dev", "vb")
    ip("link", "set", "va", "up")
    ip("link", "set", "vb", "up")
    # The top address of each subnet is taken, so the free-address sweep must move on.
    ip("addr", "add", "10.9.0.254/32", "dev", "lo")
    ip("addr", "add", "10.9.1.254/32", "dev", "lo")

    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            failures.append(what)

    # A second listener on the discovery port sees each enquiry as the unit does.
    spy = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    spy.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    spy.bind(("", 62726))
    spy.settimeout(0.2)

    sim = subprocess.Popen(
        [f"{build}/sim/hylo-sim", "--discovery", "--host", "0.0.0.0", "--model", "hf", "--unit", "606",
         "--mac", "00:1A:2B:3C:4D:5E", "--net-ip", "172.16.5.9", "--net-mask", "255.255.0.0",
         "--net-gateway", "172.16.0.1", "--seconds", "200"],
        stdout=subprocess.PIPE, text=True)
    try:
        first = sim.stdout.readline()
        check("discovery 62726" in first, f"simulator listening: {first.strip()}")
        new_address = []

        def follow():
            # The unit takes the address it was given: the namespace gets it, as the unit would.
            for line in sim.stdout:
                if line.startswith("network fixed "):
                    address = line.split()[2]
                    new_address.append(address)
                    subprocess.run(["ip", "addr", "add", address + "/32", "dev", "lo"])

        threading.Thread(target=follow, daemon=True).start()

        cli = [f"{build}/cli/hylo-cli", "discover", "--settings-dir", os.environ.get("TMPDIR", "/tmp") +
               f"/hylo-discovery-{os.getpid()}"]
        started = time.monotonic()
        run = subprocess.run(cli + ["--seconds", "60"], capture_output=True, text=True, timeout=120)
        elapsed = time.monotonic() - started
        print(run.stderr, end="")
        out = json.loads(run.stdout)
        enquiries = {}
        while True:
            try:
                data, (host, _) = spy.recvfrom(600)
            except socket.timeout:
                break
            if len(data) == 17 and data[:4] == b"*W\x0b\x00" and crc16_arc(data) == 0:
                enquiries[host] = struct.unpack_from("<H", data, 13)[0]
        check(set(enquiries) == {"10.9.0.1", "10.9.1.1"}, f"one enquiry from each interface: {enquiries}")
        check(len(set(enquiries.values())) == 2, "each with its own reply port")
        check(out["channels"] == 2 and len(out["units"]) == 1,
              f"two channels, and the unit answering on both is listed once: {out['units']}")
        unit = out["units"][0] if out["units"] else {}
        check((unit.get("label"), unit.get("address"), unit.get("mac")) ==
              ("Aurisond HF 606 - Configure", "172.16.5.9", "00:1A:2B:3C:4D:5E"), f"label, address and MAC: {unit}")
        check(elapsed < 20, f"the search ended after five quiet rounds ({elapsed:.1f} s of 60)")
        check(out["connected"] is None, "an unreachable unit is not connected")

        run = subprocess.run(cli + ["--seconds", "40", "--auto-reconfigure"], capture_output=True, text=True,
                             timeout=200)
        print(run.stderr, end="")
        out = json.loads(run.stdout)
        check(new_address in (["10.9.0.253"], ["10.9.1.253"]), f"the unit was given a free address: {new_address}")
        unit = out["units"][0] if out["units"] else {}
        check(unit.get("address") in new_address and unit.get("ready"), f"the unit answers with it: {unit}")
        check(unit.get("mask") == "255.0.0.0" and unit.get("gateway") == "0.0.0.0", "class mask, no gateway")
        check(any("was reconfigured with address: " + a + "." in n for n in out["notices"] for a in new_address),
              f"notice: {out['notices']}")
        connected = out["connected"] or {}
        check(connected.get("unitNumber") == 606 and connected.get("address") in new_address,
              f"and is connected: {connected}")
    finally:
        sim.terminate()
        sim.wait(timeout=10)
    return 1 if failures else 0


if __name__ == "__main__":
    build_dir = sys.argv[1] if len(sys.argv) > 1 else "build"
    sys.exit(inside(build_dir) if os.environ.get(IN_NS) == "1" else outside(build_dir))
