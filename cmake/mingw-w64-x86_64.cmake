# Cross-compiles for 64-bit Windows with Debian's MinGW-w64, against the Qt
# and hidapi that scripts/windows-toolchain builds:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The toolchain folder comes from -DTAVRIN_WINDOWS_TOOLCHAIN=..., else from the
# environment variable of the same name, else from the script's default.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVRIN_MINGW_TRIPLE x86_64-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/windows-toolchain.cmake)
set(TAVRIN_WINDOWS_TOOLCHAIN "${TAVRIN_WINDOWS_DEFAULT_TOOLCHAIN}" CACHE PATH
  "Folder of the cross-built Qt and hidapi (scripts/windows-toolchain)")
# try_compile projects read this file again in a fresh cache; without this
# they would fall back to the default folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVRIN_WINDOWS_TOOLCHAIN)

# The posix-thread compilers: the win32-thread ones have no std::thread or
# std::mutex, and Qt was built with the posix ones (same libstdc++ DLL).
find_program(TAVRIN_MINGW_CC NAMES ${TAVRIN_MINGW_TRIPLE}-gcc-posix ${TAVRIN_MINGW_TRIPLE}-gcc)
find_program(TAVRIN_MINGW_CXX NAMES ${TAVRIN_MINGW_TRIPLE}-g++-posix ${TAVRIN_MINGW_TRIPLE}-g++)
if(NOT TAVRIN_MINGW_CC OR NOT TAVRIN_MINGW_CXX)
  message(FATAL_ERROR "No ${TAVRIN_MINGW_TRIPLE} compiler found: run scripts/windows-toolchain "
    "(or install g++-mingw-w64-x86-64-posix).")
endif()
set(CMAKE_C_COMPILER "${TAVRIN_MINGW_CC}")
set(CMAKE_CXX_COMPILER "${TAVRIN_MINGW_CXX}")

# CMake guesses the binutils from the compiler's name, and the "-posix"
# suffix defeats the guess; the host's would not read Windows objects.
find_program(CMAKE_RC_COMPILER ${TAVRIN_MINGW_TRIPLE}-windres)
find_program(CMAKE_AR ${TAVRIN_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB ${TAVRIN_MINGW_TRIPLE}-ranlib)
find_program(CMAKE_NM ${TAVRIN_MINGW_TRIPLE}-nm)
find_program(CMAKE_OBJCOPY ${TAVRIN_MINGW_TRIPLE}-objcopy)
find_program(CMAKE_OBJDUMP ${TAVRIN_MINGW_TRIPLE}-objdump)
find_program(CMAKE_STRIP ${TAVRIN_MINGW_TRIPLE}-strip)
find_program(CMAKE_DLLTOOL ${TAVRIN_MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH "${TAVRIN_WINDOWS_TOOLCHAIN}" "/usr/${TAVRIN_MINGW_TRIPLE}")
# Programs (Qt's moc, rcc, qmlcachegen...) are the host's; libraries,
# headers and packages only the Windows ones.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_PREFIX_PATH "${TAVRIN_WINDOWS_TOOLCHAIN}")

# pkg-config would otherwise answer with the host's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${TAVRIN_WINDOWS_TOOLCHAIN}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Programs the build runs (tests through ctest, generators) run through Wine;
# the wrapper finds the Qt, hidapi and MinGW runtime DLLs for them.
find_program(TAVRIN_WINE NAMES wine wine64)
if(TAVRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run" "${TAVRIN_WINDOWS_TOOLCHAIN}")
endif()
