#!/usr/bin/env bash
# Builds the Debian package from a build folder with cpack, unpacks it into a scratch root
# with dpkg-deb and checks that every file is where the desktop, the package manager and
# printarra-trust look for it.
#
# In the test build the program is built with AddressSanitizer, so the package made here
# carries an ASan binary (and a libasan dependency): good for checking the layout, not for
# shipping. Release packages come from a Release build (see README).
#
# Usage: test_package.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: test_package.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

. "$source_dir/tests/checks.sh"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# ---- build the package ----
echo "cpack -G DEB in $build"
if ! (cd "$build" && cpack -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake") \
        >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    failed=$((failed + 1))
    echo "FAIL cpack made the package"
    finish
fi
debs=("$scratch"/out/printarra_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -s "${debs[0]}" ]; then
    cat "$scratch/cpack.log"
    failed=$((failed + 1))
    echo "FAIL cpack made exactly one printarra_*.deb"
    finish
fi
deb=${debs[0]}
passed=$((passed + 1))
echo "ok   cpack made $(basename "$deb")"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$scratch/control"

# Only /usr and /etc: nothing under /usr/local or a build folder's path.
outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -Ev '^\./(usr|etc)/|^\./$' || true)
check "every file is under /usr or /etc" test -z "$outside"

# ---- program, symlink, translations ----
program=$root/usr/lib/printarra/printarra
check "program in /usr/lib/printarra, executable" test -x "$program" -a ! -L "$program"
check "program is an ELF executable" bash -c "head -c4 '$program' | grep -q ELF"
check "/usr/bin/printarra is a relative symlink" \
    bash -c "[ -L '$root/usr/bin/printarra' ] && [[ \$(readlink '$root/usr/bin/printarra') != /* ]]"
check "/usr/bin/printarra leads to the program" \
    test "$(readlink -f "$root/usr/bin/printarra")" = "$(readlink -f "$program")"

# The program loads printclient_<language>.qm from its own folder: the three translations
# the build compiled beside it must be beside it once installed.
for language in en es pt; do
    qm=printclient_$language.qm
    check "translation $qm beside the program" cmp "$build/app/$qm" "$root/usr/lib/printarra/$qm"
done

# ---- desktop entries and icons ----
entry_value() {   # file, key
    sed -n "s/^$2=//p" "$1" | head -n1
}
check_entry() {   # label, file
    local label=$1 file=$2
    check "$label exists" test -s "$file"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        check "$label passes desktop-file-validate" desktop-file-validate "$file"
    else
        check "$label is a [Desktop Entry] of Type=Application" \
            bash -c "head -n1 '$file' | grep -qx '\[Desktop Entry\]' && grep -qx 'Type=Application' '$file'"
    fi
    check "$label Name=Printarra" test "$(entry_value "$file" Name)" = Printarra
    local exec
    exec=$(entry_value "$file" Exec)
    check "$label Exec runs /usr/bin/printarra" test -x "$root/usr/bin/${exec%% *}"
    local icon
    icon=$(entry_value "$file" Icon)
    check "$label Icon is an installed hicolor icon" \
        test -s "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg"
}
check_entry "desktop entry" "$root/usr/share/applications/printarra.desktop"
check_entry "autostart entry" "$root/etc/xdg/autostart/printarra.desktop"
check "autostart entry is a conffile" grep -qx /etc/xdg/autostart/printarra.desktop \
    "$scratch/control/conffiles"

check "scalable icon is an SVG" grep -q "<svg" "$root/usr/share/icons/hicolor/scalable/apps/printarra.svg"
png=$root/usr/share/icons/hicolor/256x256/apps/printarra.png
if command -v rsvg-convert >/dev/null 2>&1 || [ -d "$build/packaging/icons" ]; then
    # PNG signature, then the IHDR chunk: width and height as 32-bit big-endian numbers.
    check "256x256 icon is a 256x256 PNG" \
        test "$(od -An -tx1 -j0 -N24 "$png" 2>/dev/null | tr -d ' \n')" = \
        "89504e470d0a1a0a0000000d494844520000010000000100"
else
    echo "note rsvg-convert not installed: no PNG icons expected"
fi

# ---- root CA and printarra-trust ----
ca=$root/usr/share/printarra/printarra-root-ca.pem
check "root CA in /usr/share/printarra" test -s "$ca"
check "root CA is the build's" cmp "$ca" "$build/ssl/rootca.pem"
check "root CA is a CA certificate" \
    bash -c "openssl x509 -in '$ca' -noout -text | grep -q 'CA:TRUE'"
check "root CA signed the certificate the program serves" \
    openssl verify -CAfile "$ca" "$build/ssl/kvr.cert"
if [ -e "$source_dir/scripts/printarra-trust" ]; then
    check "printarra-trust in /usr/bin, executable" test -x "$root/usr/bin/printarra-trust"
    check "printarra-trust reads the installed root CA" \
        grep -q /usr/share/printarra/printarra-root-ca.pem "$root/usr/bin/printarra-trust"
else
    echo "note scripts/printarra-trust is not written yet"
fi

# ---- control file ----
field() {
    dpkg-deb -f "$deb" "$1"
}
check "Package: printarra" test "$(field Package)" = printarra
program_version=$(sed -n 's/.*m_version = QStringLiteral("v\([0-9.]*\)").*/\1/p' \
    "$source_dir/app/printclient.cpp")
check "Version is the program's ($program_version)" test "$(field Version)" = "$program_version"
check "Maintainer is Velora" test "$(field Maintainer)" = "Velora <suporte@velora.pt>"
check "Section and Description set" bash -c "[ -n '$(field Section)' ] && [ -n \"\$(dpkg-deb -f '$deb' Description)\" ]"
depends=$(field Depends)
for package in qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls \
        qml-module-qtquick-controls2 qml-module-qtquick-layouts qml-module-qtquick-extras \
        qml-module-qtgraphicaleffects qml-module-qt-labs-platform libnss3-tools \
        ca-certificates libqt5core5a libqt5quick5 libcups2; do
    # A name in the list: after the start or ", ", before a version, ", " or a "|".
    check "Depends: $package" \
        bash -c "printf '%s\n' '$depends' | grep -Eq '(^|, )$package( |,|$)'"
done

finish
