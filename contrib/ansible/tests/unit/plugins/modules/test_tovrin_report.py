# Unit tests of the tovrin_report module and of the record helpers it shares
# with tovrin_firmware: merging the cells' record files into one report.
import json

import pytest
from ansible.module_utils import basic
from ansible_collections.tovrin.plant.plugins.module_utils import tovrin_records
from ansible_collections.tovrin.plant.plugins.modules import tovrin_report

from .test_tovrin_firmware import FILE_DIGEST, HOSTILE, NEWER, OLD_DIGEST, RELEASES, WRONG_MODEL, hostile, record
from .utils import AnsibleExitJson, AnsibleFailJson, exit_json, fail_json, set_module_args


@pytest.fixture
def controller(tmp_path, monkeypatch):
    monkeypatch.setattr(basic.AnsibleModule, "exit_json", exit_json)
    monkeypatch.setattr(basic.AnsibleModule, "fail_json", fail_json)
    records = tmp_path / "records"
    records.mkdir()

    def run(check_mode=False):
        args = {
            "records_dir": str(records),
            "jsonl": str(tmp_path / "report.jsonl"),
            "table": str(tmp_path / "report.txt"),
            "_ansible_remote_tmp": str(tmp_path),
        }
        if check_mode:
            args["_ansible_check_mode"] = True
        set_module_args(args)
        with pytest.raises((AnsibleExitJson, AnsibleFailJson)) as ended:
            tovrin_report.main()
        result = ended.value.args[0]
        result["failed"] = isinstance(ended.value, AnsibleFailJson)
        return result

    def cell(host, *items, raw=None):
        text = raw if raw is not None else "".join(json.dumps(item) + "\n" for item in items)
        (records / (host + ".jsonl")).write_text(text)

    run.cell = cell
    run.tmp = tmp_path
    return run


def test_merges_every_cell_into_json_lines_and_a_table(controller):
    controller.cell("cell2", record("192.168.124.120", "current"))
    controller.cell(
        "cell1",
        record("192.168.124.120", "programmed", serial=1001),
        record("192.168.124.121", "failed", serial=1002),
    )
    (controller.tmp / "records" / "notes.txt").write_text("not a record file")
    result = controller()
    assert not result["failed"] and result["changed"]
    assert result["hosts"] == ["cell1", "cell2"] and result["drives"] == 3
    merged = [json.loads(line) for line in (controller.tmp / "report.jsonl").read_text().splitlines()]
    assert [(r["host"], r["address"], r["result"]) for r in merged] == [
        ("cell1", "192.168.124.120", "programmed"),
        ("cell1", "192.168.124.121", "failed"),
        ("cell2", "192.168.124.120", "current"),
    ]
    table = (controller.tmp / "report.txt").read_text().splitlines()
    assert table[0].split() == ["HOST", "DRIVE", "SERIAL", "RESULT", "RELEASE", "FIRMWARE", "DIGEST", "NOTE"]
    assert table[1].split() == ["cell1", "192.168.124.120", "1001", "programmed", "-", FILE_DIGEST]
    assert table[2].split()[:6] == ["cell1", "192.168.124.121", "1002", "failed", "-", "incomplete"]
    assert "programming, block 3 of 40: no-answer" in table[2]
    assert table[-1] == "3 drives: 1 current, 1 failed, 1 programmed"


def test_names_the_failed_drives_and_is_unchanged_when_written_again(controller):
    controller.cell("cell3", record("192.168.124.121", "not-started", serial=None, reason="canary-failed"))
    controller.cell("cell1", record("192.168.124.120", "failed", serial=42))
    first = controller()
    second = controller()
    assert first["failed_drives"] == ["cell1 192.168.124.120 (serial 42)", "cell3 192.168.124.121"]
    assert first["withheld_drives"] == []
    assert first["changed"] and not second["changed"]
    assert first["table"] == second["table"]


def test_check_mode_writes_nothing(controller):
    controller.cell("cell1", record("192.168.124.120", "programmed"))
    result = controller(check_mode=True)
    assert not result["changed"] and not (controller.tmp / "report.txt").exists()
    assert "192.168.124.120" in result["table"]


def test_no_records_folder_gives_an_empty_report(controller):
    (controller.tmp / "records").rmdir()
    result = controller()
    assert not result["failed"] and result["drives"] == 0
    assert (controller.tmp / "report.txt").read_text().endswith("\n0 drives\n")


def test_an_unreadable_cell_file_fails_the_report(controller):
    controller.cell("cell1", raw='{"address": "192.168.124.120"')
    result = controller()
    assert result["failed"] and "cell1.jsonl ends inside a record" in result["msg"]


