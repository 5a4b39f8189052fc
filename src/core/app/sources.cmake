set(CORVANE_APP_SOURCES
  StartupOptions.cpp
  ConfigLocation.cpp
  DroppedFiles.cpp
  HelpLocation.cpp
  HandOverRecord.cpp
  LinkFolder.cpp
)
list(TRANSFORM CORVANE_APP_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
