#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 Tovrin Motion Controls
# MIT License (see LICENSE in the repository root)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: tovrin_firmware
short_description: Program, verify or identify KV720 drives with the Tovrin loader
version_added: "1.0.0"
description:
  - Runs the Tovrin loader installed on the managed host (the cell PC) against
    drives on the host's own LANs, and returns one result per drive.
  - The outcome is taken from the loader's run records (C(-r), JSON lines), not
    from its console, and from its exit status under C(-e).
  - The task is C(changed) only when some drive was programmed. A drive that
    already holds the file's firmware (C(skip_current)) is C(ok).
  - The task fails when a drive failed, was interrupted or was not started
    because a canary failed, when a drive asked for has no record, and when a
    record is not as the loader writes it (a field missing, of another type,
    or a word the loader's record schema does not list); the message names
    each such drive and what is wrong, and gives the command that runs them
    again on the host.
  - Exit status 1 is taken for digests that differ only in a verify run in
    which every drive has a record and each one not equal says so.
  - In check mode no drive is programmed. A program task runs a verify
    (C(-v)) instead and reports which drives would be programmed, those whose
    digest differs from the file's.
options:
  firmware:
    description:
      - Path of the firmware file on the managed host.
      - Required in the C(program) and C(verify) modes.
    type: path
  drives:
    description:
      - IPv4 addresses of the drives, in the order they run (canaries first).
      - Any form the loader reads (C(10.0.0.5), C(0x0a.0.0.5), C(10.5),
        C(167772165)); a drive is matched to its record by the dotted decimal
        form the loader writes. A drive named twice runs once.
      - Exactly one of O(drives) and O(all_drives) is given.
    type: list
    elements: str
  all_drives:
    description:
      - Every drive that answers discovery on the host's LANs (C(-a)).
    type: bool
    default: false
  mode:
    description:
      - C(program) programs the file, C(verify) compares the drives' firmware
        digests with the file's (C(-v)), C(identity) reads the drives' identity
        (C(-u)).
    type: str
    choices: [program, verify, identity]
    default: program
  skip_current:
    description:
      - Skip a drive that already holds the file's firmware (C(-s)); it is
        verified and rebooted, and reported as C(current). Programming runs only.
    type: bool
    default: true
  canaries:
    description:
      - Program the first N drives first; the others start only when every
        canary completed (C(-c N)). Programming runs only.
    type: int
  loader:
    description:
      - The loader program, a name looked up in the PATH or an absolute path.
    type: str
    default: tovrin
  record_file:
    description:
      - Path on the managed host where this run's records are kept (replaced
        on every run, check mode included), for the role to fetch. The loader
        writes it (C(-r)); without it, the records go to a temporary file.
    type: path
author:
  - Tovrin contributors
"""

EXAMPLES = r"""
- name: Program the cell's drives, skipping those already current
  tovrin.plant.tovrin_firmware:
    firmware: /var/lib/tovrin/firmware/kv720-4.2.bin
    drives: [192.168.124.120, 192.168.124.121]
    canaries: 1
  register: cell

- name: Verify every drive that answers discovery
  tovrin.plant.tovrin_firmware:
    firmware: /var/lib/tovrin/firmware/kv720-4.2.bin
    all_drives: true
    mode: verify
