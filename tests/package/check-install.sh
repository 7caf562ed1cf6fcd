#!/usr/bin/env bash
# Installs the Debian package with apt as root would, checks the installed
# AppStream file and the programs, then purges the package and checks that
# it left nothing behind. It changes the system it runs on: scripts/debian13
# runs it in its Debian 13 tree, never on the machine itself.
#   check-install.sh PACKAGE_FOLDER
set -euo pipefail

readonly kPackage=tavrin-installator
readonly kMetainfo=/usr/share/metainfo/com.example.tavrin_installator.metainfo.xml

deb="$(ls -t "$1"/"$kPackage"_*.deb 2>/dev/null | head -n 1 || true)"
[ -n "$deb" ] || { echo "FAILED: no package in $1"; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "FAILED: installing needs root"; exit 1; }
if dpkg-query -W -f='${Status}' "$kPackage" 2>/dev/null | grep -q ' installed$'; then
    echo "FAILED: $kPackage is installed already; this check would remove it"
    exit 1
fi

failures=0
check() {
    local what="$1"
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

echo "Installing $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb"
mapfile -t files < <(dpkg-query -L "$kPackage" | while read -r path; do
    [ -d "$path" ] || echo "$path"
done)
check "installed files (${#files[@]})" test "${#files[@]}" -gt 10
check "AppStream file valid where installed" appstreamcli validate --no-net "$kMetainfo"
check "tavrin-dfu on the PATH" bash -c 'tavrin-dfu --version | grep -qx "tavrin-dfu [0-9.]*"'
check "tavrin-installator on the PATH" test -x "$(command -v tavrin-installator)"

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$kPackage"
status="$(dpkg-query -W -f='${Status}' "$kPackage" 2>/dev/null || true)"
check "purged (${status:-unknown to dpkg})" test -z "$status" -o "${status##* }" = not-installed
left=()
for path in "${files[@]}"; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || left+=("$path")
done
check "no file left behind${left[*]+: ${left[*]}}" test "${#left[@]}" -eq 0

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "Install checks passed"
