# Unit tests of the tovrin_firmware module: a fake loader stands in for
# AnsibleModule.run_command, answering each command line with an exit status,
# a console text and the records it appends to the -r file.
import json
import os

import pytest
from ansible.module_utils import basic
from ansible_collections.tovrin.plant.plugins.module_utils import tovrin_records
from ansible_collections.tovrin.plant.plugins.modules import tovrin_firmware

from .utils import AnsibleExitJson, AnsibleFailJson, exit_json, fail_json, set_module_args

# The loader's record schema, in the repository the collection ships in.
SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), *([os.pardir] * 6 + ["record", "record.schema.json"]))
FILE_DIGEST = "00112233445566778899aabbccddeeff"
OLD_DIGEST = "ffeeddccbbaa99887766554433221100"
DROP = object()  # a field value: the field is left out


def record(address, result, serial=123456, **fields):
    """A run record as the loader writes it; fields override by record key."""
    failed = result in ("failed", "interrupted", "not-started")
    base = {
        "run": "20261207T214501.123Z-4711",
        "version": "1.1.0",
        "time": "2026-12-07T21:45:09.000Z",
        "address": address,
        "mode": "program",
        "result": result,
        "failedStage": "programming" if failed else None,
        "failedBlock": 3 if failed else None,
        "blockCount": 40,
        "reason": "no-answer" if failed else None,
        "status": None,
        "message": "no answer" if failed else None,
        "imageIncomplete": failed,
        "serialNumber": serial,
        "mac": "02:00:00:12:34:ab",
        "identity": None,
        "file": "/fw.bin",
        "fileDigest": FILE_DIGEST,
        "driveDigest": OLD_DIGEST,
        "fileVersion": None,
        "driveVersion": None,
        "seconds": 9.5,
    }
    base.update(fields)
    return base


def plan(address, result, **fields):
    """A record of a plan (-n), as check mode runs it."""
    return record(address, result, mode="plan", **fields)


def hostile(address, fields):
    """A programmed drive's record, the fields changed (DROP leaves one out)."""
    item = record(address, "programmed")
    item.update(fields)
    return dict((key, value) for key, value in item.items() if value is not DROP)


NOT_STARTED = dict(failedStage=None, failedBlock=None, imageIncomplete=False, reason="canary-failed", message=None)
# A run with a release catalog: the drive held 4.1, the file is 4.2.
RELEASES = dict(fileVersion="4.2", driveVersion="4.1")
WRONG_MODEL = dict(RELEASES, reason="model", message="incompatible: model KVA; release 4.2 is for KV7")
NEWER = dict(fileVersion="4.2", driveVersion="4.3", message="newer release on the drive: the drive holds 4.3, newer than the file's 4.2")
IDENTITY = {
    "monitorRevision": 3,
    "buildNumber": 1207,
    "currentCapability": 20.0,
    "busSensorResolution": None,
    "currentSensorResolution": 0.01,
    "serialNumber": 123456,
    "manufacturingCode": 7,
    "hardwareRevision": "C",
    "modelCode": "KV720",
    "vin": "",
    "mac": "02:00:00:12:34:ab",
    "checksum": 4294967295,
}

