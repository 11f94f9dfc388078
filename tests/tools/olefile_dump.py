#!/usr/bin/python3
"""Prints the tree of a compound file as olefile (an independent reader) sees it.

One line per element, in olefile's order:
    storage <path>
    stream <path> <size> <crc32 of the bytes, 8 hex digits>
then one line "issue <message>" per defect olefile noted without failing.
Path elements are joined with '/'; units outside printable ASCII, '/' and '\\'
are written as \\uXXXX (UTF-16 units). Any incorrect structure makes olefile
fail: the script then prints "error: <message>" and exits with status 2.
"""

import sys
import zlib

import olefile


def escape(name):
    out = []
    for unit in utf16_units(name):
        if 0x20 <= unit < 0x7F and chr(unit) not in '/\\':
            out.append(chr(unit))
        else:
            out.append('\\u%04x' % unit)
    return ''.join(out)


def utf16_units(name):
    data = name.encode('utf-16-le', 'surrogatepass')
    return [data[i] | (data[i + 1] << 8) for i in range(0, len(data), 2)]


def main():
    if len(sys.argv) != 2:
        print('usage: olefile_dump.py FILE', file=sys.stderr)
        return 1
    try:
        ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
        lines = []
        for path in ole.listdir(streams=True, storages=True):
            shown = '/'.join(escape(part) for part in path)
            kind = ole.get_type(path)
            if kind == olefile.STGTY_STORAGE:
                lines.append('storage %s' % shown)
            elif kind == olefile.STGTY_STREAM:
                data = ole.openstream(path).read()
                size = ole.get_size(path)
                if len(data) != size:
                    raise IOError('%s: read %d bytes of %d' % (shown, len(data), size))
                lines.append('stream %s %d %08x' % (shown, size, zlib.crc32(data) & 0xFFFFFFFF))
            else:
                raise IOError('%s: unexpected type %r' % (shown, kind))
        for _, message in ole.parsing_issues:
            lines.append('issue %s' % message)
        ole.close()
    except Exception as exc:  # olefile raises IOError and others on defects
        print('error: %s' % exc)
        return 2
    sys.stdout.write(''.join(line + '\n' for line in lines))
    return 0


if __name__ == '__main__':
    sys.exit(main())
