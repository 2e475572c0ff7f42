#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
"""Makes, signs and checks Zandrel's releases, from one table of what a
release holds (cmake/release.json) and one plan per run: the version, the
commit, the time and the artefacts, worked out once and written where each
phase reads it. doc/releasing.md tells how to use it.

  release.py build [--host-tools | --packages BUILDINFO] [--output DIR]
  release.py sign --openpgp-key FINGERPRINT [--address URL]
      [--authenticode-certificate CHAIN.pem --authenticode-key KEY
       [--pkcs11-module MODULE.so] [--timestamp-url URL]...] DIST
  release.py check [--rebuilt DIST] FOLDER

Every byte but the signatures is made in the release root, a Debian that
mmdebstrap makes from Debian's archive with the table's packages (or, for a
rebuild, BUILDINFO's, each at its version), kept for the runs that need
the same packages; this machine makes signatures and nothing else. The
root runs `release.py make PHASE` (its phases below) in a folder of the
run's own.

Exit codes: 0 done; 1 a difference, a bad signature or a refusal; 2 usage,
a missing input, or what was asked could not be made; 3 the mirror lacks a
package version, and nothing was built. Errors go to standard error.
"""
import argparse
import calendar
import ctypes
import fcntl
import getpass
import hashlib
import json
import os
import re
import secrets
import shutil
import signal
import subprocess
import sys
import time
import uuid
import zipfile
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
TABLE = json.loads((TOP / "cmake/release.json").read_text())
APT, RPM = TABLE["signing"]["apt"], TABLE["signing"]["rpm"]
RELEASE = Path("dists") / APT["suite"] / "Release"
# What signing adds beside the repositories' other files, which SHA256SUMS lists.
SIGNATURES = ("InRelease", "Release.gpg", "repomd.xml.asc")
PROGRAM = "release"  # the command, in messages


class Failure(Exception):
    """Ends the run with CODE, the message on standard error."""

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code


def fail(code, message):
    raise Failure(code, message)


def step(message):
    print(f"== {PROGRAM}: {message}", flush=True)


def run(args, *, code=2, quiet=False, session=True, input_text=None, input_bytes=None, **options):
    """Runs a command in a process group of its own, which is ended with it
    should this run be stopped. A non-zero exit is exit CODE, naming the
    command; CODE None leaves the status to the caller."""
    if quiet:
        options.setdefault("stdout", subprocess.DEVNULL)
    data = input_text.encode() if input_text is not None else input_bytes
    if data is not None:
        options["stdin"] = subprocess.PIPE
        data = data.decode() if options.get("text") else data
    process = subprocess.Popen([str(a) for a in args], start_new_session=session, preexec_fn=ended_with_us,
                               **options)
    try:
        out, err = process.communicate(data)
    except BaseException:
        end_group(process, session)
        raise
    if process.returncode and code is not None:
        fail(code, f"failed ({process.returncode}): {' '.join(str(a) for a in args)}")
    return subprocess.CompletedProcess(args, process.returncode, out, err)