# Fields that make a programmed record one no loader writes: what the
# module's message says of it.
HOSTILE = [
    ("result null", dict(result=None), "result is null, not one of programmed, current"),
    ("result missing", dict(result=DROP), "no field result"),
    ("result a list", dict(result=["programmed"]), 'result is ["programmed"], not one of'),
    ("result unknown", dict(result="running"), 'result is "running", not one of'),
    ("result in capitals", dict(result="FAILED"), 'result is "FAILED", not one of'),
    ("failedStage a number", dict(failedStage=3), "failedStage is 3, not one of connection"),
    ("reason an object", dict(reason={"why": "no-answer"}), 'reason is {"why": "no-answer"}, not one of'),
    ("address a list", dict(address=["10.0.0.6"]), 'address is ["10.0.0.6"], not string'),
    ("address of five parts", dict(address="10.0.0.0.6"), 'address is "10.0.0.0.6", not of the form'),
    ("imageIncomplete a string", dict(imageIncomplete="false"), 'imageIncomplete is "false", not boolean'),
    ("failedBlock a truth value", dict(failedBlock=True), "failedBlock is true, not integer or null"),
    ("status above a byte", dict(status=256), "status is 256, above 255"),
    ("seconds negative", dict(seconds=-1), "seconds is -1, below 0"),
    ("digest in capitals", dict(fileDigest=FILE_DIGEST.upper()), "fileDigest is"),
    ("identity without checksum", dict(identity=dict((k, v) for k, v in IDENTITY.items() if k != "checksum")), "no field identity.checksum"),
    ("identity mac a number", dict(identity=dict(IDENTITY, mac=2)), "identity.mac is 2, not string"),
    ("a field the schema lacks", dict(retries=2), "unknown field retries"),
    ("mode unknown", dict(mode="dry-run"), 'mode is "dry-run", not one of program, verify, identity, plan'),
    ("fileVersion a number", dict(fileVersion=4.2), "fileVersion is 4.2, not string or null"),
    ("driveVersion a list", dict(driveVersion=["4.1"]), 'driveVersion is ["4.1"], not string or null'),
]


def _schema():
    if not os.path.exists(SCHEMA):
        pytest.skip("no record schema beside the collection")
    with open(SCHEMA) as handle:
        return json.load(handle)


@pytest.mark.parametrize(
    "item",
    [
        record("10.0.0.5", "programmed"),
        record("10.0.0.5", "current"),
        record("10.0.0.5", "failed"),
        record("10.0.0.5", "interrupted", reason="interrupted"),
        record("10.0.0.5", "not-started", serial=None, mac=None, driveDigest=None, **NOT_STARTED),
        record("10.0.0.5", "digest-differs", mode="verify", blockCount=None),
        record("10.0.0.5", "identified", mode="identity", identity=IDENTITY, failedBlock=2.0),
        record("10.0.0.5", "programmed", **RELEASES),
        record("10.0.0.5", "incompatible", **WRONG_MODEL),
        record("10.0.0.5", "newer-on-drive", **NEWER),
        record("10.0.0.5", "would-program", mode="plan", **RELEASES),
    ],
)
def test_the_fake_records_follow_the_loaders_schema(item):
    """The records these tests feed the module are records the loader
    writes, and the module's own check of the schema takes them."""
    jsonschema = pytest.importorskip("jsonschema")
    jsonschema.validate(item, _schema())
    assert tovrin_records.schema_faults(item) == []


@pytest.mark.parametrize("fields", [fields for _, fields, _ in HOSTILE], ids=[name for name, _, _ in HOSTILE])
def test_the_module_and_the_schema_refuse_the_same_records(fields):
    jsonschema = pytest.importorskip("jsonschema")
    item = hostile("10.0.0.6", fields)
    assert not jsonschema.Draft202012Validator(_schema()).is_valid(item)
    assert tovrin_records.schema_faults(item)


def test_the_modules_record_rules_are_the_schemas():
    """The module's fields, words, types and bounds are those of the record
    schema: a field or word the loader gains is a field or word the module
    knows."""

    def rules(schema, definitions):
        out = {}
        for name, rule in schema["properties"].items():
            if "$ref" in rule:
                rule = definitions[rule["$ref"].split("/")[-1]]
            if "oneOf" in rule:
                (rule,) = [definitions[r["$ref"].split("/")[-1]] for r in rule["oneOf"] if "$ref" in r]
                out[name] = ("object", rules(rule, definitions))
                continue
            types = rule.get("type", [])
            out[name] = (
                tuple(sorted([types] if isinstance(types, str) else types)),
                tuple(rule.get("enum", ())),
                rule.get("minimum"),
                rule.get("maximum"),
                rule.get("pattern"),
            )
        assert sorted(schema["required"]) == sorted(out)
        return out

    def ours(fields):
        out = {}
        for name, rule in fields:
            if rule["fields"]:
                out[name] = ("object", ours(rule["fields"]))
                continue
            out[name] = (tuple(sorted(rule["types"] or ())), tuple(rule["enum"] or ()), rule["minimum"], rule["maximum"], rule["pattern"])
        return out

    schema = _schema()
    assert ours(tovrin_records.RECORD_FIELDS) == rules(schema, schema["$defs"])
    assert schema["additionalProperties"] is False and schema["$defs"]["identity"]["additionalProperties"] is False


