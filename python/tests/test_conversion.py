"""The package writes what lumerca-import writes, byte for byte, whichever
way it is asked: convert(), read().write() and read().files()."""

import os
import threading

import pytest

import lumerca_marker as lm
from conftest import EXAMPLES, STATUS_ERRORS, tool_files, tool_report


def package_outputs(marker_path, tmp_path, **options):
    """The two files by each of the package's ways, by way."""
    name = options.pop("name", None)
    outputs = {}
    folder = tmp_path / "convert"
    folder.mkdir()
    written = lm.convert(marker_path, folder, name=name, **options)
    outputs["convert"] = {n: (folder / n).read_bytes() for n in ("csvimprt.txt", "posimport.txt")}
    marker = lm.read(marker_path, **options)
    folder = tmp_path / "write"
    folder.mkdir()
    assert marker.write(folder, name=name) == written
    outputs["write"] = {n: (folder / n).read_bytes() for n in ("csvimprt.txt", "posimport.txt")}
    outputs["files"] = marker.files(name=name)
    return written, outputs


def test_every_importable_marker_as_the_tool(importable, tool, tmp_path):
    assert len(importable) >= 13
    for i, marker_path in enumerate(importable):
        case = tmp_path / str(i)
        expected = tool_files(tool, marker_path, case / "tool")
        (case / "tool").mkdir(exist_ok=True)
        written, outputs = package_outputs(marker_path, case)
        for way, files in outputs.items():
            assert files == expected, "%s: %s differs from lumerca-import" % (marker_path.name, way)
        # The counts and the name are what the files hold.
        pos = expected["posimport.txt"]
        assert written.name.encode("cp1252", errors="replace") in expected["csvimprt.txt"]
        assert written.pieces + written.cut_lines == pos.count(b"\r\n")


@pytest.mark.parametrize("code_page", [1250, 1251, 1253, 932])
def test_code_page_and_name_as_the_tool(fixtures_dir, tool, tmp_path, code_page):
    # multi.mrk holds bytes above 0x7F in its names, which each code page
    # reads, and normalises, its own way.
    marker_path = fixtures_dir / "multi.mrk"
    expected = tool_files(tool, marker_path, tmp_path / "tool", "--codepage", str(code_page))
    written, outputs = package_outputs(marker_path, tmp_path, code_page=code_page)
    for files in outputs.values():
        assert files == expected
    assert lm.read(marker_path, code_page=code_page).code_page == code_page

    # A name given as str is encoded in the code page; as bytes it is kept.
    name = {1250: "Šaty 1", 1251: "Жакет", 1253: "Φόρεμα", 932: "上着"}[code_page]
    raw = name.encode("cp%d" % code_page)
    expected = tool_files(tool, marker_path, tmp_path / "tool-named", "--codepage", str(code_page),
                          "--name", os.fsdecode(raw))
    for given in (name, raw):
        case = tmp_path / ("named-%s" % type(given).__name__)
        case.mkdir()
        written, outputs = package_outputs(marker_path, case, code_page=code_page, name=given)
        for files in outputs.values():
            assert files == expected


def test_a_name_beyond_255_bytes_is_cut_as_the_tool_cuts_it(fixtures_dir, tool, tmp_path):
    marker_path = fixtures_dir / "blouse.mrk"
    long_name = "Ab1." * 80
    expected = tool_files(tool, marker_path, tmp_path / "tool", "--name", long_name)
    written, outputs = package_outputs(marker_path, tmp_path, name=long_name)
    assert outputs["files"] == expected
    assert len(written.name) == 255


def test_salvage_imports_as_the_tool(hostile_dir, tool, tmp_path):
    report = tool_report(tool, hostile_dir, tmp_path / "report", "--salvage")
    salvaged = failed = 0
    for marker_path in sorted(hostile_dir.glob("*.mrk")):
        try:
            lm.read(marker_path)
            continue
        except lm.DamagedError:
            pass
        except lm.CannotOpenError:
            continue
        case = tmp_path / marker_path.stem
        status, _ = report[marker_path.name]
        if status != "imported":
            # What salvage kept has no piece, or a reference to what was lost.
            failed += 1
            assert not lm.read(marker_path, salvage=True).ok
            with pytest.raises(STATUS_ERRORS[status]):
                lm.convert(marker_path, tmp_path, salvage=True)
            continue
        expected = tool_files(tool, marker_path, case / "tool", "--salvage")
        written, outputs = package_outputs(marker_path, case, salvage=True)
        for files in outputs.values():
            assert files == expected, marker_path.name
        assert written.warnings, "a salvaged marker says what was missing"
        salvaged += 1
    assert salvaged >= 4 and failed >= 1


def test_a_failed_write_keeps_the_files_there(tmp_path):
    marker = lm.read(EXAMPLES[0])
    with pytest.raises(lm.OutputFailedError) as caught:
        marker.write(tmp_path / "missing")
    assert str(tmp_path / "missing") in str(caught.value)
    assert caught.value.source == str(tmp_path / "missing")

    # csvimprt.txt cannot be replaced (a folder of that name holds a file):
    # the earlier posimport.txt stays as it was, and no temporary file is left.
    folder = tmp_path / "out"
    (folder / "csvimprt.txt").mkdir(parents=True)
    (folder / "csvimprt.txt" / "keep").write_bytes(b"")
    (folder / "posimport.txt").write_bytes(b"earlier")
    with pytest.raises(lm.OutputFailedError):
        marker.write(folder)
    assert (folder / "posimport.txt").read_bytes() == b"earlier"
    assert sorted(p.name for p in folder.iterdir()) == ["csvimprt.txt", "posimport.txt"]
    with pytest.raises(lm.OutputFailedError):
        lm.convert(EXAMPLES[0], folder)
    assert (folder / "posimport.txt").read_bytes() == b"earlier"

    # Once it can, a write replaces both files whole.
    (folder / "csvimprt.txt" / "keep").unlink()
    (folder / "csvimprt.txt").rmdir()
    marker.write(folder)
    assert {n: (folder / n).read_bytes() for n in ("csvimprt.txt", "posimport.txt")} == marker.files()


def test_threads_convert_at_once_as_one_does(importable, tmp_path):
    # Every marker converted by four threads at once, twice over, into
    # folders of their own, and read in two code pages at once: the bytes are
    # those of one conversion at a time.
    expected = {}
    for i, marker_path in enumerate(importable):
        folder = tmp_path / "serial" / str(i)
        folder.mkdir(parents=True)
        lm.convert(marker_path, folder)
        expected[i] = {n: (folder / n).read_bytes() for n in ("csvimprt.txt", "posimport.txt")}
    jobs = [(i, round_) for round_ in range(2) for i in range(len(importable))]
    failures = []
    lock = threading.Lock()

    def work(worker):
        for i, round_ in jobs[worker::4]:
            try:
                folder = tmp_path / ("thread-%d" % round_) / str(i)
                folder.mkdir(parents=True)
                lm.convert(importable[i], folder)
                got = {n: (folder / n).read_bytes() for n in ("csvimprt.txt", "posimport.txt")}
                other = lm.read(importable[i], code_page=1251).files()
                if got != expected[i] or other["posimport.txt"].count(b"\r\n") != \
                        expected[i]["posimport.txt"].count(b"\r\n"):
                    raise AssertionError("%s differs" % importable[i].name)
            except BaseException as error:  # noqa: B902 - reported below
                with lock:
                    failures.append(error)

    threads = [threading.Thread(target=work, args=(w,)) for w in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures, failures
