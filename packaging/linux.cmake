# Installation and the Debian package, included by packaging/packaging.cmake.
#
# `cmake --install` lays out the shipping program as it runs from the build
# tree, with the files it reads beside its executable, in
# <prefix>/lib/tavrin-installator/, and adds a link in <prefix>/bin, a
# desktop entry with its icon and the udev rule that lets the user at the
# seat open the accessory. The command-line flasher tavrin-dfu, its man page
# and bash completion install from cli/. `cpack -G DEB` (or the target tavrin_deb) packs
# the same tree for /usr, depending on Debian's runtime packages.


set(TAVRIN_INSTALL_PROGRAM_DIR lib/tavrin-installator)
# The firmware file's name is the text copy's "dfuUpdateUrl".
set(_firmware_file tavrinFirmware.dfu)
set(_packaging_source ${CMAKE_CURRENT_LIST_DIR})
set(_packaging_binary ${CMAKE_BINARY_DIR}/packaging)

get_property(_runtime_sources GLOBAL PROPERTY TAVRIN_RUNTIME_SOURCES)
get_property(_product_logo GLOBAL PROPERTY TAVRIN_PRODUCT_LOGO)

install(TARGETS tavrin-installator RUNTIME DESTINATION ${TAVRIN_INSTALL_PROGRAM_DIR})
install(FILES ${_runtime_sources} DESTINATION ${TAVRIN_INSTALL_PROGRAM_DIR}/Resources)
install(FILES ${_product_logo} $<TARGET_FILE_DIR:tavrin-installator>/${_firmware_file}
        DESTINATION ${TAVRIN_INSTALL_PROGRAM_DIR})

