set(CORVANE_GUI_SETTINGS_SOURCES
  MachineSheetCopy.h
  MachineSheetCopy.cpp
  MachineSheetHooks.h
  MachineSheetHooks.cpp
  MachinePropertySheet.h
  MachinePropertySheet.cpp
  ShowMachineProperty.h
  ShowMachineProperty.cpp
  PropertyDialog.h
  PropertyDialog.cpp
)
list(TRANSFORM CORVANE_GUI_SETTINGS_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
