# Sourced by scripts/test and scripts/run: installs the Debian packages the
# project needs when any of them is missing (non-interactive; needs root).
TAVRIN_PACKAGES=(
  cmake g++ make pkg-config zlib1g-dev
  qtbase5-dev qtdeclarative5-dev qml-module-qtquick2 qml-module-qtquick-window2
  qml-module-qtquick-layouts qml-module-qtquick-controls qml-module-qtgraphicaleffects
  qml-module-qttest libqt5svg5 libhidapi-dev fonts-roboto-unhinted
  xvfb xauth libgl1-mesa-dri librsvg2-bin imagemagick googletest libgtest-dev
  qemu-system-x86 busybox-static cpio x11-utils dpkg-dev file
  # The wizard's accessibility tree read over AT-SPI, in a D-Bus session.
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0 python3-gi dbus-daemon
)

tavrin_install_deps() {
  local missing=()
  local p
  for p in "${TAVRIN_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
