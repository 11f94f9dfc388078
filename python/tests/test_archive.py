"""convert_archive against lumerca-import -o OUT --report on a tree of 200
files (markers, damaged and hostile files, text, name clashes, links, a name
that is not UTF-8): the same output tree, byte for byte, and the same report,
on the workers of a local Dask cluster and on local threads."""

import csv
import os
import shutil

import pytest

import lumerca_marker as lm
from conftest import EXAMPLES, program, run

TREE_FILES = 200


@pytest.fixture(scope="session")
def archive(tmp_path_factory, hostile_dir, fixtures_dir):
    """A tree of TREE_FILES files to convert (links counted as the files
    they lead to when they are followed)."""
    root = tmp_path_factory.mktemp("archive") / "tree"
    bench = program("LUMERCA_BENCH")
    generated = root / "generated"
    generated.mkdir(parents=True)
    for seed in range(1, 13):
        result = run([bench, "--generate", str(generated / ("g%02d.mrk" % seed)), "--seed", str(seed),
                      "--pieces", str(10 * seed), "--cuts", str(2 * seed)])
        assert result.returncode == 0, result.stderr
    shutil.copytree(hostile_dir, root / "hostile")
    shutil.copytree(fixtures_dir, root / "fixtures")
    (root / "examples").mkdir()
    for example in EXAMPLES:
        shutil.copy(example, root / "examples")

    # Folder names that clash: a.mrk and a.txt, a file named as an output
    # file, a file x.mrk beside a folder x/, a name without a stem.
    clash = root / "clash"
    (clash / "x").mkdir(parents=True)
    marker = generated / "g01.mrk"
    for name in ("a.mrk", "csvimprt.txt.mrk", "x.mrk", ".mrk", "x/x.mrk"):
        shutil.copy(marker, clash / name)
    (clash / "a.txt").write_text("Pieces for Monday\n")
    # Folders where every file fails, one below the other: none is left.
    (clash / "bad" / "deeper").mkdir(parents=True)
    (clash / "bad" / "deeper" / "notes.txt").write_text("Pieces for Tuesday\n")
    (clash / "empty.mrk").write_bytes(b"")
    (clash / "nothing-here").mkdir()
    # A name that is not UTF-8, and links: one inside the tree (followed), one
    # out of it and one that leads nowhere (passed over, with a note).
    os.link(marker, os.path.join(os.fsencode(clash), b"caf\xe9.mrk"))
    links = root / "links"
    links.mkdir()
    (links / "inside.mrk").symlink_to("../generated/g02.mrk")
    (links / "outside.mrk").symlink_to(EXAMPLES[0])
    (links / "nowhere.mrk").symlink_to("../missing.mrk")

    # Copies of markers and of damaged files, nested, up to the count.
    sources = sorted(generated.glob("*.mrk")) + sorted((root / "hostile").iterdir())
    count = sum(len(files) for _, _, files in os.walk(root)) - 2  # the two links not followed
    for i in range(TREE_FILES - count):
        target = root / "copies" / ("d%d" % (i % 7)) / ("e%d" % (i % 3))
        target.mkdir(parents=True, exist_ok=True)
        shutil.copy(sources[i % len(sources)], target / ("c%03d%s" % (i, sources[i % len(sources)].suffix)))
    return root


