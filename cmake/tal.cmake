# Project-wide compiler settings and the helpers every folder uses.

# Messages of the system are stored in Windows-1250: narrow literals are
# compiled to that code page, the sources stay UTF-8. A compiler without that
# code page (clang) compiles copies whose narrow literals cmake/cp1250lit.cpp
# has rewritten as Windows-1250 escapes, through cmake/cp1250-launch.sh.
include(CheckCXXCompilerFlag)
check_cxx_compiler_flag(-fexec-charset=CP1250 TAL_HAS_EXEC_CHARSET)
set(TAL_COMMON_FLAGS -Wall -Wextra -finput-charset=UTF-8)
set(TAL_LAUNCHER)
if(TAL_HAS_EXEC_CHARSET)
  list(APPEND TAL_COMMON_FLAGS -fexec-charset=CP1250)
else()
  set(TAL_CP1250LIT ${CMAKE_BINARY_DIR}/cp1250lit)
  set(lit_src ${PROJECT_SOURCE_DIR}/cmake/cp1250lit.cpp)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${lit_src})
  if(NOT EXISTS ${TAL_CP1250LIT} OR ${lit_src} IS_NEWER_THAN ${TAL_CP1250LIT})
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -O2 ${lit_src} -o ${TAL_CP1250LIT}
                    RESULT_VARIABLE rc)
    if(rc)
      message(FATAL_ERROR "cannot build cmake/cp1250lit.cpp")
    endif()
  endif()
  set(TAL_LAUNCHER ${PROJECT_SOURCE_DIR}/cmake/cp1250-launch.sh ${TAL_CP1250LIT}
      ${CMAKE_BINARY_DIR}/cp1250 ${PROJECT_SOURCE_DIR})
endif()
if(TAL_WERROR)
  list(APPEND TAL_COMMON_FLAGS -Werror)
endif()
if(TAL_SANITIZE)
  list(APPEND TAL_COMMON_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TAL_TSAN)
  if(TAL_SANITIZE)
    message(FATAL_ERROR "TAL_TSAN and TAL_SANITIZE exclude each other")
  endif()
  list(APPEND TAL_COMMON_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
# Fuzzing: the libraries get libFuzzer's coverage hooks, so one build serves
# the unit tests and the fuzz targets. Not the arithmetic (numbers, hashes,
# ciphers, generators): its branches follow numbers, not the input's
# structure, and the hooks made its tests four times slower.
set(TAL_FUZZ_UNHOOKED tal_crypto_algebra tal_crypto_hash tal_crypto_sym tal_crypto_rbg
    tal_crypto_selftest)
if(TAL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT TAL_SANITIZE)
    message(FATAL_ERROR "TAL_FUZZ needs clang and TAL_SANITIZE=ON")
  endif()
endif()
add_compile_options(${TAL_COMMON_FLAGS})

# Rebuilds of unchanged sources come from the compiler cache when there is one.
find_program(TAL_CCACHE ccache)
if(NOT CMAKE_CXX_COMPILER_LAUNCHER)
  if(TAL_CCACHE)
    list(APPEND TAL_LAUNCHER ${TAL_CCACHE})
  endif()
  set(CMAKE_CXX_COMPILER_LAUNCHER ${TAL_LAUNCHER})
  set(CMAKE_C_COMPILER_LAUNCHER ${TAL_LAUNCHER})
elseif(TAL_LAUNCHER)
  message(FATAL_ERROR "a compiler without -fexec-charset=CP1250 needs cmake/cp1250-launch.sh "
                      "as its launcher: leave CMAKE_CXX_COMPILER_LAUNCHER unset")
endif()

set(TAL_SRC_ROOT ${PROJECT_SOURCE_DIR}/src)
set(TAL_TEST_DATA_DIR ${PROJECT_SOURCE_DIR}/tests/data)

# tal_library(<name> SOURCES ... [DEPS ...]) : one static library per folder.
function(tal_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${TAL_SRC_ROOT} ${PROJECT_SOURCE_DIR}/include)
  if(TAL_FUZZ AND NOT name IN_LIST TAL_FUZZ_UNHOOKED)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  set_property(GLOBAL APPEND PROPERTY TAL_LIBRARIES ${name})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# tal_test(<name> SOURCES ... [DEPS ...]) : one GoogleTest program, its cases
# registered with CTest when the tests run.
function(tal_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${TAL_SRC_ROOT} ${PROJECT_SOURCE_DIR}/include
                             ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE TAL_TEST_DATA_DIR="${TAL_TEST_DATA_DIR}")
  # Under the sanitizers the test programs are not optimised: their long
  # table-driven bodies cost the most compile time, and the code under test,
  # the libraries, stays optimised.
  if(TAL_SANITIZE)
    target_compile_options(${name} PRIVATE -O0)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  include(GoogleTest)
  # No test reads or writes the registry of the user running it: each program gets one of its
  # own under the build folder (tests that need an empty one make a sandbox of their own).
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
                       PROPERTIES TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "TALVORIN_REGISTRY_ROOT=${CMAKE_BINARY_DIR}/test-registry/${name}")
endfunction()

# tal_folder_library(<name> [DEPS ...]) : the folder's library from every
# .cpp file in it, so that adding a source unit needs no edit here.
function(tal_folder_library name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    tal_library(${name} SOURCES ${srcs} DEPS ${A_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${TAL_SRC_ROOT} ${PROJECT_SOURCE_DIR}/include)
    if(A_DEPS)
      target_link_libraries(${name} INTERFACE ${A_DEPS})
    endif()
  endif()
endfunction()

# tal_folder_tests(<prefix> DEPS ...) : every test_*.cpp of the folder is one
# test program named <prefix>_<file>.
function(tal_folder_tests prefix)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(src ${srcs})
    get_filename_component(stem ${src} NAME_WE)
    string(REGEX REPLACE "^test_" "" stem ${stem})
    tal_test(${prefix}_${stem} SOURCES ${src} DEPS ${A_DEPS})
  endforeach()
endfunction()