def ended_with_us():
    """In the child: killed should this run be killed (SIGKILL), so that it
    never goes on alone; a root's namespace then ends with it."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def end_group(process, session):
    for sent in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sent) if session else process.send_signal(sent)
        except ProcessLookupError:
            return
        try:
            process.wait(5)
            return
        except subprocess.TimeoutExpired:
            pass


def output(args, **options):
    return run(args, stdout=subprocess.PIPE, text=True, **options).stdout


def sha256(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


# Folders of a run's own: each beside a lock that the run holds while it
# lives. A folder of that pattern whose lock is free was left by a run that
# was killed, and the next run clears it.
def holding(lock_path):
    while True:
        lock = open(lock_path, "a")
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            if os.stat(lock_path).st_ino == os.fstat(lock.fileno()).st_ino:
                return lock
        except FileNotFoundError:
            pass
        lock.close()  # another run cleared it as we took it: take a new one


def clear_left(folder, pattern):
    """Removes each folder of PATTERN in FOLDER, and its lock, whose run is gone."""
    for lock_path in sorted(Path(folder).glob(pattern + ".lock")) + sorted(Path(folder).glob(pattern)):
        if lock_path.suffix != ".lock":  # a folder whose lock is gone too
            if not lock_path.with_name(lock_path.name + ".lock").exists():
                remove(lock_path)
            continue
        with open(lock_path, "a") as lock:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                continue  # its run is alive
            remove(lock_path.with_name(lock_path.name[:-len(".lock")]))
            lock_path.unlink(missing_ok=True)


def remove(folder):
    # Never into a mount that a killed root left behind (/dev, /proc).
    if os.path.lexists(folder):
        run(["rm", "-rf", "--one-file-system", "--", folder], session=False)


class Work:
    """A folder of the run's own next to PLACE (PLACE.zandrel-ID), removed
    when the run ends however it ends, or by the next run after a kill."""

    def __init__(self, place):
        place = Path(place)
        place.parent.mkdir(parents=True, exist_ok=True)
        clear_left(place.parent, place.name + ".zandrel-*")
        self.path = place.with_name(f"{place.name}.zandrel-{os.getpid()}-{secrets.token_hex(4)}")
        self.lock = holding(self.path.with_name(self.path.name + ".lock"))
        try:
            self.path.mkdir()
        except BaseException:
            self.close()
            raise

    def close(self):
        # Whole, even when a stop comes meanwhile: that one is seen after.
        stops = {signal.SIGTERM, signal.SIGINT, signal.SIGHUP}
        before = signal.pthread_sigmask(signal.SIG_BLOCK, stops)
        try:
            remove(self.path)
            Path(self.lock.name).unlink(missing_ok=True)
            self.lock.close()
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, before)


def replace(new, old):
    """Puts folder NEW in the place of OLD at once (renameat2's exchange),
    so that OLD is either as it was or wholly replaced, then removes what
    OLD held."""
    try:
        os.rename(new, old)  # where there is no OLD
        return
    except OSError:
        pass
    libc = ctypes.CDLL(None, use_errno=True)
    at_cwd, rename_exchange = -100, 2
    if libc.renameat2(at_cwd, os.fsencode(new), at_cwd, os.fsencode(old), rename_exchange) != 0:
        fail(2, f"could not put {new} in the place of {old}: {os.strerror(ctypes.get_errno())}")
    remove(new)


# --- The plan: what a run makes, worked out once --------------------------

def project_version():
    found = re.search(r"project\(\s*Zandrel\s+VERSION\s+([0-9.]+)", (TOP / "CMakeLists.txt").read_text())
    return found.group(1)


def artefact_names(version):
    """Each artefact the table names, in the order they are made: its kind,
    its name, and the program it is made from."""
    programs = {"linux": TABLE["linux"], "windows": [TABLE["windows"]]}
    names = []
    for row in TABLE["artefacts"]:
        family = "windows" if row["kind"].startswith("windows") else "linux"
        if not re.search(r"\{(name|debian|rpm)\}", row["name"]):
            names.append({"kind": row["kind"], "name": row["name"].format(version=version)})
            continue
        for program in programs[family]:
            for debian in program.get("debian", [None]) if "{debian}" in row["name"] else [None]:
                names.append({"kind": row["kind"], "program": program["name"], "name": row["name"].format(
                    version=version, name=program["name"], debian=debian, rpm=program.get("rpm"))})
    return names


def named(plan, kind):
    return [a["name"] for a in plan["artefacts"] if a["kind"] == kind]


def source_signature(name):
    """The detached OpenPGP signature of the source release NAME, beside it."""
    return f"{name}.asc"


def buildinfo(path):
    """BUILDINFO's fields by name, and its packages as NAME=VERSION."""
    fields, packages = {}, []
    for line in Path(path).read_text().splitlines():
        if line.startswith("  ") and "packages" in fields:
            packages.append("=".join(line.split()))
        elif ": " in line:
            name, _, value = line.partition(": ")
            fields[name] = value
        elif line == "packages:":
            fields["packages"] = ""
    fields["packages"] = packages
    if not re.fullmatch(r"[0-9]+", fields.get("SOURCE_DATE_EPOCH", "")):
        fail(2, f"{path} gives no SOURCE_DATE_EPOCH")
    return fields


def preset_packages(row):
    for line in (TOP / "cmake/preset-packages.txt").read_text().splitlines():
        fields = line.split()
        if fields and fields[0] == row:
            return fields[1:]
    return []


def make_plan(pinned=None, host_tools=False):
    """The run's facts: version, commit, time, the root and the artefacts.
    A release takes its commit's time; a rebuild, BUILDINFO's."""
    if not shutil.which("git"):
        run([TOP / "scripts/install-packages.sh", "git"])
    if pinned:
        fields = buildinfo(pinned)
        commit, epoch = fields.get("commit", ""), fields["SOURCE_DATE_EPOCH"]
    else:
        commit = output(["git", "-C", TOP, "rev-parse", "HEAD"]).strip()
        if output(["git", "-C", TOP, "status", "--porcelain", "--untracked-files=no"]):
            print("note: tracked files have changes that are not committed; they go into the release too")
            commit += " with changes not committed"
        epoch = output(["git", "-C", TOP, "log", "-1", "--format=%ct"]).strip()
    plan = {"version": project_version(), "commit": commit, "time": int(epoch), "host_tools": host_tools}
    if pinned:
        if not fields.get("suite") or not fields.get("mirror") or not fields["packages"]:
            fail(2, f"{pinned} names no release root (suite, architectures, mirror, packages)")
        plan["root"] = {"suite": fields["suite"], "mirror": fields["mirror"], "variant": "custom",
                        "architectures": fields.get("architectures", "").split(), "packages": fields["packages"]}
    else:
        includes = preset_packages("release") + TABLE["root"]["packages"]
        architectures = ["amd64"]
        for program in TABLE["linux"]:
            if program["preset"] == "cross":
                includes.append(f"g++-{program['triplet']}")
                if program.get("musl"):
                    includes.append(f"musl-dev:{program['debian'][0]}")
                architectures.append(program["debian"][0])
        plan["root"] = {"suite": TABLE["root"]["suite"], "mirror": TABLE["root"]["mirror"], "variant": "essential",
                        "architectures": architectures, "packages": includes}
    plan["root"]["mirror"] = os.environ.get("ZANDREL_MIRROR", plan["root"]["mirror"])
    given = os.environ.get("SOURCE_DATE_EPOCH")
    if given is not None and given != str(plan["time"]):
        print(f"note: SOURCE_DATE_EPOCH={given} is set here; a release takes the time of its "
              f"{'BUILDINFO' if pinned else 'commit'}, {plan['time']}, which BUILDINFO records")
    plan["artefacts"] = artefact_names(plan["version"])
    return plan


# --- The release root --------------------------------------------------------

def own_mounts():
    """unshare's words for a mount namespace whose mounts end with it and
    reach no other. Where / is no mount point (in a chroot) its propagation
    cannot be changed, and is kept: such a chroot's makers have made it
    private (as a clean room's does)."""
    private = ["unshare", "--mount", "--propagation", "private"]
    if run([*private, "true"], code=None, quiet=True, stderr=subprocess.DEVNULL).returncode == 0:
        return private
    return ["unshare", "--mount", "--propagation", "unchanged"]


def installed(*inside):
    """The architectures (its own first) and the packages, NAME VERSION in
    byte order, of the Debian that the command INSIDE runs in (this one,
    or a root through chroot)."""
    architectures = output([*inside, "dpkg", "--print-architecture"]).split()
    architectures += output([*inside, "dpkg", "--print-foreign-architectures"]).split()
    packages = output([*inside, "dpkg-query", "-W", "-f=${binary:Package} ${Version}\n"]).splitlines()
    return architectures, sorted(packages, key=str.encode)


def cache_folder():
    return Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "zandrel-release-root"


def root_key(wanted):
    wanted = dict(wanted, architectures=sorted(wanted["architectures"]), packages=sorted(wanted["packages"]))
    return hashlib.sha256(json.dumps(wanted, sort_keys=True).encode()).hexdigest()[:20]


class Root:
    """The release root for a plan's packages (cmake/preset-packages.txt's
    row release and the table's, each cross target's compiler and musl, or
    BUILDINFO's, each at its version): made once, then used by each run
    that needs those packages, each in a folder of its own."""

    def __init__(self, plan):
        if os.geteuid() != 0:
            fail(2, "the release root is made and entered as root (chroot, mounts): run as root, "
                    "for example with sudo, or in a container or virtual machine of your own")
        for tool in ("mmdebstrap", "unshare"):
            if not shutil.which(tool):
                run([TOP / "scripts/install-packages.sh", "mmdebstrap"])
        self.plan = plan
        roots = cache_folder() / "roots"
        roots.mkdir(parents=True, exist_ok=True)
        self.path = roots / root_key(plan["root"])
        self.mounts = own_mounts()
        # One run makes it while the others wait; once made, it is only read
        # (each run writes in its own folder) and never removed.
        with open(f"{self.path}.lock", "a") as lock:
            if not (self.path / ".made").exists():
                fcntl.flock(lock, fcntl.LOCK_EX)
                if not (self.path / ".made").exists():
                    self.make()
        for folder in ("build/run", "build/zandrel"):  # where each run's folders are seen
            (self.path / folder).mkdir(parents=True, exist_ok=True)
        self.work = Work(self.path / "build/run")
        try:
            self.fill()
        except BaseException:  # stopped, or failed, as the run's folder is filled
            self.work.close()
            raise

    def fill(self):
        """The run's folder: the tracked sources, as they are here, and the plan."""
        plan = self.plan
        sources = self.work.path / "src"
        sources.mkdir()
        files = output(["git", "-C", TOP, "ls-files", "-z"]).split("\0")
        present = "\0".join(f for f in files if f and os.path.lexists(TOP / f))  # not those deleted here
        tarball = self.work.path / "sources.tar"
        run(["tar", "--null", "-T", "-", "--sort=name", "--format=gnu", "--owner=0", "--group=0",
             "--numeric-owner", "--mode=u=rwX,go=rX", f"--mtime=@{plan['time']}", "-cf", tarball],
            input_text=present, cwd=TOP)
        run(["tar", "-xf", tarball, "-C", sources])
        self.lay_out()

    def lay_out(self):
        for folder in ("in", "out", "home", "tmp"):
            (self.work.path / folder).mkdir()
        (self.work.path / "plan.json").write_text(json.dumps(self.plan, indent=1))

    def make(self):
        wanted = self.plan["root"]
        remove(self.path)
        archives = cache_folder() / "archives"
        archives.mkdir(exist_ok=True)
        log = TOP / "build/release-root.log"
        log.parent.mkdir(exist_ok=True)
        options = []
        if wanted["mirror"] != TABLE["root"]["mirror"]:
            # A dated snapshot's index is past the date until which it counts as current.
            options.append('--aptopt=Acquire::Check-Valid-Until "false"')
        step(f"a root of Debian {wanted['suite']} from {wanted['mirror']} ({wanted['variant']}, "
             f"{len(wanted['packages'])} packages named; log: {log})")
        started = time.time()
        new = self.path.with_name(self.path.name + ".new")
        remove(new)
        # The package cache is written by one root's making at a time; its
        # own mounts end with it, wherever it stops.
        with open(cache_folder() / "archives.lock", "a") as cache_lock:
            fcntl.flock(cache_lock, fcntl.LOCK_EX)
            with open(log, "w") as written:
                made = run([*self.mounts, "mmdebstrap", "--mode=root",
                            f"--variant={wanted['variant']}", "--architectures=" + ",".join(wanted["architectures"]),
                            "--include=" + ",".join(wanted["packages"]), *options, "--skip=essential/unlink",
                            "--dpkgopt=force-unsafe-io", '--setup-hook=mkdir -p "$1/var/cache/apt/archives"',
                            f"--setup-hook=sync-in {archives} /var/cache/apt/archives",
                            f"--customize-hook=sync-out /var/cache/apt/archives {archives}",
                            wanted["suite"], new, wanted["mirror"]], code=None, stdout=written, stderr=subprocess.STDOUT)
        if made.returncode:
            remove(new)
            text = log.read_text(errors="replace")
            missing = re.findall(r"^E: Version '(.*)' for '(.*)' was not found$", text, re.M)
            if missing:
                day = time.strftime("%Y%m%dT%H%M%SZ", time.gmtime(self.plan["time"]))
                fail(3, f"{wanted['mirror']} does not have these packages at these versions:\n" +
                     "".join(f"  {name} {version}\n" for version, name in missing) +
                     "Nothing was built. Name a mirror that has them, such as a snapshot of Debian's\n"
                     "archive from a day on which it held them (the commit's day, or a later one):\n"
                     f"    ZANDREL_MIRROR=http://snapshot.debian.org/archive/debian/{day}/")
            sys.stderr.write("".join(text.splitlines(True)[-25:]))
            fail(2, f"the release root could not be made (the whole log: {log})")
        (new / ".made").touch()
        os.rename(new, self.path)
        step(f"the root took {time.time() - started:.0f} s")
        # The same root serves a rebuild from this release's BUILDINFO, which
        # names each of its packages at its version.
        if wanted["variant"] != "custom":
            architectures, packages = installed("chroot", self.path)
            pinned = {"suite": wanted["suite"], "mirror": wanted["mirror"], "variant": "custom",
                      "architectures": architectures, "packages": ["=".join(line.split()) for line in packages]}
            alias = self.path.with_name(root_key(pinned))
            if not os.path.lexists(alias):
                alias.symlink_to(self.path.name)

    def make_phase(self, *args):
        """Runs `release.py make ARGS` in the root: as root, with a fixed
        environment, the run's folder at /build/run and its sources at
        /build/zandrel, in a mount and process namespace that ends with it,
        whatever it started too. Each run sees its own, /dev/shm too (where
        faketime names its semaphore by a process number, which each
        namespace gives out alike). Its exit code is the run's."""
        command = [*self.mounts, "--pid", "--fork", "--kill-child", "sh", "-c",
                   'mount --rbind /dev "$0/dev" && mount -t tmpfs tmpfs "$0/dev/shm" && mount -t proc proc "$0/proc" && '
                   'mount --bind "$1" "$0/build/run" && mount --bind "$1/src" "$0/build/zandrel" && '
                   'shift && exec chroot "$0" "$@"', self.path, self.work.path,
                   "/usr/bin/env", "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/build/run/home",
                   "TMPDIR=/build/run/tmp", "LC_ALL=C.UTF-8", "TZ=UTC0", "sh", "-c",
                   "umask 022 && cd /build/zandrel && exec python3 scripts/release.py make /build/run \"$@\"",
                   "make", *args]
        ended(run(command, code=None).returncode, f"the release root could not make {args[0]}")

    def close(self):
        self.work.close()


def ended(status, what):
    """A phase's exit code as the run's: a refusal 1, a missing version 3, else 2."""
    if status:
        fail(status if status in (1, 3) else 2, what)


class HostTools(Root):
    """The same phases with this machine's own tools: quicker, for trying
    a change, not how releases are made; BUILDINFO says so."""

    def __init__(self, plan):  # pylint: disable=super-init-not-called
        self.plan = plan
        self.work = Work(TOP / "build/host-tools")
        (self.work.path / "src").symlink_to(TOP)
        self.lay_out()

    def make_phase(self, *args):
        ended(run([sys.executable, TOP / "scripts/release.py", "make", self.work.path, *args], code=None,
                  cwd=TOP).returncode, f"could not make {args[0]}")


# --- Inside the root: the phases that make bytes ------------------------------

class Maker:
    """Makes artefacts into RUN/out from the sources in RUN/src (the current
    folder), as the plan in RUN/plan.json says."""

    def __init__(self, run_folder):
        self.run = Path(run_folder)
        self.plan = json.loads((self.run / "plan.json").read_text())
        self.version, self.epoch = self.plan["version"], self.plan["time"]
        self.out, self.stage = self.run / "out", self.run / "stage"
        self.stage.mkdir(exist_ok=True)
        os.environ["SOURCE_DATE_EPOCH"] = str(self.epoch)  # for the tools that read it
        self.contents = self.run / "contents"

    def named(self, kind):
        return named(self.plan, kind)

    def holds(self, artefact, inside, program_file, build):
        with open(self.contents, "a") as rows:
            rows.write(f"{artefact}\t{inside}\t{program_file}\t{build}\n")

    def build(self, program, preset, target=None):
        build = Path("build") / (target or preset)
        env = dict(os.environ, ZANDREL_TARGET=target or "")
        step(f"{target or preset}: build the program")
        # Only the program and its documents: no tests, whose tools the root lacks.
        run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF", "-DZANDREL_BUILD_TESTS=OFF", "-DZANDREL_BUILD_BENCH=OFF"],
            quiet=True, env=env)
        targets = ["Zandrel"] + ([] if preset == "windows" else ["zandrel_compressed_documents"])
        run(["cmake", "--build", "--preset", preset, "--target", *targets], quiet=True, env=env)
        family = "Windows" if preset == "windows" else "Linux"
        name = f"Zandrel-{self.version}-{family}-{program['name']}"
        run([sys.executable, "scripts/release-contents.py", "program", build, self.version,
             f"{family}-{program['name']}"])
        remove(self.stage / name)
        run(["cmake", "--install", build, "--prefix", self.stage / name], quiet=True)
        return build.resolve(), name

    def programs(self):
        """Every program, and what is made of each but the Windows zip and
        installer: the native ones first (x86-64 Linux, Windows), then the
        cross-built ones, the order in which the bill of materials lists them."""
        self.contents.unlink(missing_ok=True)
        linux = TABLE["linux"]
        for program in [linux[0], TABLE["windows"], *linux[1:]]:
            if program is TABLE["windows"]:
                build, name = self.build(program, "windows")
                (self.run / "windows").write_text(f"{name}\t{build}\n")
                program_file = self.stage / name / "Zandrel.exe"
                self.holds(f"{name}.zip", f"{name}/Zandrel.exe", program_file, build)
                self.holds(f"{name}.msi", "Zandrel.exe", program_file, build)
                continue
            target = program["name"] if program["preset"] == "cross" else None
            build, name = self.build(program, program["preset"], target)
            step(f"{program['name']}: {name}.tar.gz, the Debian packages and the RPM package")
            self.rpm_package(program, name, build)
            self.tarball(name, build)
            self.debian_packages(program, name, build)

    def tarball(self, name, build):
        archive = run(["tar", "--sort=name", "--format=gnu", "--owner=0", "--group=0", "--numeric-owner",
                       f"--mtime=@{self.epoch}", "--mode=u=rwX,go=rX", "-C", self.stage, "-cf", "-", name],
                      stdout=subprocess.PIPE).stdout
        with open(self.out / f"{name}.tar.gz", "wb") as written:
            run(["gzip", "-9n"], input_bytes=archive, stdout=written)
        self.holds(f"{name}.tar.gz", f"{name}/bin/Zandrel", self.stage / name / "bin/Zandrel", build)

    def source(self):
        """The source release: the commit's files as git archive gave them
        (in/source.tar), compressed here."""
        name = self.named("source")[0]
        with open(self.out / name, "wb") as written:
            run(["gzip", "-9n", "-c", self.run / "in/source.tar"], stdout=written)
        self.holds(name, "", "", "")

    def rpm_package(self, program, name, build):
        """Built from cmake/zandrel-rpm.in with the Debian package's changelog
        entry, every time the commit's, the build host named by no machine."""
        maintainer = TABLE["maintainer"]
        day = time.strftime("%a %b %d %Y", time.gmtime(self.epoch))
        entries = "".join("- " + line[4:] + "\n" for line in (build / "changelog").read_text().splitlines()
                          if line.startswith("  * "))
        recipe = self.run / "zandrel-rpm"
        recipe.write_text(Path("cmake/zandrel-rpm.in").read_text() +
                        f"\n%changelog\n* {day} {maintainer} - {self.version}-1\n{entries}")
        top = self.run / "rpmbuild"
        remove(top)
        licence = (build / "licence").read_text().strip()
        defines = {"_topdir": top, "version": self.version, "licence": licence, "packager": maintainer,
                   "staged": self.stage / name, "_buildhost": "reproducible", "use_source_date_epoch_as_buildtime": 1,
                   "clamp_mtime_to_source_date_epoch": 1, "source_date_epoch_from_changelog": 0,
                   "debug_package": "%{nil}", "__os_install_post": "%{nil}", "_build_id_links": "none"}
        run(["rpmbuild", "-bb", "--quiet", "--target", program["rpm"],
             *[word for key, value in defines.items() for word in ("--define", f"{key} {value}")], recipe], quiet=True)
        package = f"zandrel-{self.version}-1.{program['rpm']}.rpm"
        shutil.copy(top / "RPMS" / program["rpm"] / package, self.out / package)
        self.holds(package, "usr/bin/Zandrel", self.stage / name / "bin/Zandrel", build)

    def debian_packages(self, program, name, build):
        """One for each Debian architecture the program serves, with the
        source packages whose code it holds in Static-Built-Using."""
        for architecture in program["debian"]:
            remove(build / "package")
            # CPack's folders and the modes in the package's own headers follow the umask.
            os.umask(0o022)
            run(["cpack", "--preset", program["preset"], "-D", f"CPACK_DEBIAN_PACKAGE_ARCHITECTURE={architecture}"],
                quiet=True, env=dict(os.environ, ZANDREL_TARGET=program["name"] if program["preset"] == "cross" else ""))
            for package in sorted((build / "package").glob("*.deb")):
                unpacked = self.run / "package"
                remove(unpacked)
                run(["dpkg-deb", "-R", package, unpacked])
                control = unpacked / "DEBIAN/control"
                # CPack ends the paragraph with a blank line, which would start another.
                fields = [line for line in control.read_text().splitlines() if line]
                fields.append("Static-Built-Using: " + (build / "static-built-using").read_text().strip())
                control.write_text("\n".join(fields) + "\n")
                run(["dpkg-deb", "--root-owner-group", "-Zgzip", "-b", unpacked, self.out / package.name], quiet=True)
                self.holds(package.name, "usr/bin/Zandrel", self.stage / name / "bin/Zandrel", build)

    def windows(self, zip_from=None):
        """The zip and the installer around the Windows program: the one
        built, or the one in the release's zip ZIP_FROM; signed where the
        run was given its signature (in/NAME.exe.authenticode.pem)."""
        if zip_from:
            name = Path(zip_from).name[:-len(".zip")]
            remove(self.stage / name)
            with zipfile.ZipFile(zip_from) as archive:
                for entry in archive.infolist():
                    path = self.stage / entry.filename
                    if entry.is_dir():
                        path.mkdir(parents=True, exist_ok=True)
                        continue
                    path.write_bytes(archive.read(entry))
                    path.chmod((entry.external_attr >> 16) & 0o777)
        else:
            name = (self.run / "windows").read_text().split()[0]
        step(f"windows: {name}.zip and {name}.msi")
        program = self.stage / name / "Zandrel.exe"
        self.attach(program, f"{name}.exe.authenticode.pem")
        self.zip(name)
        self.installer(name)
        self.attach(self.out / f"{name}.msi", f"{name}.msi.authenticode.pem")

    def zip(self, name):
        stamp = time.gmtime(max(self.epoch, 315532800))[:6]  # zip dates start in 1980
        with zipfile.ZipFile(self.out / f"{name}.zip", "w") as zipped:
            entries = [name + "/"]
            for folder, folders, files in os.walk(self.stage / name):
                relative = os.path.relpath(folder, self.stage)
                entries += [os.path.join(relative, f) + "/" for f in folders]
                entries += [os.path.join(relative, f) for f in files]
            for entry in sorted(entries):
                info = zipfile.ZipInfo(entry, stamp)
                info.create_system = 3  # Unix, so that the modes below count
                if entry.endswith("/"):
                    info.external_attr = (0o40755 << 16) | 0x10
                    zipped.writestr(info, b"")
                    continue
                path = self.stage / entry
                info.external_attr = (0o100755 if os.access(path, os.X_OK) else 0o100644) << 16
                zipped.writestr(info, path.read_bytes(), zipfile.ZIP_DEFLATED, 9)

    def installer(self, name):
        """wixl gives it its files, a per-machine folder and the major
        upgrade; msibuild the system PATH (appended to, [~], and taken off
        again, -, when uninstalled), for which wixl has no element, and the
        package code. Every time in it is the commit's, and its product and
        package codes follow from the version."""
        wxs = Path("cmake/Zandrel.wxs").read_text()
        upgrade_code = uuid.UUID(re.search(r'UpgradeCode="([^"]+)"', wxs).group(1))
        product, package = (str(uuid.uuid5(upgrade_code, f"{code} {self.version}")).upper()
                            for code in ("product", "package"))
        (self.stage / "Environment.idt").write_text(
            "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\n"
            "PATH\t=-*PATH\t[~];[INSTALLDIR]\tProgram\n")
        # The cabinet holds each file's time, in local time.
        for path in (self.stage / name).iterdir():
            os.utime(path, (self.epoch, self.epoch))
        clock = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(self.epoch))
        # wixl takes the files from beside the source it is given.
        shutil.copy("cmake/Zandrel.wxs", self.stage / "Zandrel.wxs")
        msi = self.out / f"{name}.msi"
        msi.unlink(missing_ok=True)
        faked = ["env", "TZ=UTC", "faketime", "-f", clock]
        run([*faked, "wixl", "--arch", "x64", "-D", f"Version={self.version}", "-D", f"ProductCode={product}",
             "-D", f"Folder={name}", "-o", msi, self.stage / "Zandrel.wxs"])
        run([*faked, "msibuild", msi, "-i", self.stage / "Environment.idt",
             "-q", "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)",
             "-q", "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)",
             "-s", f"Zandrel {self.version}", "Zandrel developers", "x64;1033", "{" + package + "}"])

    def attach(self, file, signature_name):
        """Gives FILE, in place, the Authenticode signature the run was given
        for it, which the release publishes. osslsigncode checks that every
        digest it holds is FILE's, and the signer's certificate at the time
        it signed, against the signature's own certificates (the root
        trusts no authority); its exit status is the verdict."""
        signature = self.run / "in" / signature_name
        if not signature.exists():
            return
        certificates = self.run / "certificates.pem"
        run(["openssl", "pkcs7", "-print_certs", "-in", signature, "-out", certificates])
        signed = self.run / "signed"
        signed.unlink(missing_ok=True)
        result = run(["osslsigncode", "attach-signature", "-CAfile", certificates, "-TSA-CAfile", certificates,
                      "-time", signing_time(signature), "-sigin", signature, "-in", file, "-out", signed],
                     code=None, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode:
            sys.stderr.write(result.stdout[-2000:])
            fail(1, f"{signature_name} is not a signature of {file.name} as made here")
        os.replace(signed, file)
        shutil.copy(signature, self.out / signature_name)

    def finish(self):
        """BUILDINFO, the bill of materials, a .sha256 beside each artefact and SHA256SUMS."""
        step("BUILDINFO and the bill of materials")
        plan = self.plan
        lines = [f"Zandrel {self.version}, made by scripts/release.sh", f"commit: {plan['commit']}",
                 f"SOURCE_DATE_EPOCH: {self.epoch}"]
        if plan["host_tools"]:
            system = dict(line.split("=", 1) for line in Path("/etc/os-release").read_text().splitlines() if "=" in line)
            lines.append(f"tools: this machine's own ({system['PRETTY_NAME'].strip(chr(34))}), "
                         "with --host-tools: not a published release")
        else:
            # Enough to make the same root again: every package, at its version.
            architectures, packages = installed()
            lines += [f"root: Debian {Path('/etc/debian_version').read_text().strip()}, made by mmdebstrap",
                      f"suite: {plan['root']['suite']}", f"architectures: {' '.join(architectures)}",
                      f"mirror: {plan['root']['mirror']}", "packages:", *(f"  {line}" for line in packages)]
        (self.out / "BUILDINFO").write_text("\n".join(lines) + "\n")
        run([sys.executable, "scripts/release-contents.py", "sbom", self.out, self.contents, self.version,
             plan["commit"], self.epoch])
        self.sums()

    def sums(self):
        step("sums")
        expected = [a["name"] for a in self.plan["artefacts"]]
        expected += [p.name for p in self.out.glob("*.authenticode.pem")]
        missing = [name for name in expected if not (self.out / name).is_file()]
        if missing:
            fail(2, f"the release lacks {', '.join(missing)}")
        lines = []
        for name in sorted(expected, key=str.encode):
            line = f"{sha256(self.out / name)}  {name}\n"
            (self.out / f"{name}.sha256").write_text(line)
            lines.append(line)
        (self.out / "SHA256SUMS").write_text("".join(lines))

    def take_given(self):
        """The release given (in/release), where this run has not made it again."""
        for path in sorted((self.run / "in/release").glob("*")):
            if not (self.out / path.name).exists():
                shutil.copy(path, self.out / path.name)

    def signed_windows(self):
        """The release given in in/release, its Windows artefacts signed."""
        given = self.run / "in/release"
        zip_name = self.named("windows_zip")[0]
        self.windows(zip_from=given / zip_name)
        self.take_given()
        program = self.stage / zip_name[:-len(".zip")] / "Zandrel.exe"
        run([sys.executable, "scripts/release-contents.py", "sbom-update", self.out / self.named("bill_of_materials")[0],
             f"{zip_name}={program}", f"{self.named('windows_installer')[0]}={program}"])

    def repositories(self, address):
        """The unsigned part of both repositories, from the release in out/
        and the signed RPM packages and public keys in in/: apt/ with each
        Debian package in pool/, each architecture's indexes and Release;
        rpm/ with createrepo_c's metadata; the files users add; and
        SHA256SUMS over the release and every repository file but the
        signatures made of them later."""
        step("the apt and RPM repositories' indexes")
        self.take_given()
        apt, rpm = self.out / "apt", self.out / "rpm"
        pool = apt / "pool" / APT["component"] / "z/zandrel"
        pool.mkdir(parents=True)
        for package in sorted(self.out.glob("*.deb")):
            shutil.copy(package, pool)
        architectures = sorted({output(["dpkg-deb", "-f", p, "Architecture"]).strip() for p in pool.glob("*.deb")})
        for architecture in architectures:
            index = apt / "dists" / APT["suite"] / APT["component"] / f"binary-{architecture}"
            index.mkdir(parents=True)
            packages = output(["apt-ftparchive", "--arch", architecture, "packages", "pool"], cwd=apt)
            (index / "Packages").write_text(packages)
            run(["gzip", "-9n", "-c", index / "Packages"], stdout=open(index / "Packages.gz", "wb"))
            # One thread: xz 5.6 and later would otherwise write another container.
            run(["xz", "-T1", "-9", "-c", index / "Packages"], stdout=open(index / "Packages.xz", "wb"))
        date = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(self.epoch))
        release_options = {"Origin": "Zandrel", "Label": "Zandrel", "Suite": APT["suite"], "Codename": APT["suite"],
                           "Components": APT["component"], "Architectures": " ".join(architectures), "Date": date}
        release = output(["apt-ftparchive", *[w for k, v in release_options.items()
                                              for w in ("-o", f"APT::FTPArchive::Release::{k}={v}")],
                          "release", RELEASE.parent], cwd=apt)
        (apt / RELEASE).write_text(release)
        (apt / APT["sources"]).write_text(
            f"Types: deb\nURIs: {address}/apt\nSuites: {APT['suite']}\nComponents: {APT['component']}\n"
            f"Signed-By: /etc/apt/keyrings/{APT['keyring']}\n")
        shutil.copy(self.run / "in/keys" / APT["keyring"], apt / APT["keyring"])
        rpm.mkdir()
        for package in sorted((self.run / "in/rpm").glob("*.rpm")):
            shutil.copy(package, rpm)
            os.utime(rpm / package.name, (self.epoch, self.epoch))
        # createrepo_c records each package file's time too.
        run(["createrepo_c", "--quiet", "--revision", self.epoch, "--set-timestamp-to-revision", "--no-database",
             "--general-compress-type=gz", rpm])
        shutil.copy(self.run / "in/keys" / RPM["key"], rpm / RPM["key"])
        (rpm / RPM["repository"]).write_text(
            f"[zandrel]\nname=Zandrel\ntype=rpm-md\nbaseurl={address}/rpm\nenabled=1\ngpgcheck=1\n"
            f"repo_gpgcheck=1\ngpgkey={address}/rpm/{RPM['key']}\n")
        files = sorted((str(p.relative_to(self.out)) for folder in (apt, rpm) for p in folder.rglob("*")
                        if p.is_file() and p.name not in SIGNATURES), key=str.encode)
        unsigned = (self.out / "SHA256SUMS").read_text()
        (self.out / "SHA256SUMS").write_text(unsigned + "".join(f"{sha256(self.out / f)}  {f}\n" for f in files))


