# -*- coding: utf-8 -*-
# Copyright (c) 2026 Tovrin Motion Controls
# MIT License (see LICENSE in the repository root)
"""Reading the loader's run records (JSON lines, one per drive per run) and
turning them into the plant report's rows."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import re

from ansible.module_utils.six import integer_types, string_types

# The words of the loader's records, as its record schema lists them.
MODES = ("program", "verify", "identity", "plan")
RESULTS = (
    "programmed",
    "current",
    "digest-equal",
    "digest-differs",
    "identified",
    "failed",
    "interrupted",
    "not-started",
    "incompatible",
    "newer-on-drive",
    "would-program",
)
FAILED_STAGES = ("connection", "monitor state", "programming", "verify", "reboot")
REASONS = (
    "no-answer",
    "refused",
    "unreachable",
    "own-address",
    "no-identity",
    "no-digest",
    "record-failed",
    "interrupted",
    "canary-failed",
    "model",
    "hardware-revision",
    "current-rating",
    "monitor-revision",
)

# Results of a drive that did not end well: its task has failed.
FAILED_RESULTS = frozenset(("failed", "interrupted", "not-started"))
# Results of a drive the release catalog kept from being programmed: the
# drive is untouched and healthy, but it does not get the file, so its task
# has failed too.
WITHHELD_RESULTS = frozenset(("incompatible", "newer-on-drive"))
# The reasons of an incompatible drive: the manifest field it does not meet.
INCOMPATIBLE_REASONS = frozenset(("model", "hardware-revision", "current-rating", "monitor-revision"))
# The results a drive that ended well has in each mode of run.
DONE_RESULTS_BY_MODE = {
    "program": frozenset(("programmed", "current")),
    "verify": frozenset(("digest-equal", "digest-differs")),
    "identity": frozenset(("identified",)),
    "plan": frozenset(("would-program", "current")),
}
# Modes of run in which the catalog may withhold a drive.
WITHHOLDING_MODES = frozenset(("program", "plan"))
# Results after which the drive holds the file's firmware.
HOLDS_FILE_RESULTS = frozenset(("programmed", "current", "digest-equal"))

TABLE_COLUMNS = ("HOST", "DRIVE", "SERIAL", "RESULT", "RELEASE", "FIRMWARE DIGEST", "NOTE")


class RecordError(Exception):
    """A record file that cannot be read or is not whole JSON lines of
    objects."""


# --- One record checked against the loader's record schema ------------------
#
# The cell PC has no JSON Schema library, so the schema's rules are written
# out here: each field's JSON types, the words it may hold, its bounds and its
# pattern. Kept in step with record/record.schema.json (a unit test compares
# the two).

_DIGEST = r"^[0-9a-f]{32}$"
_MAC = r"^[0-9a-f]{2}(:[0-9a-f]{2}){5}$"


def _field(types=None, enum=None, minimum=None, maximum=None, pattern=None, fields=None):
    return dict(types=types, enum=enum, minimum=minimum, maximum=maximum, pattern=pattern, fields=fields)


IDENTITY_FIELDS = (
    ("monitorRevision", _field(("integer",))),
    ("buildNumber", _field(("integer",))),
    ("currentCapability", _field(("number", "null"))),
    ("busSensorResolution", _field(("number", "null"))),
    ("currentSensorResolution", _field(("number", "null"))),
    ("serialNumber", _field(("integer",))),
    ("manufacturingCode", _field(("integer",))),
    ("hardwareRevision", _field(("string",))),
    ("modelCode", _field(("string",))),
    ("vin", _field(("string",))),
    ("mac", _field(("string",), pattern=_MAC)),
    ("checksum", _field(("integer",), minimum=0, maximum=4294967295)),
)

RECORD_FIELDS = (
    ("run", _field(("string",), pattern=r"^[0-9]{8}T[0-9]{6}\.[0-9]{3}Z-[0-9]+$")),
    ("version", _field(("string",), pattern=r"^[0-9]+\.[0-9]+\.[0-9]+$")),
    ("time", _field(("string",), pattern=r"^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z$")),
    ("address", _field(("string",), pattern=r"^[0-9]{1,3}(\.[0-9]{1,3}){3}$")),
    ("mode", _field(enum=MODES)),
    ("result", _field(enum=RESULTS)),
    ("failedStage", _field(enum=FAILED_STAGES + (None,))),
    ("failedBlock", _field(("integer", "null"), minimum=1)),
    ("blockCount", _field(("integer", "null"), minimum=1)),
    ("reason", _field(enum=REASONS + (None,))),
    ("status", _field(("integer", "null"), minimum=0, maximum=255)),
    ("message", _field(("string", "null"))),
    ("imageIncomplete", _field(("boolean",))),
    ("serialNumber", _field(("integer", "null"))),
    ("mac", _field(("string", "null"), pattern=_MAC)),
    ("identity", _field(("null", "object"), fields=IDENTITY_FIELDS)),
    ("file", _field(("string", "null"))),
    ("fileDigest", _field(("string", "null"), pattern=_DIGEST)),
    ("driveDigest", _field(("string", "null"), pattern=_DIGEST)),
    ("fileVersion", _field(("string", "null"))),
    ("driveVersion", _field(("string", "null"))),
    ("seconds", _field(("number",), minimum=0)),
)


def _json_type(value):
    """The value's JSON type as the schema names it (a whole float is an
    integer too, as JSON Schema counts it)."""
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, integer_types):
        return "integer"
    if isinstance(value, float):
        return "integer" if value.is_integer() else "number"
    if isinstance(value, string_types):
        return "string"
    if isinstance(value, dict):
        return "object"
    if isinstance(value, list):
        return "array"
    return type(value).__name__


def _shown(value, limit=40):
    text = json.dumps(value, sort_keys=True)
    return text if len(text) <= limit else text[: limit - 3] + "..."


def _object_faults(value, fields, prefix=""):
    faults = []
    names = [name for name, _ in fields]
    for name in sorted(set(value) - set(names)):
        faults.append("unknown field %s%s" % (prefix, name))
    for name, rule in fields:
        if name not in value:
            faults.append("no field %s%s" % (prefix, name))
            continue
        item = value[name]
        kind = _json_type(item)
        where = prefix + name
        if rule["enum"] is not None:
            if not (item is None or kind == "string") or item not in rule["enum"]:
                words = ", ".join("null" if word is None else word for word in rule["enum"])
                faults.append("%s is %s, not one of %s" % (where, _shown(item), words))
            continue
        accepted = rule["types"]
        if kind not in accepted and not (kind == "integer" and "number" in accepted):
            faults.append("%s is %s, not %s" % (where, _shown(item), " or ".join(accepted)))
        elif kind in ("integer", "number"):
            if rule["minimum"] is not None and item < rule["minimum"]:
                faults.append("%s is %s, below %s" % (where, _shown(item), rule["minimum"]))
            if rule["maximum"] is not None and item > rule["maximum"]:
                faults.append("%s is %s, above %s" % (where, _shown(item), rule["maximum"]))
        elif kind == "string" and rule["pattern"] and not re.search(rule["pattern"], item):
            faults.append("%s is %s, not of the form %s" % (where, _shown(item), rule["pattern"]))
        elif kind == "object" and rule["fields"]:
            faults.extend(_object_faults(item, rule["fields"], where + "."))
    return faults


def schema_faults(record):
    """What in a record breaks the loader's record schema, one phrase each;
    empty for a record as the loader writes it."""
    if not isinstance(record, dict):
        return ["the record is %s, not an object" % _json_type(record)]
    return _object_faults(record, RECORD_FIELDS)


def results_of(run_mode):
    """Every result a drive's record may hold in a run of run_mode."""
    results = DONE_RESULTS_BY_MODE[run_mode] | FAILED_RESULTS
    if run_mode in WITHHOLDING_MODES:
        results |= WITHHELD_RESULTS
    return results


