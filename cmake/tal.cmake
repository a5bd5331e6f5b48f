# Project-wide compiler settings and the helpers every folder uses.

# Messages of the system are stored in Windows-1250: narrow literals are
# compiled to that code page, the sources stay UTF-8.
set(TAL_COMMON_FLAGS -Wall -Wextra -fexec-charset=CP1250 -finput-charset=UTF-8)
if(TAL_WERROR)
  list(APPEND TAL_COMMON_FLAGS -Werror)
endif()
if(TAL_SANITIZE)
  list(APPEND TAL_COMMON_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
add_compile_options(${TAL_COMMON_FLAGS})

# Rebuilds of unchanged sources come from the compiler cache when there is one.
find_program(TAL_CCACHE ccache)
if(TAL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${TAL_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${TAL_CCACHE})
endif()

set(TAL_SRC_ROOT ${PROJECT_SOURCE_DIR}/src)
set(TAL_TEST_DATA_DIR ${PROJECT_SOURCE_DIR}/tests/data)

# tal_library(<name> SOURCES ... [DEPS ...]) : one static library per folder.
function(tal_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${TAL_SRC_ROOT} ${PROJECT_SOURCE_DIR}/include)
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
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
                       PROPERTIES TIMEOUT ${A_TIMEOUT})
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
