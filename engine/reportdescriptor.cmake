# The report descriptor parser as a library of its own, so that tools and
# tests that only need feature report lengths do not pull in the engine and Qt.
# Included from engine/CMakeLists.txt (which links it into `engine`) and from
# the tests that use it; the guard makes a second include harmless.
if(NOT TARGET hiddescriptor)
  add_library(hiddescriptor STATIC ${CMAKE_CURRENT_LIST_DIR}/reportdescriptor.cpp)
  target_include_directories(hiddescriptor PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
