#!/usr/bin/env bash
# Sets up what is missing, builds, and starts Quenbell.
#   ./run.sh          the program with your own settings
#   ./run.sh --demo   the program against a private demo mailbox, with throw-away settings
set -eu
cd "$(dirname "$0")"
./scripts/setup.sh
./scripts/build.sh build

has_display() { [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/quenbell ]; }

if [ "${1:-}" != "--demo" ]; then
  if has_display; then
    exec build/quenbell "$@"
  fi
  cat <<'MSG'
No display found: Quenbell is a desktop program and needs a graphical session (or Xvfb).
  ./run.sh --demo     runs a check of a demo mailbox here and prints the payments it finds
  build/quenbell-cli  the command-line companion (same core), for example:
MSG
  build/quenbell-cli --help
  echo
  echo "Your stored options and accounts (build/quenbell-cli config):"
  build/quenbell-cli config || true
  exit 0
fi

# Demo: a private Dovecot on 127.0.0.1 with a demo mailbox, and settings in a
# temporary folder, both gone when the demo ends.
demo=$(mktemp -d /tmp/quenbell-demo.XXXXXX)
chmod 755 "$demo"
exec 3> >(build/quenbell-demo "$demo/config" > "$demo/server.out" 2> "$demo/server.err")
server=$!
cleanup() { exec 3>&-; wait "$server" 2>/dev/null || true; rm -rf "$demo"; }
trap cleanup EXIT
for _ in $(seq 100); do grep -q '^ready' "$demo/server.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^ready' "$demo/server.out" || { echo "The demo mail server did not start:"; cat "$demo/server.err"; exit 1; }
export XDG_CONFIG_HOME="$demo/config"
# The demo's payments are kept in the demo folder, never in the user's own history.
export XDG_DATA_HOME="$demo/data"
echo "Demo mailbox on 127.0.0.1:$(sed -n 's/^port //p' "$demo/server.out") (user demo), settings in $demo/config"

if has_display; then
  echo "Starting Quenbell; it checks the demo mailbox at once. Quit it from its tray menu to end the demo."
  build/quenbell
else
  echo "No display: running the same check with quenbell-cli."
  build/quenbell-cli check > "$demo/check.out"
  echo
  echo "Payments found:"
  grep '^{"order":' "$demo/check.out" |
    sed -E 's/.*"OrderID":"([^"]*)".*"Name":"([^"]*)".*"Product_Name":"([^"]*)".*"Amount":"([^"]*)".*"Currency":"([^"]*)".*/  \1  \2  \3  \4 \5/'
  grep '^{"log":"ltAllTaskFinished"' "$demo/check.out" | sed -E 's/.*"message":"([^"]*)".*/\1/'
  echo
  echo "On a desktop (or under Xvfb), ./run.sh --demo shows the same in Quenbell's main window."
fi