def signing_time(signature):
    """When an Authenticode signature says it was made (its signingTime)."""
    shown = output(["openssl", "pkcs7", "-print", "-in", signature])
    found = re.search(r"signingTime \(1\.2\.840\.113549\.1\.9\.5\)\s+set:\s+UTCTIME:(.+)", shown)
    if not found:
        fail(1, f"{signature.name} gives no signing time")
    return calendar.timegm(time.strptime(found.group(1).strip(), "%b %d %H:%M:%S %Y %Z"))


def make_command(arguments):
    """Inside the root (or here, with --host-tools): release.py make RUN PHASE..."""
    maker = Maker(arguments[0])
    for phase in arguments[1:]:
        if phase == "release":
            for signature in (maker.run / "in").glob("*.authenticode.pem"):
                signing_time(signature)  # refused before anything is built
            maker.programs()
            maker.source()
            maker.windows()
            maker.finish()
        elif phase == "signed-windows":
            maker.signed_windows()
        elif phase == "sums":
            maker.sums()
        elif phase.startswith("repositories="):
            maker.repositories(phase.partition("=")[2])
        else:
            fail(2, f"no phase {phase}")


# --- This machine: the output folder, the release's checks, the signatures ----

def release_files(folder):
    """What a folder holds that is not part of a release this tool made:
    none where it holds BUILDINFO and SHA256SUMS and nothing else but the
    artefacts, sums and signatures these name."""
    folder = Path(folder)
    sums = folder / "SHA256SUMS"
    if not (folder / "BUILDINFO").is_file() or not sums.is_file():
        return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if not p.is_dir()) or None
    listed = {line.split("  ", 1)[1] for line in sums.read_text().splitlines() if "  " in line}
    known = listed | {f"{name}.sha256" for name in listed if "/" not in name} | {"SHA256SUMS", "SHA256SUMS.asc"}
    known |= {f"apt/{RELEASE.with_name(name)}" for name in SIGNATURES[:2]} | {"rpm/repodata/repomd.xml.asc"}
    known |= {source_signature(name) for name in listed if "/" not in name}
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if not p.is_dir()
                  and str(p.relative_to(folder)) not in known)


