"""Reading, converting and writing one marker."""

from __future__ import annotations

import io
import os
from dataclasses import dataclass, field
from typing import (TYPE_CHECKING, Any, BinaryIO, Dict, List, NamedTuple, Optional, Tuple, Union)

from . import _core
from .errors import Diagnostic, raise_for

if TYPE_CHECKING:  # pandas is imported by to_pandas() only
    import pandas

__all__ = [
    "Marker", "Size", "MarkerClass", "Piece", "CutLine", "Written", "Frames",
    "read", "convert", "is_compound_file",
]

PathLike = Union[str, "os.PathLike[str]", "os.PathLike[bytes]", bytes]
Source = Union[PathLike, bytes, bytearray, memoryview, BinaryIO, Any]

# The first bytes of every compound document.
COMPOUND_SIGNATURE = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"


@dataclass(frozen=True)
class CutLine:
    """A cut line as the position file writes it, relative to the piece's
    placement: from (a1, b1) to (a2, b2), moved by its offset at right angles
    to itself for a kind other than 0 and 1; side 0 is the right of the
    direction from the first point to the second, 1 the left."""

    a1: float
    b1: float
    a2: float
    b2: float
    side: int


@dataclass(frozen=True)
class Size:
    """A size: its index in the SIZES table, its number (the position file's
    second column), its stored name and, when the marker's cross-references
    hold, its model as the model-and-order file lists it: the model's name,
    "new", "same" (the previous size's class names) or "empty", and the
    number of its pieces that the files list (half pieces left out)."""

    index: int
    number: int
    name: str
    model_name: Optional[str]
    model: Optional[str]
    pieces: Optional[int]


@dataclass(frozen=True)
class MarkerClass:
    """A class (a kind of piece): its index, its stored name, the name as the
    files write it (normalised) and its text."""

    index: int
    name: str
    written_name: str
    text: str


@dataclass(frozen=True)
class Piece:
    """A placed piece.

    half: a HALFS record names it (no file lists it); written: the position
    file has a line for it. size_index and class_index come from its CROIXES
    record, size_number and class_name from the size and class they name
    (None where a reference names no record). centre and extent are as the
    position file writes them, place as stored; attributes are the stored
    Attr2, Attr4 and Attr5; cut_lines as the position file writes them;
    record: every field of its PIECES record by its stored name.
    """

    index: int
    class_name: Optional[str]
    written_name: str
    size_index: Optional[int]
    class_index: Optional[int]
    size_number: Optional[int]
    half: bool
    written: bool
    attributes: Tuple[int, float, int]
    place: Tuple[float, float]
    centre: Tuple[float, float]
    extent: Tuple[float, float]
    cut_lines: Tuple[CutLine, ...] = field(repr=False)
    record: Dict[str, Any] = field(repr=False, compare=False)

    def __repr__(self) -> str:
        return ("Piece(index=%d, class_name=%r, size_number=%r, half=%r, written=%r, "
                "centre=(%g, %g), extent=(%g, %g), %d cut lines)"
                % (self.index, self.class_name, self.size_number, self.half, self.written,
                   self.centre[0], self.centre[1], self.extent[0], self.extent[1],
                   len(self.cut_lines)))


class Written(NamedTuple):
    """What a write or a conversion wrote: the normalised marker name (the
    files' "o:") and what the files hold."""

    name: str
    sizes: int
    pieces: int
    cut_lines: int
    warnings: List[Diagnostic]


class Frames(NamedTuple):
    """A marker's tables as pandas frames (see Marker.to_pandas)."""

    sizes: "pandas.DataFrame"
    pieces: "pandas.DataFrame"
    cut_lines: "pandas.DataFrame"


def _diagnostics(items: List[Tuple[str, str, str, str]]) -> List[Diagnostic]:
    return [Diagnostic(*item) for item in items] if items else []


def _encode_name(name: Union[str, bytes, None], code_page: int) -> bytes:
    """A name to give the marker, as bytes in its code page."""
    if name is None:
        return b""
    if isinstance(name, bytes):
        return name
    if not isinstance(name, str):
        raise TypeError("name must be str or bytes, not %s" % type(name).__name__)
    try:
        return name.encode("cp%d" % code_page)
    except LookupError:
        raise ValueError("Python has no codec for code page %d: give the name as bytes"
                         % code_page) from None


def _check_code_page(code_page: int) -> None:
    if type(code_page) is int and 0 < code_page < 2 ** 32 and _core.is_supported_code_page(code_page):
        return
    if not isinstance(code_page, int) or isinstance(code_page, bool):
        raise TypeError("code_page must be an int, not %s" % type(code_page).__name__)
    if not 0 < code_page < 2 ** 32 or not _core.is_supported_code_page(code_page):
        raise ValueError("code page %d is not supported" % code_page)


