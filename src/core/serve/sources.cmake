set(CORVANE_SERVE_SOURCES
  JournalRecord.cpp
  EventSink.cpp
  ProgramScan.cpp
  ReceiveVerdict.cpp
  Library.cpp
  InboxStore.cpp
  Journal.cpp
  JournalChain.cpp
  WatchedLine.cpp
  ServiceHost.cpp
  LineService.cpp
  LineFile.cpp
)
list(TRANSFORM CORVANE_SERVE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
