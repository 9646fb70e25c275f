#!/usr/bin/env bash
# Installs what building, running and testing Printarra needs on Debian 12.
# Idempotent: packages already present are left alone, and apt is only asked
# when something is missing.
set -euo pipefail

PACKAGES=(
    # toolchain
    build-essential cmake ninja-build pkg-config git python3 clang-format
    # Qt 5.15
    qtbase5-dev qtbase5-dev-tools qtdeclarative5-dev qtdeclarative5-dev-tools
    qtquickcontrols2-5-dev libqt5serialport5-dev libqt5svg5-dev
    qttools5-dev qttools5-dev-tools
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
    qml-module-qtquick-controls2 qml-module-qtquick-layouts
    qml-module-qtquick-extras qml-module-qtgraphicaleffects
    qml-module-qt-labs-platform qml-module-qttest qml-module-qtquick-templates2
    # print system
    cups cups-client cups-daemon libcups2-dev
    # the system bus on which the print system signals its events (tests: a bus of their own)
    dbus-daemon
    # QR codes and barcodes, the preview's font, and a real decoder for the tests
    libqrencode-dev libzint-dev fonts-dejavu-core zbar-tools
    # TLS material, headless display, benchmarks
    openssl ca-certificates xvfb xauth wrk nginx-light qrencode imagemagick
    # the trust command (certutil), the package and its icons
    libnss3-tools dpkg-dev librsvg2-bin desktop-file-utils
    # real browsers against the program, and the package's checker
    chromium firefox-esr curl lintian
    # the fuzz harnesses (libFuzzer is part of clang's runtime)
    clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: everything is installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