class Marker:
    """A marker as read from a marker file (see read()), and what its two
    files derive from it. Immutable; it may be used from several threads.

    A marker that holds no piece, or whose cross-references are out of
    range, is still read whole: ok is False, problem says why, and write()
    and files() raise NoPiecesError or CorruptIndexError.
    """

    def __init__(self, core: "_core.Marker", *, status: str = "imported", reason: str = "",
                 warnings: Optional[List[Diagnostic]] = None, source: Optional[str] = None) -> None:
        self._core = core
        self._status = status
        self._reason = reason
        self._warnings = warnings if warnings is not None else []
        self._source = source
        self._cache: Dict[str, Any] = {}

    # ------------------------------------------------------------ the header

    @property
    def name(self) -> str:
        """The marker's name as the files write it ("o:"): the stored name,
        normalised."""
        return self._core.name

    @property
    def stored_name(self) -> str:
        """The name as the MARKER header stores it."""
        return self.header["Name"]

    @property
    def code_page(self) -> int:
        """The ANSI code page of the marker's texts."""
        return self._core.code_page

    @property
    def header(self) -> Dict[str, Any]:
        """Every field of the MARKER header by its stored name (Width,
        ScaleX, ScaleY, Name, the Raw fields as bytes, ...)."""
        if "header" not in self._cache:
            self._cache["header"] = self._core.header()
        return dict(self._cache["header"])

    @property
    def width_mm(self) -> float:
        """The width in millimetres, as stored."""
        return self.header["Width"]

    @property
    def width_inches(self) -> float:
        """The width in inches ("w:")."""
        return self._core.width_inches

    @property
    def scale_x(self) -> float:
        """The stored scale factor across."""
        return self.header["ScaleX"]

    @property
    def scale_y(self) -> float:
        """The stored scale factor along."""
        return self.header["ScaleY"]

    @property
    def scale_x_percent(self) -> float:
        """(1 / scale_x - 1) * 100 ("xs:"; infinite for a factor of 0)."""
        return self._core.scale_x_percent

    @property
    def scale_y_percent(self) -> float:
        """(1 / scale_y - 1) * 100 ("ys:")."""
        return self._core.scale_y_percent

    # ------------------------------------------------------------ what the read said

    @property
    def ok(self) -> bool:
        """Whether the marker can be written."""
        return self._status == "imported"

    @property
    def problem(self) -> Optional[str]:
        """Why the marker cannot be written (None when it can)."""
        return None if self.ok else "%s (%s)" % (self._status, self._reason)

    @property
    def warnings(self) -> List[Diagnostic]:
        """What the read met that a user may want to know about."""
        return list(self._warnings)

    # ------------------------------------------------------------ the tables

    def _columns(self, table: str) -> Dict[str, Any]:
        if table not in self._cache:
            if table in ("pieces", "cut_lines"):
                self._cache["pieces"], self._cache["cut_lines"] = self._core.pieces()
            else:
                self._cache[table] = getattr(self._core, table)()
        return self._cache[table]

    @property
    def sizes(self) -> List[Size]:
        """The sizes, in the order of the SIZES table."""
        c = self._columns("sizes")
        values, mask = c["pieces"]
        return [Size(int(i), int(n), name, model_name, model, None if m else int(p))
                for i, n, name, model_name, model, p, m in zip(
                    c["index"], c["SizeNumber"], c["Name"], c["model_name"], c["model"],
                    values, mask)]

    @property
    def classes(self) -> List[MarkerClass]:
        """The classes, in the order of the CLASSES table."""
        c = self._columns("classes")
        return [MarkerClass(int(i), name, written, text)
                for i, name, written, text in zip(c["index"], c["Name"], c["written_name"], c["Text"])]

    @property
    def pieces(self) -> List[Piece]:
        """The placed pieces, in the order of the PIECES table, half pieces
        included (see Piece.half and Piece.written)."""
        if "piece_objects" not in self._cache:
            self._cache["piece_objects"] = self._make_pieces()
        return list(self._cache["piece_objects"])

    def _make_pieces(self) -> List[Piece]:
        p = self._columns("pieces")
        c = self._columns("cut_lines")
        fields = [name for name in p if name[:1].isupper()]
        lines = list(zip(*(c[k].tolist() for k in ("a1", "b1", "a2", "b2", "side"))))
        records = [dict(zip(fields, values)) for values in zip(*(
            p[name].tolist() if hasattr(p[name], "tolist") else p[name] for name in fields))]

        def optional(column: str) -> List[Optional[int]]:
            values, mask = p[column]
            return [None if m else v for v, m in zip(values.tolist(), mask.tolist())]

        size_index, class_index, size_number = (optional(k) for k in
                                                ("size_index", "class_index", "size_number"))
        pieces = []
        start = 0
        for i, count in enumerate(p["cut_lines"].tolist()):
            r = records[i]
            pieces.append(Piece(
                index=int(p["index"][i]),
                class_name=p["class_name"][i],
                written_name=p["written_name"][i],
                size_index=size_index[i],
                class_index=class_index[i],
                size_number=size_number[i],
                half=bool(p["half"][i]),
                written=bool(p["written"][i]),
                attributes=(r["Attr2"], r["Attr4"], r["Attr5"]),
                place=(r["PlaceX"], r["PlaceY"]),
                centre=(float(p["centre_x"][i]), float(p["centre_y"][i])),
                extent=(float(p["extent_x"][i]), float(p["extent_y"][i])),
                cut_lines=tuple(CutLine(*line) for line in lines[start:start + count]),
                record=r,
            ))
            start += count
        return pieces

    @property
    def piece_count(self) -> int:
        """The number of pieces (half pieces included)."""
        return self._core.piece_count

    def to_pandas(self) -> Frames:
        """The sizes, the pieces and the cut lines as pandas frames, one row
        each, with typed columns.

        Columns in lower case are what the files derive (a size's model, a
        piece's centre and extent, a cut line as written); columns in their
        stored spelling are the fields of the stored records (SizeNumber,
        Attr4, PlaceX, CroixIndex, Kind, OffsetCode, ...: numbers in their
        stored types, Raw fields as bytes, texts as str). A reference that
        names no record is <NA> in a nullable integer column.

        sizes: index, model_name, model (categorical: new, same, empty),
        pieces, then the SIZES fields. pieces: index, half, written,
        size_index, class_index, size_number, class_name, written_name,
        centre_x, centre_y, extent_x, extent_y, cuts_element, cut_lines (their
        number), then the PIECES fields. cut_lines: piece, line (its position
        among the piece's), a1, b1, a2, b2, side as the position file writes
        them, then the stored cut line (A1, B1, A2, B2, Raw5, OffsetCode, Kind)
        and its decoded Offset.
        """
        import pandas as pd

        def frame(columns: Dict[str, Any]) -> "pd.DataFrame":
            data = {}
            for name, values in columns.items():
                if isinstance(values, tuple):  # (values, mask): a nullable integer column
                    data[name] = pd.arrays.IntegerArray(*values)
                else:
                    data[name] = values
            return pd.DataFrame(data)

        sizes = frame(self._columns("sizes"))
        sizes["model"] = pd.Categorical(sizes["model"], categories=["new", "same", "empty"])
        return Frames(sizes, frame(self._columns("pieces")), frame(self._columns("cut_lines")))

    # ------------------------------------------------------------ writing

    def _check(self) -> None:
        if not self.ok:
            raise_for(self._status, self._reason, source=self._source, diagnostics=self._warnings)

    def write(self, folder: PathLike, *, name: Union[str, bytes, None] = None) -> Written:
        """Writes csvimprt.txt and posimport.txt into folder (which must
        exist). They are written under temporary names and renamed into place
        only when both are complete: on any error the files that were there
        stay as they were. name replaces the stored name (a str is encoded
        in the marker's code page; at most 255 bytes are used).

        Raises NoPiecesError, CorruptIndexError (a marker that read with
        that problem), OutputFailedError, MemoryError.
        """
        self._check()
        folder_bytes = os.fsencode(folder)
        status, reason, written_name, counts = self._core.write(
            folder_bytes, _encode_name(name, self.code_page))
        raise_for(status, reason, source=os.fsdecode(folder_bytes), diagnostics=self._warnings)
        return Written(written_name, counts["sizes"], counts["pieces"], counts["cut_lines"],
                       self.warnings)

    def files(self, name: Union[str, bytes, None] = None) -> Dict[str, bytes]:
        """The two files' bytes, {"csvimprt.txt": ..., "posimport.txt": ...},
        as write() would write them. Raises as write() does."""
        self._check()
        status, reason, _, _, csvimprt, posimport = self._core.files(
            _encode_name(name, self.code_page))
        raise_for(status, reason, source=self._source, diagnostics=self._warnings)
        return {"csvimprt.txt": csvimprt, "posimport.txt": posimport}

    # ------------------------------------------------------------ display

    def __repr__(self) -> str:
        text = "<Marker %r: width %.2f mm (%.4f in), %d sizes, %d pieces" % (
            self.name, self.width_mm, self.width_inches, len(self._columns("sizes")["index"]),
            self.piece_count)
        if not self.ok:
            text += ", " + self._status
        if self._warnings:
            text += ", %d warnings" % len(self._warnings)
        return text + ">"


