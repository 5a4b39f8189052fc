set(CORVANE_RESTART_SOURCES
  NcBlock.cpp
  ModalTracker.cpp
  RestartPlace.cpp
  RestartPlanner.cpp
)
list(TRANSFORM CORVANE_RESTART_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
