#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when some are missing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t pkgs < <(grep -v '^\s*\(#\|$\)' "$here/deps.txt")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "setup: installing ${missing[*]}"
# Packaged daemons (dovecot) must not start system-wide: the tests start their own on loopback.
policy=/usr/sbin/policy-rc.d
made_policy=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null && $sudo chmod +x "$policy" && made_policy=1
fi
cleanup() { [ -z "$made_policy" ] || $sudo rm -f "$policy"; }
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
