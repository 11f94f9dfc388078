#!/usr/bin/env bash
# Installs what the Windows builds and their tests need, idempotently, as root
# or with sudo, and makes sure 32-bit Windows programs can run:
#
# - the mingw-w64 cross compilers (32- and 64-bit) and their binutils;
# - 64-bit Wine, which runs the 64-bit build natively;
# - 32-bit Wine with its static preloader and qemu's user-mode emulator of
#   i386. Where the kernel refuses 32-bit programs, i386 programs are
#   registered with binfmt_misc to run through the emulator; that
#   registration is lost when the machine restarts, so it is checked on every
#   run (scripts/wine does the same before it starts a 32-bit program). What
#   runs 32-bit programs is found out by starting a 32-bit probe that the host
#   binutils assemble (scripts/i386-probe.s).
#
# 32-bit Wine is not essential to the build: when its packages cannot be
# installed (Debian's i386 lists unavailable, say) this says why and goes on,
# and the 32-bit Wine tests report themselves skipped with that reason.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/apt.sh

apt_install mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine wine64 qemu-user-static binutils

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  apt_updated=no
fi
if ! apt_install wine32:i386 wine32-preloader:i386; then
  echo "setup: 32-bit Wine (wine32:i386, wine32-preloader:i386) cannot be installed here;" \
       "the 32-bit Wine tests will be skipped" >&2
fi

# Registers the emulator when 32-bit programs cannot run natively.
scripts/wine --describe
