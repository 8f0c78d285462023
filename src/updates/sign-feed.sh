#!/usr/bin/env bash
# Makes and signs the update feed read by the app's update checker (format: FEED.md).
#
#   sign-feed.sh new-key KEY.pem           writes a new Ed25519 private key; keep it off the web server
#   sign-feed.sh public-key KEY.pem        prints the Base64 public key for TEODAL_UPDATE_PUBLIC_KEY
#   sign-feed.sh sign KEY.pem FEED.json    prints the signed feed: the signature line, then FEED.json
#                                          byte for byte
set -euo pipefail

usage() {
  sed -n '4,7p' "$0" | sed 's/^#   //' >&2
  exit 2
}

[ $# -ge 2 ] || usage
key=$2
case $1 in
  new-key)
    [ $# -eq 2 ] || usage
    if [ -e "$key" ]; then
      echo "$key exists; not replacing a signing key." >&2
      exit 1
    fi
    (umask 077 && openssl genpkey -algorithm ed25519 -out "$key")
    ;;
  public-key)
    [ $# -eq 2 ] || usage
    # The DER public key ends with the 32 raw key bytes.
    openssl pkey -in "$key" -pubout -outform DER | tail -c 32 | base64 -w0
    echo
    ;;
  sign)
    [ $# -eq 3 ] || usage
    feed=$3
    signature=$(openssl pkeyutl -sign -rawin -inkey "$key" -in "$feed" | base64 -w0)
    if [ "$(printf '%s' "$signature" | base64 -d | wc -c)" -ne 64 ]; then
      echo "$key did not give an Ed25519 signature." >&2
      exit 1
    fi
    printf '%s\n' "$signature"
    cat -- "$feed"
    ;;
  *)
    usage
    ;;
esac
