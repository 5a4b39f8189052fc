set(CORVANE_GUI_APP_SOURCES
  StatusParts.cpp
  StatusParts.h
  AppState.h
  Application.cpp
  Application.h
  CommandIds.h
  DialogFileQuestions.cpp
  FileQuestions.h
  FrameWindow.cpp
  FrameWindow.h
  GuiTransferHost.cpp
  GuiTransferHost.h
  ToolIcons.cpp
  ToolIcons.h
)
list(TRANSFORM CORVANE_GUI_APP_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
