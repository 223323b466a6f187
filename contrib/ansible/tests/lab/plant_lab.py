#!/usr/bin/env python3
"""The plant lab: the example playbook run for real by ansible-playbook, over
SSH, against cell PCs with simulated drives, all inside network namespaces
made here and removed at the end.

    controller         10.77.0.1 ------+                (the SSH LAN: a bridge
    plant a cell1..3   10.77.0.11..13 -+- switch (br0)  in a namespace of its
    plant b cell1..3   10.77.0.21..23 -+                own; the gateway
                                                        10.77.0.254 is absent)
    each cell   192.168.124.10 on drv0 -- its drive LAN: simulated drives at
                192.168.124.120 and .121 (the same addresses in every cell)

Two plants of three cells each, with an inventory, a folder and reports of
their own, share the controller and the SSH LAN. Each cell runs sshd (a host
key and a login key made here) and is a cell PC of its own network namespace;
cells share this machine's file system, so each gets its own folders (loader,
staged firmware, records) in its plant's folder, and nothing is installed
into the system.

The plants' scenarios run side by side, each plant's in order. In each
plant, cell3's second drive is of another model (KVA) than the release
catalog's releases are for (KV7). Plant a: a first rollout, without the
catalog, programs every drive; a second one programs nothing (every task
ok); check mode with the catalog's newer release plans every drive (would
program all but the other model's, which is incompatible and fails cell3)
and changes none. Plant b: a failing drive fails its cell alone; a failing
canary cell stops the waves; a rollout of cell3 alone with the catalog
programs its KV7 drive and leaves the other untouched, failing the cell and
naming the drive. Much of each run is the drives' protocol pauses (the
loader's pacing), in which the other plant's run goes on.

Usage: plant_lab.py --tovrin PATH --drivesim PATH --collection DIR
Exit status 0 passed, 1 failed, 77 skipped (not root, or a tool missing).
"""

import argparse
import glob
import hashlib
import json
import os
import pwd
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SKIP = 77
TIMEOUT_SECONDS = 480  # the whole lab; CTest's limit is above it
RUN_TIMEOUT_SECONDS = 180  # one ansible-playbook run
PLANTS = ["a", "b"]
CELLS = 3  # per plant
DRIVES = ["192.168.124.120", "192.168.124.121"]
SSH_NET = "10.77.0"
GATEWAY = SSH_NET + ".254"
FIRMWARE_SIZE = 16 * 512
HEADER_SIZE = 24
# The release catalog: the two firmware files, releases 4.1 and 4.2 for the
# simulated drive's own model; cell3's second drive is of another.
RELEASES = (("4.1", "kv720-a.bin"), ("4.2", "kv720-b.bin"))
MODEL, OTHER_MODEL = "KV7", "KVA"
OTHER_MODEL_DRIVE = ["--drive", DRIVES[1], "--model", OTHER_MODEL]
ROOT_HOME = pwd.getpwnam("root").pw_dir


class LabFailure(Exception):
    """A check of the lab failed."""


class Timeout(Exception):
    """The lab ran out of time."""


def run(argv, timeout=60, check=True, **kwargs):
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True, timeout=timeout, **kwargs)
    if check and done.returncode != 0:
        raise LabFailure("%s failed (%d):\n%s" % (" ".join(argv), done.returncode, done.stdout))
    return done


# The plants print side by side: each block of lines whole, under its name.
print_lock = threading.Lock()


def say(who, text):
    with print_lock:
        print("\n".join("[%s] %s" % (who, line) if who else line for line in text.rstrip("\n").split("\n")), flush=True)


def loader_has_options(tovrin):
    """Whether the loader knows -e, -s, -c, -n and --allow-older: each probe
    stands before an address that is refused, which only a known option lets
    it reach; no socket is opened."""
    probes = [(["-e"], "Check ip address"), (["-s"], "Check ip address"), (["-c", "1"], "Check ip address"),
              (["-n"], "Check ip address"), (["--allow-older"], "Check ip address")]  # fmt: skip
    missing = []
    for words, expected in probes:
        out = run([tovrin] + words + ["-ip", "300.1.1.1"], check=False).stdout
        if expected not in out:
            missing.append(words[0])
    return missing


