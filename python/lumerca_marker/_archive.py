"""Archives: files and folders of markers converted into a tree of output
folders, as lumerca-import -o OUT does, on local threads or on the workers
of a Dask cluster."""

import math
import os
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Iterable, List, Optional, Sequence, Tuple, Union

from . import _core
from ._marker import PathLike, _check_code_page, _encode_name
from .errors import OutputFailedError

# The columns of the report, as lumerca-import --report writes them.
REPORT_COLUMNS: Tuple[str, ...] = tuple(_core.archive_report_columns())
_COUNT_COLUMNS = ("sizes", "pieces written", "cut lines written")

_Entry = Tuple[bytes, bytes, bytes, str, str]
_Row = Tuple[List[bytes], str, List[bytes], List[bytes]]


def _convert_batch(entries: Sequence[_Entry], name: bytes, code_page: int,
                   salvage: bool, deferred: Optional[Any] = None) -> List[_Row]:
    """Converts entries of a listing in turn (on a worker of a cluster, or a
    thread): their report rows.

    Pairs into folders that held none are flushed to the disk once: with
    deferred (shared by the threads of this process) when the run flushes
    it, otherwise at the end of this batch, on the machine that wrote them."""
    if deferred is not None:
        return _core.convert_archive_entries(list(entries), name, code_page, salvage, deferred)
    own = _core.DeferredFlush()
    rows = _core.convert_archive_entries(list(entries), name, code_page, salvage, own)
    _flush(own)
    return rows


def _flush(deferred: Any) -> None:
    flushed, reason = deferred.flush()
    if not flushed:
        raise OutputFailedError("the converted files cannot be flushed to the disk: " + reason
                                + " (converting the files again mends it)")


def _text(field: bytes) -> str:
    # The report's fields are UTF-8; a path's bytes that are not stand as
    # \\xNN, as in the report's path column.
    return field.decode("utf-8", "backslashreplace")


def _frame(rows: Sequence[_Row]) -> Any:
    import pandas as pd

    columns = {column: [_text(fields[k]) for fields, _, _, _ in rows]
               for k, column in enumerate(REPORT_COLUMNS)}
    data = {}
    for column in REPORT_COLUMNS:
        values = columns[column]
        if column in _COUNT_COLUMNS:
            data[column] = pd.array([int(v) if v else None for v in values], dtype="Int64")
        elif column == "warnings":
            data[column] = pd.array([int(v) for v in values], dtype="int64")
        elif column == "milliseconds":
            data[column] = pd.array([float(v) for v in values], dtype="float64")
        else:
            data[column] = pd.array(values, dtype=object)
    return pd.DataFrame(data, columns=list(REPORT_COLUMNS))


def _batches(entries: List[_Entry], workers: int) -> List[List[_Entry]]:
    # A few tasks for each worker thread, so that a slow file holds up little;
    # at most 64 files a task, so that a task is not a burden for the
    # scheduler on millions of files.
    size = max(1, min(64, math.ceil(len(entries) / max(1, workers * 8))))
    return [entries[i:i + size] for i in range(0, len(entries), size)]


def _absolute(entry: _Entry) -> _Entry:
    # The file to open and the folder to write, as other machines see them
    # (workers do not share this process's working folder); the report's path
    # stays as given.
    path, open_path, folder, reason, group = entry
    return (path, os.path.abspath(open_path) if open_path else open_path,
            os.path.abspath(folder) if folder else folder, reason, group)