def _source_of(source: Source) -> Tuple[str, Any, Optional[str]]:
    """("path", fsencoded path, its text) or ("buffer", an object with the
    buffer protocol, None)."""
    if isinstance(source, (str, os.PathLike)):
        path = os.fsencode(source)
        return "path", path, os.fsdecode(path)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return "buffer", source, None
    read_method = getattr(source, "read", None)
    if callable(read_method):
        data = read_method()
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError("the file object must be opened in binary mode (its read() gave %s)"
                            % type(data).__name__)
        name = getattr(source, "name", None)
        return "buffer", data, name if isinstance(name, str) else None
    buffer: Any = source
    try:
        memoryview(buffer)
    except TypeError:
        raise TypeError("source must be a path, bytes (or another buffer) or a binary file "
                        "object, not %s" % type(source).__name__) from None
    return "buffer", source, None


def read(source: Source, *, code_page: int = 1252, salvage: bool = False) -> Marker:
    """Reads a marker file into a Marker.

    source is a path (str or os.PathLike), the file's bytes (bytes,
    bytearray, memoryview or any object with the buffer protocol) or a
    binary file object (read from its position to its end). code_page is the
    ANSI code page of the marker's texts: names are decoded and normalised in
    it. With salvage=True a damaged marker is read from what arrived (missing
    fields read as zero, each table keeps its complete records); its
    warnings say what was missing.

    A marker without pieces, or whose cross-references are out of range, is
    still returned (Marker.ok is False; writing it raises).

    Raises CannotOpenError (missing, unreadable, not a compound document),
    DamagedError (a stream cut short whose missing part the files would use;
    the message says what salvage=True keeps), MemoryError, ValueError (a
    code page that is not supported), TypeError (a source of another kind).
    The GIL is released while the file is read: threads read in parallel.
    """
    _check_code_page(code_page)
    if type(source) is bytes:  # the common case first
        kind, value, name = "buffer", source, None
    else:
        kind, value, name = _source_of(source)
    if kind == "path":
        status, reason, salvage_text, warnings, core = _core.read_path(value, code_page, bool(salvage))
    else:
        status, reason, salvage_text, warnings, core = _core.read_buffer(value, code_page, bool(salvage))
    diagnostics = _diagnostics(warnings)
    if status not in ("imported", "no pieces", "corrupt index"):
        raise_for(status, reason, source=name, diagnostics=diagnostics, salvage=salvage_text,
                  salvage_call="read")
    return Marker(core, status=status, reason=reason, warnings=diagnostics, source=name)


