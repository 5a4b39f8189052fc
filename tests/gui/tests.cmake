# GUI tests run offscreen (QT_QPA_PLATFORM=offscreen) and write screenshots for review.
find_package(Qt6 REQUIRED COMPONENTS Test)
function(corvane_add_gui_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE corvane_gui corvane_warnings Qt6::Test)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE CORVANE_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  add_test(NAME ${name} COMMAND ${name})
  # Each test binary gets its own runtime folder, so no window test ever talks to a Corvane
  # the user is running, nor to another test's.
  set(runtime ${CMAKE_BINARY_DIR}/runtime/${name})
  file(MAKE_DIRECTORY ${runtime})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${runtime}")
endfunction()
file(GLOB CORVANE_GUI_TEST_FRAGMENTS ${CMAKE_CURRENT_LIST_DIR}/*/tests.cmake)
foreach(fragment ${CORVANE_GUI_TEST_FRAGMENTS})
  include(${fragment})
endforeach()
