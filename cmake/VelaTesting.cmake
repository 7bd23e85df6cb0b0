# Test helpers shared by every tests/<area>/CMakeLists.txt.
find_package(GTest REQUIRED)
include(GoogleTest)

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
  set_tests_properties(${name} PROPERTIES LABELS gui TIMEOUT 600 RESOURCE_LOCK x_display
    ENVIRONMENT "QT_LOGGING_RULES=qt.webenginecontext.info=false")
endfunction()
