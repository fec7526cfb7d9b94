#!/bin/sh
# Makes the certificates that the TLS tests need, in the folder given (created when
# missing), with the openssl tool. Nothing here is ever committed: every key is made
# afresh on each run.
#
#   ca.pem            a private certificate authority (its key: ca.key)
#   host.pem          signed by it, for 127.0.0.1, ::1 and localhost
#   self-signed.pem   the same names, signed by its own key
#   expired.pem       signed by the authority, valid only in 2020
#   not-yet-valid.pem signed by the authority, valid only from 2090 on
#   other-name.pem    signed by the authority, for another host name only
#   weak-key.pem      self-signed as self-signed.pem, with a 1024-bit RSA key
#   sha1-signed.pem   signed by the authority with SHA-1
#   client-only.pem   signed by the authority, for TLS clients only (extended key usage)
#
# The last three are refused outright by the installer: a TLS server that shows them must
# lower its own OpenSSL security level to load the first two (@SECLEVEL=0).
#
# Each NAME.pem has its key in NAME.key and its SHA-256 fingerprint (AA:BB:...) in
# NAME.sha256. The host's key is RSA, as some servers offer only RSA cipher suites for
# TLS 1.2; the others are EC keys, which take a fraction of the time to make.
set -eu

out=${1:?usage: make_test_certificates.sh FOLDER}
mkdir -p "$out"
cd "$out"

leaf_names='subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost'

cat > leaf.ext <<EOF
[leaf]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
$leaf_names
[other]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
subjectAltName=DNS:other-host.invalid
[client]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=clientAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
$leaf_names
EOF

# A minimal authority database for the certificates whose dates are given explicitly
# (the plain signing command counts days from now only).
mkdir -p issued
: > index.txt
echo 1000 > serial
cat > ca.cnf <<EOF
[ca]
default_ca=test_ca
[test_ca]
dir=.
database=index.txt
new_certs_dir=issued
serial=serial
default_md=sha256
policy=any_name
unique_subject=no
email_in_dn=no
[any_name]
organizationName=optional
commonName=supplied
EOF

quiet() { "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; "$@"; exit 1; }; }

ec='-newkey ec -pkeyopt ec_paramgen_curve:P-256'
new_request() { # name subject [key kind]
    # shellcheck disable=SC2086 # the key kind is several words on purpose
    quiet openssl req -new ${3:-$ec} -nodes -keyout "$1.key" -out "$1.csr" -subj "$2"
}

# shellcheck disable=SC2086
quiet openssl req -x509 $ec -nodes -keyout ca.key -out ca.pem -days 3650 \
    -subj "/O=Installer Tests/CN=Installer Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"

new_request host "/O=Installer Tests/CN=127.0.0.1" "-newkey rsa:2048"
quiet openssl x509 -req -in host.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 3650 \
    -extfile leaf.ext -extensions leaf -out host.pem

# shellcheck disable=SC2086
quiet openssl req -x509 $ec -nodes -keyout self-signed.key -out self-signed.pem \
    -days 3650 -subj "/O=Installer Tests/CN=127.0.0.1" \
    -addext "basicConstraints=critical,CA:FALSE" -addext "$leaf_names"

new_request other-name "/O=Installer Tests/CN=other-host.invalid"
quiet openssl x509 -req -in other-name.csr -CA ca.pem -CAkey ca.key -set_serial 3 -days 3650 \
    -extfile leaf.ext -extensions other -out other-name.pem

# shellcheck disable=SC2086
quiet openssl req -x509 -newkey rsa:1024 -nodes -keyout weak-key.key -out weak-key.pem \
    -days 3650 -subj "/O=Installer Tests/CN=127.0.0.1" \
    -addext "basicConstraints=critical,CA:FALSE" -addext "$leaf_names"

new_request sha1-signed "/O=Installer Tests/CN=127.0.0.1"
quiet openssl x509 -req -in sha1-signed.csr -CA ca.pem -CAkey ca.key -set_serial 4 -days 3650 \
    -sha1 -extfile leaf.ext -extensions leaf -out sha1-signed.pem

new_request client-only "/O=Installer Tests/CN=127.0.0.1"
quiet openssl x509 -req -in client-only.csr -CA ca.pem -CAkey ca.key -set_serial 5 -days 3650 \
    -extfile leaf.ext -extensions client -out client-only.pem

dated() { # name start end
    new_request "$1" "/O=Installer Tests/CN=127.0.0.1"
    quiet openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" \
        -startdate "$2" -enddate "$3" -extfile leaf.ext -extensions leaf -notext -out "$1.pem"
}
dated expired 20200101000000Z 20201231235959Z
dated not-yet-valid 20900101000000Z 20901231235959Z

for name in ca host self-signed other-name expired not-yet-valid weak-key sha1-signed \
    client-only; do
    openssl x509 -in "$name.pem" -noout -fingerprint -sha256 | sed 's/^[^=]*=//' > "$name.sha256"
done
rm -rf ./*.csr leaf.ext ca.cnf index.txt* serial* issued
chmod 600 ./*.key
