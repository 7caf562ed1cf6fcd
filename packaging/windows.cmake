# The Windows programs as they are handed out: `cmake --install build-windows
# --prefix FOLDER` lays out one folder that runs as it is, on any Windows
# machine and under Wine: the wizard and the command-line flasher tavrin-dfu,
# each with its demo twin, and the files the wizard reads beside them
# (Resources/, productLogo.png, tavrinFirmware.dfu), and everything they load
# at run time, there being no windeployqt: the Qt, hidapi and MinGW runtime
# DLLs, Qt's platform and SVG plugins, the QML modules the wizard imports, and
# a qt.conf that points Qt at the plugins and modules beside it.
#
# The demo twins are the component "demo"; everything else is "program", the
# folder that the setup and the portable .zip hand out (target windows-package).
# The benchmarks are the component "bench", a folder apart (below).

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME program)

set(_firmware_file tavrinFirmware.dfu)
get_property(_runtime_sources GLOBAL PROPERTY TAVRIN_RUNTIME_SOURCES)
get_property(_product_logo GLOBAL PROPERTY TAVRIN_PRODUCT_LOGO)

install(TARGETS tavrin-installator tavrin-dfu RUNTIME DESTINATION .)
install(TARGETS tavrin-installator-demo tavrin-dfu-demo RUNTIME DESTINATION . COMPONENT demo)
install(FILES ${_runtime_sources} DESTINATION Resources)
install(FILES ${_product_logo} $<TARGET_FILE_DIR:tavrin-installator>/${_firmware_file}
        DESTINATION .)

set(_qt ${TAVRIN_WINDOWS_TOOLCHAIN})
set(_qt_dlls Qt5Core Qt5Gui Qt5Network Qt5Qml Qt5QmlModels Qt5QmlWorkerScript Qt5Quick Qt5Svg)
list(TRANSFORM _qt_dlls PREPEND ${_qt}/bin/)
list(TRANSFORM _qt_dlls APPEND .dll)
# The MinGW runtime: the compiler's own folder (posix threads) and the
# target's library folder.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(TAVRIN_WINPTHREAD_DLL libwinpthread-1.dll
          PATHS /usr/${TAVRIN_MINGW_TRIPLE}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
foreach(_dll ${_libstdcxx} ${_libgcc} ${TAVRIN_WINPTHREAD_DLL})
  if(NOT IS_ABSOLUTE ${_dll} OR NOT EXISTS ${_dll})
    message(FATAL_ERROR "MinGW runtime DLL not found: ${_dll}")
  endif()
endforeach()
get_filename_component(_libstdcxx_name ${_libstdcxx} NAME)

# _tavrin_install_windows_runtime([COMPONENT <name>] [EXCLUDE_FROM_ALL]):
# everything a folder's programs load at run time, into the folder's root.
function(_tavrin_install_windows_runtime)
  install(FILES ${_qt_dlls} ${_qt}/bin/libhidapi.dll ${_libstdcxx} ${_libgcc}
                ${TAVRIN_WINPTHREAD_DLL}
          DESTINATION . ${ARGN})
  # Debian's C++ runtime DLL carries its debugging information (some 20 MB).
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_libstdcxx_name}\")" ${ARGN})
  install(FILES ${_qt}/plugins/platforms/qwindows.dll DESTINATION plugins/platforms ${ARGN})
  install(FILES ${_qt}/plugins/imageformats/qsvg.dll DESTINATION plugins/imageformats ${ARGN})
  # The modules main.qml and its pages import, with those they import in turn.
  foreach(_module QtQml QtQuick.2 QtQuick/Window.2 QtQuick/Layouts QtQuick/Controls
                  QtGraphicalEffects)
    get_filename_component(_parent ${_module} DIRECTORY)
    install(DIRECTORY ${_qt}/qml/${_module} DESTINATION qml/${_parent} ${ARGN}
            PATTERN "*.qmltypes" EXCLUDE PATTERN "StateMachine" EXCLUDE)
  endforeach()
  install(FILES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/qt.conf DESTINATION . ${ARGN})
endfunction()
_tavrin_install_windows_runtime()

