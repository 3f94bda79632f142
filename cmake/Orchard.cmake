# Helpers shared by every subsystem's CMakeLists.txt.

# Output all Windows binaries into one folder, as they are installed together.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# orchard_target_defaults(target): warnings and the project's include root.
function(orchard_target_defaults target)
  target_compile_options(${target} PRIVATE ${ORCHARD_WARNINGS})
  target_include_directories(${target} PUBLIC ${ORCHARD_ROOT})
endfunction()

# orchard_add_test(name SOURCES a.cpp ... [LIBS x y] [TIMEOUT s] [LABELS l])
# A GoogleTest program registered with CTest. In the Windows build CTest runs
# it through Wine (CMAKE_CROSSCOMPILING_EMULATOR), in the bin folder so that
# the DLLs beside it are found.
function(orchard_add_test name)
  if(ORCHARD_FUZZ)
    return()  # the fuzz build holds the fuzz targets only; build/host runs the tests
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  orchard_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(labels ${T_LABELS})
  if(ORCHARD_WINDOWS)
    list(APPEND labels wine)
  else()
    list(APPEND labels host)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${labels}")
endfunction()

# orchard_add_py_test(name script.py [ARGS ...] [TIMEOUT s])
# An end-to-end test: a Python program that drives the real Windows binaries
# under Wine from outside, with doubles for the servers around them.
function(orchard_add_py_test name script)
  cmake_parse_arguments(T "" "TIMEOUT" "ARGS" ${ARGN})
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_test(NAME ${name}
           COMMAND ${Python3_EXECUTABLE} ${script} --bin ${CMAKE_BINARY_DIR}/bin --wine ${ORCHARD_WINE} ${T_ARGS}
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 180)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "e2e;wine"
                       ENVIRONMENT "PYTHONPATH=${ORCHARD_ROOT}/tests/lib;PYTHONDONTWRITEBYTECODE=1")
endfunction()

# orchard_add_fuzzer(name SOURCES a.cpp ... [LIBS x y] [DICT file.dict] [MAX_LEN bytes])
# A libFuzzer target fuzz_<name>, built in the fuzz build only (clang, with
# AddressSanitizer and UBSan). CTest runs it for ORCHARD_FUZZ_SECONDS over its
# seeds in fuzzers/corpus/<name>/, with the dictionary fuzzers/dict/<DICT>
# (default <name>.dict) if there is one. MAX_LEN raises libFuzzer's input
# limit (4096 bytes, or the largest seed) for a parser whose limits lie beyond it.
set(ORCHARD_FUZZ_SECONDS 20 CACHE STRING "Seconds CTest runs each fuzz target")
function(orchard_add_fuzzer name)
  if(NOT ORCHARD_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "DICT;MAX_LEN" "SOURCES;LIBS" ${ARGN})
  set(target fuzz_${name})
  add_executable(${target} ${F_SOURCES})
  orchard_target_defaults(${target})
  target_link_libraries(${target} PRIVATE ${F_LIBS})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  add_dependencies(orchard_fuzzers ${target})
  set(seeds ${ORCHARD_ROOT}/fuzzers/corpus/${name})
  if(NOT IS_DIRECTORY ${seeds})
    message(FATAL_ERROR "fuzz target ${name} has no seed folder ${seeds}")
  endif()
  if(NOT F_DICT)
    set(F_DICT ${name}.dict)
  endif()
  set(dict ${ORCHARD_ROOT}/fuzzers/dict/${F_DICT})
  if(NOT EXISTS ${dict})
    set(dict "")
  endif()
  set(options "")
  if(F_MAX_LEN)
    set(options -- -max_len=${F_MAX_LEN})
  endif()
  add_test(NAME ${target}
           COMMAND bash ${ORCHARD_ROOT}/fuzzers/run_fuzzer.sh $<TARGET_FILE:${target}> ${ORCHARD_FUZZ_SECONDS}
                   ${seeds} ${CMAKE_BINARY_DIR}/fuzz-work/${name} ${dict} ${options})
  math(EXPR limit "${ORCHARD_FUZZ_SECONDS} * 3 + 60")
  set_tests_properties(${target} PROPERTIES TIMEOUT ${limit} LABELS "fuzz;host")
endfunction()

# orchard_add_host_py_test(name script.py)
# A Python check of a test double or its codec, run natively once, in the
# host build (no Wine).
function(orchard_add_host_py_test name script)
  if(ORCHARD_WINDOWS OR ORCHARD_FUZZ)
    return()
  endif()
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${script} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT 60 LABELS "host;python" ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1")
endfunction()
