#!/bin/bash
# Signs Windows programs in place with Authenticode (osslsigncode).
#
#   tools/sign.sh FILE...
#
# The certificate and key come from the environment:
#   CORVALES_SIGN_CERT           PEM certificate (chain), with CORVALES_SIGN_KEY;
#                                or a PKCS#12 file holding both, without it
#   CORVALES_SIGN_KEY            PEM private key
#   CORVALES_SIGN_PASS           password of the key or PKCS#12 file (optional)
#   CORVALES_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server (optional; off by
#                                default, as the build needs no network)
#   SOURCE_DATE_EPOCH            signing time to record, for repeatable bytes
#                                (optional; otherwise the current time)
# A file that is signed already gets a fresh signature instead of a second one.
set -euo pipefail

die() {
    echo "sign: $*" >&2
    exit 1
}

(($# > 0)) || die "usage: $0 FILE..."
cert=${CORVALES_SIGN_CERT:-}
key=${CORVALES_SIGN_KEY:-}
[ -n "$cert" ] || die "CORVALES_SIGN_CERT is not set"
[ -r "$cert" ] || die "cannot read the certificate $cert"
[ -z "$key" ] || [ -r "$key" ] || die "cannot read the key $key"
command -v osslsigncode >/dev/null || die "osslsigncode is not installed (apt-get install osslsigncode)"

work=$(mktemp -d "${TMPDIR:-/tmp}/corvales-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -n "$key" ]; then
    args=(-certs "$cert" -key "$key")
else
    args=(-pkcs12 "$cert")
fi
if [ -n "${CORVALES_SIGN_PASS:-}" ]; then
    # A file keeps the password off every process's command line.
    (umask 077 && printf '%s' "$CORVALES_SIGN_PASS" >"$work/pass")
    args+=(-readpass "$work/pass")
fi
args+=(-h sha256 -n "Lumora网址大全桌面版")
if [ -n "${CORVALES_SIGN_TIMESTAMP_URL:-}" ]; then
    args+=(-ts "$CORVALES_SIGN_TIMESTAMP_URL")
fi
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    args+=(-time "$SOURCE_DATE_EPOCH")
fi

for file in "$@"; do
    [ -f "$file" ] || die "no such file: $file"
    in=$file
    if osslsigncode extract-signature -in "$file" -out "$work/old.sig" >/dev/null 2>&1; then
        osslsigncode remove-signature -in "$file" -out "$work/unsigned" >/dev/null ||
            die "cannot remove the old signature of $file"
        in=$work/unsigned
    fi
    rm -f "$work/signed"
    if ! osslsigncode sign "${args[@]}" -in "$in" -out "$work/signed" >"$work/log" 2>&1; then
        cat "$work/log" >&2
        die "signing $file failed"
    fi
    # Replaced only once whole, so a failed run leaves the file as it was.
    cat "$work/signed" >"$file"
    rm -f "$work/old.sig" "$work/unsigned"
    echo "sign: signed $file"
done
