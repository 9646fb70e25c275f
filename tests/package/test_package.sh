#!/usr/bin/env bash
# Builds the Debian package with cpack and checks its files, its maintainer scripts (on a scratch
# root), lintian and the control file. (A test build's program may carry AddressSanitizer.)
# Usage: test_package.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: test_package.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
. "$source_dir/tests/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# ---- build the package: exactly one printarra_*.deb ----
echo "cpack -G DEB in $build"
(cd "$build" && cpack -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake") >"$scratch/cpack.log" 2>&1
made=$? debs=("$scratch"/out/printarra_*.deb)
check "cpack made exactly one printarra_*.deb" test $made -eq 0 -a ${#debs[@]} -eq 1 -a -s "${debs[0]}"
[ "$failed" -eq 0 ] || { cat "$scratch/cpack.log"; finish; }
deb=${debs[0]} root=$scratch/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$scratch/control"
# Only /usr and /etc: nothing under /usr/local or a build folder's path.
check "every file is under /usr or /etc" test -z "$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -Ev '^\./(usr|etc)/|^\./$')"

# ---- program, symlink, translations ----
program=$root/usr/lib/printarra/printarra
check "program in /usr/lib/printarra, an executable ELF file" bash -c "[ -x '$program' ] && [ ! -L '$program' ] && head -c4 '$program' | grep -q ELF"
check "/usr/bin/printarra is a relative symlink to the program" \
    bash -c "[[ \$(readlink '$root/usr/bin/printarra') == [^/]* ]] && [ \"\$(readlink -f '$root/usr/bin/printarra')\" = \"\$(readlink -f '$program')\" ]"
# The program loads printclient_<language>.qm from its own folder.
for l in en es pt; do check "printclient_$l.qm beside the program" cmp "$build/app/printclient_$l.qm" "$root/usr/lib/printarra/printclient_$l.qm"; done

# ---- desktop entries and icons ----
value() { sed -n "s/^$2=//p" "$1" | head -n1; } # file, key
for entry in usr/share/applications etc/xdg/autostart; do
    file=$root/$entry/printarra.desktop label="$entry/printarra.desktop"
    check "$label exists, passes desktop-file-validate" bash -c "[ -s '$file' ] && desktop-file-validate '$file'"
    check "$label Name=Printarra" test "$(value "$file" Name)" = Printarra
    exec=$(value "$file" Exec)
    check "$label Exec runs /usr/bin/printarra" test -x "$root/usr/bin/${exec%% *}"
    check "$label Icon is an installed hicolor icon" test -s "$root/usr/share/icons/hicolor/scalable/apps/$(value "$file" Icon).svg"
done
check "autostart entry is a conffile" grep -qx /etc/xdg/autostart/printarra.desktop "$scratch/control/conffiles"
icons=$root/usr/share/icons/hicolor
check "scalable icon is an SVG, beside a PNG" bash -c "grep -q '<svg' '$icons/scalable/apps/printarra.svg' && [ -s '$icons/256x256/apps/printarra.png' ]"

# ---- no CA ships; printarra-trust, documentation ----
check "no certificate or key in the package" bash -c "! dpkg-deb -c '$deb' | grep -Eq '\.(pem|key|crt)\$'"
check "printarra-trust in /usr/bin, executable" test -x "$root/usr/bin/printarra-trust"
check "machine-readable copyright file" grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$root/usr/share/doc/printarra/copyright"

# ---- maintainer scripts against a scratch root ----
sys=$scratch/sys cpol=etc/chromium/policies/managed/printarra.json gpol=etc/opt/chrome/policies/managed/printarra.json
fpol=$scratch/sys/usr/lib/firefox-esr/distribution/policies.json
mkdir -p "$(dirname "$fpol")"
PATH=$root/usr/bin:$PATH PRINTARRA_TRUST_ROOT=$sys sh "$scratch/control/postinst" configure >"$scratch/postinst.log" 2>&1
check "postinst configure installs the Chromium and Chrome policies" test -s "$sys/$cpol" -a -s "$sys/$gpol"
echo '{"policies": {"DisableTelemetry": true, "Certificates": {"Install": ["/usr/local/share/ca-certificates/printarra-root-ca.crt"]}}}' >"$fpol"
PRINTARRA_TRUST_ROOT=$sys sh "$scratch/control/postrm" remove
check "postrm remove keeps the policies" test -e "$sys/$cpol"
PRINTARRA_TRUST_ROOT=$sys sh "$scratch/control/postrm" purge
check "postrm purge removes the policies" test ! -e "$sys/$cpol" -a ! -e "$sys/$gpol"
check "postrm purge takes only its CA out of the Firefox policy" test "$(tr -d ' \n' <"$fpol")" = '{"policies":{"DisableTelemetry":true}}'

# ---- lintian at its default level: no error, no warning ----
check "lintian reports no error and no warning" lintian --fail-on error,warning "$deb"

# ---- control file ----
field() { dpkg-deb -f "$deb" "$1"; }
check "Package: printarra" test "$(field Package)" = printarra
version=$(sed -n 's/^project(Printarra VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
check "Version is the program's ($version) with a Debian revision" bash -c "[[ '$(field Version)' == '$version'-[0-9]* ]]"
check "the changelog's newest entry is this version" \
    test "$(zcat "$root/usr/share/doc/printarra/changelog.Debian.gz" | sed -n '1s/^printarra (\(.*\)).*/\1/p')" = "$(field Version)"
check "Maintainer is Velora" test "$(field Maintainer)" = "Velora <suporte@velora.pt>"
for package in qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls \
        qml-module-qtquick-controls2 qml-module-qtquick-layouts qml-module-qtquick-extras \
        qml-module-qtgraphicaleffects qml-module-qt-labs-platform libnss3-tools python3 \
        ca-certificates libqt5core5a libqt5quick5 libcups2; do
    # A name in the list: after the start or ", ", before a version, ", " or a "|".
    check "Depends: $package" grep -Eq "(^|, )$package( |,|$)" <<<"$(field Depends)"
done
finish
