#!/usr/bin/env bash
# Builds the Debian package from a build folder with cpack, unpacks it into a scratch root
# with dpkg-deb, checks that every file is where the desktop, the package manager and
# printarra-trust look for it, runs its maintainer scripts against a scratch root and
# lintian on it.
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

# ---- no CA ships; printarra-trust, documentation ----
check "no certificate or key in the package" \
    bash -c "! dpkg-deb -c '$deb' | grep -Eq '\.(pem|key|crt)\$'"
check "printarra-trust in /usr/bin, executable" test -x "$root/usr/bin/printarra-trust"
check "machine-readable copyright file" grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$root/usr/share/doc/printarra/copyright"
for page in printarra printarra-trust; do
    check "man page $page(1)" bash -c "zcat '$root/usr/share/man/man1/$page.1.gz' | grep -q '^\.TH $(tr a-z A-Z <<< "$page") 1'"
done
changelog_version=$(zcat "$root/usr/share/doc/printarra/changelog.Debian.gz" | sed -n '1s/^printarra (\(.*\)).*/\1/p')

# ---- maintainer scripts against a scratch root ----
sys=$scratch/sys
mkdir -p "$sys/usr/lib/firefox-esr/distribution"
PATH=$root/usr/bin:$PATH PRINTARRA_TRUST_ROOT=$sys sh "$scratch/control/postinst" configure \
    >"$scratch/postinst.log" 2>&1
check "postinst configure installs the Chromium and Chrome policies" \
    test -s "$sys/etc/chromium/policies/managed/printarra.json" -a -s "$sys/etc/opt/chrome/policies/managed/printarra.json"
echo '{"policies": {"DisableTelemetry": true, "Certificates": {"Install": ["/usr/local/share/ca-certificates/printarra-root-ca.crt"]}}}' \
    >"$sys/usr/lib/firefox-esr/distribution/policies.json"
PRINTARRA_TRUST_ROOT=$sys sh "$scratch/control/postrm" remove
check "postrm remove keeps the policies" test -e "$sys/etc/chromium/policies/managed/printarra.json"
PRINTARRA_TRUST_ROOT=$sys sh "$scratch/control/postrm" purge
check "postrm purge removes the policies" \
    test ! -e "$sys/etc/chromium/policies/managed/printarra.json" -a ! -e "$sys/etc/opt/chrome/policies/managed/printarra.json"
check "postrm purge takes only its CA out of the Firefox policy" \
    test "$(tr -d ' \n' < "$sys/usr/lib/firefox-esr/distribution/policies.json")" = '{"policies":{"DisableTelemetry":true}}'

# ---- lintian at its default level: no error, no warning ----
lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1
rc=$?
grep -v 'running with root privileges' "$scratch/lintian.log"
check "lintian reports no error and no warning" test "$rc" -eq 0

# ---- control file ----
field() {
    dpkg-deb -f "$deb" "$1"
}
check "Package: printarra" test "$(field Package)" = printarra
program_version=$(sed -n 's/^project(Printarra VERSION \([0-9.]*\).*/\1/p' \
    "$source_dir/CMakeLists.txt")
check "Version is the program's ($program_version) with a Debian revision" \
    bash -c "[[ '$(field Version)' == '$program_version'-[0-9]* ]]"
check "the changelog's newest entry is this version" test "$changelog_version" = "$(field Version)"
check "Maintainer is Velora" test "$(field Maintainer)" = "Velora <suporte@velora.pt>"
check "Section and Description set" bash -c "[ -n '$(field Section)' ] && [ -n \"\$(dpkg-deb -f '$deb' Description)\" ]"
depends=$(field Depends)
for package in qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls \
        qml-module-qtquick-controls2 qml-module-qtquick-layouts qml-module-qtquick-extras \
        qml-module-qtgraphicaleffects qml-module-qt-labs-platform libnss3-tools python3 \
        ca-certificates libqt5core5a libqt5quick5 libcups2; do
    # A name in the list: after the start or ", ", before a version, ", " or a "|".
    check "Depends: $package" \
        bash -c "printf '%s\n' '$depends' | grep -Eq '(^|, )$package( |,|$)'"
done

finish