@pytest.mark.parametrize("fields, words", [row[1:] for row in HOSTILE], ids=[row[0] for row in HOSTILE])
def test_a_record_no_loader_writes_is_a_failed_row(controller, fields, words):
    controller.cell("cell1", record("192.168.124.120", "programmed"), hostile("192.168.124.121", fields))
    result = controller()
    assert not result["failed"] and result["drives"] == 2
    assert result["failed_drives"] == ["cell1 " + ("192.168.124.121" if "address" not in fields else "?")]
    row = result["table"].splitlines()[2]
    assert row.split()[:6] == ["cell1", "192.168.124.121" if "address" not in fields else "?", "-", "?", "-", "-"]
    assert ("its record is not as the loader writes it: " + words) in row


DRIVE = "192.168.124.120"
NO_RELEASE = dict(fileVersion="4.2", driveVersion=None)


@pytest.mark.parametrize(
    "item, release, digest, note",
    [
        (record(DRIVE, "programmed"), "-", FILE_DIGEST, ""),
        (record(DRIVE, "current"), "-", FILE_DIGEST, ""),
        (record(DRIVE, "digest-equal", mode="verify"), "-", FILE_DIGEST, ""),
        (record(DRIVE, "digest-differs", mode="verify"), "-", OLD_DIGEST, ""),
        (record(DRIVE, "identified", mode="identity", fileDigest=None), "-", OLD_DIGEST, ""),
        (record(DRIVE, "failed"), "-", "incomplete", "programming, block 3 of 40: no-answer (image incomplete: program it again)"),
        (
            record(DRIVE, "failed", failedStage="monitor state", failedBlock=None, imageIncomplete=False, reason="no-digest", driveDigest=None),
            "-",
            "-",
            "monitor state: no-digest",
        ),
        (
            record(DRIVE, "not-started", failedStage=None, failedBlock=None, imageIncomplete=False, reason="canary-failed"),
            "-",
            OLD_DIGEST,
            "canary-failed",
        ),
        # With a release catalog: from which release to which.
        (record(DRIVE, "programmed", **RELEASES), "4.1 -> 4.2", FILE_DIGEST, ""),
        (record(DRIVE, "programmed", **NO_RELEASE), "unknown -> 4.2", FILE_DIGEST, ""),
        (record(DRIVE, "would-program", mode="plan", **RELEASES), "4.1 -> 4.2", OLD_DIGEST, ""),
        (record(DRIVE, "current", fileVersion="4.2", driveVersion="4.2"), "4.2", FILE_DIGEST, ""),
        (record(DRIVE, "digest-differs", mode="verify", **NO_RELEASE), "unknown", OLD_DIGEST, ""),
        (record(DRIVE, "failed", **RELEASES), "-", "incomplete", "programming, block 3 of 40: no-answer (image incomplete: program it again)"),
        (record(DRIVE, "incompatible", **WRONG_MODEL), "4.1", OLD_DIGEST, "incompatible: model KVA; release 4.2 is for KV7"),
        (
            record(DRIVE, "newer-on-drive", **NEWER),
            "4.3",
            OLD_DIGEST,
            "newer release on the drive: the drive holds 4.3, newer than the file's 4.2",
        ),
    ],
)
def test_a_row_shows_what_the_drive_holds(item, release, digest, note):
    ((_, _, _, _, version, shown, why),) = tovrin_records.report_rows([("cell", [item])])
    assert (version, shown, why) == (release, digest, note)


def test_names_the_drives_the_catalog_withheld(controller):
    controller.cell(
        "cell3",
        record("192.168.124.120", "programmed", **RELEASES),
        record("192.168.124.121", "incompatible", serial=5, **WRONG_MODEL),
    )
    controller.cell("cell1", record("192.168.124.120", "newer-on-drive", serial=None, **dict(NEWER, message=None)))
    result = controller()
    assert result["failed_drives"] == []
    assert result["withheld_drives"] == [
        "cell1 192.168.124.120: newer release on the drive",
        "cell3 192.168.124.121 (serial 5): incompatible: model KVA; release 4.2 is for KV7",
    ]
    assert result["table"].endswith("\n3 drives: 1 incompatible, 1 newer-on-drive, 1 programmed\n")


@pytest.mark.parametrize(
    "text, address",
    [
        ("192.168.124.120", "192.168.124.120"),
        ("0xc0.0XA8.124.0x78", "192.168.124.120"),
        ("3232267384", "192.168.124.120"),
        ("192.168.31864", "192.168.124.120"),
        ("10.258", "10.0.1.2"),
        ("0", "0.0.0.0"),
        ("10.0.0.5 and more", "10.0.0.5"),
        ("010.0.0.5", None),
        ("10.0.0.05", None),
        ("255.255.255.255", None),
        ("4294967295", None),
        ("4294967296", None),
        ("256.0.0.1", None),
        ("10.0.0.256", None),
        ("10.65536", "10.1.0.0"),
        ("10.0.65536", None),
        ("1.2.3.4.5", None),
        ("10..0.5", None),
        ("10.0.0.5.", None),
        (" 10.0.0.5", None),
        ("0x", None),
        ("0xg", None),
        ("10.0.0.5,10.0.0.6", None),
        ("", None),
        (None, None),
    ],
)
def test_an_address_reads_as_the_loader_reads_it(text, address):
    assert tovrin_records.canonical_address(text) == address
