# The library as its users get it. One step per run (cmake -P, STEP=...):
#
#   install       installs the build tree (shared) into PREFIX and checks
#                 what is there, file by file; runs the installed tool
#   find_package  builds the README's example and the package check against
#                 PREFIX with find_package(lumerca_marker) and runs them
#   pkg_config    the same with the compiler and pkg-config alone
#   subproject    builds lumerca_marker inside a parent project
#                 (add_subdirectory), checks that only the library is built
#                 and that none of the tests' and tools' packages is looked
#                 for, runs the example, and installs the static library that
#                 it built into PREFIX
#
# The example is the first ```cpp block of README.md; it takes a marker and
# an output folder. Its two files must be those that the build's own tool
# (TOOL) writes for the same marker.
#
# Inputs: STEP, SOURCE_DIR, BUILD_DIR, WORK, PREFIX, LIBDIR, SAMPLE,
# GENERATOR, CXX, BUILD_TYPE, VERSION, OBJDUMP, STATIC (ON/OFF), TOOL,
# PKG_CONFIG.

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    list(JOIN ARGV " " command)
    message(FATAL_ERROR "${command} failed (${rc}):\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

function(fail)
  list(JOIN ARGV "" text)
  message(FATAL_ERROR "${text}")
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/readme_example.cmake)

# Runs the example (with an environment, e.g. LD_LIBRARY_PATH=...) and
# compares its two files with the tool's.
function(run_example example)
  set(out ${WORK}/out)
  file(REMOVE_RECURSE ${out})
  file(MAKE_DIRECTORY ${out})
  run(${CMAKE_COMMAND} -E env ${ARGN} ${example} ${SAMPLE} ${out})
  message(STATUS "example: ${run_output}")
  set(reference ${WORK}/reference)
  file(REMOVE_RECURSE ${reference})
  if(TOOL)
    run(${TOOL} -q -o ${reference} ${SAMPLE})
  endif()
  foreach(name csvimprt.txt posimport.txt)
    if(NOT EXISTS ${out}/${name})
      fail("the example wrote no ${name} into ${out}")
    endif()
    file(SIZE ${out}/${name} size)
    if(size EQUAL 0)
      fail("the example's ${name} is empty")
    endif()
    if(TOOL)
      execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${out}/${name} ${reference}/${name}
                      RESULT_VARIABLE differ)
      if(differ)
        fail("the example's ${name} differs from what lumerca-import writes for ${SAMPLE}")
      endif()
    endif()
  endforeach()
endfunction()

# Whether the program loads the shared library (it must, when STATIC is OFF)
# or holds the library itself.
function(check_linkage program)
  run(${OBJDUMP} -p ${program})
  if(run_output MATCHES "NEEDED +liblumerca_marker\\.so")
    set(loads ON)
  else()
    set(loads OFF)
  endif()
  if(STATIC AND loads)
    fail("${program} loads liblumerca_marker.so, though linked with the static library")
  elseif(NOT STATIC AND NOT loads)
    fail("${program} does not load liblumerca_marker.so, though linked with the shared library")
  endif()
endfunction()