def record_fault(record, run_mode):
    """Why a record cannot be taken as the outcome of its drive in a run of
    run_mode (program, verify, identity or plan), or "" when it can: it
    breaks the schema, belongs to another mode of run, has a result that
    mode does not give, or is withheld without the reason that goes with
    its result (an incompatible drive names the manifest field it does not
    meet; a drive holding a newer release has no reason)."""
    faults = schema_faults(record)
    if faults:
        return "its record is not as the loader writes it: " + "; ".join(faults)
    if record["mode"] != run_mode:
        return "its record is of a %s run, not of this %s run" % (record["mode"], run_mode)
    result, reason = record["result"], record["reason"]
    if result not in results_of(run_mode):
        return "its record's result %s does not come of a %s run" % (result, run_mode)
    if result == "incompatible" and reason not in INCOMPATIBLE_REASONS:
        return "its record is incompatible for the reason %s, not one of %s" % (
            _shown(reason),
            ", ".join(sorted(INCOMPATIBLE_REASONS)),
        )
    if result == "newer-on-drive" and reason is not None:
        return "its record holds a newer release for the reason %s, not null" % _shown(reason)
    return ""


# --- Addresses as the loader reads them --------------------------------------

_DECIMAL = "0123456789"
_HEX = "0123456789abcdefABCDEF"
_BLANKS = " \t\n\v\f\r"
# The largest value of the last part, by the number of parts before it.
_LAST_PART_MAX = (0xFFFFFFFF, 0xFFFFFF, 0xFFFF, 0xFF)


