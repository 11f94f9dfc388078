"""A marker read from a path, from bytes or another buffer, or from a file
object is the same marker."""

import array
import io
import pathlib

import pandas
import pytest

import lumerca_marker as lm
from conftest import EXAMPLES


class Summary:
    """Everything a marker shows, to compare two reads."""

    def __init__(self, marker):
        self.values = (marker.name, marker.header, marker.code_page, marker.width_inches,
                       marker.scale_x_percent, marker.scale_y_percent, marker.sizes,
                       marker.classes, marker.pieces, marker.warnings, marker.files())
        self.frames = marker.to_pandas()

    def __eq__(self, other):
        for mine, theirs in zip(self.frames, other.frames):
            pandas.testing.assert_frame_equal(mine, theirs)
        return self.values == other.values


def summary(marker):
    return Summary(marker)


def test_every_kind_of_source_gives_the_same_marker(importable, tmp_path):
    for marker_path in importable:
        data = marker_path.read_bytes()
        expected = summary(lm.read(marker_path))
        padded = b"\0" * 7 + data
        stream = io.BytesIO(padded)
        stream.seek(7)  # a file object is read from where it stands
        with open(marker_path, "rb") as binary, open(marker_path, "rb", buffering=0) as raw:
            sources = {
                "str": str(marker_path),
                "Path": pathlib.Path(marker_path),
                "bytes": data,
                "bytearray": bytearray(data),
                "memoryview": memoryview(padded)[7:],
                "array": array.array("B", data),
                "file": binary,
                "raw file": raw,
                "BytesIO": stream,
            }
            for kind, source in sources.items():
                assert summary(lm.read(source)) == expected, "%s: %s" % (marker_path.name, kind)


def test_sources_that_are_not_markers(tmp_path):
    with pytest.raises(TypeError, match="binary mode"):
        with open(EXAMPLES[0], "r", encoding="latin-1") as text:
            lm.read(text)
    with pytest.raises(TypeError, match="path, bytes"):
        lm.read(12)
    with pytest.raises(lm.CannotOpenError) as caught:
        lm.read(tmp_path / "absent.mrk")
    assert caught.value.source == str(tmp_path / "absent.mrk")
    with pytest.raises(lm.CannotOpenError) as caught:
        lm.read(tmp_path)
    with pytest.raises(lm.CannotOpenError) as caught:
        lm.read(b"")
    assert caught.value.source is None and "empty" in caught.value.reason
    with pytest.raises(lm.CannotOpenError, match="PDF"):
        lm.read(io.BytesIO(b"%PDF-1.4\n" + b"x" * 600))


def test_code_pages(tmp_path):
    for code_page in (0, 1, 1259, 65001, -1, 2 ** 40):
        with pytest.raises(ValueError, match="code page"):
            lm.read(EXAMPLES[0], code_page=code_page)
        with pytest.raises(ValueError, match="code page"):
            lm.convert(EXAMPLES[0], tmp_path, code_page=code_page)
    with pytest.raises(TypeError):
        lm.read(EXAMPLES[0], code_page="1252")
    for code_page in (874, 932, 936, 949, 950, *range(1250, 1259)):
        assert lm.read(EXAMPLES[0], code_page=code_page).code_page == code_page
    # A name that the code page cannot hold.
    with pytest.raises(UnicodeEncodeError):
        lm.read(EXAMPLES[0]).files(name="上着")


def test_is_compound_file(fixtures_dir, tmp_path):
    data = EXAMPLES[0].read_bytes()
    assert lm.is_compound_file(EXAMPLES[0]) and lm.is_compound_file(str(EXAMPLES[0]))
    assert lm.is_compound_file(data) and lm.is_compound_file(memoryview(data))
    stream = io.BytesIO(data)
    stream.seek(0)
    assert lm.is_compound_file(stream) and stream.tell() == 0
    assert lm.read(stream).name  # the position was kept for the read
    assert not lm.is_compound_file(fixtures_dir / "plain.txt")
    assert not lm.is_compound_file(b"\xd0\xcf\x11\xe0")
    assert not lm.is_compound_file(tmp_path / "absent.mrk")
    # Any compound document is one, a marker or not.
    assert all(lm.is_compound_file(p) for p in fixtures_dir.glob("writer-*.cfb"))