def usable_output(folder):
    """An output folder must not exist, be empty, or hold a release this
    tool made and nothing else, which the new one replaces whole."""
    folder = Path(folder)
    if not folder.exists():
        return
    if not folder.is_dir():
        fail(2, f"refused --output {folder}: it is not a folder")
    others = release_files(folder)
    if others:
        shown = ", ".join(others[:5]) + (f" and {len(others) - 5} more" if len(others) > 5 else "")
        fail(2, f"refused --output {folder}: it holds what is not a release made here ({shown}); "
                "name a new or empty folder, or one holding a release")


def publish(made, folder):
    """Puts MADE in the place of FOLDER (a release, or nothing) at once."""
    folder = Path(folder)
    folder.parent.mkdir(parents=True, exist_ok=True)
    staging = Work(folder.parent / f".{folder.name}")
    try:
        shutil.copytree(made, staging.path / "new", symlinks=True)
        replace(staging.path / "new", folder)
    finally:
        staging.close()


def stoppable(command):
    """Runs COMMAND with Ctrl-C and SIGTERM ending it cleanly: what it
    started is ended, its folders removed, and its exit code 130 or 143."""
    def stop(number, _frame):
        for stopping in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):  # one stop is enough
            signal.signal(stopping, signal.SIG_IGN)
        raise Failure(128 + number, f"stopped by signal {number}; what it was making is as it was, or done")
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGHUP, stop)
    return command()