class Cell:
    """A cell PC of a plant: its SSH address, its namespaces and folder."""

    def __init__(self, lab, plant, number):
        self.name = "cell%d" % number
        self.address = "%s.%d" % (SSH_NET, 10 * (PLANTS.index(plant) + 1) + number)
        self.ns = "%s%sh%d" % (lab.prefix, plant, number)
        self.drive_ns = "%s%sd%d" % (lab.prefix, plant, number)
        self.folder = os.path.join(lab.work, plant, self.name)
        self.key = plant + "-" + self.name  # its processes in the lab


class Lab:
    """The namespaces, sshd and simulated drives of every plant; torn down by
    close()."""

    def __init__(self, args, work):
        self.args = args
        self.work = work
        pid = os.getpid()
        self.prefix = "tvans-%d" % pid
        self.controller = self.prefix + "c"
        self.switch = self.prefix + "s"
        self.cells = dict((plant, [Cell(self, plant, i + 1) for i in range(CELLS)]) for plant in PLANTS)
        self.namespaces = []
        self.processes = {}  # name -> Popen
        # The plants start processes from threads of their own: none once
        # close() has begun.
        self.processes_lock = threading.Lock()
        self.closing = False

    def all_cells(self):
        return [cell for plant in PLANTS for cell in self.cells[plant]]

    # --- set-up ---------------------------------------------------------------

    def ns_add(self, name):
        # Noted first: close() removes it whatever happens next.
        self.namespaces.append(name)
        run(["ip", "netns", "add", name])
        run(["ip", "-n", name, "link", "set", "lo", "up"])

    def link(self, ns, ifname, peer_ns, peer_ifname, address=None):
        run(["ip", "-n", ns, "link", "add", ifname, "type", "veth", "peer", "name", peer_ifname, "netns", peer_ns])
        run(["ip", "-n", ns, "link", "set", ifname, "up"])
        if address:
            run(["ip", "-n", ns, "addr", "add", address, "dev", ifname])

    def build_network(self):
        self.ns_add(self.switch)
        run(["ip", "-n", self.switch, "link", "add", "br0", "type", "bridge"])
        run(["ip", "-n", self.switch, "link", "set", "br0", "up"])
        hosts = [(self.controller, SSH_NET + ".1")] + [(cell.ns, cell.address) for cell in self.all_cells()]
        for port, (ns, address) in enumerate(hosts):
            self.ns_add(ns)
            self.link(ns, "lan0", self.switch, "port%d" % port, address + "/24")
            run(["ip", "-n", self.switch, "link", "set", "port%d" % port, "master", "br0", "up"])
            # An office network: the default route goes via a gateway.
            run(["ip", "-n", ns, "route", "add", "default", "via", GATEWAY])
        for cell in self.all_cells():
            self.ns_add(cell.drive_ns)
            # The cell PC's second adapter, cabled to the machine's drives.
            self.link(cell.ns, "drv0", cell.drive_ns, "eth0", "192.168.124.10/24")
            run(["ip", "-n", cell.drive_ns, "link", "set", "eth0", "up"])
            for address in DRIVES:
                run(["ip", "-n", cell.drive_ns, "addr", "add", address + "/24", "dev", "eth0"])

    def start_sshd(self):
        keys = os.path.join(self.work, "keys")
        os.makedirs(keys)
        self.host_key = os.path.join(keys, "host_key")
        self.client_key = os.path.join(keys, "client_key")
        for key in (self.host_key, self.client_key):
            run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key])
        shutil.copy(self.client_key + ".pub", os.path.join(keys, "authorized_keys"))
        host_public = open(self.host_key + ".pub").read().split()[:2]
        self.known_hosts = os.path.join(keys, "known_hosts")
        with open(self.known_hosts, "w") as out:
            for cell in self.all_cells():
                out.write("%s %s\n" % (cell.address, " ".join(host_public)))
        for cell in self.all_cells():
            config = os.path.join(cell.folder, "sshd_config")
            with open(config, "w") as out:
                out.write(
                    "ListenAddress %s:22\n"
                    "HostKey %s\n"
                    "AuthorizedKeysFile %s\n"
                    "PidFile %s\n"
                    "PermitRootLogin prohibit-password\n"
                    "PasswordAuthentication no\n"
                    "KbdInteractiveAuthentication no\n"
                    "UsePAM no\n"
                    "StrictModes no\n"
                    "ClientAliveInterval 10\n"
                    "Subsystem sftp internal-sftp\n"
                    % (cell.address, self.host_key, os.path.join(keys, "authorized_keys"), os.path.join(cell.folder, "sshd.pid"))
                )
            # sshd wants its privilege separation folder /run/sshd (its
            # service makes it on a Debian system): in the mount namespace
            # that "ip netns exec" gives it, a /run of its own holds one, so
            # the system's /run is left alone. The cell's root has a home of
            # its own there too, empty as on a new cell PC: this machine's
            # root's shell start-up files (which may start slow tools) would
            # otherwise run at every SSH session, several per task.
            home = os.path.join(cell.folder, "root-home")
            os.makedirs(home)
            sshd = "mount -t tmpfs -o mode=755 tvalab /run && mkdir /run/sshd && "
            if ROOT_HOME != "/":
                sshd += "mount --bind \"$1\" %s && " % shlex.quote(ROOT_HOME)
            sshd += "shift && exec /usr/sbin/sshd \"$@\""
            self.spawn(
                "sshd-" + cell.key,
                ["ip", "netns", "exec", cell.ns, "sh", "-c", sshd, "sshd", home, "-D", "-f", config, "-E", os.path.join(cell.folder, "sshd.log")],
            )
        for cell in self.all_cells():
            self.wait_for_ssh(cell)

    def ssh_args(self):
        return [
            "-F", "/dev/null",
            "-o", "UserKnownHostsFile=" + self.known_hosts,
            "-o", "StrictHostKeyChecking=yes",
            "-o", "IdentitiesOnly=yes",
            "-o", "BatchMode=yes",
            "-o", "ConnectTimeout=5",
        ]  # fmt: skip

    def wait_for_ssh(self, cell):
        deadline = time.time() + 20
        while True:
            probe = run(
                ["ip", "netns", "exec", self.controller, "ssh"] + self.ssh_args() + ["-i", self.client_key, "root@" + cell.address, "true"],
                check=False,
                timeout=15,
            )
            if probe.returncode == 0:
                return
            if time.time() > deadline:
                log = open(os.path.join(cell.folder, "sshd.log")).read()
                raise LabFailure("no SSH login to %s: %s\n%s" % (cell.key, probe.stdout, log))
            time.sleep(0.3)

    def start_drives(self, cell, faults=()):
        """(Re)starts the cell's simulated drives, fresh: they hold no image."""
        self.stop("drives-" + cell.key)
        for old in glob.glob(os.path.join(cell.folder, "drive-*.bin")):
            os.remove(old)
        log = os.path.join(cell.folder, "drivesim.log")
        argv = ["ip", "netns", "exec", cell.drive_ns, self.args.drivesim, "--ip", ",".join(DRIVES), "--discovery",
                "--idle-timeout", str(TIMEOUT_SECONDS), "--quiet", "--image-out", os.path.join(cell.folder, "drive-%a.bin")]  # fmt: skip
        argv += list(faults)
        process = self.spawn("drives-" + cell.key, argv, log)
        deadline = time.time() + 10
        while not re.search(r"^ready", open(log).read(), re.M):
            if process.poll() is not None or time.time() > deadline:
                raise LabFailure("the simulated drives of %s did not start:\n%s" % (cell.key, open(log).read()))
            time.sleep(0.1)

    def spawn(self, name, argv, log=None, **kwargs):
        """Starts a process of the lab, its output to log, noted under name
        so that stop() or close() ends it by its PID."""
        with self.processes_lock:
            if self.closing:
                raise LabFailure("the lab is closing")
            with open(log or os.devnull, "w") as out:
                process = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, start_new_session=True, **kwargs)
            self.processes[name] = process
        return process

    def stop(self, name):
        with self.processes_lock:
            process = self.processes.pop(name, None)
        if process is None:
            return
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(5)

    def close(self):
        with self.processes_lock:
            self.closing = True
            names = list(self.processes)
        for name in names:
            self.stop(name)
        # What runs on in the lab's namespaces was started by the lab: sshd's
        # sessions, ssh's shared connections, a loader still running.
        for signum in (signal.SIGTERM, signal.SIGKILL):
            left = self.pids_in_namespaces()
            for pid in left:
                try:
                    os.kill(pid, signum)
                except OSError:
                    pass
            deadline = time.time() + 5
            while left and self.pids_in_namespaces() and time.time() < deadline:
                time.sleep(0.1)
        for ns in reversed(self.namespaces):
            subprocess.run(["ip", "netns", "del", ns], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.namespaces = []

    def pids_in_namespaces(self):
        pids = set()
        for ns in self.namespaces:
            listed = subprocess.run(["ip", "netns", "pids", ns], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, universal_newlines=True)
            pids.update(int(word) for word in listed.stdout.split() if word.isdigit())
        pids.discard(os.getpid())
        return sorted(pids)

    # --- ansible ---------------------------------------------------------------

    def write_ansible_files(self):
        collections = os.path.join(self.work, "collections", "ansible_collections", "tovrin")
        os.makedirs(collections)
        os.symlink(os.path.abspath(self.args.collection), os.path.join(collections, "plant"))
        home = os.path.join(self.work, "home")
        os.makedirs(home)
        config = os.path.join(self.work, "ansible.cfg")
        with open(config, "w") as out:
            # One SSH connection per cell for the whole lab (ControlPersist
            # outlives each run; close() ends the masters), each module sent
            # down it on the Python's standard input (pipelining) rather than
            # copied to a temporary folder and run by separate commands, and
            # no compression on a local link. Every cell of a batch at once.
            out.write(
                "[defaults]\n"
                "forks = %d\n"
                "[ssh_connection]\n"
                "pipelining = True\n"
                "ssh_args = -o ControlMaster=auto -o ControlPersist=%ds\n" % (2 * CELLS, TIMEOUT_SECONDS)
            )
        self.env = dict(os.environ)
        self.env.update(
            HOME=home,
            ANSIBLE_CONFIG=config,
            ANSIBLE_COLLECTIONS_PATH=os.path.join(self.work, "collections"),
            ANSIBLE_LOCAL_TEMP=os.path.join(home, "tmp"),
            ANSIBLE_SSH_CONTROL_PATH_DIR=os.path.join(home, "cp"),
            ANSIBLE_NOCOLOR="1",
            ANSIBLE_RETRY_FILES_ENABLED="0",
            ANSIBLE_HOST_KEY_CHECKING="1",
            ANSIBLE_TIMEOUT="10",
            ANSIBLE_PYTHON_INTERPRETER="/usr/bin/python3",
        )


class Plant:
    """One plant's cells, inventory and reports, in a folder of its own in
    which ansible-playbook runs, as from a shell there."""

    def __init__(self, lab, name):
        self.lab = lab
        self.name = name
        self.folder = os.path.join(lab.work, name)
        self.cells = dict((cell.name, cell) for cell in lab.cells[name])
        self.env = dict(lab.env, PWD=self.folder)
        hosts = {}
        for cell in self.cells.values():
            hosts[cell.name] = {
                "ansible_host": cell.address,
                "ansible_remote_tmp": os.path.join(cell.folder, "remote-tmp"),
                "tovrin_install_dir": os.path.join(cell.folder, "opt"),
                "tovrin_cell_dir": os.path.join(cell.folder, "var"),
            }
        hosts["cell1"].update(tovrin_drives=DRIVES, tovrin_canaries=1)
        # cell2 finds its drives by discovery.
        hosts["cell2"].update(tovrin_all_drives=True)
        hosts["cell3"].update(tovrin_drives=DRIVES)
        inventory = {
            "all": {
                "vars": {
                    "ansible_user": "root",
                    "ansible_python_interpreter": "/usr/bin/python3",
                    "ansible_ssh_private_key_file": lab.client_key,
                    "ansible_ssh_common_args": " ".join(lab.ssh_args()),
                    "tovrin_install": "path",
                    "tovrin_loader_source": os.path.abspath(lab.args.tovrin),
                },
                "children": {
                    "cells": {"hosts": hosts},
                    "canary": {"hosts": {"cell1": {}}},
                },
            }
        }
        self.inventory = os.path.join(self.folder, "inventory.json")
        with open(self.inventory, "w") as out:
            json.dump(inventory, out, indent=1)
        # The playbook's default: reports/ in the folder it runs in.
        self.reports = os.path.join(self.folder, "reports")

    def check(self, condition, what, details=""):
        if not condition:
            raise LabFailure(what + ("\n" + details if details else ""))
        say(self.name, "ok: " + what)

    def start_drives(self, cell, faults=()):
        self.lab.start_drives(self.cells[cell], faults)

    def playbook(self, name, firmware, check_mode=False, catalog=None, cell=None):
        """Runs the example playbook (on one cell alone when given, the
        report's play on the controller too); returns (status, output,
        recap, report records, report table)."""
        before = set(glob.glob(os.path.join(self.reports, "*")))
        variables = {"tovrin_firmware_file": firmware, "tovrin_wave_size": 2}
        if catalog:
            variables["tovrin_catalog_dir"] = catalog
        # Without -v: what the play shows is what a plant engineer sees.
        argv = ["ip", "netns", "exec", self.lab.controller, "ansible-playbook", "-i", self.inventory,
                os.path.join(self.lab.args.collection, "playbooks", "plant.yml"),
                "-e", json.dumps(variables)]  # fmt: skip
        if check_mode:
            argv.append("--check")
        if cell:
            argv += ["--limit", cell + ",localhost"]
        say(self.name, "--- %s: ansible-playbook%s" % (name, " --check" if check_mode else ""))
        started = time.time()
        log = os.path.join(self.folder, "%s.log" % re.sub(r"\W+", "-", name))
        process = self.lab.spawn("playbook-" + self.name, argv, log, env=self.env, cwd=self.folder)
        try:
            status = process.wait(RUN_TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired:
            raise LabFailure("%s: ansible-playbook ran longer than %d s" % (name, RUN_TIMEOUT_SECONDS))
        finally:
            self.lab.stop("playbook-" + self.name)
        if self.lab.closing:
            raise LabFailure("the lab is closing")  # the run was ended, not failed
        say(self.name, "--- %s: ansible-playbook took %.1f s" % (name, time.time() - started))
        output = open(log).read()
        recap = {}
        for host, counts in re.findall(r"^(\S+)\s+:\s+(ok=.*)$", output, re.M):
            recap[host] = dict((k, int(v)) for k, v in re.findall(r"(\w+)=(\d+)", counts))
        made = sorted(set(glob.glob(os.path.join(self.reports, "*"))) - before)
        records, table = [], ""
        if made:
            jsonl = os.path.join(made[-1], "report.jsonl")
            if os.path.exists(jsonl):
                records = [json.loads(line) for line in open(jsonl)]
                table = open(os.path.join(made[-1], "report.txt")).read()
        if table:
            say(self.name, table)
        if made:
            said = re.findall(r'"msg": "The plant report: (\S+) \(', output)
            self.check(said and said[-1] == os.path.join(made[-1], "report.txt"), "the play says where the report is", output[-3000:])
        return status, output, recap, records, table

    def image(self, cell, address):
        path = os.path.join(self.cells[cell].folder, "drive-%s.bin" % address)
        return open(path, "rb").read() if os.path.exists(path) else None


def make_firmware(path, seed):
    data = b"".join(hashlib.sha256(b"%s-%d" % (seed, i)).digest() for i in range(FIRMWARE_SIZE // 32))
    with open(path, "wb") as out:
        out.write(data)
    return data


def holds(image, firmware, digest):
    """Whether a drive's image is the firmware file as the loader sends it:
    the file's bytes after the 24-byte header, the header carrying the
    digest that the records report."""
    return (
        image is not None
        and len(image) == len(firmware)
        and image[HEADER_SIZE:] == firmware[HEADER_SIZE:]
        and image[:16].hex() == digest
    )


def make_catalog(folder, firmware):
    """A release catalog of the firmware files, each a release for MODEL."""
    os.makedirs(folder)
    for (version, name), (path, data) in zip(RELEASES, firmware):
        shutil.copy(path, os.path.join(folder, name))
        manifest = {
            "version": version,
            "file": name,
            "sha256": hashlib.sha256(data).hexdigest(),
            "models": [MODEL],
            "hardwareRevisions": ["1.02"],
            "currentRatings": [10.0],
            "minMonitorRevision": 3,
            "notes": "plant lab release",
        }
        with open(os.path.join(folder, "kv720-%s.json" % version), "w") as out:
            json.dump(manifest, out, indent=1)
    return folder


def by_drive(records):
    return dict(((r["host"], r["address"]), r) for r in records)


def rollouts(plant, firmware, catalog):
    """Plant a: a first rollout, the same again, then check mode with the
    catalog's newer release."""
    (fw_a, data_a), (fw_b, _) = firmware
    check = plant.check
    all_drives = set((cell, address) for cell in plant.cells for address in DRIVES)
    # Without a catalog nothing tells the other model's drive apart.
    plant.start_drives("cell3", OTHER_MODEL_DRIVE)

    # 1. A first rollout programs every drive of every cell.
    rc, out, recap, records, table = plant.playbook("first rollout", fw_a)
    check(rc == 0, "the first rollout succeeds", out[-3000:])
    check(set(by_drive(records)) == all_drives, "the report holds every drive of every cell", table)
    check(all(r["result"] == "programmed" for r in records), "every drive was programmed", table)
    digest_a = records[0]["fileDigest"]
    check(
        all(holds(plant.image(cell, address), data_a, digest_a) for cell, address in all_drives),
        "every drive's image equals the file's",
    )
    check(all(recap[cell]["changed"] > 0 and recap[cell]["failed"] == 0 for cell in plant.cells), "every cell changed", str(recap))

    # 2. The same rollout again: every task ok, nothing programmed (-s).
    rc, out, recap, records, table = plant.playbook("second rollout", fw_a)
    check(rc == 0, "the second rollout succeeds", out[-3000:])
    check(all(recap[host]["changed"] == 0 and recap[host]["failed"] == 0 for host in recap), "every task of the second rollout is ok", str(recap))
    check(all(r["result"] == "current" for r in records) and len(records) == len(all_drives), "every drive was already current", table)

    # 3. Check mode with the catalog's newer release: the plan of every
    # drive, cell3 failing for its drive of another model; no drive changes.
    rc, out, recap, records, table = plant.playbook("check mode", fw_b, check_mode=True, catalog=catalog)
    check(rc != 0, "the check-mode run ends with an error status, a drive being of another model", out[-3000:])
    check(recap["cell3"]["failed"] == 1 and recap["cell1"]["failed"] == 0 and recap["cell2"]["failed"] == 0, "cell3 alone failed in check mode", str(recap))
    planned = dict((drive, (r["mode"], r["result"], r["reason"])) for drive, r in by_drive(records).items())
    expected = dict((drive, ("plan", "would-program", None)) for drive in all_drives)
    expected[("cell3", DRIVES[1])] = ("plan", "incompatible", "model")
    check(planned == expected, "check mode planned every drive: the other model's incompatible (model), every other would be programmed", table)
    check(
        all((r["driveVersion"], r["fileVersion"]) == ("4.1", "4.2") for r in records if r["result"] == "would-program"),
        "the plan names the release each drive holds and the file's",
        table,
    )
    check(re.search(r"^cell1\s+%s\s+\S+\s+would-program\s+4\.1 -> 4\.2\s" % re.escape(DRIVES[0]), table, re.M) is not None, "the table shows 4.1 -> 4.2", table)
    check(out.count('"msg": "would program 2 drives') == 2, "check mode says which drives of cells 1 and 2 it would program", out[-3000:])
    fatal = re.findall(r"^fatal: \[cell3\]: FAILED! => (.*)$", out, re.M)
    check(
        len(fatal) == 1
        and "would program 1 drive: %s." % DRIVES[0] in fatal[0]
        and "withheld by the release catalog: %s" % DRIVES[1] in fatal[0]
        and "model" in fatal[0],
        "cell3's message names the drive it would program and the incompatible one",
        out[-3000:],
    )
    check(all(holds(plant.image(cell, address), data_a, digest_a) for cell, address in all_drives), "check mode changed no drive")


def failures(plant, firmware, catalog):
    """Plant b: a failing drive, a failing canary cell, then a drive of
    another model with the catalog."""
    (fw_a, data_a), (fw_b, data_b) = firmware
    check = plant.check

    # 4. A failing drive in cell3 fails cell3 alone; the report names it.
    plant.start_drives("cell3", ["--drive", DRIVES[1], "--silent-from-block", "2"])
    rc, out, recap, records, table = plant.playbook("failing drive", fw_a)
    check(rc != 0, "the rollout with a failing drive ends with an error status")
    check(recap["cell3"]["failed"] == 1, "cell3 failed", str(recap))
    check(recap["cell1"]["failed"] == 0 and recap["cell2"]["failed"] == 0, "cells 1 and 2 did not fail", str(recap))
    failed = [r for r in records if r["result"] == "failed"]
    check([(r["host"], r["address"]) for r in failed] == [("cell3", DRIVES[1])], "the report names the failed drive, cell3 " + DRIVES[1], table)
    check(re.search(r"^cell3\s+%s\s+\S+\s+failed\s" % re.escape(DRIVES[1]), table, re.M) is not None, "the table shows it failed", table)
    fatal = re.findall(r"^fatal: \[cell3\]: FAILED! => (.*)$", out, re.M)
    check(len(fatal) == 1 and "1 drive failed: 192.168.124.121" in fatal[0], "the task's message names the failed drive", out[-3000:])
    check(set(json.loads(fatal[0])) == {"changed", "msg"}, "the failed cell's message is short, not the module's whole result", fatal[0])
    kept = os.path.join(plant.cells["cell3"].folder, "var", "records", "last-run.jsonl")
    check("-e -r %s -ip %s -fp " % (kept, DRIVES[1]) in fatal[0], "the retry command names the failed drive and keeps its records where the role fetches them", fatal[0])
    digest_a = by_drive(records).get(("cell3", DRIVES[0]), {}).get("fileDigest")
    check(holds(plant.image("cell3", DRIVES[0]), data_a, digest_a), "cell3's other drive was programmed")
    others = [(cell, address) for cell in ("cell1", "cell2") for address in DRIVES]
    check(all(holds(plant.image(cell, address), data_a, digest_a) for cell, address in others), "the drives of cells 1 and 2 were programmed")

    # 5. A failing canary cell stops the waves.
    plant.start_drives("cell1", ["--drive", DRIVES[0], "--silent-from-block", "1"])
    rc, out, recap, records, table = plant.playbook("failing canary", fw_b)
    check(rc != 0, "the rollout with a failing canary ends with an error status")
    check(recap["cell1"]["failed"] == 1, "the canary cell failed", str(recap))
    check("cell2" not in recap and "cell3" not in recap, "no wave started", str(recap))
    check(set(r["host"] for r in records) == {"cell1"}, "the report holds the canary cell alone", table)
    results = dict((r["address"], r["result"]) for r in records)
    check(results == {DRIVES[0]: "failed", DRIVES[1]: "not-started"}, "the cell's own canary drive failed, its other drive never started", table)
    check(all(holds(plant.image("cell2", address), data_a, digest_a) for address in DRIVES), "the cells of the waves kept their firmware")

    # 6. Cell3 alone with the catalog, its second drive of another model:
    # the other drive is programmed, that one gets no block, the cell fails.
    plant.start_drives("cell3", OTHER_MODEL_DRIVE)
    rc, out, recap, records, table = plant.playbook("other model", fw_b, catalog=catalog, cell="cell3")
    check(rc != 0, "the rollout with a drive of another model ends with an error status")
    check(sorted(recap) == ["cell3", "localhost"] and recap["cell3"]["failed"] == 1, "cell3 ran alone, and failed", str(recap))
    outcome = dict((r["address"], (r["mode"], r["result"], r["reason"], r["fileVersion"], r["imageIncomplete"])) for r in records)
    check(
        outcome == {DRIVES[0]: ("program", "programmed", None, "4.2", False), DRIVES[1]: ("program", "incompatible", "model", "4.2", False)},
        "the drive of the release's model was programmed, the other is incompatible (model)",
        table,
    )
    digest_b = by_drive(records).get(("cell3", DRIVES[0]), {}).get("fileDigest")
    check(holds(plant.image("cell3", DRIVES[0]), data_b, digest_b), "the programmed drive's image equals the file's")
    check(plant.image("cell3", DRIVES[1]) is None, "the drive of another model got no block")
    check(
        re.search(r"^cell3\s+%s\s+\S+\s+incompatible\s.*\smodel KVA" % re.escape(DRIVES[1]), table, re.M) is not None,
        "the table names it incompatible, for its model",
        table,
    )
    fatal = re.findall(r"^fatal: \[cell3\]: FAILED! => (.*)$", out, re.M)
    check(
        len(fatal) == 1 and "1 drive withheld by the release catalog: %s" % DRIVES[1] in fatal[0] and "Run them again" not in fatal[0],
        "the task's message names the incompatible drive, with nothing to run again",
        out[-3000:],
    )


def run_side_by_side(chains):
    """Runs each (plant, scenarios, firmware, catalog) in a thread of its own and
    waits for all; returns the failures, one line each. The main thread waits
    in short joins, so that the alarm and signals reach it."""
    failures_seen = []

    def chain(plant, scenarios, firmware, catalog):
        try:
            scenarios(plant, firmware, catalog)
            say(plant.name, "passed")
        except Exception as error:  # said here, not lost with the thread
            if plant.lab.closing:
                return  # stopped from outside, which the lab says itself
            if isinstance(error, LabFailure):
                say(plant.name, "FAILED: %s" % error)
            else:
                say(plant.name, "FAILED, a fault of the lab:\n" + traceback.format_exc())
            failures_seen.append("plant %s: %s" % (plant.name, str(error).split("\n")[0] or repr(error)))

    threads = [threading.Thread(target=chain, args=args, daemon=True) for args in chains]
    for thread in threads:
        thread.start()
    for thread in threads:
        while thread.is_alive():
            thread.join(0.5)
    return failures_seen


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tovrin", required=True)
    parser.add_argument("--drivesim", required=True)
    parser.add_argument("--collection", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder (logs)")
    args = parser.parse_args()
    args.tovrin, args.drivesim, args.collection = (os.path.abspath(p) for p in (args.tovrin, args.drivesim, args.collection))

    if os.geteuid() != 0:
        print("skipped: the plant lab needs root (network namespaces, sshd)")
        return SKIP
    for tool in ("ip", "ssh", "ssh-keygen", "ansible-playbook"):
        if shutil.which(tool) is None:
            print("skipped: %s is not installed" % tool)
            return SKIP
    if not os.access("/usr/sbin/sshd", os.X_OK):
        print("skipped: /usr/sbin/sshd (openssh-server) is not installed")
        return SKIP
    missing = loader_has_options(args.tovrin)
    if missing:
        print("skipped: the loader does not know the options %s yet" % ", ".join(missing))
        return SKIP

    def stopped(signum, frame):
        if signum == signal.SIGALRM:
            raise Timeout("the plant lab ran longer than %d s" % TIMEOUT_SECONDS)
        raise Timeout("the plant lab was stopped (signal %d)" % signum)

    # Out of time or stopped: the lab is taken down all the same.
    for signum in (signal.SIGALRM, signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signum, stopped)
    signal.alarm(TIMEOUT_SECONDS)
    work = tempfile.mkdtemp(prefix="tovrin-plant-lab-")
    lab = Lab(args, work)
    started = time.time()
    try:
        for cell in lab.all_cells():
            os.makedirs(cell.folder)
        lab.build_network()
        lab.start_sshd()
        for cell in lab.all_cells():
            lab.start_drives(cell)
        lab.write_ansible_files()
        firmware = []
        for seed in (b"a", b"b"):
            path = os.path.join(work, "kv720-%s.bin" % seed.decode())
            firmware.append((path, make_firmware(path, seed)))
        catalog = make_catalog(os.path.join(work, "catalog"), firmware)
        say(None, "--- the lab is set up: %.1f s" % (time.time() - started))
        failed = run_side_by_side([(Plant(lab, "a"), rollouts, firmware, catalog), (Plant(lab, "b"), failures, firmware, catalog)])
        if failed:
            raise LabFailure("\n".join(failed))
        print("passed: the plant lab (%.1f s)" % (time.time() - started))
        return 0
    except (LabFailure, Timeout, subprocess.TimeoutExpired) as error:
        print("FAILED: %s" % error)
        print("logs in %s" % work if args.keep else "(run with --keep to keep the logs)")
        return 1
    finally:
        signal.alarm(0)
        # A second signal does not cut the taking down short.
        for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            signal.signal(signum, signal.SIG_IGN)
        lab.close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
