#!/usr/bin/env bash
# Runs a command with a Wine of its own: a private prefix inside the build tree (made once, about
# 15 s), its wine server already running, so that neither CTest nor a test starts one inside a
# pipe it would then wait on. Usage: scripts/wine-env.sh BUILD_DIR COMMAND...
set -euo pipefail
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver -p 900 2>/dev/null || true # already running is fine
wine cmd /c exit >/dev/null 2>&1
"$@"