def build_command(options):
    output_folder = Path(options.output or TOP / "dist").absolute()
    usable_output(output_folder)
    if options.packages and not Path(options.packages).is_file():
        fail(2, f"no BUILDINFO {options.packages}")
    plan = make_plan(options.packages, options.host_tools)
    made = make_release(plan, signatures={})
    try:
        usable_output(output_folder)  # again: it may have changed meanwhile
        publish(made.work.path / "out", output_folder)
    finally:
        made.close()
    step(f"done: {output_folder}")
    sys.stdout.write((output_folder / "SHA256SUMS").read_text())


def make_release(plan, signatures):
    """The whole release, made in the root (or with this machine's tools),
    the signatures given attached: the root left open for further phases."""
    root = (HostTools if plan["host_tools"] else Root)(plan)
    try:
        source_archive(plan, root.work.path / "in/source.tar")
        give(root, signatures)
        root.make_phase("release")
    except BaseException:
        root.close()
        raise
    return root


def source_archive(plan, tar):
    """The files of the release's commit, as git archive gives them, under
    one top folder named as the source release is: what a plain git archive
    of the commit gives anywhere, whatever this clone's or this user's
    settings (no line ends converted, git's own umask)."""
    commit = plan["commit"].split()[0]
    top = named(plan, "source")[0][:-len(".tar.gz")]
    run(["git", "-C", TOP, "-c", "core.autocrlf=false", "-c", "core.eol=lf", "-c", "tar.umask=002", "archive",
         "--format=tar", f"--prefix={top}/", "-o", tar, commit])


def give(root, files, folder="in"):
    """Hands files to the root: each under the name given."""
    for name, path in files.items():
        target = root.work.path / folder / name
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(path, target)
    record = TOP / "build/release-root-input"
    kept = Work(record)
    try:
        shutil.copytree(root.work.path / "in", kept.path / "new")
        if (root.work.path / "sources.tar").exists():
            shutil.copy(root.work.path / "sources.tar", kept.path / "new")
        replace(kept.path / "new", record)
    finally:
        kept.close()


def only_signature(path):
    """What the root may be given for Authenticode: one PKCS#7 block in PEM."""
    text = Path(path).read_text(errors="replace")
    if "PRIVATE KEY" in text:
        fail(1, f"refused {path}: it holds a private key, and the release root takes signatures only")
    if not re.fullmatch(r"-----BEGIN PKCS7-----\n[A-Za-z0-9+/=\n]+-----END PKCS7-----\n", text):
        fail(1, f"refused {path}: the release root takes Authenticode signatures alone (one PKCS#7 block)")


def whole_release(dist):
    """DIST's BUILDINFO, and SHA256SUMS's lines of the release's own
    artefacts, every one of which must have its bytes."""
    dist = Path(dist)
    if not (dist / "BUILDINFO").is_file() or not (dist / "SHA256SUMS").is_file():
        fail(2, f"{dist} has no BUILDINFO and SHA256SUMS: not a release")
    lines = [line for line in (dist / "SHA256SUMS").read_text().splitlines() if "/" not in line]
    if not lines:
        fail(2, f"{dist}/SHA256SUMS lists no artefact")
    for line in lines:
        expected, name = line.split("  ", 1)
        if not (dist / name).is_file() or sha256(dist / name) != expected:
            fail(1, f"{name} is missing or differs from SHA256SUMS: {dist} is not a whole release")
    fields = buildinfo(dist / "BUILDINFO")
    if "root" not in fields:
        fail(2, f"{dist} was made with --host-tools, not in a release root: it cannot be signed or made again")
    return fields, {line.split("  ", 1)[1]: line.split("  ")[0] for line in lines}


def at_release_commit(fields):
    commit = fields.get("commit", "")
    if not re.fullmatch(r"[0-9a-f]{40}", commit):
        fail(2, f"BUILDINFO names no commit that can be checked out: \"{commit}\"")
    head = output(["git", "-C", TOP, "rev-parse", "HEAD"]).strip()
    if head != commit:
        fail(2, f"the work tree is at {head}, the release was made at {commit}: git checkout {commit}")
    changed = output(["git", "-C", TOP, "status", "--short", "--untracked-files=no"])
    if changed:
        fail(2, f"tracked files have changes that the release does not have:\n{changed}")


# OpenPGP, with the maintainer's keyring (GNUPGHOME honoured).
class OpenPGP:
    def __init__(self, fingerprint, epoch):
        self.fingerprint = fingerprint
        listing = run(["gpg", "--batch", "--with-colons", "--list-secret-keys", "--", fingerprint], code=None,
                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, session=False)
        if listing.returncode:
            fail(1, f"no secret key {fingerprint} in {os.environ.get('GNUPGHOME', '~/.gnupg')}")
        rows = [line.split(":") for line in listing.stdout.splitlines()]
        # Field 12 of the key's row: what the key as a whole can still do, S to
        # sign; of each key's own row, s where that key signs. Field 6: when made.
        if not any(row[0] == "sec" and "S" in row[11] for row in rows):
            fail(1, f"key {fingerprint} cannot sign (revoked, expired, or without a signing key)")
        made = max([int(row[5]) for row in rows if row[0] in ("sec", "ssb") and "s" in row[11]] or [0])
        # Signatures at the release's time, or at the key's for a key made later.
        self.time = max(made, epoch)
        self.clock = time.strftime("%Y%m%dT%H%M%S", time.gmtime(self.time))

    def sign(self, *args):
        result = run(["gpg", "--batch", "--yes", "--quiet", "--faked-system-time", f"{self.clock}!",
                      "--local-user", self.fingerprint, *args], code=None, session=False,
                     stderr=subprocess.PIPE, text=True)
        # gpg warns of the pinned time at every call; that is no news here.
        sys.stderr.write("".join(line for line in result.stderr.splitlines(True) if "faked system time" not in line))
        if result.returncode:
            fail(1, f"gpg could not sign with {self.fingerprint}")

    def export(self, path, armour=False):
        with open(path, "wb") as written:
            run(["gpg", "--batch", "--quiet", *(["--armor"] if armour else []), "--export",
                 "--export-options", "export-minimal", "--", self.fingerprint], stdout=written,
                stderr=subprocess.DEVNULL, session=False)

    def sign_rpm(self, package, log):
        with open(log, "w") as written:
            result = run(["rpmsign", "--addsign", "--define", f"_gpg_name {self.fingerprint}", "--define",
                          f"__gpg {shutil.which('gpg')}", "--define",
                          f"_gpg_sign_cmd_extra_args --batch --faked-system-time={self.clock}!", package],
                         code=None, stdout=written, stderr=subprocess.STDOUT, session=False)
        if result.returncode:
            fail(1, f"rpmsign could not sign {package.name} with {self.fingerprint}: "
                    f"{Path(log).read_text().strip().splitlines()[-1:]}")


