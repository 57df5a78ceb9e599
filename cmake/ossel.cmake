# Shared build helpers.

# Strict warnings for our own targets.
function(ossel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(OSSEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Export only the C symbols that match the given glob patterns from a shared
# library; everything else (C++ internals, inline template instances) stays
# local.
function(ossel_export_only target patterns)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
  set(globals "")
  foreach(p IN LISTS patterns)
    string(APPEND globals "    ${p};\n")
  endforeach()
  file(WRITE "${script}" "{\n  global:\n${globals}  local:\n    *;\n};\n")
  target_link_options(${target} PRIVATE "-Wl,--version-script=${script}" "-Wl,--no-undefined")
  set_target_properties(${target} PROPERTIES LINK_DEPENDS "${script}")
endfunction()

# A GoogleTest executable registered with CTest.
#   ossel_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2)
function(ossel_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    OSSEL_CORPUS_DIR="${OSSEL_CORPUS_DIR}"
    OSSEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    OSSEL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  ossel_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()

# One folder, one static archive (linked whole into the shared library):
# every *.cpp and *.c of the folder except *_test.* files. The folder's
# *_test.cpp files become the test program NAME_tests.
#   ossel_folder_library(name DEPS lib... TEST_DEPS lib...)
function(ossel_folder_library name)
  cmake_parse_arguments(F "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  list(FILTER srcs EXCLUDE REGEX "_test\\.(cpp|c)$")
  if(NOT srcs)
    set(srcs "${CMAKE_SOURCE_DIR}/cmake/empty.c")
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
  target_compile_definitions(${name} PRIVATE OSSEL_BUILDING_CORE)
  target_link_libraries(${name} PUBLIC ${F_DEPS})
  ossel_warnings(${name})
  if(OSSEL_BUILD_TESTS)
    file(GLOB tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
    if(tests)
      ossel_test(${name}_tests SOURCES ${tests} LIBS ${name} ${F_TEST_DEPS})
    endif()
  endif()
endfunction()