FOLDER = object()  # FakeLoader's raw record file: a folder in its place


class FakeLoader:
    """Answers run_command: writes the records given (or the raw text) to the
    -r file and returns the exit status and console given."""

    def __init__(self, rc=0, records=(), raw=None, stdout="console text\n"):
        self.rc = rc
        self.records = list(records)
        self.raw = raw
        self.stdout = stdout
        self.commands = []

    def __call__(self, module, cmd, **kwargs):
        self.commands.append(list(cmd))
        path = cmd[cmd.index("-r") + 1]
        if self.raw is FOLDER:
            os.mkdir(path)
        elif self.raw is not None:
            with open(path, "w") as handle:
                handle.write(self.raw)
        elif self.records:
            with open(path, "a") as handle:
                for item in self.records:
                    handle.write(json.dumps(item) + "\n")
        return self.rc, self.stdout, ""


@pytest.fixture
def cell(tmp_path, monkeypatch):
    """A cell PC: a firmware file, an installed loader, module harness."""
    firmware = tmp_path / "fw.bin"
    firmware.write_bytes(b"\x5a" * 2048)
    loader = tmp_path / "tovrin"
    loader.write_text("#!/bin/sh\nexit 99\n")
    loader.chmod(0o755)
    monkeypatch.setattr(basic.AnsibleModule, "exit_json", exit_json)
    monkeypatch.setattr(basic.AnsibleModule, "fail_json", fail_json)

    class Cell:
        def run(self, fake, check_mode=False, **args):
            monkeypatch.setattr(basic.AnsibleModule, "run_command", _bind(fake))
            params = {"firmware": str(firmware), "loader": str(loader), "_ansible_remote_tmp": str(tmp_path)}
            params.update(args)
            if params.get("catalog") == "CAT":
                params["catalog"] = c.catalog
            if check_mode:
                params["_ansible_check_mode"] = True
            set_module_args(params)
            with pytest.raises((AnsibleExitJson, AnsibleFailJson)) as ended:
                tovrin_firmware.main()
            result = ended.value.args[0]
            result["failed"] = isinstance(ended.value, AnsibleFailJson)
            return result

    c = Cell()
    c.tmp = tmp_path
    c.firmware = str(firmware)
    c.loader = str(loader)
    c.catalog = str(tmp_path / "catalog")
    os.mkdir(c.catalog)
    return c


def _bind(fake):
    def run_command(module, cmd, **kwargs):
        return fake(module, cmd, **kwargs)

    return run_command


TWO = ["10.0.0.5", "10.0.0.6"]


