# The desktop tier: the real corvane on a private X server (Xvfb) with a window manager
# (openbox), driven with xdotool and looked at with ImageMagick's import. The programs come
# from scripts/install-deps.sh; a missing one fails the tier with its name rather than
# skipping it. Screenshots go to build/<preset>/screenshots/desktop-*.png for review.
if(TARGET corvane)
  set(corvane_desktop_tools XVFB:Xvfb OPENBOX:openbox XDOTOOL:xdotool IMPORT:import XPROP:xprop)
  add_executable(desktop_tests ${CMAKE_CURRENT_LIST_DIR}/DesktopTest.cpp)
  target_link_libraries(desktop_tests PRIVATE corvane_warnings GTest::gtest GTest::gtest_main)
  target_include_directories(desktop_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  foreach(tool ${corvane_desktop_tools})
    string(REPLACE ":" ";" pair ${tool})
    list(GET pair 0 key)
    list(GET pair 1 program)
    find_program(CORVANE_${key}_PROGRAM ${program})
    if(NOT CORVANE_${key}_PROGRAM)
      message(STATUS "${program} not found: the desktop tests will fail (scripts/install-deps.sh)")
      set(CORVANE_${key}_PROGRAM ${program})
    endif()
    target_compile_definitions(desktop_tests PRIVATE ${key}_PATH="${CORVANE_${key}_PROGRAM}")
  endforeach()
  target_compile_definitions(desktop_tests PRIVATE
    CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
    CORVANE_PATH="$<TARGET_FILE:corvane>"
    CORVANE_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  add_dependencies(desktop_tests cnc-sim corvane)
  gtest_discover_tests(desktop_tests DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 150 LABELS desktop)
endif()