"""

RETURN = r"""
drives:
  description: One entry per drive, in the loader's record order.
  returned: when the loader wrote records
  type: list
  elements: dict
  contains:
    address: {description: The drive's IPv4 address., type: str}
    result:
      description: >-
        programmed, current, digest-equal, digest-differs, identified, failed,
        interrupted or not-started.
      type: str
    serial_number: {description: The drive's serial number, when read., type: int}
    mac: {description: The drive's MAC address, when read., type: str}
    failed_stage: {description: Where a failed drive stopped., type: str}
    failed_block: {description: Block in flight then (counted from 1)., type: int}
    block_count: {description: The image's block count., type: int}
    reason: {description: Stable word for why the drive failed., type: str}
    message: {description: The loader's sentence for the failure., type: str}
    image_incomplete: {description: The drive must be programmed again., type: bool}
    file_digest: {description: The firmware file's digest., type: str}
    drive_digest: {description: The digest the drive reported., type: str}
programmed:
  description: Addresses of the drives programmed.
  returned: always
  type: list
  elements: str
current:
  description: Addresses of the drives that already held the file's firmware.
  returned: always
  type: list
  elements: str
differs:
  description: >-
    Addresses of the drives whose firmware digest differs from the file's
    (verify runs, check mode included). A verify task does not fail for them.
  returned: always
  type: list
  elements: str
failed_drives:
  description: >-
    Addresses of the drives that failed, were interrupted or not started, have
    no record or a record not as the loader writes it.
  returned: always
  type: list
  elements: str
faults:
  description: >-
    What went wrong, one sentence per drive (or one for the whole run, as a
    refused command line); empty when the task succeeded.
  returned: always
  type: list
  elements: str
retry:
  description: >-
    The command that runs the run again on the host for the drives in
    C(failed_drives), its records going to O(record_file).
  returned: when a drive is to be run again
  type: str
would_program:
  description: >-
    In check mode, addresses of the drives whose digest differs from the
    file's; the message then begins "would program N drives".
  returned: always
  type: list
  elements: str
records:
  description: The run records exactly as the loader wrote them.
  returned: always
  type: list
  elements: dict
exit_status:
  description:
    - The loader's exit status under C(-e), 0 every drive completed, 1 not
      (a drive failed or, verifying, differs), 2 refused before any drive.
    - Not named C(rc), which Ansible would take for the task's own status.
  returned: when the loader ran
  type: int
stdout:
  description: The loader's console output.
  returned: when the loader ran
  type: str
cmd:
  description: The loader's command line.
  returned: when the loader ran
  type: list
  elements: str
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six.moves import shlex_quote
from ansible_collections.tovrin.plant.plugins.module_utils.tovrin_records import (
    FAILED_RESULTS,
    RecordError,
    canonical_address,
    drive_name,
    failure_text,
    read_records,
    record_fault,
)

# Exit statuses of the loader under -e.
EXIT_ALL_COMPLETED = 0
EXIT_NOT_COMPLETED = 1
EXIT_REFUSED = 2

# Record fields returned per drive, as (record key, returned key).
DRIVE_FIELDS = (
    ("address", "address"),
    ("result", "result"),
    ("serialNumber", "serial_number"),
    ("mac", "mac"),
    ("failedStage", "failed_stage"),
    ("failedBlock", "failed_block"),
    ("blockCount", "block_count"),
    ("reason", "reason"),
    ("status", "status"),
    ("message", "message"),
    ("imageIncomplete", "image_incomplete"),
    ("fileDigest", "file_digest"),
    ("driveDigest", "drive_digest"),
    ("seconds", "seconds"),
)


def listed_drives(drives):
    """[(address as given, address as the loader writes it)] of the drives
    asked for, each drive once (the loader runs a drive named twice once), and
    the addresses the loader would refuse."""
    listed, refused, seen = [], [], set()
    for given in drives or []:
        address = canonical_address(given)
        if address is None:
            refused.append(given)
        elif address not in seen:
            seen.add(address)
            listed.append((given, address))
    return listed, refused


def run_options(params, run_mode):
    """The loader's options after the drives: the file and the run's mode."""
    options = []
    if run_mode != "identity":
        options += ["-fp", params["firmware"]]
    if run_mode == "program":
        if params["skip_current"]:
            options.append("-s")
        if params["canaries"] is not None:
            options += ["-c", str(params["canaries"])]
    elif run_mode == "verify":
        options.append("-v")
    else:
        options.append("-u")
    return options


def loader_command(loader, params, run_mode, record_path, listed):
    """The loader's argument vector for one run."""
    cmd = [loader, "-e", "-r", record_path]
    if params["all_drives"]:
        cmd.append("-a")
    else:
        cmd += ["-ip", ",".join(address for _, address in listed)]
    return cmd + run_options(params, run_mode)


def retry_command(loader, params, run_mode, record_file, drives):
    """The shell command that runs the run again for the drives given, its
    records kept where this run's are (no -r when they were not kept)."""
    words = [loader, "-e"] + (["-r", record_file] if record_file else [])
    words += ["-ip", ",".join(drives)] + run_options(params, run_mode)
    return " ".join(shlex_quote(word) for word in words)


def console_tail(text, lines=12):
    """The last lines of the loader's console, for a message."""
    kept = [line.strip() for line in text.replace("\r", "\n").split("\n") if line.strip()]
    return " / ".join(kept[-lines:])


def summarise(records, run_mode, listed):
    """The module's result from the run's records: per-drive entries, the
    address lists and the faults. listed: the drives asked for (empty with
    all_drives), [(as given, dotted decimal)], each of which must have a
    record. A record that breaks the loader's record schema, belongs to
    another mode of run, has an address the loader does not write, names a
    drive not asked for or a drive twice is a fault of that drive, like a
    failed drive: nothing unknown passes."""
    asked = set(address for _, address in listed)
    by_result = {}
    faults = []
    failed = []
    seen = set()
    for number, record in enumerate(records, 1):
        address = canonical_address(record.get("address"))
        fault = record_fault(record, run_mode)
        if fault:
            pass
        elif address is None:
            fault = "its address %s is none the loader writes" % json.dumps(record["address"])
        elif listed and address not in asked:
            fault = "not one of the drives asked for"
        elif address in seen:
            fault = "a second record of the drive"
        if address:
            seen.add(address)
        if fault:
            faults.append("%s: %s" % (address or "record %d" % number, fault))
        elif record["result"] in FAILED_RESULTS:
            faults.append("%s: %s" % (drive_name(record), failure_text(record)))
        else:
            by_result.setdefault(record["result"], []).append(address)
            continue
        if address and (not listed or address in asked) and address not in failed:
            failed.append(address)
    for given, address in listed:
        if address not in seen:
            faults.append("%s: no record" % (given if given == address else "%s (%s)" % (given, address)))
            failed.append(address)
    return {
        "drives": [dict((out, r.get(key)) for key, out in DRIVE_FIELDS) for r in records],
        "programmed": by_result.get("programmed", []),
        "current": by_result.get("current", []),
        "differs": by_result.get("digest-differs", []),
        "failed_drives": failed,
        "faults": faults,
        "counts": dict((key, len(value)) for key, value in by_result.items()),
    }


def plural(count, word):
    return "%d %s%s" % (count, word, "" if count == 1 else "s")


def run_module():
    module = AnsibleModule(
        argument_spec=dict(
            firmware=dict(type="path"),
            drives=dict(type="list", elements="str"),
            all_drives=dict(type="bool", default=False),
            mode=dict(type="str", choices=["program", "verify", "identity"], default="program"),
            skip_current=dict(type="bool", default=True),
            canaries=dict(type="int"),
            loader=dict(type="str", default="tovrin"),
            record_file=dict(type="path"),
        ),
        required_if=[("mode", "program", ("firmware",)), ("mode", "verify", ("firmware",))],
        supports_check_mode=True,
    )
    params = module.params
    result = dict(
        changed=False,
        programmed=[],
        current=[],
        differs=[],
        failed_drives=[],
        would_program=[],
        records=[],
        faults=[],
    )

    def fail(msg):
        if not result["faults"]:
            result["faults"] = [msg]
        module.fail_json(msg=msg, **result)

    if bool(params["all_drives"]) == bool(params["drives"]):
        fail("give either the drives' addresses (drives) or all_drives: true")
    listed, refused = listed_drives(params["drives"])
    if refused:
        fail("drives: %s %s no IPv4 address the loader accepts" % (", ".join(refused), "is" if len(refused) == 1 else "are"))
    canaries = params["canaries"]
    if canaries is not None and not 1 <= canaries <= 100:
        fail("canaries must be 1 to 100, not %d" % canaries)
    if params["mode"] != "identity" and not os.path.isfile(params["firmware"]):
        fail("the firmware file %s is not on the host" % params["firmware"])

    record_file = params["record_file"]
    if record_file:
        if os.path.isdir(record_file):
            fail("record_file %s is a folder, not a file" % record_file)
        try:
            if os.path.lexists(record_file):
                # A stale file must not pass for this run's records.
                os.remove(record_file)
            folder = os.path.dirname(record_file)
            if folder and not os.path.isdir(folder):
                os.makedirs(folder)
        except (IOError, OSError) as error:
            fail("record_file %s cannot be written anew: %s" % (record_file, error.strerror or error))

    if os.path.isabs(params["loader"]):
        loader = params["loader"] if os.access(params["loader"], os.X_OK) else None
    else:
        loader = module.get_bin_path(params["loader"])
    if loader is None:
        if module.check_mode and params["mode"] == "program":
            # A first rollout in check mode: its install step did not run.
            result.update(changed=True, would_program=[address for _, address in listed])
            module.exit_json(msg="the loader %s is not installed yet: would install it and program the drives" % params["loader"], **result)
        fail("the loader %s is not installed (no such executable)" % params["loader"])

    # Check mode programs nothing: a verify run tells which drives differ.
    run_mode = "verify" if module.check_mode and params["mode"] == "program" else params["mode"]

    # The loader writes the kept record file itself, so that its own retry
    # line names it; without one, a file in the module's temporary folder.
    record_path = record_file or os.path.join(module.tmpdir, "records.jsonl")
    cmd = loader_command(loader, params, run_mode, record_path, listed)
    rc, stdout, stderr = module.run_command(cmd)
    result.update(exit_status=rc, stdout=stdout, stderr=stderr, cmd=cmd)

    if rc == EXIT_REFUSED:
        fail("the loader refused the run before touching a drive: %s" % console_tail(stdout))
    records = []
    if os.path.lexists(record_path):
        try:
            records = read_records(record_path)
        except RecordError as error:
            fail("the loader's records are unreadable: %s" % error)
    result["records"] = records
    if not records:
        fail("the loader wrote no record (exit status %d): %s" % (rc, console_tail(stdout)))

    summary = summarise(records, run_mode, listed)
    result.update(
        drives=summary["drives"],
        programmed=summary["programmed"],
        current=summary["current"],
        differs=summary["differs"],
        failed_drives=summary["failed_drives"],
        faults=summary["faults"],
    )
    if run_mode != params["mode"]:
        result["would_program"] = summary["differs"]
    result["changed"] = bool(result["programmed"] or result["would_program"])

    if summary["faults"]:
        msg = "%s failed: %s" % (plural(len(summary["faults"]), "drive"), "; ".join(summary["faults"]))
        if summary["failed_drives"]:
            result["retry"] = retry_command(loader, params, run_mode, record_file, summary["failed_drives"])
            msg += ". Run them again on the cell with: " + result["retry"]
        fail(msg)
    # Every drive has a record as the loader writes it and none failed. Exit
    # status 1 then stands for digests that differ, in a verify run only.
    differ_only = run_mode == "verify" and summary["differs"]
    if rc != EXIT_ALL_COMPLETED and not (rc == EXIT_NOT_COMPLETED and differ_only):
        fail("the loader ended with status %d although every drive's record says it completed: %s" % (rc, console_tail(stdout)))

    counts = ", ".join("%d %s" % (summary["counts"][key], key) for key in sorted(summary["counts"]))
    if run_mode != params["mode"]:
        if result["would_program"]:
            result["msg"] = "would program %s: %s" % (plural(len(result["would_program"]), "drive"), ", ".join(result["would_program"]))
        else:
            result["msg"] = "would program no drive: %s" % counts
    else:
        result["msg"] = counts
    module.exit_json(**result)


def main():
    run_module()


if __name__ == "__main__":
    main()
