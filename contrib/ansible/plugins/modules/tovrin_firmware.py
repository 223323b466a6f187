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
  - With a release catalog (O(catalog)) the loader programs only drives the
    file's release is for. A drive it is not for (C(incompatible), with the
    manifest field at fault as its reason) and a drive holding a newer
    release of the catalog (C(newer-on-drive), unless O(allow_older)) get no
    block and are rebooted untouched. The task fails for them all the same,
    naming each drive and why, since they do not hold the file as asked;
    they are listed in RV(incompatible) and RV(newer_on_drive), not in
    RV(failed_drives), and there is no command to run them again: the same
    run would withhold them again.
  - Exit status 1 is taken only when every drive has a record and each one
    that did not complete says why: a digest that differs in a verify run, a
    drive the catalog withheld in a program run or a plan.
  - In check mode no drive is programmed. A program task runs the loader's
    plan (C(-n)) with the same options instead, which reads each drive's
    identity and digest as a verify does and tells what the run would do;
    the task reports the drives that would be programmed
    (RV(would_program)), those current, and is C(changed) when some drive
    would be programmed. It fails as the real run would: for a drive that
    could not be read, and for a drive incompatible with the file's release
    or holding a newer one, each named with its reason.
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
  catalog:
    description:
      - Path on the managed host of a release catalog folder (release
        manifests C(*.json) and their files), passed as C(--catalog). The
        firmware file must then be one of its releases, or the loader
        refuses the run; each drive is checked against the release's
        manifest (model, hardware revision, current rating, monitor
        revision) before any block is sent, and the records name the file's
        and the drive's releases.
      - Without it, the loader takes the catalog named by the environment
        variable C(TOVRIN_CATALOG) on the host, when set.
    type: path
  allow_older:
    description:
      - Program a drive even when it holds a newer release of the catalog
        (C(--allow-older)); only with O(catalog). Programming runs (and their
        check mode) only.
    type: bool
    default: false
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

