# --- the loopback lock ---------------------------------------------------------
# Tests and scripts that run on the machine's own loopback (port 8995) take
# turns on one file lock. Its path is defined once, in
# scripts/lib/drive-stage.sh, which the scripts source; the test kit gets it
# from there as TOVRIN_LOOPBACK_LOCK.
set(tovrin_stage_script ${CMAKE_CURRENT_SOURCE_DIR}/scripts/lib/drive-stage.sh)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tovrin_stage_script})
file(STRINGS ${tovrin_stage_script} tovrin_lock_line REGEX "^TOVRIN_LOOPBACK_LOCK=/[^ ]+$")
string(REGEX REPLACE "^TOVRIN_LOOPBACK_LOCK=" "" TOVRIN_LOOPBACK_LOCK "${tovrin_lock_line}")
if(NOT TOVRIN_LOOPBACK_LOCK MATCHES "^/[^;]+$")
  message(FATAL_ERROR "${tovrin_stage_script} defines no TOVRIN_LOOPBACK_LOCK=/absolute/path line")
endif()

# --- the reliability gates and the whole check ---------------------------------
# With TOVRIN_GATES=ON (the "gates" presets: build/gates) the tree holds every
# check that scripts/test (and so CI) makes, as CTest tests labelled "gate"
# plus their own label: the builds users make (build), the Windows build
# (windows), the packages (packages), the reliability gates (format,
# cppcheck, tidy, asan, tsan, fuzz, valgrind) and the whole suite (suite);
# `ctest --preset gates -L tidy` runs one. The checks themselves are the
# scripts in scripts/gates. The trees a check needs are fixtures: configured
# with warnings as errors and built by set-up tests, once, for every check
# that needs them.
#
# How they share the machine (one CTest run schedules them all):
# - The builds hold the lock "gate_foreground", so one runs at a time, with
#   TOVRIN_GATE_JOBS compilers at a lower priority (nice 10): a suite that
#   runs beside a build gets the processor the moment its pauses end.
# - The suites (the default one, asan, tsan) and valgrind start as soon as
#   their tree is built; they mostly wait on pauses and sockets, and their
#   tests hold their bounds on a loaded machine.
# - Tidy runs at the builds' priority, TOVRIN_GATE_JOBS files at a time;
#   cppcheck and the fuzzers run at idle priority, one processor each: they
#   take the processor time that the rest leaves.
# - COST orders the builds: the trees the longest suites need first
#   (default, asan), then the Windows and tsan trees, the loader builds last.
option(TOVRIN_GATES "Add the reliability gates as CTest tests (label gate)" OFF)
set(TOVRIN_GATE_JOBS 2 CACHE STRING "Parallel compile and test jobs of one gate")
if(NOT TOVRIN_GATES)
  return()
endif()

enable_testing()
set(gate_scripts ${CMAKE_CURRENT_SOURCE_DIR}/scripts/gates)
set(gate_env TOVRIN_JOBS=${TOVRIN_GATE_JOBS})

# Idle priority: SCHED_IDLE where chrt has it, else the lowest nice level.
find_program(TOVRIN_CHRT chrt)
if(TOVRIN_CHRT)
  execute_process(COMMAND ${TOVRIN_CHRT} -i 0 true RESULT_VARIABLE chrt_status
                  OUTPUT_QUIET ERROR_QUIET)
endif()
if(TOVRIN_CHRT AND chrt_status EQUAL 0)
  set(gate_idle ${TOVRIN_CHRT} -i 0)
else()
  set(gate_idle nice -n 19)
endif()

