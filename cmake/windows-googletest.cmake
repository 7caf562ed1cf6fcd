# GoogleTest for the Windows test programs: the toolchain has none, so it is
# built here from Debian's googletest source package (/usr/src/googletest),
# the same version the Linux build links.
set(TAVRIN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source folder")
if(NOT EXISTS ${TAVRIN_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest source in ${TAVRIN_GOOGLETEST_SOURCE}: install the Debian "
                      "package googletest (or set TAVRIN_GOOGLETEST_SOURCE).")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# Windows threads: GoogleTest would otherwise mix them with winpthreads.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
# Not the project's code: its warnings are not ours to make errors.
get_directory_property(_tavrin_options COMPILE_OPTIONS)
list(REMOVE_ITEM _tavrin_options -Werror)
get_directory_property(_tavrin_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_tavrin_options}")
add_subdirectory(${TAVRIN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_tavrin_saved_options}")
add_library(GTest::gtest ALIAS gtest)
add_library(GTest::gtest_main ALIAS gtest_main)