set(example_source ${WORK}/example.cpp)
file(MAKE_DIRECTORY ${WORK})

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${PREFIX})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
  # Every file installed, and nothing else.
  file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/include/lumerca/*)
  string(REGEX MATCH "^[0-9]+" major ${VERSION})
  if(BUILD_TYPE)
    string(TOLOWER ${BUILD_TYPE} config)
  else()
    set(config noconfig)
  endif()
  set(expected ${headers}
      ${LIBDIR}/liblumerca_marker.so ${LIBDIR}/liblumerca_marker.so.${major}
      ${LIBDIR}/liblumerca_marker.so.${VERSION}
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerConfig.cmake
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerConfigVersion.cmake
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerTargets.cmake
      ${LIBDIR}/cmake/lumerca_marker/lumerca_markerTargets-${config}.cmake
      ${LIBDIR}/pkgconfig/lumerca_marker.pc)
  if(TOOL)
    list(APPEND expected bin/lumerca-import)
  endif()
  file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
  list(SORT expected)
  list(SORT installed)
  if(NOT installed STREQUAL expected)
    list(JOIN installed "\n  " installed_text)
    list(JOIN expected "\n  " expected_text)
    fail("installed:\n  ${installed_text}\nexpected:\n  ${expected_text}")
  endif()
  # The installed tool runs from its place, and its version is the package's.
  if(TOOL)
    run(${PREFIX}/bin/lumerca-import --version)
    if(NOT run_output MATCHES "lumerca-import ${VERSION}")
      fail("the installed lumerca-import says \"${run_output}\", not version ${VERSION}")
    endif()
    file(REMOVE_RECURSE ${WORK}/tool-out)
    run(${PREFIX}/bin/lumerca-import -q -o ${WORK}/tool-out ${SAMPLE})
    if(NOT EXISTS ${WORK}/tool-out/posimport.txt)
      fail("the installed lumerca-import wrote no posimport.txt")
    endif()
  endif()

elseif(STEP STREQUAL "find_package")
  lumerca_readme_example(${SOURCE_DIR}/README.md ${example_source})
  set(build ${WORK}/build)
  file(REMOVE_RECURSE ${build})
  set(options)
  if(NOT STATIC)
    # A shared library's users need none of its dependencies' development files.
    list(APPEND options -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON)
  endif()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer/project -B ${build} -G ${GENERATOR}
      -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
      -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
      -DEXAMPLE_SOURCE=${example_source} -DEXPECTED_VERSION=${VERSION} -DEXPECTED_STATIC=${STATIC}
      ${options})
  run(${CMAKE_COMMAND} --build ${build})
  check_linkage(${build}/example)
  run(${build}/package_check)
  run_example(${build}/example)

elseif(STEP STREQUAL "pkg_config")
  lumerca_readme_example(${SOURCE_DIR}/README.md ${example_source})
  if(NOT PKG_CONFIG)
    message("lumerca-test-skipped: pkg-config is not installed (scripts/setup.sh installs it)")
    return()
  endif()
  file(GLOB_RECURSE pc_files ${PREFIX}/*/lumerca_marker.pc)
  if(NOT pc_files STREQUAL "${PREFIX}/${LIBDIR}/pkgconfig/lumerca_marker.pc")
    fail("lumerca_marker.pc is not where pkg-config looks: ${pc_files}")
  endif()
  # The static library's users find ICU's file in the system's folders; the
  # shared library's need no other file than the package's.
  if(STATIC)
    set(search PKG_CONFIG_PATH=${PREFIX}/${LIBDIR}/pkgconfig)
  else()
    set(search PKG_CONFIG_LIBDIR=${PREFIX}/${LIBDIR}/pkgconfig PKG_CONFIG_PATH=)
  endif()
  set(pkg ${CMAKE_COMMAND} -E env ${search} ${PKG_CONFIG})
  run(${pkg} --modversion lumerca_marker)
  string(STRIP "${run_output}" modversion)
  if(NOT modversion STREQUAL VERSION)
    fail("pkg-config says version ${modversion}, the build is ${VERSION}")
  endif()
  run(${pkg} --cflags lumerca_marker)
  separate_arguments(cflags UNIX_COMMAND "${run_output}")
  if(STATIC)
    run(${pkg} --static --libs lumerca_marker)
  else()
    run(${pkg} --libs lumerca_marker)
  endif()
  separate_arguments(libs UNIX_COMMAND "${run_output}")
  message(STATUS "pkg-config: ${cflags} ${libs}")
  set(build ${WORK}/build)
  file(REMOVE_RECURSE ${build})
  file(MAKE_DIRECTORY ${build})
  run(${CXX} -std=c++20 ${cflags} ${example_source} -o ${build}/example ${libs})
  run(${CXX} -std=c++20 ${cflags} "-DEXPECTED_VERSION=\"${VERSION}\""
      ${SOURCE_DIR}/tests/consumer/package_check.cpp -o ${build}/package_check ${libs})
  check_linkage(${build}/example)
  # Neither program names the library's folder: the loader is told it.
  set(env LD_LIBRARY_PATH=${PREFIX}/${LIBDIR})
  run(${CMAKE_COMMAND} -E env ${env} ${build}/package_check)
  run_example(${build}/example ${env})

elseif(STEP STREQUAL "subproject")
  lumerca_readme_example(${SOURCE_DIR}/README.md ${example_source})
  set(parent ${SOURCE_DIR}/tests/consumer/subproject)
  set(common -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
      -DCMAKE_INSTALL_LIBDIR=${LIBDIR} -DLUMERCA_SOURCE_DIR=${SOURCE_DIR}
      -DEXAMPLE_SOURCE=${example_source} -DEXPECTED_VERSION=${VERSION})
  # Any of these looked for as REQUIRED stops the configuration.
  foreach(package GTest CLI11 nlohmann_json PkgConfig tinyxml2 benchmark)
    list(APPEND common -DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON)
  endforeach()
  # BUILD_SHARED_LIBS of the parent decides, shared ...
  file(REMOVE_RECURSE ${WORK}/shared)
  run(${CMAKE_COMMAND} -S ${parent} -B ${WORK}/shared ${common}
      -DBUILD_SHARED_LIBS=ON -DEXPECTED_TYPE=SHARED_LIBRARY)
  # ... or static (unset: add_library's default), which is built, run and
  # installed as the parent project's own install would install it.
  set(build ${WORK}/build)
  file(REMOVE_RECURSE ${build})
  run(${CMAKE_COMMAND} -S ${parent} -B ${build} ${common}
      -DEXPECTED_TYPE=STATIC_LIBRARY -DLUMERCA_INSTALL=ON)
  run(${CMAKE_COMMAND} --build ${build} --parallel 2)
  set(STATIC ON)
  check_linkage(${build}/example)
  run(${build}/package_check)
  run_example(${build}/example)
  file(REMOVE_RECURSE ${PREFIX})
  run(${CMAKE_COMMAND} --install ${build} --prefix ${PREFIX})
  if(NOT EXISTS ${PREFIX}/${LIBDIR}/liblumerca_marker.a)
    fail("the parent project's install has no ${LIBDIR}/liblumerca_marker.a")
  endif()

else()
  fail("unknown STEP ${STEP}")
endif()