class TestCommandLine:
    @pytest.mark.parametrize(
        "args, check_mode, expected_tail",
        [
            ({"drives": TWO, "canaries": 1}, False, ["-ip", "10.0.0.5,10.0.0.6", "-fp", "FW", "-s", "-c", "1"]),
            ({"drives": TWO, "skip_current": False}, False, ["-ip", "10.0.0.5,10.0.0.6", "-fp", "FW"]),
            ({"all_drives": True}, False, ["-a", "-fp", "FW", "-s"]),
            # Check mode programs nothing: the plan of the same run.
            ({"drives": TWO, "canaries": 1}, True, ["-ip", "10.0.0.5,10.0.0.6", "-fp", "FW", "-n", "-s", "-c", "1"]),
            (
                {"drives": TWO, "catalog": "CAT", "allow_older": True},
                True,
                ["-ip", "10.0.0.5,10.0.0.6", "-fp", "FW", "-n", "-s", "--catalog", "CAT", "--allow-older"],
            ),
            # Newer releases matter to programming only.
            (
                {"drives": TWO, "mode": "verify", "catalog": "CAT", "allow_older": True},
                False,
                ["-ip", "10.0.0.5,10.0.0.6", "-fp", "FW", "-v", "--catalog", "CAT"],
            ),
            ({"drives": TWO, "mode": "verify"}, False, ["-ip", "10.0.0.5,10.0.0.6", "-fp", "FW", "-v"]),
            ({"drives": TWO, "mode": "identity", "firmware": None}, False, ["-ip", "10.0.0.5,10.0.0.6", "-u"]),
        ],
    )
    def test_loader_runs_with_exit_status_and_records(self, cell, args, check_mode, expected_tail):
        fake = FakeLoader(records=[record(a, "identified") for a in TWO])
        cell.run(fake, check_mode=check_mode, **args)
        (cmd,) = fake.commands
        assert cmd[:3] == [cell.loader, "-e", "-r"]
        assert cmd[4:] == [{"FW": cell.firmware, "CAT": cell.catalog}.get(word, word) for word in expected_tail]

    @pytest.mark.parametrize(
        "args, words",
        [
            ({}, "drives"),
            ({"drives": TWO, "all_drives": True}, "either"),
            ({"drives": TWO, "canaries": 0}, "canaries must be 1 to 100"),
            ({"drives": TWO, "canaries": 101}, "canaries must be 1 to 100"),
            ({"drives": TWO, "firmware": "/no/such.bin"}, "not on the host"),
            ({"drives": TWO, "loader": "/no/such/tovrin"}, "not installed"),
            ({"drives": TWO, "loader": "no-such-tovrin"}, "not installed"),
            ({"drives": ["10.0.0.5", "010.0.0.6"]}, "drives: 010.0.0.6 is no IPv4 address the loader accepts"),
            ({"drives": ["255.255.255.255", "10.0.0.5,10.0.0.6"]}, "255.255.255.255, 10.0.0.5,10.0.0.6 are no"),
            ({"drives": TWO, "record_file": "/"}, "record_file / is a folder, not a file"),
            ({"drives": TWO, "allow_older": True}, "allow_older needs catalog"),
            ({"drives": TWO, "catalog": "/no/such/catalog"}, "the catalog folder /no/such/catalog is not on the host"),
        ],
    )
    def test_refuses_before_running_the_loader(self, cell, args, words):
        fake = FakeLoader()
        result = cell.run(fake, **args)
        assert result["failed"] and words in result["msg"]
        assert fake.commands == []

    def test_check_mode_before_the_loader_is_installed(self, cell):
        fake = FakeLoader()
        result = cell.run(fake, check_mode=True, drives=TWO, loader="/no/such/tovrin")
        assert not result["failed"] and result["changed"] and result["would_program"] == TWO
        assert "not installed yet" in result["msg"] and fake.commands == []


