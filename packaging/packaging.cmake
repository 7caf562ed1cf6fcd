# Installation and packing, included from the top-level CMakeLists.txt after
# the programs are defined: packaging/<platform>.cmake (cmake/platform.cmake's
# TAVRIN_PLATFORM), for the shipping program where the build has one.
if(NOT TARGET tavrin-installator)
  return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/${TAVRIN_PLATFORM}.cmake)
