"""The marker as Python objects and pandas frames: one row per size, piece
and cut line, typed columns, and the values that the two files write."""

import math
import os
import pydoc
import re
import subprocess

import numpy
import pandas
import pytest

import lumerca_marker as lm
from conftest import SOURCE_DIR, number, position_lines

SIZE_TYPES = {"index": "int64", "model_name": "object", "model": "category", "pieces": "Int64",
              "Raw1": "object", "SizeNumber": "uint8", "Raw3": "object", "NameLength": "int16",
              "Raw5": "int16", "Name": "object"}
PIECE_TYPES = {"index": "int64", "half": "bool", "written": "bool", "size_index": "Int16",
               "class_index": "Int16", "size_number": "UInt8", "class_name": "object",
               "written_name": "object", "centre_x": "float64", "centre_y": "float64",
               "extent_x": "float64", "extent_y": "float64", "cuts_element": "int32",
               "cut_lines": "int64", "Raw1": "object", "Attr2": "uint8", "Raw3": "object",
               "Attr4": "float32", "Attr5": "uint8", "Raw6": "object", "PlaceX": "float32",
               "PlaceY": "float32", "Raw9": "object", "MaxY": "float32", "MinY": "float32",
               "MaxX": "float32", "MinX": "float32", "CroixIndex": "int16", "Raw15": "object"}
CUT_TYPES = {"piece": "int64", "line": "int64", "a1": "float32", "b1": "float32", "a2": "float32",
             "b2": "float32", "side": "int8", "A1": "float32", "B1": "float32", "A2": "float32",
             "B2": "float32", "Raw5": "uint16", "OffsetCode": "uint16", "Kind": "uint16",
             "Offset": "float64"}


def same(value, text):
    """Whether a number prints as the file's six decimals."""
    expected = number(text)
    if math.isnan(expected) or math.isinf(expected):
        return expected == value or (math.isnan(expected) and math.isnan(value))
    return abs(value - expected) <= 5.1e-7 + 1e-12 * abs(expected)


def test_frames_hold_what_the_files_write(importable):
    for marker_path in importable:
        marker = lm.read(marker_path)
        frames = marker.to_pandas()
        files = marker.files()
        sizes, pieces, cuts = frames

        assert dict(sizes.dtypes.astype(str)) == SIZE_TYPES
        assert dict(pieces.dtypes.astype(str)) == PIECE_TYPES
        assert dict(cuts.dtypes.astype(str)) == CUT_TYPES
        assert list(pieces["index"]) == list(range(marker.piece_count))
        assert len(cuts) == pieces["cut_lines"].sum()
        assert (cuts.groupby("piece").size() == pieces.set_index("index")["cut_lines"]
                .loc[lambda s: s > 0]).all()

        # The position file: one line per written piece, by size and then by
        # piece, each followed by its cut lines.
        lines = position_lines(files["posimport.txt"])
        written = pieces[pieces["written"]].sort_values(["size_index", "index"], kind="stable")
        assert len(lines) == len(written), marker_path.name
        assert not (pieces["written"] & pieces["half"]).any()
        cut_rows = cuts.set_index(["piece", "line"])
        for (fields, cut_fields), (_, piece) in zip(lines, written.iterrows()):
            name = fields[0].decode("cp1252", errors="replace")
            assert name == piece["written_name"].encode("cp1252", errors="replace") \
                .decode("cp1252", errors="replace")
            assert int(fields[1]) == piece["size_number"]
            assert int(fields[2]) == piece["Attr5"] and int(fields[3]) == piece["Attr2"]
            for text, value in zip(fields[4:9], (piece["Attr4"], piece["centre_x"], piece["centre_y"],
                                                 piece["extent_x"], piece["extent_y"])):
                assert same(float(value), text.decode()), (marker_path.name, piece["index"])
            assert int(fields[9]) == piece["cut_lines"]
            for j, cut in enumerate(cut_fields):
                row = cut_rows.loc[(piece["index"], j)]
                for text, column in zip(cut[:4], ("a1", "b1", "a2", "b2")):
                    assert same(float(row[column]), text.decode()), (marker_path.name, piece["index"], j)
                assert int(cut[4]) == row["side"] == row["Kind"] % 2

        # The model-and-order file: a model for each size that starts one,
        # and in the order each size that has pieces, by its number.
        csv = files["csvimprt.txt"].decode("cp1252", errors="replace")
        models, order = csv.split("=:order\r\n")
        listed = sizes[sizes["model"] == "new"]
        assert re.findall(r"^m:(.*)\r$", models, flags=re.M) == \
            [n.encode("cp1252", errors="replace").decode("cp1252", errors="replace")
             for n in listed["model_name"]]
        assert [int(n) for n in re.findall(r"^s:(.*)\r$", order, flags=re.M)] == \
            list(sizes.loc[sizes["model"] != "empty", "SizeNumber"])
        assert sizes["pieces"].sum() == len(written)
        assert (sizes["pieces"][sizes["model"] == "empty"] == 0).all()