class TestOutcome:
    @pytest.mark.parametrize(
        "name, rc, records, check_mode, changed, failed, words",
        [
            ("all programmed", 0, [record(a, "programmed") for a in TWO], False, True, False, "2 programmed"),
            ("all current", 0, [record(a, "current") for a in TWO], False, False, False, "2 current"),
            (
                "one programmed, one current",
                0,
                [record(TWO[0], "programmed"), record(TWO[1], "current")],
                False,
                True,
                False,
                "1 current, 1 programmed",
            ),
            (
                "one failed",
                1,
                [record(TWO[0], "programmed"), record(TWO[1], "failed", serial=777)],
                False,
                True,
                True,
                "1 drive failed: 10.0.0.6 (serial 777): programming, block 3 of 40: no-answer",
            ),
            (
                "canary failed, the other never started",
                1,
                [
                    record(TWO[0], "failed", failedStage="connection", failedBlock=None, imageIncomplete=False),
                    record(TWO[1], "not-started", **NOT_STARTED),
                ],
                False,
                False,
                True,
                "2 drives failed: 10.0.0.5 (serial 123456): connection: no-answer; 10.0.0.6",
            ),
            (
                "interrupted by a signal",
                -15,
                [record(TWO[0], "programmed"), record(TWO[1], "interrupted", reason="interrupted")],
                False,
                True,
                True,
                "10.0.0.6 (serial 123456): programming, block 3 of 40: interrupted",
            ),
            (
                "check mode, one would be programmed",
                0,
                [plan(TWO[0], "would-program"), plan(TWO[1], "current")],
                True,
                True,
                False,
                "would program 1 drive: 10.0.0.5",
            ),
            ("check mode, all current", 0, [plan(a, "current") for a in TWO], True, False, False, "would program no drive: 2 current"),
            ("check mode, status 1 for nothing", 1, [plan(a, "would-program") for a in TWO], True, True, True, "ended with status 1 although every drive's"),
            # Check mode fails where the real run would, naming the drives.
            (
                "check mode, one incompatible",
                1,
                [plan(TWO[0], "would-program", **RELEASES), plan(TWO[1], "incompatible", **WRONG_MODEL)],
                True,
                True,
                True,
                "would program 1 drive: 10.0.0.5. 1 drive withheld by the release catalog: 10.0.0.6 (serial 123456): incompatible: model KVA",
            ),
            # A record's mode is the mode the module ran.
            (
                "check mode, a real run's record",
                0,
                [plan(TWO[0], "would-program"), record(TWO[1], "programmed")],
                True,
                True,
                True,
                "is of a program run, not of this plan",
            ),
            (
                "a plan's record in a program run",
                0,
                [record(TWO[0], "programmed"), plan(TWO[1], "would-program")],
                False,
                True,
                True,
                "is of a plan run, not of this program",
            ),
            (
                "would-program in a program run",
                0,
                [record(a, "would-program") for a in TWO],
                False,
                False,
                True,
                "result would-program does not come of a program run",
            ),
            (
                "incompatible",
                1,
                [record(TWO[0], "programmed", **RELEASES), record(TWO[1], "incompatible", **WRONG_MODEL)],
                False,
                True,
                True,
                "1 drive withheld by the release catalog: 10.0.0.6 (serial 123456): incompatible: model KVA; release 4.2 is for KV7",
            ),
            (
                "newer on the drive",
                1,
                [record(a, "newer-on-drive", **NEWER) for a in TWO],
                False,
                False,
                True,
                "4.2 (allow_older programs a drive holding a newer release)",
            ),
            (
                "a drive withheld and another failed",
                1,
                [record(TWO[0], "failed"), record(TWO[1], "incompatible", **WRONG_MODEL)],
                False,
                False,
                True,
                "no-answer (image incomplete: program it again). 1 drive withheld by the release catalog: 10.0.0.6",
            ),
            # Exit status 1 alone stands for withheld drives.
            ("withheld, status 3", 3, [record(a, "incompatible", **WRONG_MODEL) for a in TWO], False, False, True, "ended with status 3 although"),
            (
                "incompatible for no field",
                1,
                [record(a, "incompatible", **dict(WRONG_MODEL, reason=None)) for a in TWO],
                False,
                False,
                True,
                "for the reason null",
            ),
            (
                "verify, one differs",
                1,
                [record(TWO[0], "digest-differs", mode="verify"), record(TWO[1], "digest-equal", mode="verify")],
                False,
                False,
                False,
                "1 digest-differs, 1 digest-equal",
            ),
            ("refused", 2, [], False, False, True, "refused the run before touching a drive: console text"),
            ("no records", 1, [], False, False, True, "wrote no record (exit status 1)"),
            ("a drive without record", 0, [record(TWO[0], "programmed")], False, True, True, "10.0.0.6: no record"),
            (
                "status 1 although every drive completed",
                1,
                [record(a, "programmed") for a in TWO],
                False,
                True,
                True,
                "ended with status 1 although every drive's record says it completed",
            ),
            ("an unknown status", 3, [record(a, "current") for a in TWO], False, False, True, "ended with status 3"),
            # Status 1 stands for a differing digest only when every drive
            # has a record, in a verify run.
            (
                "verify, one differs, the other without record",
                1,
                [record(TWO[0], "digest-differs", mode="verify")],
                False,
                False,
                True,
                "10.0.0.6: no record",
            ),
            (
                "verify, status 1 although every digest is equal",
                1,
                [record(a, "digest-equal", mode="verify") for a in TWO],
                False,
                False,
                True,
                "ended with status 1",
            ),
            (
                "verify, incompatible",
                1,
                [record(TWO[0], "digest-equal", mode="verify"), record(TWO[1], "incompatible", mode="verify", **WRONG_MODEL)],
                False,
                False,
                True,
                "10.0.0.6: its record's result incompatible does not come of a verify run",
            ),
            (
                "a digest differs in a program run",
                1,
                [record(TWO[0], "programmed"), record(TWO[1], "digest-differs")],
                False,
                True,
                True,
                "10.0.0.6: its record's result digest-differs does not come of a program run",
            ),
            (
                "a verify record in a program run",
                0,
                [record(TWO[0], "programmed"), record(TWO[1], "digest-equal", mode="verify")],
                False,
                True,
                True,
                "10.0.0.6: its record is of a verify run, not of this program run",
            ),
            (
                "an address the loader does not write",
                0,
                [record(TWO[0], "programmed"), record("010.0.0.6", "programmed")],
                False,
                True,
                True,
                'record 2: its address "010.0.0.6" is none the loader writes; 10.0.0.6: no record',
            ),
            (
                "a drive not asked for",
                0,
                [record(a, "programmed") for a in TWO + ["10.0.0.9"]],
                False,
                True,
                True,
                "10.0.0.9: not one of the drives asked for",
            ),
            (
                "a drive recorded twice",
                0,
                [record(a, "programmed") for a in TWO + TWO[1:]],
                False,
                True,
                True,
                "1 drive failed: 10.0.0.6: a second record of the drive",
            ),
        ],
    )
    def test_result_follows_the_records(self, cell, name, rc, records, check_mode, changed, failed, words):
        mode = "verify" if name.startswith("verify") else "program"
        result = cell.run(FakeLoader(rc=rc, records=records), check_mode=check_mode, drives=TWO, mode=mode)
        assert result["changed"] is changed, name
        assert result["failed"] is failed, name
        assert bool(result["faults"]) is failed, name
        assert words in result["msg"], name

    @pytest.mark.parametrize("fields, words", [row[1:] for row in HOSTILE], ids=[row[0] for row in HOSTILE])
    def test_a_record_no_loader_writes_fails_its_drive(self, cell, fields, words):
        result = cell.run(FakeLoader(rc=0, records=[record(TWO[0], "programmed"), hostile(TWO[1], fields)]), drives=TWO)
        assert result["failed"] and result["failed_drives"] == [TWO[1]]
        if fields.get("address", TWO[1]) == TWO[1]:
            assert "1 drive failed: 10.0.0.6: its record is not as the loader writes it: " + words in result["msg"]
        else:
            # The record names no drive the loader runs: the drive has none.
            assert "record 2: its record is not as the loader writes it: " + words in result["msg"]
            assert "; 10.0.0.6: no record" in result["msg"]

    def test_drives_match_their_records_in_any_form_the_loader_reads(self, cell):
        given = ["0xc0.168.124.120", "3232267385", "192.168.31865", "0xc0.168.124.120"]
        drives = ["192.168.124.120", "192.168.124.121", "192.168.124.121"]
        fake = FakeLoader(records=[record(drives[0], "programmed"), record(drives[1], "current")])
        result = cell.run(fake, drives=given)
        assert not result["failed"] and result["programmed"] == drives[:1] and result["current"] == drives[1:2]
        # Each drive once, as the loader would run them.
        assert fake.commands[0][5] == "192.168.124.120,192.168.124.121"

    def test_returns_drives_and_the_records_as_written(self, cell):
        records = [record(TWO[0], "programmed"), record(TWO[1], "failed", serial=None)]
        result = cell.run(FakeLoader(rc=1, records=records), drives=TWO)
        assert result["records"] == records
        assert result["programmed"] == [TWO[0]]
        assert result["failed_drives"] == [TWO[1]]
        drive = result["drives"][1]
        assert (drive["address"], drive["result"], drive["failed_stage"], drive["failed_block"]) == (
            TWO[1],
            "failed",
            "programming",
            3,
        )
        assert drive["image_incomplete"] is True and drive["serial_number"] is None
        assert "10.0.0.6: programming" in result["msg"]

    def test_check_mode_says_which_drives_would_be_programmed(self, cell):
        records = [record(a, "would-program", mode="plan", **RELEASES) for a in TWO]
        result = cell.run(FakeLoader(rc=0, records=records), check_mode=True, drives=TWO)
        assert result["would_program"] == TWO and result["programmed"] == [] == result["differs"]
        assert [(d["drive_version"], d["file_version"]) for d in result["drives"]] == [("4.1", "4.2")] * 2

    def test_withheld_drives_are_named_apart_and_not_retried(self, cell):
        records = [record(TWO[0], "newer-on-drive", **NEWER), record(TWO[1], "incompatible", serial=777, **WRONG_MODEL)]
        result = cell.run(FakeLoader(rc=1, records=records), drives=TWO, catalog="CAT")
        assert result["failed"] and result["failed_drives"] == [] and "retry" not in result
        assert result["incompatible"] == [TWO[1]] and result["newer_on_drive"] == [TWO[0]]
        assert result["faults"] == [
            "10.0.0.5 (serial 123456): newer release on the drive: the drive holds 4.3, newer than the file's 4.2",
            "10.0.0.6 (serial 777): incompatible: model KVA; release 4.2 is for KV7",
        ]
        assert result["drives"][1]["reason"] == "model"
        # Ansible takes a result's "rc" other than 0 for a failed task.
        assert "rc" not in result and result["exit_status"] == 1

    @pytest.mark.parametrize(
        "raw, words",
        [
            ('{"address":"10.0.0.5","result":"programmed"}\n{"address":"10.0.0.6","res', "cut short"),
            ("not json\n", "line 1 is not a JSON record"),
            ("[1, 2]\n", "line 1 is not a JSON object"),
            (FOLDER, "records.jsonl cannot be read: Is a directory"),
        ],
    )
    def test_a_record_file_not_whole_fails_the_task(self, cell, raw, words):
        result = cell.run(FakeLoader(rc=0, raw=raw), drives=TWO)
        assert result["failed"] and "records are unreadable" in result["msg"] and words in result["msg"]


