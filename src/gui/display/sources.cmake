set(CORVANE_GUI_DISPLAY_SOURCES
  ColourRef.h
  BoldJapaneseFace.cpp
  BoldJapaneseFace.h
  FixedFont.cpp
  FixedFont.h
  HostText.cpp
  HostText.h
  LogPane.cpp
  LogPane.h
)
list(TRANSFORM CORVANE_GUI_DISPLAY_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
