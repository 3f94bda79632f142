#!/usr/bin/env bash
# Sets up, builds and runs OrchardSvc under Wine in ./run (a working folder
# with a default configuration), in the foreground until it stops.
# Stop it from another shell with: python3 tools/orchardctl.py stop
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash tools/setup.sh
bash tools/build.sh win
bin=build/win/bin
if [ ! -f "$bin/OrchardSvc.exe" ]; then
  echo "run: built; OrchardSvc.exe is not part of this build yet"
  exit 0
fi

# The working folder: the program with the libraries it loads, and a
# configuration that a user may edit (kept across runs).
mkdir -p run
cp "$bin/OrchardSvc.exe" run/
for dll in "$bin"/*.dll; do
  [ -e "$dll" ] && cp "$dll" run/
done
if [ ! -f run/od_svr_cfg.ini ]; then
  printf '[service]\r\nloglevel=0\r\nservicetype=15\r\n' > run/od_svr_cfg.ini
fi

# A prefix of its own, so a run never meets the tests' programs.
source tools/wine-env.sh
wine_env_start "$top/build/run-wineprefix" if-unset

echo "run: OrchardSvc is starting in $top/run (logs: run/od_server.Log)"
echo "run: stop it with: python3 tools/orchardctl.py stop"
status=0
(cd run && wine OrchardSvc.exe) || status=$?
echo "run: OrchardSvc ended with exit code $status"
exit $status