class TestRecordFile:
    def test_holds_this_runs_records_only(self, cell):
        keep = cell.tmp / "records" / "last-run.jsonl"
        first = cell.run(FakeLoader(records=[record(a, "programmed") for a in TWO]), drives=TWO, record_file=str(keep))
        second = cell.run(FakeLoader(records=[record(a, "current") for a in TWO]), drives=TWO, record_file=str(keep))
        lines = [json.loads(line) for line in keep.read_text().splitlines()]
        assert [r["result"] for r in lines] == ["current", "current"]
        assert first["changed"] and not second["changed"]

    def test_a_failed_drive_is_retried_with_the_kept_records(self, cell):
        keep = str(cell.tmp / "records" / "last-run.jsonl")
        fake = FakeLoader(rc=1, records=[record(TWO[0], "failed", serial=777), record(TWO[1], "not-started", **NOT_STARTED)])
        result = cell.run(fake, drives=TWO, canaries=1, record_file=keep)
        assert fake.commands[0][:4] == [cell.loader, "-e", "-r", keep]
        retry = "%s -e -r %s -ip 10.0.0.5,10.0.0.6 -fp %s -s -c 1" % (cell.loader, keep, cell.firmware)
        assert result["retry"] == retry and result["msg"].endswith(". Run them again on the cell with: " + retry)

    def test_a_stale_file_is_removed_when_the_loader_is_missing_in_check_mode(self, cell):
        keep = cell.tmp / "last-run.jsonl"
        keep.write_text(json.dumps(record(TWO[0], "programmed")) + "\n")
        result = cell.run(FakeLoader(), check_mode=True, drives=TWO, loader="/no/such/tovrin", record_file=str(keep))
        assert result["changed"] and not os.path.exists(str(keep))

    def test_a_stale_file_is_removed_when_the_loader_refused(self, cell):
        keep = cell.tmp / "last-run.jsonl"
        keep.write_text(json.dumps(record(TWO[0], "programmed")) + "\n")
        result = cell.run(FakeLoader(rc=2, stdout="\nERROR: Can't open file /fw.bin\r\n"), drives=TWO, record_file=str(keep))
        assert result["failed"] and "Can't open file /fw.bin" in result["msg"]
        assert not os.path.exists(str(keep))
