# The one place that says which operating system the build is for. Every
# source that depends on it is platform/<service>_<suffix>.cpp (and, for the
# tests' own helpers, tests/.../<name>_<suffix>.cpp); a folder names the
# service, tavrin_platform_sources picks the file.
#
# TAVRIN_PLATFORM: the system; TAVRIN_PLATFORM_SUFFIXES: the file suffixes
# that serve it, most particular first (Linux takes a _linux file where
# there is one, else the _posix one). cmake/<TAVRIN_PLATFORM>.cmake sets up
# what the system links (hidapi) and which folders it builds.
#
# A port adds its line here, its cmake/<system>.cmake and its files.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(TAVRIN_PLATFORM linux)
  set(TAVRIN_PLATFORM_SUFFIXES linux posix)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(TAVRIN_PLATFORM windows)
  set(TAVRIN_PLATFORM_SUFFIXES windows)
else()
  message(FATAL_ERROR
    "TAVRIN does not build for ${CMAKE_SYSTEM_NAME}: cmake/platform.cmake knows Linux and "
    "Windows. A port adds its line there and one file per service in platform/ "
    "(docs/porting.md).")
endif()

# tavrin_platform_sources(<target> <name>... [OPTIONAL <name>...]): adds to
# target, for each name (a path without the suffix, relative to the calling
# folder), the first of <name>_<suffix>.cpp that exists for this platform. A
# name that has none stops the configuration, naming the file that is
# missing; one after OPTIONAL is a helper only some platforms have.
function(tavrin_platform_sources target)
  set(optional FALSE)
  foreach(name ${ARGN})
    if(name STREQUAL "OPTIONAL")
      set(optional TRUE)
      continue()
    endif()
    set(found "")
    foreach(suffix ${TAVRIN_PLATFORM_SUFFIXES})
      if(NOT found AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${suffix}.cpp)
        set(found ${name}_${suffix}.cpp)
      endif()
    endforeach()
    if(found)
      target_sources(${target} PRIVATE ${found})
    elseif(NOT optional)
      list(GET TAVRIN_PLATFORM_SUFFIXES 0 wanted)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${name}_${wanted}.cpp is missing: "
                          "${name} has no source for ${TAVRIN_PLATFORM}")
    endif()
  endforeach()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/${TAVRIN_PLATFORM}.cmake)
