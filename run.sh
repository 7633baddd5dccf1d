#!/usr/bin/env bash
# Sets up what is missing, builds, and starts Quenbell.
set -eu
cd "$(dirname "$0")"
./scripts/setup.sh
./scripts/build.sh build
if [ -x build/quenbell ]; then
  exec build/quenbell "$@"
fi
cat <<'MSG'
Quenbell's desktop program (tray icon, main window, pop-up) is not part of this
build yet. Until it is, here is its command-line companion, which runs the same
core: build/quenbell-cli
MSG
build/quenbell-cli --help
echo
echo "Your stored options and accounts:"
exec build/quenbell-cli config
