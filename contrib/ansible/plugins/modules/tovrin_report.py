#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 Tovrin Motion Controls
# MIT License (see LICENSE in the repository root)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: tovrin_report
short_description: Merge the Tovrin run records of many cells into one plant report
version_added: "1.0.0"
description:
  - Reads every C(HOST.jsonl) file of a folder (the records fetched from each
    cell PC, one file per host) and writes one report of the whole plant,
    JSON lines (every record with a C(host) field added) and a table with the
    host, drive, serial number, result, release and firmware digest of every
    drive.
  - The release column, for runs with a release catalog, shows the release
    the drive went from and to (C(4.1 -> 4.2)) when it was programmed or
    would be (check mode), the release it holds otherwise, C(unknown) for
    firmware that is no release of the catalog, C(-) without a catalog.
  - The firmware digest column shows what the drive holds as far as the run
    knows, the file's digest once the drive holds the file, the drive's own
    digest otherwise, C(incomplete) when programming stopped half-way.
  - The note column says where and why a drive failed, and why the catalog
    withheld a drive (C(incompatible), with the manifest field at fault, or
    C(newer-on-drive)).
  - Usually run on the controller, delegated to C(localhost).
options:
  records_dir:
    description:
      - Folder of the fetched record files, one C(HOST.jsonl) per host.
      - A folder that is not there gives an empty report.
    type: path
    required: true
  jsonl:
    description: Path of the merged JSON-lines report.
    type: path
    required: true
  table:
    description: Path of the readable table.
    type: path
    required: true
author:
  - Tovrin contributors
"""

EXAMPLES = r"""
- name: Merge every cell's records into the plant report
  tovrin.plant.tovrin_report:
    records_dir: reports/records
    jsonl: reports/report.jsonl
    table: reports/report.txt
  delegate_to: localhost
  run_once: true
"""

RETURN = r"""
hosts:
  description: The hosts whose records were merged, in name order.
  returned: always
  type: list
  elements: str
drives:
  description: How many drive records the report holds.
  returned: always
  type: int
failed_drives:
  description: >-
    The failed, interrupted or not started drives, and those whose record is
    not as the loader writes it, as "host address (serial N)".
  returned: always
  type: list
  elements: str
withheld_drives:
  description: >-
    The drives the release catalog kept from being programmed (incompatible
    with the file's release, or holding a newer one), as "host address
    (serial N): why".
  returned: always
  type: list
  elements: str
table:
  description: The table as written.
  returned: always
  type: str
"""

import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tovrin.plant.plugins.module_utils.tovrin_records import (
    FAILED_RESULTS,
    WITHHELD_RESULTS,
    RecordError,
    canonical_address,
    drive_name,
    read_records,
    record_line,
    render_table,
    report_fault,
    report_rows,
    withheld_text,
)

SUFFIX = ".jsonl"


def collect(records_dir):
    """[(host, records)] of every HOST.jsonl in records_dir, by host name."""
    found = []
    for name in sorted(os.listdir(records_dir)):
        path = os.path.join(records_dir, name)
        if name.endswith(SUFFIX) and os.path.isfile(path):
            found.append((name[: -len(SUFFIX)], read_records(path)))
    return found


def replace_file(path, text):
    """Writes text to path whole (a reader never sees half a report); True
    when the content changed."""
    try:
        with open(path) as handle:
            if handle.read() == text:
                return False
    except (IOError, OSError):
        pass
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        os.makedirs(folder)
    handle, part = tempfile.mkstemp(dir=folder, prefix=".report-")
    with os.fdopen(handle, "w") as out:
        out.write(text)
    os.chmod(part, 0o644)
    os.rename(part, path)
    return True


def build_report(hosts_records):
    """The JSON-lines text and the table of [(host, records)]."""
    lines = []
    for host, records in hosts_records:
        for record in records:
            merged = dict(record)
            merged["host"] = host
            lines.append(record_line(merged))
    return "".join(lines), render_table(report_rows(hosts_records))


def run_module():
    module = AnsibleModule(
        argument_spec=dict(
            records_dir=dict(type="path", required=True),
            jsonl=dict(type="path", required=True),
            table=dict(type="path", required=True),
        ),
        supports_check_mode=True,
    )
    params = module.params
    try:
        # No folder: no cell got as far as its records; the report is empty.
        hosts_records = collect(params["records_dir"]) if os.path.isdir(params["records_dir"]) else []
    except RecordError as error:
        module.fail_json(msg="a cell's records are unreadable: %s" % error)
    jsonl, table = build_report(hosts_records)
    changed = False
    if not module.check_mode:
        changed = replace_file(params["jsonl"], jsonl)
        changed = replace_file(params["table"], table) or changed
    # A record not as the loader writes it counts as a failed drive: nothing
    # unknown passes for a drive that ended well.
    failed_drives = []
    withheld_drives = []
    for host, records in hosts_records:
        for record in records:
            if report_fault(record):
                failed_drives.append("%s %s" % (host, canonical_address(record.get("address")) or "?"))
            elif record["result"] in FAILED_RESULTS:
                failed_drives.append("%s %s" % (host, drive_name(record)))
            elif record["result"] in WITHHELD_RESULTS:
                withheld_drives.append("%s %s: %s" % (host, drive_name(record), withheld_text(record)))
    module.exit_json(
        changed=changed,
        hosts=[host for host, _ in hosts_records],
        drives=sum(len(records) for _, records in hosts_records),
        failed_drives=failed_drives,
        withheld_drives=withheld_drives,
        table=table,
    )


def main():
    run_module()


if __name__ == "__main__":
    main()
