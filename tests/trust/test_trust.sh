#!/usr/bin/env bash
# Tests printarra-trust against scratch NSS databases under a scratch HOME and a
# scratch system store, so the machine's own trust stores are never touched.
# Usage: test_trust.sh PATH/TO/printarra-trust PATH/TO/rootca.pem
set -u

TRUST=${1:?usage: test_trust.sh PRINTARRA_TRUST ROOTCA_PEM}
CA=${2:?usage: test_trust.sh PRINTARRA_TRUST ROOTCA_PEM}
NICK="Printarra Local Root CA"

. "$(dirname "$0")/../checks.sh"

command -v certutil >/dev/null 2>&1 || { echo "FAIL: certutil missing (apt-get install libnss3-tools)"; echo "0 passed, 1 failed"; exit 1; }
[ -r "$CA" ] || { echo "FAIL: CA file $CA missing or unreadable"; echo "0 passed, 1 failed"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home
chromium=$HOME/.pki/nssdb
chromium2=$HOME/.local/share/pki/nssdb
firefox=$HOME/.mozilla/firefox/abcd1234.default-release
export PRINTARRA_TRUST_SYSTEM_DIR=$scratch/ca-certificates
export PRINTARRA_TRUST_UPDATE_CMD="$scratch/fake-update"
unset PRINTARRA_BUILD

mkdir -p "$chromium" "$firefox" "$HOME/.mozilla/firefox/Crash Reports" "$PRINTARRA_TRUST_SYSTEM_DIR"
certutil -N -d "sql:$chromium" --empty-password
certutil -N -d "sql:$firefox" --empty-password
# The fake update command leaves one line per run.
printf '#!/bin/sh\necho ran >> "%s/update.log"\n' "$scratch" > "$scratch/fake-update"
chmod +x "$scratch/fake-update"

updates() { [ -f "$scratch/update.log" ] && wc -l < "$scratch/update.log" || echo 0; }
body() { tr -d '\r' | sed -n '/-----BEGIN CERTIFICATE-----/,/-----END CERTIFICATE-----/p' | grep -v -- '-----' | tr -d ' \t\n'; }
ca_body=$(body < "$CA")
# Number of entries with our nickname in a database.
entries() { certutil -L -d "sql:$1" | grep -c "^$NICK  "; }
trust_of() { certutil -L -d "sql:$1" | awk -v n="$NICK" 'index($0, n) == 1 { print $NF }'; }
stored_body() { certutil -L -d "sql:$1" -n "$NICK" -a 2>/dev/null | body; }
says() { grep -qF -- "$1" <<< "$out"; }
line_says() { grep -F -- "$1" <<< "$out" | grep -qF -- "$2"; }
is_eq() { [ "$1" = "$2" ]; }

# --- first run: adds -------------------------------------------------------------
out=$(bash "$TRUST" --ca "$CA" 2>&1); rc=$?
echo "$out"
check "first run exits 0" is_eq "$rc" 0
check "Chromium db has the CA once" is_eq "$(entries "$chromium")" 1
check "Chromium db trusts it as CA (C,,)" is_eq "$(trust_of "$chromium")" "C,,"
check "Chromium db holds the given certificate" is_eq "$(stored_body "$chromium")" "$ca_body"
check "Firefox profile db has the CA once" is_eq "$(entries "$firefox")" 1
check "Firefox profile db trusts it as CA (C,,)" is_eq "$(trust_of "$firefox")" "C,,"
check "Firefox profile db holds the given certificate" is_eq "$(stored_body "$firefox")" "$ca_body"
check "missing ~/.local/share/pki/nssdb is not created" test ! -e "$HOME/.local"
check "a Firefox folder without a db gets none" test ! -e "$HOME/.mozilla/firefox/Crash Reports/cert9.db"
check "output: Chromium added" line_says "$chromium:" "added"
check "output: Firefox added" line_says "$firefox:" "added"
check "output: missing store skipped" line_says "$chromium2:" "skipped: no such store"
check "system store .crt is written" cmp -s "$CA" "$PRINTARRA_TRUST_SYSTEM_DIR/printarra-root-ca.crt"
check "update command ran once" is_eq "$(updates)" 1
check "output: system store added" line_says "printarra-root-ca.crt:" "added"

# --- second run: changes nothing -------------------------------------------------
out=$(bash "$TRUST" --ca "$CA" 2>&1); rc=$?
echo "$out"
check "second run exits 0" is_eq "$rc" 0
check "Chromium db still has one entry" is_eq "$(entries "$chromium")" 1
check "Firefox db still has one entry" is_eq "$(entries "$firefox")" 1
check "output: Chromium already present" line_says "$chromium:" "already present"
check "output: Firefox already present" line_says "$firefox:" "already present"
check "output: system store already present" line_says "printarra-root-ca.crt:" "already present"
check "output: nothing to change" says "nothing to change"
check "update command did not run again" is_eq "$(updates)" 1
check "still no ~/.local" test ! -e "$HOME/.local"

# --- --remove: takes everything out ------------------------------------------------
out=$(bash "$TRUST" --remove 2>&1); rc=$?
echo "$out"
check "--remove exits 0" is_eq "$rc" 0
check "Chromium db no longer has the CA" is_eq "$(entries "$chromium")" 0
check "Firefox db no longer has the CA" is_eq "$(entries "$firefox")" 0
check "system store .crt is gone" test ! -e "$PRINTARRA_TRUST_SYSTEM_DIR/printarra-root-ca.crt"
check "update command ran for the removal" is_eq "$(updates)" 2
check "output: Chromium removed" line_says "$chromium:" "removed"
check "output: Firefox removed" line_says "$firefox:" "removed"
check "output: system store removed" line_says "printarra-root-ca.crt:" "removed"
check "the databases themselves are kept" test -f "$chromium/cert9.db" -a -f "$firefox/cert9.db"

out=$(bash "$TRUST" --remove 2>&1); rc=$?
echo "$out"
check "second --remove exits 0" is_eq "$rc" 0
check "output: Chromium not present" line_says "$chromium:" "not present"
check "output: second --remove has nothing to change" says "nothing to change"
check "update command did not run for nothing" is_eq "$(updates)" 2

# --- errors ------------------------------------------------------------------------
out=$(bash "$TRUST" --ca "$scratch/no-such-ca.pem" 2>&1); rc=$?
echo "$out"
check "missing CA file exits non-zero" test "$rc" -ne 0
check "missing CA file is named in the message" says "CA file not found or not readable: $scratch/no-such-ca.pem"
check "missing CA file leaves the db alone" is_eq "$(entries "$chromium")" 0

echo "not a certificate" > "$scratch/junk.pem"
out=$(bash "$TRUST" --ca "$scratch/junk.pem" 2>&1); rc=$?
check "a file that is no certificate exits non-zero" test "$rc" -ne 0
check "a file that is no certificate is reported" says "not a PEM certificate"

# Copied out of any source or build tree, the script finds no CA of its own.
if [ ! -e /usr/share/printarra/printarra-root-ca.pem ]; then
    cp "$TRUST" "$scratch/printarra-trust"
    out=$(bash "$scratch/printarra-trust" 2>&1); rc=$?
    echo "$out"
    check "no CA anywhere exits non-zero" test "$rc" -ne 0
    check "no CA anywhere says to use --ca" says "no CA file found"
fi

out=$(PATH=/nonexistent "$BASH" "$TRUST" --ca "$CA" 2>&1); rc=$?
echo "$out"
check "missing certutil exits non-zero" test "$rc" -ne 0
check "missing certutil names libnss3-tools" says "libnss3-tools"

finish
