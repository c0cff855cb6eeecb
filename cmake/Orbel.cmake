# Build helpers shared by every folder.

set(ORBEL_COMMON_FLAGS -Wall -Wextra -ffp-contract=off -fno-fast-math)
if(ORBEL_WERROR)
  list(APPEND ORBEL_COMMON_FLAGS -Werror)
endif()

if(ORBEL_SANITIZE STREQUAL "address")
  set(ORBEL_SAN_FLAGS -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(ORBEL_SANITIZE STREQUAL "thread")
  set(ORBEL_SAN_FLAGS -fsanitize=thread)
elseif(ORBEL_SANITIZE)
  message(FATAL_ERROR "ORBEL_SANITIZE must be empty, address or thread")
endif()
if(ORBEL_FUZZ)
  list(APPEND ORBEL_SAN_FLAGS -fsanitize=fuzzer-no-link)
endif()
add_compile_options(${ORBEL_COMMON_FLAGS} ${ORBEL_SAN_FLAGS})
if(ORBEL_SANITIZE)
  # Sanitizer builds exist to run the tests: lighter optimisation and line tables only
  # keep their build time down while stack traces still name files and lines.
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
endif()
option(ORBEL_CONCURRENCY_ONLY "Test suites hold only the sources with ...Concurrency tests (plus support files)" OFF)
add_link_options(${ORBEL_SAN_FLAGS})
include_directories(${CMAKE_SOURCE_DIR})

# Debian's interpreter, which sees the python3-* packages (numpy, pydicom, PIL): the first
# python3 on a PATH may be another one without them. Every test and tool that runs Python
# gets it as ORBEL_PYTHON (a compile definition and an environment variable).
if(NOT Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Debian's Python interpreter")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(ORBEL_PYTHON ${Python3_EXECUTABLE})

# orbel_python_env(<tests>...): hands ORBEL_PYTHON to tests added with add_test.
function(orbel_python_env)
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT "ORBEL_PYTHON=${ORBEL_PYTHON}")
endfunction()

# orbel_add_library(<name> FOLDER <dir> [DEPS libs...])
# One static library per source folder, collecting every .cpp below it.
function(orbel_add_library name)
  cmake_parse_arguments(A "" "FOLDER" "DEPS" ${ARGN})
  if(NOT A_FOLDER)
    set(A_FOLDER ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${A_FOLDER}/*.cpp ${A_FOLDER}/*.c)
  file(GLOB_RECURSE hdrs CONFIGURE_DEPENDS ${A_FOLDER}/*.h)
  if(srcs)
    add_library(${name} STATIC ${srcs} ${hdrs})
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  else()
    # A folder whose sources have not landed yet still gives its dependants a target.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${A_DEPS})
  endif()
  set_property(GLOBAL APPEND PROPERTY ORBEL_LIBRARIES ${name})
endfunction()

# orbel_add_test_suite(<folder> [LIBS libs...] [DISCOVERY_FILTER filter])
# tests_<folder> from every .cpp under tests/<folder>; a main.cpp there replaces gtest_main.
# DISCOVERY_FILTER (a --gtest_filter) leaves some tests to CTest entries of their own.
function(orbel_add_test_suite folder)
  cmake_parse_arguments(A "" "DISCOVERY_FILTER" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ORBEL_CONCURRENCY_ONLY)
    set(kept "")
    foreach(src IN LISTS srcs)
      file(RELATIVE_PATH rel ${CMAKE_CURRENT_SOURCE_DIR} ${src})
      file(STRINGS ${src} hits REGEX "^TEST(_F|_P)?\\([A-Za-z0-9_]*Concurrency,")
      if(hits OR rel MATCHES "^(support|module)/" OR rel STREQUAL "main.cpp")
        list(APPEND kept ${src})
      endif()
    endforeach()
    set(srcs ${kept})
  endif()
  if(NOT srcs)
    return()
  endif()
  set(target tests_${folder})
  add_executable(${target} ${srcs})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    target_link_libraries(${target} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  else()
    target_link_libraries(${target} PRIVATE ${A_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  endif()
  target_compile_definitions(${target} PRIVATE
    ORBEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ORBEL_BINARY_DIR="${CMAKE_BINARY_DIR}"
    ORBEL_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data" ORBEL_PYTHON="${ORBEL_PYTHON}"
    ORBEL_CONFORMANCE_DIR="${CMAKE_SOURCE_DIR}/tests/data/conformance")
  if(A_DISCOVERY_FILTER)
    set(filter_args TEST_FILTER ${A_DISCOVERY_FILTER})
  endif()
  gtest_discover_tests(${target} ${filter_args}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 300
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES TIMEOUT 600 ENVIRONMENT "ORBEL_PYTHON=${ORBEL_PYTHON}")
endfunction()

# Every project library, for programs that may reach anything (fuzzers, benchmarks).
function(orbel_all_libraries out)
  get_property(libs GLOBAL PROPERTY ORBEL_LIBRARIES)
  set(${out} ${libs} PARENT_SCOPE)
endfunction()

# orbel_add_fuzz_target(<name>): fuzz/<name>.cpp defines LLVMFuzzerTestOneInput.
# Under ORBEL_FUZZ it is a libFuzzer binary; otherwise a replay program whose CTest
# test runs every file of fuzz/corpus/<name>/.
function(orbel_add_fuzz_target name)
  orbel_all_libraries(libs)
  if(ORBEL_FUZZ)
    add_executable(${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}.cpp)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}.cpp ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    add_test(NAME ${name}_replay COMMAND ${name} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(${name}_replay PROPERTIES TIMEOUT 600)
    orbel_python_env(${name}_replay)
  endif()
  target_link_libraries(${name} PRIVATE ${libs} ${libs} Threads::Threads)
endfunction()

# orbel_add_benchmark(<name>): bench/<name>.cpp, a Google Benchmark program; never a test.
function(orbel_add_benchmark name)
  find_package(benchmark REQUIRED)
  orbel_all_libraries(libs)
  add_executable(${name} ${CMAKE_SOURCE_DIR}/bench/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${libs} ${libs} benchmark::benchmark_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE ORBEL_PYTHON="${ORBEL_PYTHON}")
endfunction()
