#!/usr/bin/env bash
# printarra-trust against real NSS databases in a scratch HOME and system root, before the browsers'
# first run, after it and with a new CA; --check before and after; --remove leaves nothing.
# Usage: test_trust.sh PRINTARRA_TRUST MAKE_TLS_MATERIAL ORIGINS_SOURCE
set -u
TRUST=${1:?usage: test_trust.sh PRINTARRA_TRUST MAKE_TLS_MATERIAL ORIGINS_SOURCE}
NICK="Printarra Local Root CA"
. "$(dirname "$0")/../checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home PRINTARRA_TRUST_ROOT=$scratch/root PRINTARRA_PROGRAM=$scratch/printarra
export PRINTARRA_TRUST_UPDATE_CMD="$scratch/fake-update"
unset PRINTARRA_BUILD SUDO_USER
mkdir -p "$HOME" "$PRINTARRA_TRUST_ROOT"
bash "$2" "$scratch/ca1" >/dev/null && bash "$2" "$scratch/ca2" >/dev/null
# Stand-ins for "printarra --tls-material", which prints the CA it was told to, and the update.
printf '#!/bin/sh\n[ "$1" = --tls-material ] && cat "%s/current"\n' "$scratch" >"$scratch/printarra"
printf '#!/bin/sh\necho ran >> "%s/update.log"\n' "$scratch" >"$scratch/fake-update"
chmod +x "$scratch/fake-update" "$scratch/printarra"
use_ca() { echo "$scratch/$1/rootca.pem" >"$scratch/current"; }

chromium=$HOME/.pki/nssdb
profile=$HOME/.mozilla/firefox/abcd1234.default-esr
sys=$PRINTARRA_TRUST_ROOT/usr/local/share/ca-certificates/printarra-root-ca.crt
cpol=$PRINTARRA_TRUST_ROOT/etc/chromium/policies/managed/printarra.json
gpol=$PRINTARRA_TRUST_ROOT/etc/opt/chrome/policies/managed/printarra.json
fdist=$PRINTARRA_TRUST_ROOT/usr/lib/firefox-esr/distribution/policies.json
body() { tr -d '\r' | sed -n '/-----BEGIN/,/-----END/p' | grep -v -- ----- | tr -d ' \n'; }
# holds DB CA: the store trusts that CA as its only entry of our name.
holds() { [ "$(certutil -L -d "sql:$1" -n "$NICK" -a 2>/dev/null | body)" = "$(body <"$scratch/$2/rootca.pem")" ] &&
    [ "$(certutil -L -d "sql:$1" | awk -v n="$NICK" 'index($0, n) == 1 { print $NF }')" = "C,," ]; }
entries() { certutil -L -d "sql:$1" | grep -c "^$NICK "; }
run() { out=$(bash "$TRUST" "$@" 2>&1); rc=$?; echo "$out"; return $rc; }
ends() { [ "$rc" "$1" "$2" ] && grep -q -- "$3" <<<"$out"; } # e.g. ends -eq 1 MISSING
fails() { run "${@:2}"; ends -ne 0 "$1"; } # PATTERN ARGS...: the run fails, saying so
updates() { cat "$scratch/update.log" 2>/dev/null | wc -l; }

# ---- before any browser ran: nothing there, --check fails, a run creates the store ----
use_ca ca1
run --check
check "check before: exits 1, each item named missing" test "$rc" -eq 1 -a "$(grep -c MISSING <<<"$out")" -eq 5
check "check creates nothing" test ! -e "$HOME/.pki" -a ! -e "$PRINTARRA_TRUST_ROOT/etc"
# Someone else's Firefox policy in the distribution folder: merged, never clobbered.
mkdir -p "$(dirname "$fdist")"
echo '{"policies": {"DisableTelemetry": true, "Certificates": {"Install": ["other.pem"]}}}' >"$fdist"
cp "$fdist" "$scratch/foreign.json"
check "first run exits 0" run
check "first run creates ~/.pki/nssdb and trusts the CA" holds "$chromium" ca1
check "no Firefox profile is created" test ! -e "$HOME/.mozilla"
check "system store holds the CA, updated once" bash -c "cmp -s '$sys' '$scratch/ca1/rootca.pem' && [ $(updates) -eq 1 ]"
check "the Firefox policy is merged into the file Firefox reads" python3 -c '
import json, sys; d = json.load(open(sys.argv[1]))["policies"]; assert d["DisableTelemetry"] is True
assert d["Certificates"]["Install"] == ["other.pem", "/usr/local/share/ca-certificates/printarra-root-ca.crt"]' "$fdist"
check "no second Firefox policy file shadows it" test ! -e "$PRINTARRA_TRUST_ROOT/etc/firefox"
# The policies list exactly the origins the connector allows.
suffixes=$(grep -o 'QStringLiteral("\.[a-z.]*")' "$3" | sed 's/.*"\.\(.*\)".*/https:\/\/[*.]\1/' | sort)
for pol in "$cpol" "$gpol"; do
    check "${pol#*/etc/} lists the allowed origins" python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
