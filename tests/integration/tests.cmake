# Each integration suite adds its own test binary in its own fragment.
file(GLOB CORVANE_CORE_TEST_FRAGMENTS ${CMAKE_CURRENT_LIST_DIR}/*/tests.cmake)
foreach(fragment ${CORVANE_CORE_TEST_FRAGMENTS})
  include(${fragment})
endforeach()
