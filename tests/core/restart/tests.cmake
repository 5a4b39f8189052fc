# The restart: reading blocks, the modal tracker and the planner over tables of programs.
corvane_add_test(restart_tests
  ${CMAKE_CURRENT_LIST_DIR}/RestartPlaceTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RestartPlannerTest.cpp
)