want = sorted(sys.argv[2].split() + ["http://localhost"])
for name in ("LocalNetworkAccessAllowedForUrls", "LoopbackNetworkAllowedForUrls"):
    assert sorted(d[name]) == want, (name, d[name], want)' "$pol" "$suffixes"
done
run --check
check "check after: exits 0, all ok" bash -c "[ $rc -eq 0 ] && ! grep -q MISSING <<< '$out'"
run
check "second run changes nothing" bash -c "[ $rc -eq 0 ] && grep -q 'in place already' <<< '$out' && [ $(updates) -eq 1 ]"

# ---- after the browsers ran: a Firefox profile appears, a run adds to it ----
mkdir -p "$profile" && certutil -N -d "sql:$profile" --empty-password
run --check
check "check sees the new profile without the CA" ends -eq 1 "$profile: MISSING"
run
check "run after the browser adds to the profile" holds "$profile" ca1

# ---- the CA made anew: every store and the system store get the new one ----
use_ca ca2
run --check
check "check with a new CA: another CA is reported" ends -eq 1 'holds another Printarra CA'
check "new CA run exits 0" run
check "Chromium store holds the new CA (the old one is gone)" holds "$chromium" ca2
check "Firefox profile holds the new CA" holds "$profile" ca2
check "system store holds the new CA" cmp -s "$sys" "$scratch/ca2/rootca.pem"

# ---- --remove leaves nothing of ours, and keeps what is someone else's ----
check "remove exits 0" run --remove
check "no CA left in the stores" test "$(entries "$chromium")$(entries "$profile")" = 00
check "policies and system store copy gone" test ! -e "$cpol" -a ! -e "$gpol" -a ! -e "$sys"
check "the foreign Firefox policy is as it was" python3 -c '
import json, sys; assert json.load(open(sys.argv[1])) == json.load(open(sys.argv[2]))' "$fdist" "$scratch/foreign.json"
run --remove
check "second remove: nothing to remove" grep -q "nothing to remove" <<<"$out"

# ---- without root, with the real (missing) system part: the user's store, then exit 1 ----
# The browser test writes that policy for a while: the same lock keeps it out meanwhile.
exec 8>/tmp/printarra-system-policy.lock
flock -w 240 8
if [ "$(id -u)" -eq 0 ] && [ ! -e /etc/chromium/policies/managed/printarra.json ]; then
    chmod 755 "$scratch" && mkdir -p "$scratch/user" && chown nobody "$scratch/user"
    out=$(env -u PRINTARRA_TRUST_ROOT HOME="$scratch/user" setpriv --reuid=nobody --regid=nogroup \
        --clear-groups bash "$TRUST" --ca "$scratch/ca1/rootca.pem" 2>&1); rc=$? && echo "$out"
    check "a user's run fills the user's store" holds "$scratch/user/.pki/nssdb" ca1
    check "and fails, naming the missing system part and sudo" ends -eq 1 'Chromium policy: MISSING.*sudo'
fi
flock -u 8

# ---- failures are loud ----
echo junk >"$scratch/junk.pem" && : >"$scratch/current"
check "missing CA file: exit 1, named" fails "not found or not readable: $scratch/none.pem" --ca "$scratch/none.pem"
check "not a certificate: exit 1" fails 'not a PEM certificate' --ca "$scratch/junk.pem"
check "the program gives no CA: exit 1, says so" fails 'gave no CA'
out=$(PATH=/nonexistent "$BASH" "$TRUST" 2>&1); rc=$?
check "no certutil: exit 1, names libnss3-tools" ends -ne 0 libnss3-tools
finish
