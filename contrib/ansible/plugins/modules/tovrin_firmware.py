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
    because a canary failed; the message names those drives.
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
        on every run, check mode included), for the role to fetch.
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
  description: Addresses of the drives that failed, were interrupted or not started.
  returned: always
  type: list
  elements: str
would_program:
  description: In check mode, addresses of the drives whose digest differs from the file's.
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

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tovrin.plant.plugins.module_utils.tovrin_records import (
    FAILED_RESULTS,
    RecordError,
    drive_name,
    failure_text,
    read_records,
    record_line,
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


def loader_command(loader, params, run_mode, record_path):
    """The loader's argument vector for one run."""
    cmd = [loader, "-e", "-r", record_path]
    if params["all_drives"]:
        cmd.append("-a")
    else:
        cmd += ["-ip", ",".join(params["drives"])]
    if run_mode != "identity":
        cmd += ["-fp", params["firmware"]]
    if run_mode == "program":
        if params["skip_current"]:
            cmd.append("-s")
        if params["canaries"] is not None:
            cmd += ["-c", str(params["canaries"])]
    elif run_mode == "verify":
        cmd.append("-v")
    else:
        cmd.append("-u")
    return cmd


def console_tail(text, lines=12):
    """The last lines of the loader's console, for a message."""
    kept = [line.strip() for line in text.replace("\r", "\n").split("\n") if line.strip()]
    return " / ".join(kept[-lines:])


def write_record_file(path, records):
    """This run's records to path, replacing what was there, written whole."""
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        os.makedirs(folder)
    part = path + ".part"
    with open(part, "w") as handle:
        for record in records:
            handle.write(record_line(record))
    os.rename(part, path)


def summarise(records, listed):
    """The module's result from the run's records: per-drive entries, the
    address lists and what failed. listed: the addresses asked for (empty
    with all_drives), each of which must have a record."""
    by_result = {}
    for record in records:
        by_result.setdefault(record.get("result"), []).append(record.get("address"))
    failures = [r for r in records if r.get("result") in FAILED_RESULTS]
    seen = set(r.get("address") for r in records)
    missing = [address for address in listed if address not in seen]
    return {
        "drives": [dict((out, r.get(key)) for key, out in DRIVE_FIELDS) for r in records],
        "programmed": by_result.get("programmed", []),
        "current": by_result.get("current", []),
        "differs": by_result.get("digest-differs", []),
        "failed_drives": [r.get("address") for r in failures] + missing,
        "failure_texts": ["%s: %s" % (drive_name(r), failure_text(r)) for r in failures]
        + ["%s: no record" % address for address in missing],
    }


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
    result = dict(changed=False, programmed=[], current=[], differs=[], failed_drives=[], would_program=[], records=[])

    if bool(params["all_drives"]) == bool(params["drives"]):
        module.fail_json(msg="give either the drives' addresses (drives) or all_drives: true", **result)
    canaries = params["canaries"]
    if canaries is not None and not 1 <= canaries <= 100:
        module.fail_json(msg="canaries must be 1 to 100, not %d" % canaries, **result)
    if params["mode"] != "identity" and not os.path.isfile(params["firmware"]):
        module.fail_json(msg="the firmware file %s is not on the host" % params["firmware"], **result)

    record_file = params["record_file"]
    if record_file and os.path.exists(record_file):
        # A stale file must not pass for this run's records.
        os.remove(record_file)

    if os.path.isabs(params["loader"]):
        loader = params["loader"] if os.access(params["loader"], os.X_OK) else None
    else:
        loader = module.get_bin_path(params["loader"])
    if loader is None:
        if module.check_mode and params["mode"] == "program":
            # A first rollout in check mode: its install step did not run.
            result.update(changed=True, would_program=params["drives"] or [])
            module.exit_json(msg="the loader %s is not installed yet: would install it and program the drives" % params["loader"], **result)
        module.fail_json(msg="the loader %s is not installed (no such executable)" % params["loader"], **result)

    # Check mode programs nothing: a verify run tells which drives differ.
    run_mode = "verify" if module.check_mode and params["mode"] == "program" else params["mode"]

    record_path = os.path.join(module.tmpdir, "records.jsonl")
    cmd = loader_command(loader, params, run_mode, record_path)
    rc, stdout, stderr = module.run_command(cmd)
    result.update(exit_status=rc, stdout=stdout, stderr=stderr, cmd=cmd)

    if rc == EXIT_REFUSED:
        module.fail_json(msg="the loader refused the run before touching a drive: %s" % console_tail(stdout), **result)
    records = []
    if os.path.exists(record_path):
        try:
            records = read_records(record_path)
        except RecordError as error:
            module.fail_json(msg="the loader's records are unreadable: %s" % error, **result)
    result["records"] = records
    if record_file:
        write_record_file(record_file, records)
    if not records:
        module.fail_json(msg="the loader wrote no record (exit status %d): %s" % (rc, console_tail(stdout)), **result)

    summary = summarise(records, [] if params["all_drives"] else params["drives"])
    result.update(
        drives=summary["drives"],
        programmed=summary["programmed"],
        current=summary["current"],
        differs=summary["differs"],
        failed_drives=summary["failed_drives"],
    )
    if run_mode != params["mode"]:
        result["would_program"] = summary["differs"]
    result["changed"] = bool(result["programmed"] or result["would_program"])

    if summary["failed_drives"]:
        module.fail_json(
            msg="%d drive%s failed: %s"
            % (
                len(summary["failed_drives"]),
                "" if len(summary["failed_drives"]) == 1 else "s",
                "; ".join(summary["failure_texts"]),
            ),
            **result
        )
    if rc not in (EXIT_ALL_COMPLETED, EXIT_NOT_COMPLETED):
        module.fail_json(msg="the loader ended with status %d: %s" % (rc, console_tail(stdout)), **result)
    if rc == EXIT_NOT_COMPLETED and not summary["differs"]:
        module.fail_json(msg="the loader did not complete the run: %s" % console_tail(stdout), **result)

    if result["would_program"]:
        result["msg"] = "would program %d drive%s: %s" % (
            len(result["would_program"]),
            "" if len(result["would_program"]) == 1 else "s",
            ", ".join(result["would_program"]),
        )
    else:
        counts = {}
        for record in records:
            counts[record.get("result")] = counts.get(record.get("result"), 0) + 1
        result["msg"] = ", ".join("%d %s" % (counts[key], key) for key in sorted(counts))
    module.exit_json(**result)


def main():
    run_module()


if __name__ == "__main__":
    main()
