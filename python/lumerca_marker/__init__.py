"""lumerca_marker: marker files in Python.

A marker file is a compound document whose streams hold the tables of one
marker: its header, sizes, classes, placed pieces and their cut lines. This
package reads one into a Marker (Python objects, and pandas frames with
to_pandas()) and writes its two CR LF text files, csvimprt.txt (the models
and the order) and posimport.txt (the piece positions), byte for byte as the
lumerca-import tool does:

    import lumerca_marker
    marker = lumerca_marker.read("blouse.mrk")        # a path, bytes or a binary file
    marker.name, marker.width_inches, marker.pieces
    frames = marker.to_pandas()                      # frames.sizes, .pieces, .cut_lines
    marker.write("out")                              # or marker.files() for the bytes
    lumerca_marker.convert("blouse.mrk", "out")      # read and write in one call
    report = lumerca_marker.convert_archive(["archive/"], "out")   # a tree, as lumerca-import -o
    report = lumerca_marker.convert_archive(["archive/"], "out", client=client)  # on Dask workers

Failures raise subclasses of MarkerError (CannotOpenError, DamagedError,
NoPiecesError, CorruptIndexError, OutputFailedError); running out of memory
raises MemoryError and a code page that is not supported ValueError.
"""

from . import _core
from ._archive import REPORT_COLUMNS, convert_archive
from ._marker import (CutLine, Frames, Marker, MarkerClass, Piece, Size, Written, convert,
                      is_compound_file, read)
from .errors import (CannotOpenError, CorruptIndexError, DamagedError, Diagnostic, MarkerError,
                     NoPiecesError, OutputFailedError)

__version__ = _core.version()

__all__ = [
    "read", "convert", "is_compound_file", "convert_archive", "REPORT_COLUMNS",
    "Marker", "Size", "MarkerClass", "Piece", "CutLine", "Written", "Frames", "Diagnostic",
    "MarkerError", "CannotOpenError", "DamagedError", "NoPiecesError", "CorruptIndexError",
    "OutputFailedError",
]