def convert_archive(inputs: Union[PathLike, Iterable[PathLike]], out: PathLike, *,
                    client: Any = None, jobs: Optional[int] = None, salvage: bool = False,
                    name: Union[str, bytes, None] = None, code_page: int = 1252) -> Any:
    """Converts files and folders of markers into the folder out, as
    lumerca-import -o OUT does, and returns its report as a pandas DataFrame.

    inputs is a path or a list of paths, of files and folders. One file
    alone goes into out itself; otherwise each file given goes into
    out/<its name without extension>/, and every file below a folder DIR into
    the same place relative to out that it has relative to DIR
    (DIR/a/b/m7.mrk into out/a/b/m7/). A folder that another file has taken,
    or that would stand where a file is written, is <name>-2 (-3, ...).
    Links below a folder are followed only to files inside it. out is made
    when missing; a file that is not imported leaves no folder behind (nor
    out itself when nothing is imported).

    The conversions run on the workers of client (a dask.distributed
    Client: every worker must see the files and out at the same paths, a
    shared file system; relative paths are taken from this process's working
    folder), otherwise on jobs local threads (default: the processors this
    process may use), which convert in parallel (the GIL is released).
    salvage, name and code_page are as for convert().

    The frame has one row per file, in the order of lumerca-import's
    report, with its columns: path, status ("imported", "no pieces", "cannot
    open", "damaged", "corrupt index", "output failed", "out of memory"),
    name, sizes, pieces written, cut lines written (Int64, missing for a file
    not imported), warnings (int64), reason, milliseconds (float64). Its
    attrs["notes"] lists what the listing passed over (links not followed,
    out when it lies inside a folder given). A file that fails does not
    raise: its row says why. Interrupted (KeyboardInterrupt), no further
    file starts and the exception goes on; every pair written is whole.

    As with lumerca-import, pairs written into folders that held none are
    flushed to the disk together at the end of the run (on a cluster, at the
    end of each worker's task) rather than one by one; a folder that held a
    pair gets each new pair flushed before it replaces the earlier one. Once
    the call has returned, every pair is on the disk; a crash of the system
    before that can leave such new folders incomplete, and converting again
    mends them.

    Raises OutputFailedError when out cannot be made or the converted files
    cannot be flushed to the disk, MemoryError, ValueError (a code page that
    is not supported).
    """
    _check_code_page(code_page)
    if isinstance(inputs, (str, bytes, os.PathLike)):
        inputs = [inputs]
    paths = [os.fsencode(p) for p in inputs]
    out_bytes = os.fsencode(out)
    name_bytes = _encode_name(name, code_page)
    salvage = bool(salvage)

    made_out, made, problem = _core.make_archive_folder(out_bytes)
    if not made_out:
        raise OutputFailedError("cannot make the output folder: " + problem,
                                source=os.fsdecode(out_bytes))
    rows: List[_Row] = []
    try:
        entries, notes, _, complete, out_of_memory = _core.list_archive(paths, out_bytes, b"")
        if out_of_memory:
            raise MemoryError("memory ran out while listing the files")
        if client is not None:
            workers = sum(client.nthreads().values()) or 1
            batches = _batches([_absolute(e) for e in entries], workers)
            futures = client.map(_convert_batch, batches, name=name_bytes,
                                 code_page=code_page, salvage=salvage, pure=False,
                                 key="lumerca-convert")
            try:
                for batch in client.gather(futures):
                    rows.extend(batch)
            except BaseException:
                # Interrupted, or the cluster failed: no further task starts.
                client.cancel(futures)
                raise
        else:
            if jobs is None:
                jobs = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1
            if jobs < 1:
                raise ValueError("jobs must be at least 1")
            batches = [[e] for e in entries]
            deferred = _core.DeferredFlush()
            try:
                if jobs == 1 or len(batches) < 2:
                    for batch in batches:
                        rows.extend(_convert_batch(batch, name_bytes, code_page, salvage, deferred))
                else:
                    pool = ThreadPoolExecutor(max_workers=jobs)
                    try:
                        for batch in pool.map(_convert_batch, batches, [name_bytes] * len(batches),
                                              [code_page] * len(batches), [salvage] * len(batches),
                                              [deferred] * len(batches)):
                            rows.extend(batch)
                    finally:
                        # Interrupted (Ctrl-C): no further file starts, the
                        # ones running finish.
                        pool.shutdown(wait=True, cancel_futures=True)
            except BaseException:
                # Interrupted: what was written is flushed all the same.
                deferred.flush()
                raise
            _flush(deferred)
    finally:
        # The folders made for files not imported, then out (when made here),
        # when they are left empty.
        _core.remove_empty_folders([f for _, _, _, folders in rows for f in folders])
        _core.remove_empty_folders(made)
    frame = _frame(rows)
    frame.attrs["notes"] = [os.fsdecode(n) for n in notes]
    return frame