@pytest.fixture(scope="session")
def tool_run(tmp_path_factory):
    """Runs lumerca-import -o OUT --report on inputs: (the report's rows, the
    exit status)."""
    path = program("LUMERCA_IMPORT")

    def convert(inputs, out, *options):
        report = tmp_path_factory.mktemp("report") / "report.csv"
        result = run([path, "-q", "-j", "2", "-o", str(out), "--report", str(report), *options,
                      *[str(i) for i in inputs]])
        assert result.returncode in (0, 1, 3), result.stderr
        with open(report, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        assert rows[0] == list(lm.REPORT_COLUMNS)
        return rows[1:], result.returncode

    return convert


def tree(root):
    """Every file below root with its bytes, and every folder."""
    found = {}
    for folder, folders, files in os.walk(os.fsencode(root)):
        relative = os.path.relpath(folder, os.fsencode(root))
        found[relative + b"/"] = None
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                found[os.path.join(relative, name)] = f.read()
    return found


def rows_of(frame):
    """The frame's rows as the report's texts, milliseconds left out."""
    import pandas as pd

    return [["" if pd.isna(value) else str(value) for value in row[:-1]]
            for row in frame.itertuples(index=False)]


def check_frame(frame, expected_rows):
    assert list(frame.columns) == list(lm.REPORT_COLUMNS)
    assert [str(t) for t in frame.dtypes] == ["object", "object", "object", "Int64", "Int64", "Int64",
                                              "int64", "object", "float64"]
    assert (frame["milliseconds"] >= 0).all()
    assert rows_of(frame) == [row[:-1] for row in expected_rows]


def test_on_a_local_cluster_as_the_tool(archive, tool_run, tmp_path, monkeypatch):
    distributed = pytest.importorskip("distributed", reason="Debian's python3-distributed is missing")
    import dask

    # Everything that the cluster writes stays below the test's folder.
    scratch = tmp_path / "dask"
    monkeypatch.setenv("DASK_TEMPORARY_DIRECTORY", str(scratch))
    expected, status = tool_run([archive], tmp_path / "tool")
    assert status == 1 and len(expected) == TREE_FILES
    with dask.config.set({"temporary-directory": str(scratch)}), \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                     dashboard_address=None, local_directory=str(scratch)) as cluster, \
            distributed.Client(cluster) as client:
        frame = lm.convert_archive([archive], tmp_path / "cluster", client=client)
        assert len(client.nthreads()) == 2

    check_frame(frame, expected)
    statuses = set(frame["status"])
    assert {"imported", "cannot open", "damaged", "no pieces", "corrupt index"} <= statuses
    assert frame["path"].str.endswith("/clash/caf\\xe9.mrk").sum() == 1
    assert any("link not followed" in note for note in frame.attrs["notes"])
    assert tree(tmp_path / "cluster") == tree(tmp_path / "tool")


@pytest.mark.parametrize("jobs, salvage", [(1, False), (2, True)])
def test_on_threads_as_the_tool(archive, tool_run, tmp_path, jobs, salvage):
    # Files given one by one beside a folder, into an output folder that is
    # missing with its parent.
    inputs = [archive / "generated" / "g03.mrk", archive / "clash", archive / "hostile",
              archive / "generated" / "g03.mrk"]
    options = ["--salvage"] if salvage else []
    expected, _ = tool_run(inputs, tmp_path / "tool" / "out", *options)
    frame = lm.convert_archive(inputs, tmp_path / "threads" / "out", jobs=jobs, salvage=salvage)
    check_frame(frame, expected)
    assert tree(tmp_path / "threads") == tree(tmp_path / "tool")


def test_nothing_imported_leaves_no_output_folder(fixtures_dir, tool_run, tmp_path):
    expected, status = tool_run([fixtures_dir / "plain.txt"], tmp_path / "tool" / "out")
    frame = lm.convert_archive(fixtures_dir / "plain.txt", tmp_path / "threads" / "out")
    check_frame(frame, expected)
    assert status == 1 and frame["status"].tolist() == ["cannot open"]
    assert not (tmp_path / "threads").exists() and not (tmp_path / "tool").exists()
    (tmp_path / "file").write_text("")
    with pytest.raises(lm.OutputFailedError):
        lm.convert_archive(fixtures_dir / "plain.txt", tmp_path / "file" / "out")


def test_pairs_into_fresh_folders_wait_for_one_flush(archive, tmp_path):
    # The run's rule, seen through the binding: pairs into folders that held
    # none are recorded for one flush; into folders holding a pair, each is
    # flushed at once and nothing is recorded.
    from lumerca_marker import _core

    out = os.fsencode(tmp_path / "out")
    assert _core.make_archive_folder(out)[0]
    entries = _core.list_archive([os.fsencode(archive)], out, b"")[0]
    for round_number in (1, 2):
        deferred = _core.DeferredFlush()
        rows = _core.convert_archive_entries(entries, b"", 1252, False, deferred)
        imported = sum(status == "imported" for _, status, _, _ in rows)
        assert imported > 50
        assert deferred.pending() == (imported if round_number == 1 else 0)
        assert deferred.flush() == (True, "")
        assert deferred.pending() == 0