def _read_part(text, pos):
    """The part starting at text[pos] (a decimal digit) as (value, position
    after it); value None when the part is refused."""
    if text[pos] == "0" and text[pos + 1 : pos + 2] in ("x", "X") and text[pos + 2 : pos + 3] and text[pos + 2] in _HEX:
        end = pos + 2
        while end < len(text) and text[end] in _HEX:
            end += 1
        value = int(text[pos + 2 : end], 16)
    elif text[pos] == "0":
        # "010" would be octal by the classic rules; the loader refuses it.
        end = pos + 1
        value = None if text[end : end + 1] and text[end] in _DECIMAL else 0
    else:
        end = pos
        while end < len(text) and text[end] in _DECIMAL:
            end += 1
        value = int(text[pos:end])
    if value is not None and value > 0xFFFFFFFF:
        value = None
    return value, end


def parse_address(text):
    """The IPv4 address text means to the loader (-ip), as a 32-bit number,
    or None when the loader refuses it: one to four parts separated by
    points, each decimal or hexadecimal after 0x, a part of a leading 0 and
    more digits refused, the last part filling the bytes that remain (so
    "10.258" is 10.0.1.2); the text ends at its end or at white space after
    the last part; 255.255.255.255 is never an address."""
    if not isinstance(text, string_types):
        return None
    leading = []
    pos = 0
    while True:
        if pos >= len(text) or text[pos] not in _DECIMAL:
            return None
        value, pos = _read_part(text, pos)
        if value is None:
            return None
        if text[pos : pos + 1] != ".":
            break
        if len(leading) == 3 or value > 0xFF:
            return None
        leading.append(value)
        pos += 1
    if pos < len(text) and text[pos] not in _BLANKS:
        return None
    if value > _LAST_PART_MAX[len(leading)]:
        return None
    for i, part in enumerate(leading):
        value |= part << (24 - 8 * i)
    return None if value == 0xFFFFFFFF else value


def canonical_address(text):
    """The address as the loader writes it (dotted decimal), or None when the
    loader refuses the text."""
    value = parse_address(text)
    if value is None:
        return None
    return ".".join(str((value >> shift) & 0xFF) for shift in (24, 16, 8, 0))


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
    """The records of the file at path; RecordError when it isn't whole or
    cannot be read (missing, a folder, no permission)."""
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except (IOError, OSError) as error:
        raise RecordError("%s cannot be read: %s" % (path, error.strerror or error))
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


def withheld_text(record):
    """Why the release catalog kept a drive from being programmed: the
    loader's sentence ("incompatible: model KVA; release 4.2 is for KV7"),
    with the reason word added when the sentence does not name it. Empty for
    a drive it did not keep."""
    result = record.get("result")
    message = record.get("message")
    if result == "incompatible":
        text = message or result
        reason = record.get("reason")
        if reason and reason.replace("-", " ") not in text:
            text += " (%s)" % reason
        return text
    if result == "newer-on-drive":
        return message or "newer release on the drive"
    return ""


# Results after which the drive holds, or would hold, the file's firmware
# where it held another before.
MOVING_RESULTS = frozenset(("programmed", "would-program"))


def held_release(record):
    """The catalog release the drive holds as far as this run knows, as
    "4.1 -> 4.2" for a drive programmed (or that would be) from one release
    to the file's; "unknown" for firmware that is no release of the catalog,
    "-" when the run had no catalog or does not know."""
    result = record.get("result")
    file_version = record.get("fileVersion")
    drive_version = record.get("driveVersion")
    if result in MOVING_RESULTS and file_version:
        return "%s -> %s" % (drive_version or "unknown", file_version)
    if result in HOLDS_FILE_RESULTS and file_version:
        return file_version
    if record.get("imageIncomplete"):
        return "-"
    if drive_version:
        return drive_version
    # A run with a catalog names the file's release: a digest read that is
    # none of its releases is firmware the catalog does not know.
    return "unknown" if file_version and record.get("driveDigest") else "-"


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


def report_fault(record):
    """Why a fetched record cannot be read as its drive's outcome, or ""."""
    return record_fault(record, record.get("mode"))


def report_rows(hosts_records):
    """Table rows (tuples of TABLE_COLUMNS) for [(host, [record, ...]), ...].
    A record not as the loader writes it shows as result "?", its fault in
    the note."""
    rows = []
    for host, records in hosts_records:
        for record in records:
            fault = report_fault(record)
            if fault:
                rows.append((host, canonical_address(record.get("address")) or "?", "-", "?", "-", "-", fault))
                continue
            serial = record.get("serialNumber")
            rows.append(
                (
                    host,
                    record.get("address") or "?",
                    "-" if serial is None else str(serial),
                    record.get("result") or "?",
                    held_release(record),
                    held_digest(record),
                    failure_text(record) or withheld_text(record),
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
