# The Windows build (cross-compiled with cmake/mingw-w64-x86_64.cmake against
# the toolchain of scripts/windows-toolchain), included by cmake/platform.cmake:
# hidapi's Windows backend, the folders that make Windows programs, zlib.

find_package(hidapi 0.13 REQUIRED)

# hidapi's own target names the folder of hidapi.h; the sources include
# <hidapi/hidapi.h>, one folder up. That folder also holds Qt's headers,
# which must stay system headers (they warn under MinGW otherwise).
get_target_property(_tavrin_hidapi_include hidapi::include INTERFACE_INCLUDE_DIRECTORIES)
get_filename_component(_tavrin_hidapi_parent "${_tavrin_hidapi_include}" DIRECTORY)
add_library(hidapi_headers INTERFACE)
target_include_directories(hidapi_headers SYSTEM INTERFACE ${_tavrin_hidapi_parent})

# The system's hidapi as the shipping programs link it. Before 0.14 it has
# no report descriptor call; the engine's Windows route asks the system for
# the report length instead and falls back to the call, which such a
# library then declines (as the simulated accessory can).
add_library(tavrin_hidapi INTERFACE)
target_link_libraries(tavrin_hidapi INTERFACE hidapi::hidapi)
if(hidapi_VERSION VERSION_LESS 0.14)
  target_sources(tavrin_hidapi INTERFACE
                 ${CMAKE_CURRENT_LIST_DIR}/../platform/hidapi_declines_descriptor_call_windows.cpp)
endif()

# The system libraries of platform/'s libraries. winmm: the timer period
# where no high-resolution timer exists; hid: the system's HID parser (the
# report length); psapi and shell32: the benchmarks' process counters and
# command line.
set(TAVRIN_PLATFORM_LIBRARIES_base winmm)
set(TAVRIN_PLATFORM_LIBRARIES_hid hid)
set(TAVRIN_PLATFORM_LIBRARIES_bench psapi shell32)

# Every section starts on a page in the file as in memory (MinGW's default is
# 512 bytes): Wine maps such a program's file page by page as it is read,
# but reads a section that does not start on a page boundary whole into
# memory, the 4 MiB resource bundle among them. The files grow by a few KiB.
add_link_options(-Wl,--file-alignment,4096)

# MinGW's zlib linked in, rather than one more DLL beside the programs.
set(ZLIB_USE_STATIC_LIBS ON)

# uhid/ is the Linux kernel's.
set(TAVRIN_SUBDIRECTORIES simaccessory demo installator app cli bench)
# The test folders whose programs run on Windows (under Wine here).
set(TAVRIN_TEST_FOLDERS support dfufile hiddescriptor engine simaccessory app cli windows)

# Programs the build and ctest run go through Wine in a prefix of the build
# folder's own (never the user's ~/.wine), by way of cmake/wine-test.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(TAVRIN_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "Wine prefix of this build's programs")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-test ${TAVRIN_WINE_PREFIX}
                                    ${TAVRIN_WINDOWS_TOOLCHAIN})
endif()

# tavrin_windows_program(<target> WINDOW|CONSOLE <description>): the
# product's icon, version information and application manifest as Windows
# resources; WINDOW makes a program of the Windows subsystem (no console
# window of its own). A target named *-demo says so in its description, so
# that Explorer and Task Manager tell the demo twin from the real program.
function(tavrin_windows_program target subsystem description)
  get_property(TAVRIN_RC_ICON GLOBAL PROPERTY TAVRIN_WINDOW_ICON)
  set(TAVRIN_RC_NAME ${target})
  if(target MATCHES "-demo$")
    string(APPEND description " (demo, simulated accessory)")
  endif()
  set(TAVRIN_RC_DESCRIPTION "${description}")
  set(TAVRIN_RC_MANIFEST ${CMAKE_SOURCE_DIR}/cmake/windows-program.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows-program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
                              "${TAVRIN_RC_ICON};${TAVRIN_RC_MANIFEST}")
  if(subsystem STREQUAL "WINDOW")
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  # The icon file is made with the resource bundle.
  add_dependencies(${target} installator_resources_build)
endfunction()