class Authenticode:
    """Signs Windows files here, where the key lives, as detached PEM
    signatures. KEY is a PEM file or a PKCS#11 URI of a key on a token or an
    HSM service, reached through MODULE. Its PIN or passphrase reaches
    osslsigncode (and openssl) alone, through a pipe: never the environment
    of another process, a command line or a file. Every cause of a refusal
    is found before anything is signed; each signature bears the later of
    the release's time and the certificate's notBefore."""

    def __init__(self, options, epoch, secrets_given, work):
        self.work, self.key, self.module = Path(work), options.authenticode_key, options.pkcs11_module
        self.urls = options.timestamp_url or []
        certificate = Path(options.authenticode_certificate)
        if not certificate.is_file():
            fail(2, f"no certificate {certificate}")
        self.certificate = certificate
        blocks = re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n?",
                            certificate.read_text(errors="replace"), re.S)
        if not blocks:
            fail(1, f"{certificate} holds no PEM certificate")
        leaf, issuers = self.work / "leaf.pem", self.work / "issuers.pem"
        leaf.write_text(blocks[0])
        issuers.write_text("".join(blocks[1:]))
        if blocks[1:] and run(["openssl", "verify", "-no_check_time", "-partial_chain", "-CAfile", issuers, leaf],
                              code=None, quiet=True, stderr=subprocess.DEVNULL).returncode:
            fail(1, f"in {certificate}, the certificates after the first are not the chain that issued it: "
                    "put the code-signing certificate first, then the authority's that issued it, on up to the root")
        x509 = ["openssl", "x509", "-in", leaf, "-noout"]
        if "Code Signing" not in output([*x509, "-ext", "extendedKeyUsage"], code=None, stderr=subprocess.DEVNULL):
            fail(1, f"the first certificate in {certificate} is not for code signing "
                    "(no codeSigning extended key usage)")
        self.subject = output([*x509, "-subject", "-nameopt", "RFC2253"]).strip().partition("=")[2]
        not_before, not_after = (calendar.timegm(time.strptime(output([*x509, f"-{end}"]).strip().partition("=")[2],
                                                               "%b %d %H:%M:%S %Y %Z")) for end in ("startdate", "enddate"))
        now = int(time.time())
        self.time = max(epoch, not_before)
        # Windows checks the certificate at the time stamp's time, which is
        # now, and without a time stamp whenever the program runs.
        if not (not_before <= now <= not_after and self.time <= not_after):
            fail(1, f"{self.subject} is valid from {utc(not_before)} to {utc(not_after)}; it must be valid at "
                    f"the signing time, {utc(self.time)}, and now, {utc(now)}")
        self.secret = None
        if self.key.startswith("pkcs11:"):
            if not self.module:
                fail(1, f"a key on a token ({self.key}) needs its PKCS#11 library: --pkcs11-module MODULE.so")
            if "pin-value=" in self.key:
                fail(1, f"{self.key} holds its PIN, which would stand on command lines: "
                        "give it in ZANDREL_PKCS11_PIN instead")
            if not Path(self.module).is_file():
                fail(1, f"the PKCS#11 module {self.module} cannot be loaded: there is no such file")
            self.key_options = ["-pkcs11module", self.module, "-key", self.key]
            self.secret = asked(secrets_given, "ZANDREL_PKCS11_PIN", f"the PIN of {self.key}")
            return
        if self.module:
            fail(1, f"--pkcs11-module is for a key on a token, named by a pkcs11: URI, not for {self.key}")
        if not Path(self.key).is_file():
            fail(2, f"no key file {self.key}")
        if b"ENCRYPTED" in Path(self.key).read_bytes():
            self.secret = asked(secrets_given, "ZANDREL_KEY_PASSPHRASE", f"the passphrase of {self.key}")
        with secret_pipe(self.secret) as (descriptors, _):
            passin = ["-passin", f"fd:{descriptors[0]}"] if descriptors else []
            public = run(["openssl", "pkey", "-in", self.key, *passin, "-pubout"], code=None,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, pass_fds=descriptors)
        if public.returncode:
            fail(1, f"{self.key} cannot be read as a private key" + (" with the passphrase given" if self.secret else ""))
        if public.stdout != output([*x509, "-pubkey"]).encode():
            fail(1, f"the first certificate in {certificate} ({self.subject}) is not the key's: "
                    "its public key is another's")
        self.key_options = ["-key", self.key]

    def sign(self, file, signature):
        """FILE's detached signature, as PEM, into SIGNATURE; FILE is left as it is."""
        signed, log = self.work / "signed", self.work / "osslsigncode.log"
        signed.unlink(missing_ok=True)
        with secret_pipe(self.secret) as (descriptors, options), open(log, "w") as written:
            status = run(["osslsigncode", "sign", "-certs", self.certificate, *self.key_options, *options,
                          "-h", "sha256", "-n", "Zandrel", "-time", self.time, "-in", file, "-out", signed],
                         code=None, stdout=written, stderr=subprocess.STDOUT, pass_fds=descriptors).returncode
        if status:
            # Its exit status says that it failed; its words, why.
            said = log.read_text(errors="replace")
            causes = [("PIN incorrect", f"the token refused the PIN (ZANDREL_PKCS11_PIN) for {self.key}"),
                      ("PIN locked", "the token's PIN is locked, after too many wrong ones"),
                      ("No PIN code was entered", "the token needs its PIN, and none was given (ZANDREL_PKCS11_PIN)"),
                      ("nable to load", f"the PKCS#11 module {self.module} cannot be loaded"),
                      ("key values mismatch", f"the first certificate in {self.certificate} ({self.subject}) "
                                              "is not the key's"),
                      ("not found", f"no private key at {self.key}")]
            fail(1, next((cause for words, cause in causes if words in said),
                         f"osslsigncode could not sign {file}:\n" + "".join(said.splitlines(True)[-8:])))
        stamped = None
        for url in self.urls:
            stamp = self.work / "stamped"
            stamp.unlink(missing_ok=True)
            # An authority that takes no connections or never answers is passed over.
            result = run(["timeout", "60", "osslsigncode", "add", "-ts", url, "-in", signed, "-out", stamp],
                         code=None, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            if result.returncode == 0:
                stamped = url
                os.replace(stamp, signed)
                break
            print(f"{PROGRAM}: no time stamp from {url}", file=sys.stderr)
        if self.urls and not stamped:
            fail(1, f"no time-stamp authority answered ({' '.join(self.urls)})")
        run(["osslsigncode", "extract-signature", "-pem", "-in", signed, "-out", signature], quiet=True)
        print(f"signed {Path(file).name} as {self.subject} at {utc(self.time)}"
              + (f", time-stamped by {stamped}" if stamped else ""))


def utc(epoch):
    return time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(epoch))


def asked(secrets_given, variable, what):
    """A PIN or passphrase: given in VARIABLE (taken out of this program's
    environment at its start), else asked for at the terminal, once."""
    if variable in secrets_given:
        return secrets_given[variable]
    try:
        with open("/dev/tty"):
            pass
    except OSError:
        fail(1, f"{what} is needed: set {variable}, or sign at a terminal")
    secrets_given[variable] = getpass.getpass(f"Enter {what}: ")
    return secrets_given[variable]


class secret_pipe:  # pylint: disable=invalid-name
    """A secret on a pipe that only the one command is given, as
    -readpass /dev/fd/N; nothing where there is no secret."""

    def __init__(self, secret):
        self.secret, self.ends = secret, ()

    def __enter__(self):
        if self.secret is None:
            return (), []
        read, write = os.pipe()
        os.write(write, self.secret.encode())
        os.close(write)
        self.ends = (read,)
        return self.ends, ["-readpass", f"/dev/fd/{read}"]

    def __exit__(self, *_):
        for end in self.ends:
            os.close(end)


