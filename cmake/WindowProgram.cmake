# Decides CORVANE_WITH_GUI from CORVANE_BUILD_GUI and says what it decided, so that a build
# without the window is never a surprise found only after the build.
string(TOUPPER "${CORVANE_BUILD_GUI}" corvane_gui_request)
if(corvane_gui_request STREQUAL "AUTO")
  find_package(Qt6 QUIET COMPONENTS Widgets Network)
  if(Qt6_FOUND)
    set(CORVANE_WITH_GUI ON)
    message(STATUS "Qt ${Qt6_VERSION} found: building the window program corvane")
  else()
    set(CORVANE_WITH_GUI OFF)
    message(WARNING "Qt 6 (Widgets, Network) not found: building corvane-cli and cnc-sim only, "
                    "without the window program corvane. Install qt6-base-dev "
                    "(scripts/install-deps.sh) and configure again to build it.")
  endif()
elseif(corvane_gui_request)
  set(CORVANE_WITH_GUI ON)
  message(STATUS "Building the window program corvane (CORVANE_BUILD_GUI=${CORVANE_BUILD_GUI})")
else()
  set(CORVANE_WITH_GUI OFF)
  message(STATUS "Not building the window program corvane (CORVANE_BUILD_GUI=${CORVANE_BUILD_GUI})")
endif()