def test_objects_agree_with_the_frames(importable):
    for marker_path in importable:
        marker = lm.read(marker_path)
        sizes, pieces, cuts = marker.to_pandas()
        assert [s.number for s in marker.sizes] == list(sizes["SizeNumber"])
        assert [s.model for s in marker.sizes] == list(sizes["model"])
        classes = marker.classes
        for piece, (_, row) in zip(marker.pieces, pieces.iterrows()):
            assert piece.index == row["index"] and piece.written == row["written"]
            assert piece.centre == (row["centre_x"], row["centre_y"])
            assert piece.extent == (row["extent_x"], row["extent_y"])
            assert piece.place == (row["PlaceX"], row["PlaceY"])
            assert piece.attributes == (row["Attr2"], row["Attr4"], row["Attr5"])
            assert piece.record["CroixIndex"] == row["CroixIndex"]
            if piece.class_index is not None:
                assert piece.written_name == classes[piece.class_index].written_name
                assert piece.class_name == classes[piece.class_index].name
            assert piece.size_number == (None if pandas.isna(row["size_number"])
                                         else row["size_number"])
            rows = cuts[cuts["piece"] == piece.index]
            assert [(c.a1, c.b1, c.a2, c.b2, c.side) for c in piece.cut_lines] == \
                list(zip(rows["a1"], rows["b1"], rows["a2"], rows["b2"], rows["side"]))
        assert marker.width_inches == marker.width_mm / 10 / 2.54
        assert marker.scale_x_percent == (1 / marker.scale_x - 1) * 100 or marker.scale_x == 0
        assert marker.stored_name == marker.header["Name"]


def test_references_that_name_no_record(fixtures_dir):
    # corrupt.mrk: a piece whose CROIXES index names no record. Its size and
    # class are <NA>, not 0, and no size has a model.
    marker = lm.read(fixtures_dir / "corrupt.mrk")
    assert not marker.ok
    sizes, pieces, _ = marker.to_pandas()
    missing = pieces[pieces["size_index"].isna()]
    assert len(missing) >= 1
    assert missing["class_index"].isna().all() and missing["size_number"].isna().all()
    assert missing["class_name"].isna().all() and not missing["written"].any()
    assert sizes["model"].isna().all() and sizes["pieces"].isna().all()
    broken = [p for p in marker.pieces if p.size_index is None]
    assert [p.index for p in broken] == list(missing["index"])
    assert all(s.model is None and s.pieces is None for s in marker.sizes)


def test_names_and_texts_in_the_code_page(fixtures_dir):
    # multi.mrk has class names with bytes above 0x7F: decoded in the code
    # page asked for, and normalised in it.
    for code_page in (1251, 1252):
        marker = lm.read(fixtures_dir / "multi.mrk", code_page=code_page)
        for c in marker.classes:
            raw = c.name.encode("cp%d" % code_page)
            assert raw.decode("cp%d" % code_page) == c.name
        high = [c for c in marker.classes if any(ord(ch) > 127 for ch in c.name)]
        assert high, "multi.mrk holds a name beyond ASCII"
    names_1251 = [c.name for c in lm.read(fixtures_dir / "multi.mrk", code_page=1251).classes]
    names_1252 = [c.name for c in lm.read(fixtures_dir / "multi.mrk", code_page=1252).classes]
    assert names_1251 != names_1252


def test_a_million_cut_lines(generated_dir, tmp_path):
    # 64 cut streams of 16,384 splits: the frame holds every one, in order,
    # with no Python object per line.
    bench = os.environ.get("LUMERCA_BENCH") or pytest.skip("LUMERCA_BENCH is not set")
    big = tmp_path / "million.mrk"
    result = subprocess.run([bench, "--generate", str(big), "--pieces", "64", "--cuts", "64",
                             "--splits", "16384"], capture_output=True)
    assert result.returncode == 0, result.stderr
    marker = lm.read(big)
    _, pieces, cuts = marker.to_pandas()
    assert len(cuts) == pieces["cut_lines"].sum() == 64 * 16384
    assert (numpy.diff(cuts["piece"].to_numpy()) >= 0).all()
    first = cuts.groupby("piece")["line"].agg(["min", "max", "size"])
    assert (first["min"] == 0).all() and (first["max"] == first["size"] - 1).all()
    assert marker.files()["posimport.txt"].count(b"\r\n") == pieces["written"].sum() + \
        pieces.loc[pieces["written"], "cut_lines"].sum()


def test_repr_and_help():
    marker = lm.read(SOURCE_DIR / "examples" / "blouse.mrk")
    text = repr(marker)
    assert marker.name in text and "6 pieces" in text and "4 sizes" in text
    assert re.match(r"Piece\(index=0, class_name='FRONT', size_number=38", repr(marker.pieces[0]))
    assert "cut line" in repr(marker.pieces[0])
    assert repr(marker.sizes[0]).startswith("Size(index=0, number=38")
    helped = pydoc.render_doc(lm.read, renderer=pydoc.plaintext)
    assert "Reads a marker file into a Marker" in helped and "salvage=True" in helped
    assert "DamagedError" in pydoc.render_doc(lm.convert, renderer=pydoc.plaintext)
    version = (SOURCE_DIR / "include" / "lumerca" / "version.h").read_text()
    parts = [re.search(r"#define LUMERCA_MARKER_VERSION_%s (\d+)" % p, version).group(1)
             for p in ("MAJOR", "MINOR", "PATCH")]
    assert lm.__version__ == ".".join(parts)