def installer_as_released(released, handed, program, signature, work):
    """What the root hands out to be signed must be the release's installer
    around the signed program: the same tables, rows and files, but for the
    program's own size and hash, and that program exactly the one signed
    here (its signature ours, every digest in it its own). Names each
    difference; none where it is."""
    work = Path(work)
    differences = []
    tables = [output(["msiinfo", "tables", msi]).split() for msi in (released, handed)]
    if sorted(tables[0]) != sorted(tables[1]):
        return [f"its tables are {sorted(tables[1])}, the release's {sorted(tables[0])}"]
    exported = {}
    for table in sorted(tables[0]):
        if not table.startswith("_"):
            exported[table] = [[row.split("\t") for row in output(["msiinfo", "export", msi, table]).splitlines()]
                               for msi in (released, handed)]
    # The program's own entries may differ: its size in File, its hash in MsiFileHash.
    program_keys = {row[0] for row in exported.get("File", [[]])[0] if len(row) > 3 and
                    row[2].lower().endswith("zandrel.exe")}
    own = {"File": 3, "MsiFileHash": 2}
    for table, (ours, theirs) in exported.items():
        def masked(rows, table=table):
            return sorted(row[:own[table]] + ["*"] if table in own and row[0] in program_keys else row
                          for row in rows)
        if masked(ours) != masked(theirs):
            differences.append(f"its {table} table is not the release's")
    if output(["msiinfo", "suminfo", released]) != output(["msiinfo", "suminfo", handed]):
        differences.append("its summary information is not the release's")
    files = []
    for name, msi in (("released", released), ("handed", handed)):
        folder = work / name
        remove(folder)
        folder.mkdir()
        run(["msiextract", "-C", folder, msi], quiet=True)
        files.append({str(p.relative_to(folder)): p for p in folder.rglob("*") if p.is_file()})
    if sorted(files[0]) != sorted(files[1]):
        differences.append(f"it holds {sorted(files[1])}, the release's installer {sorted(files[0])}")
    for name in sorted(set(files[0]) & set(files[1])):
        if Path(name).name == "Zandrel.exe":
            if files[1][name].read_bytes() != Path(program).read_bytes():
                differences.append(f"its {name} is not the signed program of the zip")
        elif files[0][name].read_bytes() != files[1][name].read_bytes():
            differences.append(f"its {name} is not the release's")
    held = work / "held.pem"
    if run(["osslsigncode", "extract-signature", "-pem", "-in", program, "-out", held], code=None, quiet=True,
           stderr=subprocess.DEVNULL).returncode or held.read_bytes() != Path(signature).read_bytes():
        differences.append("the program in it does not carry the signature made here")
    certificates = work / "certificates.pem"
    run(["openssl", "pkcs7", "-print_certs", "-in", signature, "-out", certificates])
    if run(["osslsigncode", "verify", "-CAfile", certificates, "-in", program], code=None, quiet=True,
           stderr=subprocess.DEVNULL).returncode:
        differences.append("the program in it is not the one signed here (its digests are not its own)")
    return differences


def sign_command(options, secrets_given):
    dist = Path(options.dist).absolute()
    fields, artefacts = whole_release(dist)
    epoch = int(fields["SOURCE_DATE_EPOCH"])
    tools = ["gpg", "gpg-agent", "rpm"]
    if options.authenticode_certificate:
        tools += ["osslsigncode", "openssl", "msitools"]
        if options.authenticode_key.startswith("pkcs11:"):
            tools.append("libengine-pkcs11-openssl")
    run([TOP / "scripts/install-packages.sh", *tools], quiet=True)
    openpgp = OpenPGP(options.openpgp_key, epoch)
    work = Work(TOP / "build/signing")
    root = None
    try:
        signing = None
        if options.authenticode_certificate:
            at_release_commit(fields)
            signing = Authenticode(options, epoch, secrets_given, work.path)
        plan = make_plan(dist / "BUILDINFO")
        zip_name = next(a["name"] for a in plan["artefacts"] if a["kind"] == "windows_zip")
        name = zip_name[:-len(".zip")]
        signatures = {}
        if signing:
            program = work.path / "Zandrel.exe"
            with zipfile.ZipFile(dist / zip_name) as archive:
                program.write_bytes(archive.read(f"{name}/Zandrel.exe"))
            step("the Windows program, signed here")
            signatures[f"{name}.exe.authenticode.pem"] = work.path / f"{name}.exe.authenticode.pem"
            signing.sign(program, signatures[f"{name}.exe.authenticode.pem"])
        root = Root(plan)
        # The release's own lines of SHA256SUMS (a signed one lists its repositories too).
        unsigned = work.path / "SHA256SUMS"
        unsigned.write_text("".join(f"{digest}  {artefact}\n" for artefact, digest in artefacts.items()))
        give(root, {f"release/{artefact}": dist / artefact for artefact in artefacts} | {"release/SHA256SUMS": unsigned})
        out = root.work.path / "out"
        if signing:
            step("the root makes the zip and the installer around the signed program")
            give(root, signatures)
            root.make_phase("signed-windows")
            handed, msi_signature = out / f"{name}.msi", work.path / f"{name}.msi.authenticode.pem"
            with zipfile.ZipFile(out / zip_name) as archive:
                (work.path / "signed.exe").write_bytes(archive.read(f"{name}/Zandrel.exe"))
            differences = installer_as_released(dist / f"{name}.msi", handed, work.path / "signed.exe",
                                                signatures[f"{name}.exe.authenticode.pem"], work.path)
            if differences:
                fail(1, "refused to sign the installer the root handed out: " + "; ".join(differences))
            step("the installer, held to the release's and signed here")
            signing.sign(handed, msi_signature)
            signatures[msi_signature.name] = msi_signature
            give(root, signatures)
            root.make_phase("signed-windows", "sums")
        # The RPM packages signed here, and the public keys, for the root's repositories.
        given = {}
        for package in (a for a in artefacts if a.endswith(".rpm")):
            given[f"rpm/{package}"] = copy = work.path / "rpm" / package
            copy.parent.mkdir(exist_ok=True)
            shutil.copy(dist / package, copy)
            openpgp.sign_rpm(copy, work.path / "rpmsign.log")
        keys = work.path / "keys"
        keys.mkdir()
        openpgp.export(keys / APT["keyring"])
        openpgp.export(keys / RPM["key"], armour=True)
        give(root, given | {f"keys/{key.name}": key for key in keys.iterdir()})
        root.make_phase("repositories=" + options.address)
        step("the OpenPGP signatures")
        release = out / "apt" / RELEASE
        openpgp.sign("--clearsign", "--output", release.with_name("InRelease"), release)
        openpgp.sign("--armor", "--detach-sign", "--output", release.with_name("Release.gpg"), release)
        repomd = out / "rpm/repodata/repomd.xml"
        openpgp.sign("--armor", "--detach-sign", "--output", repomd.with_name("repomd.xml.asc"), repomd)
        openpgp.sign("--armor", "--detach-sign", "--output", out / "SHA256SUMS.asc", out / "SHA256SUMS")
        # The source release as the release holds it, checked above.
        sources = [name for name in named(plan, "source") if name in artefacts]
        for source in sources:
            openpgp.sign("--armor", "--detach-sign", "--output", out / source_signature(source), dist / source)
        # DIST as it is, files of the maintainer's kept, with the signed release in the place of the last.
        signed = work.path / "signed-release"
        shutil.copytree(dist, signed, symlinks=True)
        for old in ("apt", "rpm", "SHA256SUMS.asc"):
            remove(signed / old)
        for path in out.iterdir():
            if path.is_dir():
                shutil.copytree(path, signed / path.name)
            else:
                shutil.copy(path, signed / path.name)
        publish(signed, dist)
        sums = (dist / "SHA256SUMS").read_text()
        detached = "".join(f"{source_signature(source)}, " for source in sources)
        print(f"signed {dist} with {options.openpgp_key} at {utc(openpgp.time)}: SHA256SUMS.asc, {detached}"
              f"apt/ ({sums.count('  apt/')} files and InRelease, Release.gpg), rpm/ ({sums.count('  rpm/')} files, "
              "the packages signed, and repomd.xml.asc)" + (", the Windows program and installer (Authenticode)"
                                                             if signing else ""))
    finally:
        if root:
            root.close()
        work.close()


def without_rpm_signature(path):
    """An RPM package's lead and what follows its signature header."""
    data = Path(path).read_bytes()
    lead = 96
    if data[lead:lead + 3] != b"\x8e\xad\xe8":
        return None
    count, size = int.from_bytes(data[lead + 8:lead + 12], "big"), int.from_bytes(data[lead + 12:lead + 16], "big")
    end = lead + 16 + 16 * count + size
    end += -end % 8  # the signature header is padded to 8 bytes
    return data[:lead] + data[end:]


