# Test helpers shared by every tests/<area>/CMakeLists.txt.
find_package(GTest REQUIRED)
include(GoogleTest)
find_program(VELA_PYTHON3 python3)

# vela_add_engine_test(name SOURCES a.cpp b.cpp LIBS lib...)
# Engine tests need no display; they carry the label "engine" so that the
# sanitizer builds can run exactly them.
function(vela_add_engine_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Qt6::Core)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE VELA_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                             VELA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} PROPERTIES LABELS engine TIMEOUT 300 DISCOVERY_TIMEOUT 60)
endfunction()

# vela_add_gui_test(name SOURCES ... LIBS ...)
# GUI tests need an X display (scripts/test runs the suite under Xvfb). They
# share that display, so they run one at a time: a window of one test must
# not lie under the pointer or take the focus while another test clicks.
function(vela_add_gui_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Qt6::Core)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE VELA_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                             VELA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS gui TIMEOUT 600 RESOURCE_LOCK x_display)
endfunction()

# vela_add_realtime_test(name SCRIPT script.py [TIMEOUT s] ARGS ...)
# A Python script that drives the built programs (in --bin) against the radio
# simulator or Hamlib in real time. Label "realtime": the normal build only, a
# sanitizer build slows the programs far past a radio's timing. Exit code 77
# (a tool it needs is missing) counts as skipped. Nothing without python3.
function(vela_add_realtime_test name)
  cmake_parse_arguments(T "" "SCRIPT;TIMEOUT" "ARGS" ${ARGN})
  if(NOT VELA_PYTHON3)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 180)
  endif()
  add_test(NAME ${name} COMMAND ${VELA_PYTHON3} ${T_SCRIPT} --bin ${CMAKE_BINARY_DIR}/bin ${T_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS realtime TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77)
endfunction()