- name: Program only the drives the release is for, checked against the catalog
  tovrin.plant.tovrin_firmware:
    firmware: /var/lib/tovrin/firmware/kv720-4.2.bin
    catalog: /var/lib/tovrin/catalog
    drives: [192.168.124.120, 192.168.124.121]

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
        interrupted, not-started, incompatible, newer-on-drive or (check
        mode) would-program.
      type: str
    serial_number: {description: The drive's serial number, when read., type: int}
    mac: {description: The drive's MAC address, when read., type: str}
    failed_stage: {description: Where a failed drive stopped., type: str}
    failed_block: {description: Block in flight then (counted from 1)., type: int}
    block_count: {description: The image's block count., type: int}
    reason:
      description: >-
        Stable word for why the drive failed; for an incompatible drive the
        manifest field it does not meet (model, hardware-revision,
        current-rating, monitor-revision).
      type: str
    message: {description: The loader's sentence for the failure., type: str}
    image_incomplete: {description: The drive must be programmed again., type: bool}
    file_digest: {description: The firmware file's digest., type: str}
    drive_digest: {description: The digest the drive reported., type: str}
    file_version: {description: "The file's catalog release, with a catalog.", type: str}
    drive_version:
      description: >-
        The catalog release the drive held when the run read its digest;
        null when that digest is no release of the catalog.
      type: str
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
incompatible:
  description: >-
    Addresses of the drives the file's release is not for (check mode
    included); their entries in RV(drives) give the reason. The task fails
    for them.
  returned: always
  type: list
  elements: str
newer_on_drive:
  description: >-
    Addresses of the drives that hold a newer release of the catalog than
    the file (check mode included); not programmed without O(allow_older).
    The task fails for them.
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
    In check mode, addresses of the drives the run would program; the
    message then begins "would program N drives".
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
    - The loader's exit status under C(-e), 0 every drive completed (or, in
      check mode, would be programmed or is current), 1 not (a drive failed,
      was withheld by the catalog or, verifying, differs), 2 refused before
      any drive.
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
    WITHHELD_RESULTS,
    RecordError,
    canonical_address,
    drive_name,
    failure_text,
    read_records,
    record_fault,
    withheld_text,
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
    ("fileVersion", "file_version"),
    ("driveVersion", "drive_version"),
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
    """The loader's options after the drives: the file, the run's mode and
    the catalog. A plan (-n) takes a programming run's options, so it tells
    what that very run would do."""
    options = []
    if run_mode != "identity":
        options += ["-fp", params["firmware"]]
    if run_mode in ("program", "plan"):
        if run_mode == "plan":
            options.append("-n")
        if params["skip_current"]:
            options.append("-s")
        if params["canaries"] is not None:
            options += ["-c", str(params["canaries"])]
    elif run_mode == "verify":
        options.append("-v")
    else:
        options.append("-u")
    if params["catalog"]:
        options += ["--catalog", params["catalog"]]
        if params["allow_older"] and run_mode in ("program", "plan"):
            options.append("--allow-older")
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
    failed drive: nothing unknown passes. A drive the catalog withheld is no
    fault (it is healthy and untouched) but says why in withheld."""
    asked = set(address for _, address in listed)
    by_result = {}
    faults = []
    withheld = []
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
            if record["result"] in WITHHELD_RESULTS:
                withheld.append((record["result"], "%s: %s" % (drive_name(record), withheld_text(record))))
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
        "would_program": by_result.get("would-program", []),
        "incompatible": by_result.get("incompatible", []),
        "newer_on_drive": by_result.get("newer-on-drive", []),
        "failed_drives": failed,
        "faults": faults,
        "withheld": withheld,
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
            catalog=dict(type="path"),
            allow_older=dict(type="bool", default=False),
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
        incompatible=[],
        newer_on_drive=[],
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
    if params["allow_older"] and not params["catalog"]:
        fail("allow_older needs catalog: only a release catalog tells that a drive holds a newer release")
    if params["mode"] != "identity" and not os.path.isfile(params["firmware"]):
        fail("the firmware file %s is not on the host" % params["firmware"])
    if params["catalog"] and not os.path.isdir(params["catalog"]):
        fail("the catalog folder %s is not on the host" % params["catalog"])

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

    # Check mode programs nothing: the loader's plan tells what the
    # programming run would do, drive by drive, touching them as a verify.
    run_mode = "plan" if module.check_mode and params["mode"] == "program" else params["mode"]

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
        would_program=summary["would_program"],
        incompatible=summary["incompatible"],
        newer_on_drive=summary["newer_on_drive"],
        failed_drives=summary["failed_drives"],
        faults=summary["faults"] + [text for _, text in summary["withheld"]],
    )
    result["changed"] = bool(result["programmed"] or result["would_program"])

    problems = []
    if summary["faults"]:
        problems.append("%s failed: %s" % (plural(len(summary["faults"]), "drive"), "; ".join(summary["faults"])))
    if summary["withheld"]:
        problems.append(
            "%s withheld by the release catalog: %s" % (plural(len(summary["withheld"]), "drive"), "; ".join(text for _, text in summary["withheld"]))
            + (" (allow_older programs a drive holding a newer release)" if result["newer_on_drive"] else "")
        )
    if not summary["faults"]:
        # Every drive has a record as the loader writes it and none failed.
        # Exit status 1 then stands for digests that differ, in a verify
        # run, or for drives the catalog withheld; for nothing else.
        not_completed = (run_mode == "verify" and summary["differs"]) or summary["withheld"]
        if rc != EXIT_ALL_COMPLETED and not (rc == EXIT_NOT_COMPLETED and not_completed):
            status = "the loader ended with status %d although every drive's record says it %s: %s" % (
                rc,
                "completed" if not summary["withheld"] else "completed or was withheld",
                console_tail(stdout),
            )
            problems.append(status)
            result["faults"].append(status)

    if run_mode == "plan" and result["would_program"]:
        said = "would program %s: %s" % (plural(len(result["would_program"]), "drive"), ", ".join(result["would_program"]))
    elif run_mode == "plan":
        counts = ", ".join("%d %s" % (summary["counts"][key], key) for key in sorted(summary["counts"]))
        said = "would program no drive" + (": " + counts if counts else "")
    else:
        said = ", ".join("%d %s" % (summary["counts"][key], key) for key in sorted(summary["counts"]))
    if problems:
        msg = ". ".join(problems)
        if run_mode == "plan" and result["would_program"]:
            msg = said + ". " + msg
        if summary["failed_drives"]:
            result["retry"] = retry_command(loader, params, run_mode, record_file, summary["failed_drives"])
            msg += ". Run them again on the cell with: " + result["retry"]
        fail(msg)
    result["msg"] = said
    module.exit_json(**result)


def main():
    run_module()


if __name__ == "__main__":
    main()
