# The packages that cpack makes, checked file by file. One package per run
# (cmake -P, KIND=...):
#
#   deb    the Debian package of this build: its files, its control fields
#          (the dependencies from dpkg-shlibdeps), and a pkg-config file that
#          points into the tree where it is unpacked
#   zip    the zip of a Windows build (WIN_BUILD, the win32 or win64 preset's
#          folder): its files, the DLL as built, a static library that holds
#          the C++ API and ImportLumercaFile, and the README's example linked
#          against the unpacked zip with the cross compiler and pkg-config
#
# Inputs: KIND, SOURCE_DIR, BUILD_DIR, BUILD_TYPE, LIBDIR, STATIC and TOOLS
# (whether the tool is built) of the deb; WIN_BUILD and BITS of the zip; WORK,
# VERSION, PKG_CONFIG.

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN ARGV " " command)
    message(FATAL_ERROR "${command} failed (${rc}):\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

function(fail)
  list(JOIN ARGV "" text)
  message(FATAL_ERROR "${text}")
endfunction()

# Fails unless the lists named by actual_list and expected_list hold the
# same names.
function(compare_lists what actual_list expected_list)
  set(a ${${actual_list}})
  set(e ${${expected_list}})
  list(SORT a)
  list(SORT e)
  if(NOT a STREQUAL e)
    set(missing ${e})
    list(REMOVE_ITEM missing ${a})
    set(extra ${a})
    list(REMOVE_ITEM extra ${e})
    list(JOIN missing "\n  " missing)
    list(JOIN extra "\n  " extra)
    fail("${what}\nmissing:\n  ${missing}\nnot expected:\n  ${extra}")
  endif()
endfunction()

file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/include/lumerca/*)
string(REGEX MATCH "^[0-9]+" major ${VERSION})
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

if(KIND STREQUAL "deb")
  run(cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK})
  file(GLOB debs ${WORK}/*.deb)
  list(LENGTH debs count)
  if(NOT count EQUAL 1)
    fail("cpack made ${count} .deb files: ${debs}")
  endif()

  if(BUILD_TYPE)
    string(TOLOWER ${BUILD_TYPE} config)
  else()
    set(config noconfig)
  endif()
  # The files, with the links of the shared library.
  run(dpkg-deb -c ${debs})
  string(REPLACE "\n" ";" lines "${run_output}")
  set(files)
  foreach(line ${lines})
    if(line MATCHES "^[-l][^ ]* .* \\./(usr/[^ ]+)( -> .*)?$")
      list(APPEND files ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(expected ${headers}
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerConfig.cmake
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerConfigVersion.cmake
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerTargets.cmake
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerTargets-${config}.cmake
      ${LIBDIR}/pkgconfig/lumerca_marker.pc)
  if(STATIC)
    list(APPEND expected ${LIBDIR}/liblumerca_marker.a)
  else()
    list(APPEND expected ${LIBDIR}/liblumerca_marker.so ${LIBDIR}/liblumerca_marker.so.${major}
         ${LIBDIR}/liblumerca_marker.so.${VERSION})
  endif()
  if(TOOLS)
    list(APPEND expected bin/lumerca-import)
  endif()
  list(TRANSFORM expected PREPEND usr/)
  compare_lists("the Debian package's files (dpkg-deb -c)" files expected)

  # The control fields.
  run(dpkg --print-architecture)
  string(STRIP "${run_output}" architecture)
  foreach(field Package Version Architecture Depends)
    run(dpkg-deb -f ${debs} ${field})
    string(STRIP "${run_output}" ${field})
  endforeach()
  if(NOT Package STREQUAL "lumerca-marker" OR NOT Version STREQUAL VERSION
     OR NOT Architecture STREQUAL architecture)
    fail("the package is ${Package} ${Version} ${Architecture}, "
         "expected lumerca-marker ${VERSION} ${architecture}")
  endif()
  # What the library and the tool load: the C and C++ runtimes and ICU.
  foreach(dependency "libc6 " "libstdc\\+\\+6 " "libicu[0-9]+ ")
    if(NOT "${Depends}, " MATCHES "(^|, )${dependency}")
      fail("the package's Depends (${Depends}) names no ${dependency}")
    endif()
  endforeach()
  if(Depends MATCHES "lumerca")
    fail("the package depends on itself: ${Depends}")
  endif()

  # The static library's users link ICU themselves, from its development files.
  if(STATIC AND NOT "${Depends}, " MATCHES "(^|, )libicu-dev[ ,]")
    fail("the package of the static library does not depend on libicu-dev: ${Depends}")
  endif()

  # Unpacked anywhere, its pkg-config file points into the unpacked tree (the
  # static library's also needs ICU's, from the system's folders).
  run(dpkg-deb -x ${debs} ${WORK}/root)
  if(PKG_CONFIG)
    if(STATIC)
      set(search PKG_CONFIG_PATH=${WORK}/root/usr/${LIBDIR}/pkgconfig)
    else()
      set(search PKG_CONFIG_LIBDIR=${WORK}/root/usr/${LIBDIR}/pkgconfig PKG_CONFIG_PATH=)
    endif()
    run(${CMAKE_COMMAND} -E env ${search} ${PKG_CONFIG} --cflags --libs lumerca_marker)
    string(STRIP "${run_output}" flags)
    set(root ${WORK}/root/usr/${LIBDIR}/pkgconfig)
    if(NOT flags MATCHES "^-I${root}/[./]*include -L${root}/[./]*${LIBDIR} -llumerca_marker$")
      fail("the unpacked package's pkg-config flags do not point into it: ${flags}")
    endif()
  endif()

elseif(KIND STREQUAL "zip")
  if(NOT EXISTS ${WIN_BUILD}/CPackConfig.cmake)
    message("lumerca-test-skipped: no ${BITS}-bit Windows build in ${WIN_BUILD} "
            "(cmake --preset win${BITS} && cmake --build --preset win${BITS} makes it)")
    return()
  endif()
  load_cache(${WIN_BUILD} READ_WITH_PREFIX win_
             CMAKE_INSTALL_LIBDIR CMAKE_BUILD_TYPE CMAKE_CXX_COMPILER CMAKE_NM LUMERCA_BUILD_TOOLS)
  run(cpack -G ZIP --config ${WIN_BUILD}/CPackConfig.cmake -B ${WORK})
  set(top lumerca_marker-${VERSION}-win${BITS})
  set(zip ${WORK}/${top}.zip)
  if(NOT EXISTS ${zip})
    file(GLOB made ${WORK}/*.zip)
    fail("cpack made no ${top}.zip (but: ${made})")
  endif()

  run(${CMAKE_COMMAND} -E tar tf ${zip})
  string(REPLACE "\n" ";" entries "${run_output}")
  list(FILTER entries EXCLUDE REGEX "(/|^)$")
  string(TOLOWER "${win_CMAKE_BUILD_TYPE}" config)
  set(lib ${win_CMAKE_INSTALL_LIBDIR})
  set(expected ${headers} bin/lumerca_marker.dll ${lib}/liblumerca_marker.a
      ${lib}/cmake/lumerca_marker/lumerca_markerConfig.cmake
      ${lib}/cmake/lumerca_marker/lumerca_markerConfigVersion.cmake
      ${lib}/cmake/lumerca_marker/lumerca_markerTargets.cmake
      ${lib}/cmake/lumerca_marker/lumerca_markerTargets-${config}.cmake
      ${lib}/pkgconfig/lumerca_marker.pc)
  if(win_LUMERCA_BUILD_TOOLS)
    list(APPEND expected bin/lumerca-import.exe bin/lumerca-host.exe)
  endif()
  list(TRANSFORM expected PREPEND ${top}/)
  compare_lists("the ${BITS}-bit Windows zip's files" entries expected)

  file(MAKE_DIRECTORY ${WORK}/unpacked)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${WORK}/unpacked
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    fail("${zip} cannot be unpacked")
  endif()
  set(tree ${WORK}/unpacked/${top})

  # The DLL is the one built (whose exports tests/wine checks).
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${tree}/bin/lumerca_marker.dll
                          ${WIN_BUILD}/bin/lumerca_marker.dll RESULT_VARIABLE differ)
  if(differ)
    fail("the zip's lumerca_marker.dll is not ${WIN_BUILD}/bin/lumerca_marker.dll")
  endif()

  # The static library defines the C++ API and the C entry point.
  run(${win_CMAKE_NM} -C --defined-only ${tree}/${lib}/liblumerca_marker.a)
  foreach(symbol "lumerca::ImportMarker\\(" "lumerca::Version\\(" "_?ImportLumercaFile\n")
    if(NOT run_output MATCHES " T ${symbol}")
      fail("the zip's static library defines no ${symbol}")
    endif()
  endforeach()

  # A user's program links with the zip alone: the headers, the static
  # library and what its pkg-config file names.
  if(PKG_CONFIG)
    run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${tree}/${lib}/pkgconfig PKG_CONFIG_PATH=
        ${PKG_CONFIG} --static --cflags --libs lumerca_marker)
    separate_arguments(flags UNIX_COMMAND "${run_output}")
    include(${CMAKE_CURRENT_LIST_DIR}/../consumer/readme_example.cmake)
    lumerca_readme_example(${SOURCE_DIR}/README.md ${WORK}/example.cpp)
    run(${win_CMAKE_CXX_COMPILER} -std=c++20 ${WORK}/example.cpp -o ${WORK}/example.exe
        -static ${flags})
    if(NOT EXISTS ${WORK}/example.exe)
      fail("the example was not linked")
    endif()
  endif()

else()
  fail("unknown KIND ${KIND}")
endif()
