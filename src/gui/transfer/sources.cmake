set(CORVANE_GUI_TRANSFER_SOURCES
  FileSelection.h
  FileSelection.cpp
  SendListDialog.h
  SendListDialog.cpp
  RestartDialog.h
  RestartDialog.cpp
)
list(TRANSFORM CORVANE_GUI_TRANSFER_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