# The benchmarks as a folder of their own to copy to a Windows machine and
# run there by hand (docs/performance.md): `cmake --install BUILD --component
# bench --prefix FOLDER`. The wizard under measure reads its files beside it
# like the wizard, its 512 KiB firmware among them, so the folder cannot be
# the program's; an install without a component leaves it out.
if(TARGET bench_wizard)
  set(_bench COMPONENT bench EXCLUDE_FROM_ALL)
  install(TARGETS bench_engine bench_launch bench_bare_window bench_wizard
          RUNTIME DESTINATION . ${_bench})
  install(FILES ${_runtime_sources} DESTINATION Resources ${_bench})
  install(FILES ${_product_logo} $<TARGET_FILE_DIR:bench_wizard>/${_firmware_file}
          DESTINATION . ${_bench})
  _tavrin_install_windows_runtime(${_bench})
endif()

# The licences of the parts the folder holds, as the build machine's Debian
# packages carry them for the same code (NOTICE.txt says which is which).
set(_licenses
  "${CMAKE_CURRENT_LIST_DIR}/licenses/NOTICE.txt|NOTICE.txt"
  "/usr/share/common-licenses/LGPL-3|LGPL-3.txt"
  "/usr/share/common-licenses/GPL-3|GPL-3.txt"
  "/usr/share/common-licenses/Apache-2.0|Apache-2.0.txt"
  "/usr/share/doc/zlib1g/copyright|zlib.txt"
  "/usr/share/doc/libhidapi-dev/copyright|hidapi.txt"
  "/usr/share/doc/fonts-roboto-unhinted/copyright|roboto.txt"
  "/usr/share/doc/gcc-mingw-w64-base/copyright|gcc-runtime.txt"
  "/usr/share/doc/mingw-w64-common/copyright|mingw-w64.txt")
foreach(_license ${_licenses})
  string(REPLACE "|" ";" _parts "${_license}")
  list(GET _parts 0 _from)
  list(GET _parts 1 _to)
  if(NOT EXISTS ${_from})
    message(FATAL_ERROR "Licence text not found: ${_from} (its Debian package is missing)")
  endif()
  install(FILES ${_from} DESTINATION licenses RENAME ${_to})
endforeach()

# --- The setup and the portable .zip -----------------------------------------
find_program(TAVRIN_MAKENSIS makensis)
set(_stage ${CMAKE_BINARY_DIR}/package/stage)
set(_name_suffix "")
if(NOT TAVRIN_FIRMWARE)
  # A setup built without a release firmware must not pass for one.
  set(_name_suffix " (test firmware)")
endif()
get_property(_icon GLOBAL PROPERTY TAVRIN_WINDOW_ICON)
# The setup's welcome and finish pages show the product (164 x 314, the size
# those pages have; BMP, the only format they take).
find_program(TAVRIN_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TAVRIN_IM_CONVERT NAMES convert-im6.q16 convert REQUIRED)
set(_finish_art ${CMAKE_BINARY_DIR}/package/finish-art.bmp)
set(_finish_art_source ${CMAKE_SOURCE_DIR}/installator/art/device-face.svg)
add_custom_command(OUTPUT ${_finish_art}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
  COMMAND ${TAVRIN_RSVG_CONVERT} --width=136 --format=png
          --output=${CMAKE_BINARY_DIR}/package/finish-art.png ${_finish_art_source}
  COMMAND ${TAVRIN_IM_CONVERT} -size 164x314 xc:#222024
          ${CMAKE_BINARY_DIR}/package/finish-art.png -gravity center -composite
          -type TrueColor BMP3:${_finish_art}
  DEPENDS ${_finish_art_source}
  COMMENT "Rendering the setup's page art"
  VERBATIM)
add_custom_target(windows-package-art DEPENDS ${_finish_art})
add_custom_target(windows-package
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage}
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${_stage} --component program
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${_stage} -DOUT=${CMAKE_BINARY_DIR}/package
          -DVERSION=${PROJECT_VERSION} -DMAKENSIS=${TAVRIN_MAKENSIS}
          -DNSI=${CMAKE_CURRENT_LIST_DIR}/windows-setup.nsi -DICON=${_icon} "-DNAME_SUFFIX=${_name_suffix}"
          -DFINISH_ART=${_finish_art}
          -P ${CMAKE_CURRENT_LIST_DIR}/windows-package.cmake
  COMMENT "Building the Windows setup and the portable zip"
  VERBATIM)
add_dependencies(windows-package tavrin-installator tavrin-dfu windows-package-art)
