#!/usr/bin/env bash
# Start-up time of the desktop program to its tray icon, and the CPU it uses
# while it idles in the tray, on a private Xvfb display with openbox and trayer
# as the notification area.
#
#   bench/bench_gui_startup.sh [--build DIR] [--runs N] [--idle SECONDS] [--check-when-opening]
#                              [--mail-program CMD]
#
# Defaults: --build build, 3 runs, 30 s of idling. Settings come from
# quenbell-demo (one account on its private Dovecot, start hidden in the tray);
# each run gets a fresh copy. Without --check-when-opening the program does no
# check at start-up; with it, it checks the demo mailbox at once, and the idle
# time then includes the payments' blinking tray icon and pop-up. Without
# --mail-program no mail program is stored, so the start-up includes asking
# the desktop for its default mail client (xdg-mime, a child process).
#
# Per run it prints:
#   tray     ms from starting the program until its tray icon window sits in
#            the tray and is viewable, the CPU the program used until then,
#            and that of the child processes it waited for
#   idle     CPU used over the idle time: from /proc/PID/stat (all threads,
#            10 ms ticks) and from the threads' schedstat (nanoseconds; a
#            thread that ends meanwhile is left out), and as a share of one core
#   rss      resident memory at the end (VmRSS, VmHWM)
# Needs Xvfb, openbox, trayer, xdotool and xwininfo
# (apt-get install -y xvfb openbox trayer xdotool x11-utils).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
runs=3
idle=30
check=no
mail_program=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --idle) idle=$2; shift 2 ;;
    --check-when-opening) check=yes; shift ;;
    --mail-program) mail_program=$2; shift 2 ;;
    *) echo "usage: bench_gui_startup.sh [--build DIR] [--runs N] [--idle SECONDS] [--check-when-opening]" \
            "[--mail-program CMD]" >&2
       exit 2 ;;
  esac
done
case $runs$idle in *[!0-9]*) echo "bench_gui_startup: --runs and --idle take whole numbers" >&2; exit 2 ;; esac

for tool in Xvfb openbox trayer xdotool xwininfo; do
  command -v "$tool" > /dev/null || {
    echo "bench_gui_startup: $tool is missing (apt-get install -y xvfb openbox trayer xdotool x11-utils)" >&2
    exit 1
  }
