# The Windows toolchain's Qt version and folder, written here only. The
# folder is TAVRIN_WINDOWS_TOOLCHAIN from the environment, else
# tavrin/windows/qt-<version>-mingw in XDG_CACHE_HOME or ~/.cache.
# cmake/mingw-w64-x86_64.cmake includes this file; the scripts run it,
#   cmake -P cmake/windows-toolchain.cmake
# which prints "<version> <folder>".
set(TAVRIN_WINDOWS_QT_VERSION 5.15.8)

set(_tavrin_cache "$ENV{XDG_CACHE_HOME}")
if(_tavrin_cache STREQUAL "")
  set(_tavrin_cache "$ENV{HOME}/.cache")
endif()
set(TAVRIN_WINDOWS_DEFAULT_TOOLCHAIN "$ENV{TAVRIN_WINDOWS_TOOLCHAIN}")
if(TAVRIN_WINDOWS_DEFAULT_TOOLCHAIN STREQUAL "")
  set(TAVRIN_WINDOWS_DEFAULT_TOOLCHAIN
      "${_tavrin_cache}/tavrin/windows/qt-${TAVRIN_WINDOWS_QT_VERSION}-mingw")
endif()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo
                  "${TAVRIN_WINDOWS_QT_VERSION} ${TAVRIN_WINDOWS_DEFAULT_TOOLCHAIN}")
endif()
