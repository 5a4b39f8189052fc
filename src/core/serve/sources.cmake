set(CORVANE_SERVE_SOURCES
  JournalRecord.cpp
  EventSink.cpp
  ProgramScan.cpp
  ReceiveVerdict.cpp
  CompareRequest.cpp
  ReceivedCompare.cpp
  Library.cpp
  FileSystem.cpp
  InboxStore.cpp
  InboxLock.cpp
  Journal.cpp
  WatchedLine.cpp
  ServiceHost.cpp
  LineService.cpp
  LineServiceCompare.cpp
)
list(TRANSFORM CORVANE_SERVE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