done
for exe in quenbell quenbell-demo; do
  [ -x "$build/$exe" ] || { echo "bench_gui_startup: build $build/$exe first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quenbell-guibench.XXXXXX)
# The demo's Dovecot runs as "nobody" under root and must reach its folder.
chmod 755 "$work"
# Only what this script started is ended, by its process id, the newest first.
pids=()
qpid=
demo_open=no
cleanup() {
  local i
  if [ -n "$qpid" ]; then kill "$qpid" 2> /dev/null || true; wait "$qpid" 2> /dev/null || true; fi
  # Closing its input lets the demo stop its Dovecot.
  [ "$demo_open" = no ] || exec 3>&-
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2> /dev/null || true; done
  for i in "${pids[@]}"; do wait "$i" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_us() { local t=${EPOCHREALTIME/[.,]/}; echo "$t"; }

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tries=$1; shift
  for ((; tries > 0; tries--)); do "$@" && return 0; sleep 0.1; done
  return 1
}

# A private display: Xvfb picks a free number and writes it to fd 4.
Xvfb -displayfd 4 -screen 0 1280x800x24 -nolisten tcp 4> "$work/display" > "$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/display" || { echo "bench_gui_startup: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=:$(cat "$work/display")
export DISPLAY
openbox > "$work/openbox.log" 2>&1 &
pids+=($!)
panel_id() { xwininfo -root -tree 2> /dev/null | awk '/\("panel" "trayer"\)/ { print $1; exit }'; }
has_panel() { [ -n "$(panel_id)" ]; }
# trayer has once been seen to come up without its panel on a busy machine: retry.
panel=
for _ in 1 2 3; do
  trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true \
    >> "$work/trayer.log" 2>&1 &
  tpid=$!
  if wait_for 50 has_panel; then
    pids+=("$tpid")
    panel=$(panel_id)
    break
  fi
  kill "$tpid" 2> /dev/null || true
  wait "$tpid" 2> /dev/null || true
done
[ -n "$panel" ] || { echo "bench_gui_startup: trayer did not start" >&2; cat "$work/trayer.log" >&2; exit 1; }
# The panel may be there a moment before its tray has claimed the selection.
sleep 0.5

demo_args=(--min-to-tray)
[ "$check" = yes ] || demo_args+=(--no-check-when-opening)
[ -z "$mail_program" ] || demo_args+=(--mail-program "$mail_program")
exec 3> >(exec "$build/quenbell-demo" "${demo_args[@]}" "$work/config" > "$work/demo.out" 2> "$work/demo.err")
demo_open=yes
pids+=($!)
wait_for 150 grep -qs '^ready' "$work/demo.out" ||
  { echo "bench_gui_startup: quenbell-demo did not start" >&2; cat "$work/demo.err" >&2; exit 1; }

# No session bus: Qt then docks its icon through the X11 tray protocol.
unset DBUS_SESSION_BUS_ADDRESS
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
hz=$(getconf CLK_TCK)

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
child_ticks() { awk '{ print $16 + $17 }' "/proc/$1/stat"; }
# "TID RUN_NS" per live thread.
sched_snapshot() {
  local t
  for t in /proc/"$1"/task/*; do
    read -r ns _ < "$t/schedstat" 2> /dev/null && echo "${t##*/} $ns"
  done
}
# Run time between two snapshots: the threads' growth, new threads in full;
# threads that ended in between are missing here (the tick count has them).
sched_delta_ms() {
  awk 'NR == FNR { a[$1] = $2; next } { d += $2 - ($1 in a ? a[$1] : 0); seen[$1] = 1 }
       END { for (t in a) if (!(t in seen)) gone++; printf "%.1f %d\n", d / 1e6, gone }' "$1" "$2"
}
# The program's window inside the tray panel, once viewable.
tray_window() {
  local w
  w=$(xwininfo -id "$panel" -tree 2> /dev/null | awk '/\("quenbell" "Quenbell"\)/ { print $1; exit }')
  [ -n "$w" ] && xwininfo -id "$w" 2> /dev/null | grep -q 'Map State: IsViewable' && echo "$w"
}

mode="no check at start-up"
[ "$check" = yes ] && mode="start-up check of the demo mailbox (5 payments)"
if [ -n "$mail_program" ]; then mode="$mode, mail program stored"; else mode="$mode, no mail program stored"; fi
echo "desktop program: $build/quenbell on $DISPLAY (Xvfb, openbox, trayer), $mode"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

tray_all=() idle_all=()
for ((run = 1; run <= runs; run++)); do
  cp -a "$work/config" "$work/config$run"
  t0=$(now_us)
  XDG_CONFIG_HOME=$work/config$run "$build/quenbell" > "$work/quenbell$run.log" 2>&1 &
  pid=$!
  qpid=$pid
  win=
  while [ -z "$win" ]; do
    if ! kill -0 "$pid" 2> /dev/null; then
      echo "bench_gui_startup: quenbell ended before its tray icon appeared" >&2
      cat "$work/quenbell$run.log" >&2
      exit 1
    fi
    if (( $(now_us) - t0 > 30000000 )); then
      echo "bench_gui_startup: no tray icon after 30 s" >&2
      exit 1
    fi
    win=$(tray_window) || true
    [ -n "$win" ] || sleep 0.01
  done
  t1=$(now_us)
  c0=$(cpu_ticks "$pid")
  k0=$(child_ticks "$pid")
  sched_snapshot "$pid" > "$work/sched0"
  tray_ms=$(( (t1 - t0) / 1000 ))
  # With the tray in use the main window stays hidden; a visible one means
  # the program found no tray and the figure is not the tray start-up.
  others=$(xdotool search --onlyvisible --classname '^quenbell$' 2> /dev/null | while read -r id; do
    [ "$(printf '0x%x' "$id")" = "$win" ] ||
      xwininfo -id "$id" | awk '/^xwininfo: Window id:/ { sub(/^xwininfo: Window id: /, ""); w = $0 }
                                /-geometry/ { g = $2 } END { printf "%s %s; ", w, g }'
  done)

  sleep "$idle"
  c1=$(cpu_ticks "$pid")
  sched_snapshot "$pid" > "$work/sched1"
  idle_ms=$(( (c1 - c0) * 1000 / hz ))
  read -r sched_ms gone < <(sched_delta_ms "$work/sched0" "$work/sched1")
  share=$(awk -v ms="$sched_ms" -v s="$idle" 'BEGIN { printf "%.3f", ms / (s * 10) }')
  rss=$(awk '/^VmRSS/ { r = $2 } /^VmHWM/ { h = $2 } END { printf "%.1f MB (peak %.1f MB)", r / 1024, h / 1024 }' \
    "/proc/$pid/status")
  threads=$(awk '/^Threads/ { print $2 }' "/proc/$pid/status")
  printf 'run %d: tray icon after %d ms (cpu %d ms, children %d ms); idle %d s: cpu %d ms by ticks, %s ms by schedstat (%s %% of a core); rss %s, %s threads\n' \
    "$run" "$tray_ms" "$(( c0 * 1000 / hz ))" "$(( k0 * 1000 / hz ))" "$idle" "$idle_ms" "$sched_ms" "$share" \
    "$rss" "$threads"
  [ -z "$others" ] || echo "  note: other visible windows of the program at tray time: $others"
  [ "$gone" = 0 ] || echo "  note: $gone thread(s) ended while idling; their time is in the tick count only"
  tray_all+=("$tray_ms")
  idle_all+=("$sched_ms")

  kill "$pid"
  wait "$pid" 2> /dev/null || true
  qpid=
done

sorted=$(printf '%s\n' "${tray_all[@]}" | sort -n | tr '\n' ' ')
echo "tray icon ms (sorted): $sorted"
echo "idle cpu ms over $idle s (schedstat): ${idle_all[*]}"