# The program finds its files through its own resolved path, so a link in
# bin is enough; a relative one keeps the tree relocatable.
install(CODE "
  set(_bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(MAKE_DIRECTORY \"\${_bin}\")
  message(STATUS \"Installing: \${_bin}/tavrin-installator\")
  file(CREATE_LINK ../${TAVRIN_INSTALL_PROGRAM_DIR}/tavrin-installator
       \"\${_bin}/tavrin-installator\" SYMBOLIC)
")

# The desktop icon: the window icon's art, rendered at the largest size of
# the icon theme's fixed sizes that desktops commonly use.
find_program(TAVRIN_RSVG_CONVERT rsvg-convert REQUIRED)
set(_icon_size 256)
set(_icon ${_packaging_binary}/tavrin-installator.png)
add_custom_command(OUTPUT ${_icon}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_packaging_binary}
  COMMAND ${TAVRIN_RSVG_CONVERT} --width=${_icon_size} --height=${_icon_size} --format=png
          --output=${_icon} ${PROJECT_SOURCE_DIR}/installator/art/icon.svg
  DEPENDS ${PROJECT_SOURCE_DIR}/installator/art/icon.svg
  COMMENT "Rendering the desktop icon"
  VERBATIM)
add_custom_target(tavrin_desktop_icon ALL DEPENDS ${_icon})

install(FILES ${_packaging_source}/tavrin-installator.desktop DESTINATION share/applications)
install(FILES ${_icon} DESTINATION share/icons/hicolor/${_icon_size}x${_icon_size}/apps)
install(FILES ${_packaging_source}/70-tavrin-accessory.rules DESTINATION lib/udev/rules.d)

# The AppStream metainfo: its release is packaging/changelog's latest entry,
# so a new version cannot ship the old one's.
set(TAVRIN_HOMEPAGE "https://tavrin-installator.example.com/" CACHE STRING
    "The project's home page, as the AppStream metainfo names it")
set(TAVRIN_SCREENSHOTS "https://tavrin-installator.example.com/docs" CACHE STRING
    "Where the README's pictures (docs/wizard-*.png) are published, for the metainfo")
file(STRINGS ${_packaging_source}/changelog _trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _trailer MATCHES "  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no date in its latest entry's trailer line")
endif()
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1" OUTPUT_FORMAT DECIMAL)
string(LENGTH "${_month}" _month_digits)
if(_month_digits EQUAL 1)
  set(_month "0${_month}")
endif()
set(TAVRIN_RELEASE_DATE "${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1}")
set(_metainfo ${_packaging_binary}/com.example.tavrin_installator.metainfo.xml)
configure_file(${_packaging_source}/tavrin-installator.metainfo.xml.in ${_metainfo} @ONLY)
install(FILES ${_metainfo} DESTINATION share/metainfo)

# What every Debian package carries under /usr/share/doc/<package>/: the
# copyright file and the package's changelog, in Debian's format (a package
# without a Debian revision is its own upstream, and its changelog.gz is the
# Debian one: packaging/changelog, an entry per version of the package), and
# the wizard's man page; compressed as policy asks (-n: no name or time
# stamp, so that the same sources give the same package).
set(_changelog ${_packaging_binary}/changelog.gz)
set(_installer_man_page ${_packaging_binary}/tavrin-installator.1.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_packaging_binary}
  COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${_packaging_source}/changelog ${_changelog}
  DEPENDS ${_packaging_source}/changelog
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_command(OUTPUT ${_installer_man_page}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_packaging_binary}
  COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${_packaging_source}/tavrin-installator.1
          ${_installer_man_page}
  DEPENDS ${_packaging_source}/tavrin-installator.1
  COMMENT "Compressing the tavrin-installator man page"
  VERBATIM)
add_custom_target(tavrin_changelog ALL DEPENDS ${_changelog} ${_installer_man_page})
install(FILES ${_packaging_source}/copyright ${_changelog}
        DESTINATION share/doc/tavrin-installator)
install(FILES ${_installer_man_page} DESTINATION share/man/man1)

# --- Debian package ---------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin-installator)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware installer for the TAVRIN USB accessory")
# Lines of at most 80 characters, as Debian's tools show them; CPack puts
# each line of the description on a line of its own.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Leads the user through a short wizard and writes the firmware to the TAVRIN"
  "accessory; tavrin-dfu does the same from the command line, for scripts and"
  "flashing stations.")
# A package built without a release firmware must not pass for one.
if(NOT TAVRIN_FIRMWARE)
  string(APPEND CPACK_PACKAGE_DESCRIPTION_SUMMARY " (with a test firmware image)")
  string(APPEND CPACK_PACKAGE_DESCRIPTION
         "\nThis build ships a generated test firmware image, not a firmware release.")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A name and an address, as Debian's tools parse the field; the same as in
# packaging/changelog.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "TAVRIN installator developers <tavrin-installator@example.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_STRIP_FILES ON)
# The libraries the program links (Qt, hidapi, the C and C++ runtimes) come
# from dpkg-shlibdeps, with their minimum versions; without it they are named
# here. The QML modules, Qt Quick under them and the SVG image plugin are
# loaded at run time, which no tool can see.
set(_runtime_packages
  libqt5quick5 qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-layouts
  qml-module-qtquick-controls qml-module-qtgraphicaleffects libqt5svg5)
find_program(TAVRIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAVRIN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  list(PREPEND _runtime_packages
    libc6 libstdc++6 libqt5core5a libqt5gui5 libqt5qml5 libhidapi-hidraw0)
endif()
string(JOIN ", " CPACK_DEBIAN_PACKAGE_DEPENDS ${_runtime_packages})
# Roboto has no Japanese or Chinese characters: the wizard draws them in the
# system's fonts, which a desktop set up for either language already has.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
# The new udev rule applies to an accessory already plugged in: rules are
# reloaded and its nodes triggered after install and after removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_packaging_source}/postinst ${_packaging_source}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Builds the package into <build>/packages.
add_custom_target(tavrin_deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
          -B ${CMAKE_BINARY_DIR}/packages
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DEPENDS tavrin-installator tavrin_desktop_icon tavrin_changelog tavrin-dfu tavrin_dfu_man
  COMMENT "Building the Debian package"
  VERBATIM)
