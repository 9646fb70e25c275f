#!/usr/bin/env bash
# Makes the connector's TLS material in the folder given as the only argument:
#   rootca.key, rootca.pem   a local root CA (kept so that it can be trusted by browsers); it
#                            can only vouch for localhost and the loopback addresses, so a
#                            stolen key cannot impersonate any other site to a trusting browser
#   kvr.key                  the server's RSA private key, PEM "RSA PRIVATE KEY"
#   kvr.cert                 server certificate (localhost, 127.0.0.1, ::1) followed by the root CA
# Existing files are kept: the key pair only changes when the folder is emptied.
set -euo pipefail
out=${1:?usage: make-tls-material.sh OUTDIR}
mkdir -p "$out"
cd "$out"
if [ -s kvr.key ] && [ -s kvr.cert ] && [ -s rootca.pem ]; then
    # The certificates are public (printarra-trust reads the CA as any user); the keys are not.
    chmod 644 rootca.pem kvr.cert
    exit 0
fi

umask 077
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -keyout "$tmp/rootca.key" -out "$tmp/rootca.pem" \
    -subj "/O=Printarra/CN=Printarra Local Root CA $(hostname -s 2>/dev/null || echo local) $(date +%Y%m%d%H%M%S)" \
    -addext "basicConstraints=critical,CA:TRUE,pathlen:0" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "nameConstraints=critical,permitted;DNS:localhost,permitted;IP:127.0.0.0/255.0.0.0,permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff" \
    -addext "subjectKeyIdentifier=hash" 2>/dev/null

openssl genrsa -traditional -out "$tmp/kvr.key" 2048 2>/dev/null
openssl req -new -sha256 -key "$tmp/kvr.key" -subj "/O=Printarra/CN=localhost" -out "$tmp/server.csr"
cat > "$tmp/server.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
openssl x509 -req -sha256 -days 825 -in "$tmp/server.csr" \
    -CA "$tmp/rootca.pem" -CAkey "$tmp/rootca.key" -set_serial "0x$(openssl rand -hex 16)" \
    -extfile "$tmp/server.ext" -out "$tmp/server.pem" 2>/dev/null

grep -q "BEGIN RSA PRIVATE KEY" "$tmp/kvr.key" || { echo "make-tls-material: key is not PKCS#1" >&2; exit 1; }
cat "$tmp/server.pem" "$tmp/rootca.pem" > "$tmp/kvr.cert"
umask 022
cp "$tmp/rootca.key" "$tmp/kvr.key" .
chmod 600 rootca.key kvr.key
cp "$tmp/rootca.pem" "$tmp/kvr.cert" .
chmod 644 rootca.pem kvr.cert
echo "make-tls-material: new key pair and certificate chain in $out"
