set(CORVANE_SUPPORT_SOURCES
  Clock.cpp
  IniFile.cpp
  Profile.cpp
  PathParts.cpp
  ArgumentTokens.cpp
  StringTable.cpp
  JsonLine.cpp
  Digest.cpp
  ProgramDiff.cpp
  HostPort.cpp
  NameLookup.cpp
  TimeText.cpp
)
list(TRANSFORM CORVANE_SUPPORT_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
