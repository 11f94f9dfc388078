"""Builds lumerca_marker: the C++ library as a static, position-independent
archive (the project's own CMake build, with only the library), linked into
the pybind11 extension lumerca_marker._core, so that the wheel carries all of
it (ICU stays a shared library of the system).

LUMERCA_MARKER_LIBRARY=/path/to/liblumerca_marker.a links an archive built
already (static, position-independent, from the same checkout) instead: the
project's test build passes the one it makes from its own objects.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = Path(__file__).resolve().parent
PROJECT = HERE.parent  # the project's checkout: CMakeLists.txt, include/, ...


def library_version():
    text = (PROJECT / "include" / "lumerca" / "version.h").read_text(encoding="ascii")
    parts = [re.search(r"#define LUMERCA_MARKER_VERSION_%s (\d+)" % part, text).group(1)
             for part in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(parts)


class BuildWithLibrary(build_ext):
    """build_ext that first builds the C++ library (or takes a built one)."""

    def run(self):
        archive = self._library()
        for ext in self.extensions:
            ext.extra_objects = [str(archive)]
            ext.depends = [*ext.depends, str(archive)]
        super().run()

    def _library(self):
        prebuilt = os.environ.get("LUMERCA_MARKER_LIBRARY")
        if prebuilt:
            archive = Path(prebuilt)
            if not archive.is_file():
                sys.exit("LUMERCA_MARKER_LIBRARY names no file: %s" % archive)
            return archive
        cmake = shutil.which("cmake")
        if cmake is None:
            sys.exit("building lumerca_marker needs CMake (Debian: apt install cmake)")
        build = Path(self.build_temp).resolve() / "library"
        configure = [
            cmake, "-S", str(PROJECT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DBUILD_SHARED_LIBS=OFF",
            "-DCMAKE_POSITION_INDEPENDENT_CODE=ON",
            "-DLUMERCA_BUILD_TESTS=OFF",
            "-DLUMERCA_BUILD_TOOLS=OFF",
            "-DLUMERCA_BUILD_BENCH=OFF",
            "-DLUMERCA_INSTALL=OFF",
        ]
        if not (build / "CMakeCache.txt").exists() and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.check_call(configure)
        command = [cmake, "--build", str(build), "--target", "lumerca_marker"]
        if self.parallel:
            command += ["--parallel", str(self.parallel)]
        subprocess.check_call(command)
        return build / "lib" / "liblumerca_marker.a"


extension = Pybind11Extension(
    "lumerca_marker._core",
    ["binding/core.cpp"],
    cxx_std=20,
    include_dirs=[str(PROJECT / "include")],
    depends=[str(p) for p in sorted((PROJECT / "include" / "lumerca").glob("*.h"))],
    # What the library's objects use: ICU's common and data libraries.
    libraries=["icuuc", "icudata"],
    # The library's exported symbols stay inside the extension.
    extra_link_args=["-Wl,--exclude-libs,ALL"],
)

setup(
    version=library_version(),
    ext_modules=[extension],
    cmdclass={"build_ext": BuildWithLibrary},
)
