# -*- coding: utf-8 -*-
# Copyright (c) 2026 Tovrin Motion Controls
# MIT License (see LICENSE in the repository root)
"""Reading the loader's run records (JSON lines, one per drive per run) and
turning them into the plant report's rows."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# Results of a drive that ended well.
DONE_RESULTS = frozenset(("programmed", "current", "digest-equal", "identified"))
# Results of a drive that did not end well: its task has failed.
FAILED_RESULTS = frozenset(("failed", "interrupted", "not-started"))
# Results after which the drive holds the file's firmware.
HOLDS_FILE_RESULTS = frozenset(("programmed", "current", "digest-equal"))

TABLE_COLUMNS = ("HOST", "DRIVE", "SERIAL", "RESULT", "FIRMWARE DIGEST", "NOTE")


class RecordError(Exception):
    """A record file that is not whole JSON lines of objects."""


def parse_records(text, source="records"):
    """Returns the record objects of JSON-lines text, in file order. Blank
    lines are skipped; any other line must be one JSON object, and the last
    line must be complete: a record cut short means the file was not written
    whole, and nothing in it can be trusted."""
    if text and not text.endswith("\n"):
        raise RecordError("%s ends inside a record (the file was cut short)" % source)
    records = []
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except ValueError as error:
            raise RecordError("%s line %d is not a JSON record: %s" % (source, number, error))
        if not isinstance(record, dict):
            raise RecordError("%s line %d is not a JSON object" % (source, number))
        records.append(record)
    return records


def read_records(path):
    """The records of the file at path; RecordError when it isn't whole."""
    with open(path, "rb") as handle:
        data = handle.read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise RecordError("%s is not UTF-8 text: %s" % (path, error))
    return parse_records(text, path)


def record_line(record):
    """One record as one JSON line, keys in a stable order."""
    return json.dumps(record, sort_keys=True, separators=(",", ":")) + "\n"


def drive_name(record):
    """The drive as a person names it: address, and serial number when known."""
    address = record.get("address") or "?"
    serial = record.get("serialNumber")
    if serial is None:
        return address
    return "%s (serial %s)" % (address, serial)


def failure_text(record):
    """Where and why a drive stopped, in a few words: "programming, block 3 of
    40: no-answer". Empty for a drive that did not fail."""
    if record.get("result") not in FAILED_RESULTS:
        return ""
    where = record.get("failedStage") or ""
    block = record.get("failedBlock")
    if where and block is not None:
        count = record.get("blockCount")
        where += ", block %s" % block + (" of %s" % count if count is not None else "")
    reason = record.get("reason") or ("" if where else record.get("result"))
    if reason:
        where += (": " if where else "") + reason
    if record.get("imageIncomplete"):
        where += " (image incomplete: program it again)"
    return where


def held_digest(record):
    """The firmware digest the drive holds as far as this run knows: the
    file's once the drive holds it, the drive's own otherwise, "incomplete"
    when programming stopped half-way, "-" when unknown."""
    result = record.get("result")
    if result in HOLDS_FILE_RESULTS and record.get("fileDigest"):
        return record["fileDigest"]
    if record.get("imageIncomplete"):
        return "incomplete"
    return record.get("driveDigest") or "-"


def report_rows(hosts_records):
    """Table rows (tuples of TABLE_COLUMNS) for [(host, [record, ...]), ...]."""
    rows = []
    for host, records in hosts_records:
        for record in records:
            serial = record.get("serialNumber")
            rows.append(
                (
                    host,
                    record.get("address") or "?",
                    "-" if serial is None else str(serial),
                    record.get("result") or "?",
                    held_digest(record),
                    failure_text(record),
                )
            )
    return rows


def render_table(rows):
    """The rows as a plain-text table with a header and a closing count of
    drives per result."""
    lines = [TABLE_COLUMNS] + list(rows)
    widths = [max(len(line[i]) for line in lines) for i in range(len(TABLE_COLUMNS))]
    out = []
    for line in lines:
        cells = [line[i].ljust(widths[i]) for i in range(len(TABLE_COLUMNS))]
        out.append("  ".join(cells).rstrip())
    counts = {}
    for row in rows:
        counts[row[3]] = counts.get(row[3], 0) + 1
    summary = ", ".join("%d %s" % (counts[result], result) for result in sorted(counts))
    out.append("")
    out.append("%d drive%s%s" % (len(rows), "" if len(rows) == 1 else "s", ": " + summary if summary else ""))
    return "\n".join(out) + "\n"
