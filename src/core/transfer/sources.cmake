set(CORVANE_TRANSFER_SOURCES
  TapeCode.cpp
  SkipFilter.cpp
  Port.cpp
  LineSettings.cpp
  SerialTermios.cpp
  TestLine.cpp
  PosixSerialLine.cpp
  DeviceFileLine.cpp
  SendEngine.cpp
  SendBlock.cpp
  UserCode.cpp
  TransferWait.cpp
  ReceiveEngine.cpp
  FileChoice.cpp
  SerialPortList.cpp
)
list(TRANSFORM CORVANE_TRANSFER_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
