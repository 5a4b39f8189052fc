set(CORVANE_GUI_COMMON_SOURCES
  AppState.h
  DialogServices.cpp
  DialogServices.h
  HelpViewer.cpp
  HelpViewer.h
)
list(TRANSFORM CORVANE_GUI_COMMON_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
