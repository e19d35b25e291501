#!/usr/bin/env bash
# Runs a command with a Wine of its own: a private prefix inside the build tree (made once, about
# 15 s), its wine server already running, so that neither CTest nor a test starts one inside a
# pipe it would then wait on. Usage: tests/windows/wine-env.sh BUILD_DIR COMMAND...
set -euo pipefail
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# The first window program a new server runs starts Wine's desktop process, and a desktop started
# without a display leaves every later window of that server unseen (the player's test then found
# no window after each restart of the server). Without a display of the caller's, it gets one of
# its own for as long as the command runs; the tests that show windows bring their own anyway.
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  displayfd=$(mktemp)
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$displayfd" >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null; rm -f "$displayfd"' EXIT
  for _ in $(seq 100); do [ -s "$displayfd" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -1 "$displayfd")"
fi
wineserver -p 900 2>/dev/null || true # already running is fine
wine cmd /c exit >/dev/null 2>&1
"$@"
