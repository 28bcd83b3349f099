#!/usr/bin/env bash
# Runs a command (a ctest run, the demo) inside one Wine session: the prefix is
# created if needed, an Xvfb display is started when none is set, and one
# persistent wineserver is kept alive so that each Windows process starts fast.
# Everything started here is ended when the command ends.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"

"$here/wine-prefix.sh" || exit 1

xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      break
    fi
  done
fi

wineserver -p
# The first Windows process of a session starts Wine's own services (desktop,
# device and RPC services), which stay alive and inherit that process's
# standard streams. Start them here with the streams closed, or ctest waits
# for the output pipe of whichever test happened to run first.
# The desktop process also quits about a second after its last user has gone,
# and the next program that needs it starts it again, with that program's
# streams: a test would then end only when every window of the other tests
# running beside it had closed. A command interpreter that waits on a pipe
# for the whole session keeps the first desktop alive.
keep_dir=$(mktemp -d)
mkfifo "$keep_dir/stdin"
exec 8<>"$keep_dir/stdin"
"$ZETORA_WINE" cmd.exe /q /k <&8 >/dev/null 2>&1 8<&- &
"$ZETORA_WINE" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 8<&-
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  exec 8<&-
  rm -rf "$keep_dir"
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
"$@" 8<&-
