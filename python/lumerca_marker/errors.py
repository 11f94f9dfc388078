"""The exceptions of lumerca_marker: one class per reason why a marker
cannot be read, converted or written, under MarkerError.

Running out of memory raises Python's MemoryError, and a code page that is
not supported ValueError.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Dict, List, Optional, Sequence, Type

__all__ = [
    "Diagnostic",
    "MarkerError",
    "CannotOpenError",
    "DamagedError",
    "NoPiecesError",
    "CorruptIndexError",
    "OutputFailedError",
]


@dataclass(frozen=True)
class Diagnostic:
    """Something the read met that a user may want to know about.

    kind: "stream damaged", "stream skipped", "storage unreadable",
    "stream unreadable", "enumeration failed" or "import failed" (why an
    import failed); path: the element inside the document ('/'-separated);
    message: a short English text; salvage: of damage that stops a read,
    what a read with salvage=True keeps (empty otherwise).
    """

    kind: str
    path: str
    message: str
    salvage: str = ""

    def __str__(self) -> str:
        text = "%s: %s" % (self.path, self.message) if self.path else self.message
        if self.salvage:
            text += " (salvage=True keeps %s)" % self.salvage
        return text


class MarkerError(Exception):
    """A marker that could not be read, converted or written.

    status: the failure in words ("cannot open", "damaged", "no pieces",
    "corrupt index", "output failed"); reason: its detail; diagnostics: what
    else the read met (a list of Diagnostic); source: the file or folder
    concerned (None for bytes); salvage: of a damaged marker, what
    salvage=True keeps.
    """

    status = ""

    def __init__(self, reason: str, *, source: Optional[str] = None,
                 diagnostics: Sequence[Diagnostic] = (), salvage: str = "",
                 hint: str = "") -> None:
        self.reason = reason
        self.source = source
        self.diagnostics: List[Diagnostic] = list(diagnostics)
        self.salvage = salvage
        message = "%s: %s" % (source, reason) if source else reason
        if hint:
            message += "; " + hint
        super().__init__(message)


class CannotOpenError(MarkerError):
    """The file is missing, unreadable or no compound document."""

    status = "cannot open"


class DamagedError(MarkerError):
    """A stream ends before its declared layout, and the output files would
    use what did not arrive; read(..., salvage=True) reads it from what
    arrived (the message says what that keeps)."""

    status = "damaged"


class NoPiecesError(MarkerError):
    """The marker holds no placed piece: there is nothing to write."""

    status = "no pieces"


class CorruptIndexError(MarkerError):
    """A cross-reference between the marker's tables is out of range."""

    status = "corrupt index"


class OutputFailedError(MarkerError):
    """A file could not be created, written or renamed into place."""

    status = "output failed"


_CLASSES: Dict[str, Type[MarkerError]] = {
    cls.status: cls
    for cls in (CannotOpenError, DamagedError, NoPiecesError, CorruptIndexError, OutputFailedError)
}


def raise_for(status: str, reason: str, *, source: Optional[str] = None,
              diagnostics: Sequence[Diagnostic] = (), salvage: str = "",
              salvage_call: str = "read") -> None:
    """Raises the exception of a status other than "imported"."""
    if status == "imported":
        return
    if status == "out of memory":
        raise MemoryError("%s: %s" % (source, reason) if source else reason)
    if status == "unknown code page":
        raise ValueError(reason)
    cls = _CLASSES.get(status, MarkerError)
    hint = ""
    if cls is DamagedError and salvage:
        hint = "%s(..., salvage=True) keeps %s" % (salvage_call, salvage)
    raise cls(reason, source=source, diagnostics=diagnostics, salvage=salvage, hint=hint)
