# The Linux build, included by cmake/platform.cmake: the system's hidapi
# (hidraw backend) and the folders that make Linux programs.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIDAPI_HIDRAW REQUIRED IMPORTED_TARGET hidapi-hidraw>=0.13)
add_library(hidapi_headers INTERFACE)
target_include_directories(hidapi_headers INTERFACE ${HIDAPI_HIDRAW_INCLUDE_DIRS})
add_library(tavrin_hidapi INTERFACE)
target_link_libraries(tavrin_hidapi INTERFACE PkgConfig::HIDAPI_HIDRAW)
set(TAVRIN_SUBDIRECTORIES simaccessory usbgadget uhid demo installator app cli bench)

# The system libraries of platform/'s libraries: the session inhibitor asks
# logind over D-Bus.
find_package(Qt5 REQUIRED COMPONENTS DBus)
set(TAVRIN_PLATFORM_LIBRARIES_session Qt5::DBus)
