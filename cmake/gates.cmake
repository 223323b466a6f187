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

# --- the reliability gates ----------------------------------------------------
# With TOVRIN_GATES=ON (the "gates" presets: build/gates) the tree holds the
# gates as CTest tests, label "gate" plus the gate's own (format, cppcheck,
# tidy, asan, tsan, fuzz, valgrind); `ctest --preset gates -L tidy` runs one.
# The checks themselves are the scripts in scripts/gates. The trees a gate
# needs are fixtures: configured with warnings as errors and built by set-up
# tests, once, for every gate that needs them.
#
# How they share the machine:
# - Foreground gates (the builds, the sanitizer suites, valgrind) hold the
#   lock "gate_foreground", so one runs at a time and the timing-sensitive
#   end-to-end runs of a suite never meet a compiler at full priority; each
#   counts as TOVRIN_GATE_JOBS processors.
# - The analysers and fuzzers (cppcheck, tidy, fuzz) run at idle priority
#   beside them, one processor each: they take the processor time that the
#   builds leave and that the suites, which mostly wait on pauses and
#   sockets, don't use.
# - COST orders the foreground gates: both sanitizer builds first, so that
#   the fuzzers, which run for a fixed time, meet the waiting suites rather
#   than a build; valgrind last.
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
function(gate_tree preset)
  cmake_parse_arguments(PARSE_ARGV 1 arg "CONFIGURE_ONLY" "COST" "")
  if(arg_CONFIGURE_ONLY)
    gate_test(gate.${preset}.configure LABELS build TIMEOUT 600 SETUP gate_${preset}_tree
              COMMAND ${CMAKE_COMMAND} --preset ${preset} -DTOVRIN_WERROR=ON)
    return()
  endif()
  gate_test(gate.${preset}.configure LABELS build TIMEOUT 600 SETUP gate_${preset}_configured
            COMMAND ${CMAKE_COMMAND} --preset ${preset} -DTOVRIN_WERROR=ON)
  gate_test(gate.${preset}.build LABELS build FOREGROUND COST ${arg_COST} TIMEOUT 3600
            REQUIRES gate_${preset}_configured SETUP gate_${preset}_tree
            COMMAND ${CMAKE_COMMAND} --build --preset ${preset} -j ${TOVRIN_GATE_JOBS})
endfunction()

gate_test(gate.format LABELS format TIMEOUT 300 COMMAND ${gate_scripts}/format)
gate_test(gate.cppcheck LABELS cppcheck IDLE TIMEOUT 3600 COMMAND ${gate_scripts}/cppcheck)

gate_tree(tidy CONFIGURE_ONLY)
gate_test(gate.tidy LABELS tidy IDLE TIMEOUT 3600 REQUIRES gate_tidy_tree
          COMMAND ${gate_scripts}/tidy)

gate_tree(tsan COST 1000)
gate_tree(asan COST 900)
gate_test(gate.asan LABELS asan FOREGROUND COST 800 TIMEOUT 3600 REQUIRES gate_asan_tree
          COMMAND ${gate_scripts}/sanitizers asan)
gate_test(gate.tsan LABELS tsan FOREGROUND COST 700 TIMEOUT 3600 REQUIRES gate_tsan_tree
          COMMAND ${gate_scripts}/sanitizers tsan)

# One test per fuzz target (<folder>/<name>_fuzz.cpp), in the asan tree.
set(TOVRIN_FUZZ_SECONDS 60 CACHE STRING "How long each fuzz target runs in its gate")
file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/*_fuzz.cpp)
foreach(src ${fuzz_sources})
  get_filename_component(target ${src} NAME_WE)
  math(EXPR fuzz_timeout "${TOVRIN_FUZZ_SECONDS} * 4 + 600")
  gate_test(gate.fuzz.${target} LABELS fuzz IDLE COST 500 TIMEOUT ${fuzz_timeout}
            REQUIRES gate_asan_tree COMMAND ${gate_scripts}/fuzz ${target})
  set_property(TEST gate.fuzz.${target} APPEND PROPERTY ENVIRONMENT
               TOVRIN_FUZZ_SECONDS=${TOVRIN_FUZZ_SECONDS})
endforeach()

gate_tree(default COST 600)
gate_test(gate.valgrind LABELS valgrind FOREGROUND COST 100 TIMEOUT 3600
          REQUIRES gate_default_tree COMMAND ${gate_scripts}/valgrind)
