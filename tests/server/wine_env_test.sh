#!/usr/bin/env bash
# tools/wine-env.sh ends everything of its prefix: a fresh prefix is started
# (services.exe and the rest come up with it), a Windows program is left
# running in the background, and so is a helper that carries the prefix in
# its environment; after wine_env_stop no process whose WINEPREFIX names the
# prefix may be left, found through /proc as the stop itself finds them.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/orchard_wineenv_XXXXXX)
prefix="$work/prefix"
left() {
  local f pid
  for f in /proc/[0-9]*/environ; do
    pid=${f#/proc/}; pid=${pid%/environ}
    if { tr '\0' '\n' < "$f" | grep -qxF "WINEPREFIX=$prefix"; } 2>/dev/null; then
      echo "$pid $(tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null)"
    fi
  done
}
# A shell of its own, as a run or test script is; its own display too.
env -u WINEPREFIX bash -c '
  source "$1/tools/wine-env.sh"
  wine_env_start "$2" || exit 1
  wine cmd /c echo started >/dev/null 2>&1 </dev/null
  # A program that keeps running, and a helper that would outlive the script.
  (wine cmd /c "ping -n 600 127.0.0.1" >/dev/null 2>&1 </dev/null &)
  (sleep 600 >/dev/null 2>&1 </dev/null &)
  sleep 2
  echo "running: $(wine_env_prefix_pids "$2" | wc -l) processes of the prefix"
  wine_env_stop
' bash "$top" "$prefix"
rc=$?
sleep 1
remaining=$(left)
status=0
if [ "$rc" != 0 ]; then echo "wine-env start/stop failed ($rc)"; status=1; fi
if [ -n "$remaining" ]; then
  echo "left running after wine_env_stop:"; echo "$remaining"
  # Ended here by pid, so that the test itself leaves nothing either.
  kill -9 $(echo "$remaining" | cut -d' ' -f1) 2>/dev/null
  status=1
fi
rm -rf "$work"
[ "$status" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
