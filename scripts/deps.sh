# Sourced by scripts/run and scripts/test: the Debian packages the project
# needs, in two parts, and the function that installs the missing ones.

# Building and running the programs (a virtual X server included, for
# machines without a display).
TAVRIN_RUN_PACKAGES=(
  cmake g++ make pkg-config zlib1g-dev
  qtbase5-dev qtdeclarative5-dev qml-module-qtquick2 qml-module-qtquick-window2
  qml-module-qtquick-layouts qml-module-qtquick-controls qml-module-qtgraphicaleffects
  libqt5svg5 libhidapi-dev fonts-roboto-unhinted librsvg2-bin imagemagick
  xvfb xauth libgl1-mesa-dri
)
# Building and running the tests, on top of the above.
TAVRIN_TEST_PACKAGES=(
  qml-module-qttest googletest libgtest-dev
  # The Japanese and Chinese wizard pages: Roboto has none of their characters.
  fonts-noto-cjk
  qemu-system-x86 busybox-static cpio x11-utils dpkg-dev file
  # Debian's check of the package and of its AppStream file (tst_package).
  lintian appstream
  # The sanitizer builds and the fuzzers of scripts/test: clang and its runtimes;
  # the format check.
  clang libclang-rt-dev clang-format git
  # The wizard's accessibility tree read over AT-SPI, in a D-Bus session.
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0 python3-gi dbus-daemon
  # The session inhibitor against logind's mock.
  python3-dbusmock
  # Orca reading the wizard aloud; speech-dispatcher writes what it says to a
  # file, and opens ALSA's null device through its audio plugins all the same.
  orca speech-dispatcher speech-dispatcher-audio-plugins
)

# Exit status of scripts/run and scripts/test when packages are missing and
# this user can install none (no root, no working sudo).
TAVRIN_EXIT_CANNOT_INSTALL=69

# Prints the packages among the arguments that are not installed.
tavrin_missing_packages() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$p"
    fi
  done
}

# Prints the Windows toolchain's Qt version and folder, as
# cmake/windows-toolchain.cmake sets them; nothing without CMake, which
# scripts/windows-toolchain installs before it builds one.
tavrin_windows_toolchain() {
  if command -v cmake >/dev/null; then
    cmake -P "$(dirname "${BASH_SOURCE[0]}")/../cmake/windows-toolchain.cmake"
  fi
}

# tavrin_install_deps run|test: installs what is missing of that part (test
# includes run). Nothing happens when everything is installed, so a user
# needs root (or sudo) only once.
tavrin_install_deps() {
  local packages=("${TAVRIN_RUN_PACKAGES[@]}")
  if [ "${1:-}" = test ]; then
    packages+=("${TAVRIN_TEST_PACKAGES[@]}")
  fi
  tavrin_install_packages "${packages[@]}"
}

# tavrin_install_packages PACKAGE...: installs those of them that are missing.
tavrin_install_packages() {
  local missing
  mapfile -t missing < <(tavrin_missing_packages "$@")
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  # sudo resets the environment (env_reset), so the variable goes on the
  # elevated command line itself.
  local apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
  if [ "$(id -u)" -ne 0 ]; then
    # sudo may ask for a password only where someone can type it.
    if command -v sudo >/dev/null &&
      { sudo -n true 2>/dev/null || { [ -t 0 ] && sudo -v; }; }; then
      apt=(sudo "${apt[@]}")
    else
      printf '%s\n  %s\n' "Missing Debian packages: ${missing[*]}. They cannot be installed without root (no working sudo). As root, run this line, then run scripts/$(basename "$0") again as this user:" \
        "apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
      exit "$TAVRIN_EXIT_CANNOT_INSTALL"
    fi
  fi
  echo "Installing missing packages: ${missing[*]}"
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}
