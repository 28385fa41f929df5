#!/usr/bin/env python3
"""Builds the Debian package from the build tree, checks what it holds, unpacks it into a
temporary root and runs the programs from there. Exit 77 (skip) without the Debian tools."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=240, **kw)


def main(build):
    for tool in ("cpack", "dpkg-deb", "dpkg-shlibdeps"):
        if not shutil.which(tool):
            print(f"skip: {tool} is not installed")
            return SKIP
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory() as tmp:
        made = run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", tmp])
        debs = glob.glob(os.path.join(tmp, "*.deb"))
        check(made.returncode == 0 and len(debs) == 1, "cpack made one .deb\n" + made.stdout + made.stderr)
        if failures:
            return 1
        deb = debs[0]
        listing = run(["dpkg-deb", "-c", deb]).stdout
        for path in ("./usr/bin/hylo", "./usr/bin/hylo-cli", "./usr/bin/hylo-sim",
                     "./usr/share/applications/hylo.desktop",
                     "./usr/share/icons/hicolor/scalable/apps/hylo.svg",
                     "./usr/share/doc/hylo/README.md"):
            check(any(line.split()[-1] == path for line in listing.splitlines()), "the package holds " + path)
        fields = run(["dpkg-deb", "-f", deb, "Package", "Version", "Depends"]).stdout
        check("Package: hylo" in fields and "Version: 4.4.0" in fields, "name and version\n" + fields)
        check("libqt6widgets6" in fields, "the Qt libraries are dependencies")

        # What apt would do to put it on this machine: every dependency resolvable.
        if shutil.which("apt-get"):
            plan = run(["apt-get", "-s", "-q", "install", os.path.abspath(deb)])
            check(plan.returncode == 0 and "Inst hylo " in plan.stdout, "apt can install it\n" + plan.stdout[-400:] + plan.stderr[-400:])
        root = os.path.join(tmp, "root")
        check(run(["dpkg-deb", "-x", deb, root]).returncode == 0, "unpacks into a root")
        bin_dir = os.path.join(root, "usr", "bin")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        version = run([os.path.join(bin_dir, "hylo-cli"), "--version"], env=env)
        check(version.returncode == 0 and version.stdout.strip() == "hylo-cli 4.4.0",
              "hylo-cli --version: " + version.stdout + version.stderr)
        # Without a display: --help and --version never open one.
        bare = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        for args, expected in ((["--help"], "usage: hylo"), (["--version"], "hylo 4.4.0")):
            out = run([os.path.join(bin_dir, "hylo")] + args, env=bare)
            check(out.returncode == 0 and out.stdout.startswith(expected), f"hylo {args[0]}: {out.stdout[:60]}")
        validate = shutil.which("desktop-file-validate")
        if validate:
            result = run([validate, os.path.join(root, "usr/share/applications/hylo.desktop")])
            check(result.returncode == 0 and not result.stdout.strip(),
                  "desktop-file-validate accepts the entry " + result.stdout + result.stderr)
        else:
            print("note: desktop-file-validate is not installed; the entry was not validated")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