def convert(path: PathLike, folder: PathLike, *, name: Union[str, bytes, None] = None,
            code_page: int = 1252, salvage: bool = False) -> Written:
    """Imports the marker file at path: writes csvimprt.txt and
    posimport.txt into folder (which must exist), as lumerca-import does.
    Both are written under temporary names and renamed into place only when
    both are complete: on any error the files that were there stay as they
    were. name replaces the stored name; code_page and salvage are as for
    read().

    Returns the normalised name, the counts and the warnings. Raises
    CannotOpenError, DamagedError, NoPiecesError, CorruptIndexError,
    OutputFailedError, MemoryError, ValueError. The GIL is released while the
    marker is converted: threads convert in parallel.
    """
    _check_code_page(code_page)
    path_bytes = os.fsencode(path)
    folder_bytes = os.fsencode(folder)
    status, written_name, counts, diagnostics = _core.import_marker(
        path_bytes, folder_bytes, _encode_name(name, code_page), code_page, bool(salvage))
    items = _diagnostics(diagnostics)
    failures = [d for d in items if d.kind == "import failed"]
    warnings = [d for d in items if d.kind != "import failed"]
    if status != "imported":
        failure = failures[0] if failures else Diagnostic("import failed", "",
                                                          _core.status_text(status))
        source = os.fsdecode(folder_bytes if status == "output failed" else path_bytes)
        raise_for(status, failure.message, source=source, diagnostics=warnings,
                  salvage=failure.salvage, salvage_call="convert")
    return Written(written_name, counts["sizes"], counts["pieces"], counts["cut_lines"], warnings)


def is_compound_file(source: Source) -> bool:
    """Whether source (a path, bytes or a binary file object, whose position
    is kept) begins with the signature of a compound document, as every
    marker file does. It says nothing of the rest: read() may still fail."""
    if isinstance(source, (str, os.PathLike)):
        try:
            with open(source, "rb") as f:
                head = f.read(len(COMPOUND_SIGNATURE))
        except OSError:
            return False
    elif isinstance(source, (bytes, bytearray, memoryview)):
        head = bytes(memoryview(source).cast("B")[:len(COMPOUND_SIGNATURE)])
    elif isinstance(source, io.IOBase) or hasattr(source, "read"):
        position = source.tell() if hasattr(source, "tell") else None
        head = source.read(len(COMPOUND_SIGNATURE))
        if position is not None:
            source.seek(position)
    else:
        buffer: Any = source
        head = bytes(memoryview(buffer).cast("B")[:len(COMPOUND_SIGNATURE)])
    return bytes(head) == COMPOUND_SIGNATURE