def check_command(options):
    folder = Path(options.folder).absolute()
    if not folder.is_dir():
        fail(2, f"no folder {options.folder}")
    for name in ("SHA256SUMS", "BUILDINFO"):
        if not (folder / name).is_file():
            fail(2, f"{folder} has no {name}")
    remade_folder = TOP / "build/check-release"
    if str(folder).startswith(str(remade_folder) + os.sep):
        fail(2, f"{folder} is inside {remade_folder}, which the check makes the release again in: copy it elsewhere first")
    work = Work(TOP / "build/check")
    published = work.path / "published"
    root = None
    try:
        # Copies of what is checked, taken before anything is made.
        shutil.copytree(folder, published, symlinks=True)
        lines = [line.split("  ", 1) for line in (published / "SHA256SUMS").read_text().splitlines()]
        fields = buildinfo(published / "BUILDINFO")
        signatures = {}
        for expected, name in lines:
            if name.endswith(".authenticode.pem"):
                if not (published / name).is_file():
                    fail(2, f"{folder} has no {name}, which the signed Windows program is made again with")
                if sha256(published / name) != expected:
                    fail(1, f"DIFFERENT  {name}: not the signature SHA256SUMS names, so it cannot be attached")
                only_signature(published / name)
                signatures[name] = published / name
        is_signed = (published / "SHA256SUMS.asc").exists() or any(n.startswith("apt/") for _, n in lines)
        needed = ["SHA256SUMS.asc", f"apt/{RELEASE.with_name('InRelease')}", f"apt/{RELEASE}.gpg",
                  f"apt/{APT['keyring']}", f"apt/{APT['sources']}"]
        if any(n.startswith("rpm/") for _, n in lines):
            needed.append("rpm/repodata/repomd.xml.asc")
        if not options.rebuilt:
            at_release_commit(fields)
        plan = make_plan(published / "BUILDINFO")
        sources = [n for n in named(plan, "source") if n in {name for _, name in lines}]
        needed += [source_signature(n) for n in sources]
        for name in needed if is_signed else []:
            if not (published / name).is_file():
                fail(2, f"a signed release, but {folder} has no {name}")
        if is_signed:
            run([TOP / "scripts/install-packages.sh", "gpg", "gpgv", "rpm"], quiet=True)
        if options.rebuilt:
            rebuilt = Path(options.rebuilt).absolute()
            if not (rebuilt / "SHA256SUMS").is_file():
                fail(2, f"no release in {rebuilt}")
            if is_signed:
                root = Root(plan)
                give(root, {f"release/{p.name}": p for p in rebuilt.iterdir() if p.is_file()})
        else:
            root = make_release(plan, signatures)
            publish(root.work.path / "out", remade_folder)
            print(f"== check: the release made again is in {remade_folder}")
            rebuilt = remade_folder
        differences = []

        def verdict(name, problem, good):
            print(f"{'good' if good else 'BAD':<10} {name}" + ("" if good else f": {problem}"))
            if not good:
                differences.append(f"BAD        {name}: {problem}")

        remade = {}
        if is_signed:
            remade = check_signatures(root, published, lines, verdict, {s: rebuilt / s for s in sources})
        print(f"\n== check: each artefact against {folder}")
        same = 0
        for expected, name in lines:
            made = remade.get(name, rebuilt / name)
            problem = None
            if not made.is_file():
                problem = "the rebuild made no such file"
            elif sha256(made) != expected:
                problem = "the rebuilt bytes are not those SHA256SUMS names"
            elif (published / name).is_file() and (published / name).read_bytes() != made.read_bytes():
                problem = "the published file's bytes are not the rebuilt ones, nor those SHA256SUMS names"
            elif name.startswith("rpm/") and name.endswith(".rpm") and \
                    without_rpm_signature(made) != without_rpm_signature(rebuilt / Path(name).name):
                problem = "not the package made again, with a signature"
            # Another mirror, named on purpose, changes that line of the published BUILDINFO alone.
            if name == "BUILDINFO" and problem and sha256(published / name) == expected:
                mirrorless = [[line for line in (f / "BUILDINFO").read_text().splitlines()
                               if not line.startswith("mirror: ")] for f in (published, rebuilt)]
                if mirrorless[0] == mirrorless[1]:
                    problem, name = None, name + " (but for the mirror it names)"
            if problem:
                print(f"DIFFERENT  {name}: {problem}")
                differences.append(f"DIFFERENT  {name}: {problem}")
            else:
                print(f"same       {name}")
                same += 1
        print(f"{same} of {len(lines)} artefacts the same")
        if differences:
            fail(1, "not the release this commit makes:\n" + "\n".join(differences))
    finally:
        if root:
            root.close()
        work.close()


def check_signatures(root, published, lines, verdict, sources):
    """A signed release's repositories made again in the root, from the
    rebuilt release, the published signed RPM packages and the published
    keys; each signature verified with the key the release publishes, over
    the remade bytes (SOURCES: each source release's). Returns where each
    repository file was remade."""
    keyring = published / "apt" / APT["keyring"]
    home = published.parent / "gnupg"
    home.mkdir(mode=0o700)
    # gpg reads the published keys in a home of its own, not the caller's.
    gpg_env = dict(os.environ, GNUPGHOME=str(home))
    print("\n== check: the signatures, with the key the release publishes:")
    shown = output(["gpg", "--batch", "--quiet", "--show-keys", "--with-fingerprint", keyring], env=gpg_env,
                   stderr=subprocess.DEVNULL)
    print("".join("    " + line if line.strip() else line for line in shown.splitlines(True)))
    rpm_packages = sorted(n for _, n in lines if n.startswith("rpm/") and n.endswith(".rpm"))
    rpm_key = published / "rpm" / RPM["key"]
    # A release without RPM packages has no RPM key: the apt keyring stands in for it.
    give(root, {n: published / n for n in rpm_packages} | {f"keys/{APT['keyring']}": keyring,
                                                           f"keys/{RPM['key']}": rpm_key if rpm_packages else keyring})
    address = re.search(r"^URIs: (.*)/apt$", (published / "apt" / APT["sources"]).read_text(), re.M)
    root.make_phase("repositories=" + (address.group(1) if address else ""))
    out = root.work.path / "out"
    remade = {n: out / n for _, n in lines if n.startswith(("apt/", "rpm/"))}
    gpgv = ["gpgv", "--quiet", "--keyring", keyring]

    def verified(*args):
        return run([*gpgv, *args], code=None, quiet=True, stderr=subprocess.DEVNULL, env=gpg_env).returncode == 0

    bad = "not a good signature by that key over the rebuilt bytes"
    verdict("SHA256SUMS", "not the sums made again", (published / "SHA256SUMS").read_bytes() ==
            (out / "SHA256SUMS").read_bytes())
    verdict("SHA256SUMS.asc", bad, verified(published / "SHA256SUMS.asc", published / "SHA256SUMS"))
    for name, remade_source in sources.items():
        verdict(source_signature(name), bad, verified(published / source_signature(name), remade_source))
    release = out / "apt" / RELEASE
    verdict(f"apt/{RELEASE}.gpg", bad, verified(published / "apt" / f"{RELEASE}.gpg", release))
    text = published.parent / "InRelease.text"
    verdict(f"apt/{RELEASE.with_name('InRelease')}", bad,
            verified("--output", text, published / "apt" / RELEASE.with_name("InRelease")) and
            text.read_bytes() == release.read_bytes())
    if rpm_packages:
        rpm_keyring = published.parent / "rpm-keyring.gpg"
        run(["gpg", "--batch", "--quiet", "--yes", "--output", rpm_keyring, "--dearmor", rpm_key], env=gpg_env)

        def fingerprints(path):
            shown = output(["gpg", "--batch", "--with-colons", "--show-keys", path], env=gpg_env,
                           stderr=subprocess.DEVNULL)
            return [line for line in shown.splitlines() if line.startswith("fpr")]

        verdict(f"rpm/{RPM['key']}", "not the key apt/ publishes", fingerprints(rpm_keyring) == fingerprints(keyring))
        verdict("rpm/repodata/repomd.xml.asc", bad,
                run(["gpgv", "--quiet", "--keyring", rpm_keyring, published / "rpm/repodata/repomd.xml.asc",
                     out / "rpm/repodata/repomd.xml"], code=None, quiet=True, stderr=subprocess.DEVNULL).returncode == 0)
        database = published.parent / "rpmdb"
        run(["rpmkeys", "--dbpath", database, "--import", rpm_key])
        for name in rpm_packages:
            verdict(name, bad, run(["rpmkeys", "--dbpath", database, "--checksig", published / name], code=None,
                                   quiet=True, stderr=subprocess.DEVNULL).returncode == 0)
    return remade


def main(arguments):
    global PROGRAM  # pylint: disable=global-statement
    # A PIN or passphrase given in the environment is taken out of it at
    # once, so that no process started from here inherits it.
    secrets_given = {name: os.environ.pop(name) for name in ("ZANDREL_PKCS11_PIN", "ZANDREL_KEY_PASSPHRASE")
                     if name in os.environ}
    if arguments[:1] == ["make"]:
        try:
            make_command(arguments[1:])
        except Failure as failure:
            print(f"release (in the root): {failure}", file=sys.stderr)
            sys.exit(failure.code)
        return
    names = {"build": "release", "sign": "sign-release", "check": "check-release"}
    parser = argparse.ArgumentParser(prog="release.py", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    build = commands.add_parser("build", prog="scripts/release.sh")
    chosen = build.add_mutually_exclusive_group()
    chosen.add_argument("--host-tools", action="store_true")
    chosen.add_argument("--packages", metavar="BUILDINFO")
    build.add_argument("--output", metavar="DIR")
    sign = commands.add_parser("sign", prog="scripts/sign-release.sh")
    sign.add_argument("--openpgp-key", metavar="FINGERPRINT", required=True)
    sign.add_argument("--address", metavar="URL", default=TABLE["address"])
    sign.add_argument("--authenticode-certificate", metavar="CHAIN.pem")
    sign.add_argument("--authenticode-key", metavar="KEY")
    sign.add_argument("--pkcs11-module", metavar="MODULE.so")
    sign.add_argument("--timestamp-url", metavar="URL", action="append")
    sign.add_argument("dist", metavar="DIST")
    check = commands.add_parser("check", prog="scripts/check-release.sh")
    check.add_argument("--rebuilt", metavar="DIST")
    check.add_argument("folder", metavar="FOLDER")
    options = parser.parse_args(arguments)
    PROGRAM = names[options.command]
    if options.command == "sign" and (bool(options.authenticode_certificate) != bool(options.authenticode_key) or (
            not options.authenticode_certificate and (options.pkcs11_module or options.timestamp_url))):
        sign.error("the Authenticode certificate and key come together, and the other Authenticode options with them")
    os.chdir(TOP)
    try:
        if options.command == "build":
            stoppable(lambda: build_command(options))
        elif options.command == "sign":
            stoppable(lambda: sign_command(options, secrets_given))
        else:
            stoppable(lambda: check_command(options))
    except Failure as failure:
        print(f"{PROGRAM}: {failure}", file=sys.stderr)
        sys.exit(failure.code)


if __name__ == "__main__":
    main(sys.argv[1:])