# gate_test(NAME LABELS labels... [IDLE] [FOREGROUND] COST c TIMEOUT t
#           [SETUP fixture] [REQUIRES fixtures...] COMMAND command...)
function(gate_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "IDLE;FOREGROUND" "COST;TIMEOUT;SETUP"
                        "LABELS;REQUIRES;COMMAND")
  set(command ${arg_COMMAND})
  if(arg_IDLE)
    set(command ${gate_idle} ${command})
  endif()
  add_test(NAME ${name} COMMAND ${command} WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES LABELS "gate;${arg_LABELS}" TIMEOUT ${arg_TIMEOUT}
                                          ENVIRONMENT "${gate_env}")
  if(arg_COST)
    set_tests_properties(${name} PROPERTIES COST ${arg_COST})
  endif()
  if(arg_FOREGROUND)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK gate_foreground
                                            PROCESSORS ${TOVRIN_GATE_JOBS})
  endif()
  if(arg_SETUP)
    set_tests_properties(${name} PROPERTIES FIXTURES_SETUP ${arg_SETUP})
  endif()
  if(arg_REQUIRES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${arg_REQUIRES}")
  endif()
endfunction()

# A preset's tree, configured (warnings as errors) and, unless CONFIGURE_ONLY,
# built: the fixture gate_<preset>_tree.
# gate_tree(PRESET [CONFIGURE_ONLY] [COST n] [CONFIGURE_ARGS ...] [TARGETS ...]):
# the set-up tests that configure and build a preset's tree (all of it, or
# TARGETS), fixture gate_<preset>_tree.
function(gate_tree preset)
  cmake_parse_arguments(PARSE_ARGV 1 arg "CONFIGURE_ONLY" "COST" "CONFIGURE_ARGS;TARGETS")
  set(configure ${CMAKE_COMMAND} --preset ${preset} -DTOVRIN_WERROR=ON ${arg_CONFIGURE_ARGS})
  if(arg_CONFIGURE_ONLY)
    gate_test(gate.${preset}.configure LABELS build TIMEOUT 600 SETUP gate_${preset}_tree
              COMMAND ${configure})
    return()
  endif()
  gate_test(gate.${preset}.configure LABELS build TIMEOUT 600 SETUP gate_${preset}_configured
            COMMAND ${configure})
  set(targets)
  if(arg_TARGETS)
    set(targets --target ${arg_TARGETS})
  endif()
  gate_test(gate.${preset}.build LABELS build FOREGROUND COST ${arg_COST} TIMEOUT 3600
            REQUIRES gate_${preset}_configured SETUP gate_${preset}_tree
            COMMAND nice -n 10 ${CMAKE_COMMAND} --build --preset ${preset} -j ${TOVRIN_GATE_JOBS}
                    ${targets})
endfunction()

# The loader as the README has users build it: alone, Release, with g++
# (the default tree holds every file to g++'s warnings at -O2, and these
# depend on the optimiser; clang++'s do not, and every file meets clang++,
# warnings as errors, in the asan and tsan trees). The code has no run-time
# assertion, so a Debug build would only compile the same code with fewer
# warnings.
gate_test(gate.build.release.g++ LABELS build FOREGROUND COST 100 TIMEOUT 1800
          COMMAND nice -n 10 ${gate_scripts}/loader-build release g++)

# The Windows build (Tovrin.exe with MinGW-w64, its package, Wine's prefix),
# tested under Wine by the default suite; without MinGW-w64 or Wine the
# suite says why it leaves those tests out.
set(tovrin_windows_missing)
find_program(tovrin_mingw x86_64-w64-mingw32-g++-posix NO_CACHE)
if(NOT tovrin_mingw)
  set(tovrin_windows_missing "MinGW-w64 (g++-mingw-w64-x86-64-posix) is not installed")
elseif(NOT EXISTS /usr/lib/wine/wine64)
  set(tovrin_windows_missing "Wine (wine64, /usr/lib/wine/wine64) is not installed")
endif()
set(windows_tests_need gate_default_tree gate_packages)
if(tovrin_windows_missing)
  set(default_args -DTOVRIN_WINDOWS_EXE= "-DTOVRIN_WINDOWS_UNAVAILABLE=${tovrin_windows_missing}")
else()
  gate_test(gate.windows.build LABELS build windows FOREGROUND COST 950 TIMEOUT 3600
            SETUP gate_windows_tree
            COMMAND nice -n 10 ${gate_scripts}/windows-build --without-prefix)
  # Wine's prefix is prepared beside the builds, not in turn with them.
  gate_test(gate.windows.prefix LABELS build windows TIMEOUT 900 SETUP gate_windows_prefix
            COMMAND nice -n 10 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/wine-sandbox init)
  set_tests_properties(gate.windows.prefix PROPERTIES ENVIRONMENT
                       "TOVRIN_WINE_PREFIX=${CMAKE_CURRENT_SOURCE_DIR}/build/windows/wine-prefix")
  set(default_args -DTOVRIN_WINDOWS_EXE=${CMAKE_CURRENT_SOURCE_DIR}/build/windows/Tovrin.exe
                   -DTOVRIN_WINDOWS_UNAVAILABLE=)
  list(APPEND windows_tests_need gate_windows_tree gate_windows_prefix)
endif()

gate_test(gate.format LABELS format TIMEOUT 300 COMMAND ${gate_scripts}/format)
gate_test(gate.cppcheck LABELS cppcheck IDLE TIMEOUT 3600 COMMAND ${gate_scripts}/cppcheck)

gate_tree(tidy CONFIGURE_ONLY)
# Tidy is the longest of the analysers: beside the builds, at their
# priority, rather than behind the fuzzers, so that it does not end the run
# alone.
gate_test(gate.tidy LABELS tidy TIMEOUT 3600 REQUIRES gate_tidy_tree
          COMMAND nice -n 10 ${gate_scripts}/tidy)

# Line tables are all that memcheck's and the suites' reports need (the
# packages are stripped); full debug information costs the builds of every
# tree a quarter more.
gate_tree(default COST 1200 CONFIGURE_ARGS ${default_args}
          "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
gate_test(gate.packages LABELS packages TIMEOUT 600 REQUIRES gate_default_tree
          SETUP gate_packages COMMAND ${gate_scripts}/packages)
# The whole suite in two parts: the tests of Tovrin.exe under Wine and of the
# packages (by name: wine.*, WindowsBuild.*, packages) wait for the Windows
# build, the rest starts once build/default is built.
set(windows_tests "^(wine\\.|WindowsBuild\\.|packages$)")
gate_test(gate.suite LABELS suite COST 1000 TIMEOUT 3600 REQUIRES gate_default_tree
          COMMAND ${CMAKE_CTEST_COMMAND} --preset default -E "${windows_tests}")
gate_test(gate.suite.windows LABELS suite windows COST 1000 TIMEOUT 3600
          REQUIRES ${windows_tests_need}
          COMMAND ${CMAKE_CTEST_COMMAND} --preset default -R "${windows_tests}")
gate_test(gate.valgrind LABELS valgrind COST 100 TIMEOUT 3600 REQUIRES gate_default_tree
          COMMAND ${gate_scripts}/valgrind)

gate_tree(asan COST 1100)
gate_test(gate.asan LABELS asan COST 800 TIMEOUT 3600 REQUIRES gate_asan_tree
          COMMAND ${gate_scripts}/sanitizers asan)
# ThreadSanitizer finds races where threads run: the loader's console writer
# and stop handling (every end-to-end run of the loader in the cli tests),
# the console writer's own tests and the record tests' threads.
gate_tree(tsan COST 900 TARGETS tovrin drivesim platform_tests cli_tests record_tests)
gate_test(gate.tsan LABELS tsan COST 700 TIMEOUT 3600 REQUIRES gate_tsan_tree
          COMMAND ${gate_scripts}/sanitizers tsan)

set(TOVRIN_FUZZ_SECONDS 30 CACHE STRING "How long each fuzz target runs in its gate")
file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/*_fuzz.cpp)
foreach(src ${fuzz_sources})
  get_filename_component(target ${src} NAME_WE)
  math(EXPR fuzz_timeout "${TOVRIN_FUZZ_SECONDS} * 4 + 600")
  gate_test(gate.fuzz.${target} LABELS fuzz IDLE COST 500 TIMEOUT ${fuzz_timeout}
            REQUIRES gate_asan_tree COMMAND ${gate_scripts}/fuzz ${target})
  set_property(TEST gate.fuzz.${target} APPEND PROPERTY ENVIRONMENT
               TOVRIN_FUZZ_SECONDS=${TOVRIN_FUZZ_SECONDS})
endforeach()
