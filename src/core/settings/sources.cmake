set(CORVANE_SETTINGS_SOURCES
  ProfileStore.cpp
  MachineDef.cpp
  AppConfig.cpp
  ProductStrings.cpp
)
list(TRANSFORM CORVANE_SETTINGS_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
