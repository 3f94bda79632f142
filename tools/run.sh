#!/usr/bin/env bash
# Sets up, builds and runs OrchardSvc under Wine in ./run (a working folder
# with a default configuration), kept alive by its watchdog service
# OrchardMon, in the foreground until Ctrl-C.
# From another shell: python3 tools/orchardctl.py stop   (the server and its watchdog)
#                     python3 tools/orchardctl.py start  (both again, through the watchdog)
# Only what runs is built (the programs and their libraries, not the tests),
# while the Wine prefix is made beside it; the time each took is printed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
started=$(date +%s)
since() { echo $(( $(date +%s) - started )); }
bash tools/setup.sh

# The build and a first start of the Wine prefix both take a while on a fresh
# clone; they run side by side.
mkdir -p build
bash tools/build.sh run > build/run-build.log 2>&1 &
build_pid=$!
source tools/wine-env.sh
# A prefix of its own, so a run never meets the tests' programs.
wine_env_start "$top/build/run-wineprefix" if-unset || { kill "$build_pid" 2>/dev/null; exit 1; }
prefix_s=$(since)
build_status=0
wait "$build_pid" || build_status=$?
if [ "$build_status" != 0 ]; then
  tail -n 40 build/run-build.log
  echo "run: the build failed (build/run-build.log)"
  exit "$build_status"
fi
echo "run: built in $(since) s (Wine prefix ready after $prefix_s s; build log: build/run-build.log)"
bin=build/win/bin

# The working folder: the program with the libraries it loads, its watchdog
# and crash reporter, and a configuration that a user may edit (kept across runs).
mkdir -p run
cp "$bin/OrchardSvc.exe" "$bin/OrchardMon.exe" "$bin/faultpost.exe" run/
for dll in "$bin"/*.dll; do
  [ -e "$dll" ] && cp "$dll" run/
done
if [ ! -f run/od_svr_cfg.ini ]; then
  printf '[service]\r\nloglevel=0\r\nservicetype=15\r\n' > run/od_svr_cfg.ini
fi

# The P2P core's servers: unless P2PCfg.ini names real ones, local doubles on
# loopback (registration server 18000/UDP and 8000/TCP, super node 18002,
# upload server 18004, NAT test 18006) that log what they receive.
if [ ! -f run/P2PCfg.ini ]; then
  printf '[OthersSet]\r\nServHost=127.0.0.1\r\nServPort=18000\r\n' > run/P2PCfg.ini
fi
doubles_pid=""
if grep -qi '^ServHost=127\.0\.0\.1' run/P2PCfg.ini; then
  python3 tests/p2p/p2p_doubles.py --log run/p2p_doubles.log >/dev/null 2>&1 </dev/null &
  doubles_pid=$!
  echo "run: local P2P servers started (log: run/p2p_doubles.log)"
fi

# The lookup service and p2s command server: unless P2SCfg.ini names a real
# one, a local double on loopback (port 18080) that answers lookups with the
# ids it learns from the statistics reports and accepts every report; it logs
# both to run/p2s_double.log.
if [ ! -f run/P2SCfg.ini ]; then
  printf '[Serv]\r\nHost=127.0.0.1\r\nPort=18080\r\n' > run/P2SCfg.ini
fi
p2s_pid=""
if grep -qi '^Host=127\.0\.0\.1' run/P2SCfg.ini; then
  p2s_port=$(sed -n 's/^Port=\([0-9]*\).*/\1/Ip' run/P2SCfg.ini | head -n 1)
  python3 tests/lookup/lookup_p2s_double.py --port "${p2s_port:-80}" --log run/p2s_double.log \
    --tally run/tallyhub_reports.txt >/dev/null 2>&1 </dev/null &
  p2s_pid=$!
  echo "run: local lookup and p2s server started on port ${p2s_port:-80} (log: run/p2s_double.log)"
fi

# A sample folder of generated videos, published once the core has logged
# in; its links are printed as soon as every file has one (python3
# tools/orchardctl.py links PATH). Besides
# three small clips it holds a clip over 64 MiB and a copy of it: one of the
# two is hashed, the other is found by its stored hash record and looked up
# instead of read again.
mkdir -p run/sample
for n in 1 2 3; do
  [ -f run/sample/clip$n.avi ] || head -c $((n * 100000)) /dev/urandom > run/sample/clip$n.avi
done
if [ ! -f run/sample/big.avi ]; then
  truncate -s $((65 * 1048576 + 4097)) run/sample/big.avi
  for at in 0 32 64; do
    head -c 65536 /dev/urandom | dd of=run/sample/big.avi bs=1048576 seek="$at" conv=notrunc status=none
  done
  cp --sparse=always run/sample/big.avi run/sample/big-copy.avi
fi
sample="Z:$(cd run/sample && pwd | tr / '\\')"
logins() { local n; n=$(grep -ca 'P2PSvr - Running' run/od_server.Log 2>/dev/null) || true; echo "${n:-0}"; }
links() { python3 tools/orchardctl.py links "$sample" 2>/dev/null | grep -c 'vxhd://' || true; }
before=$(logins)
(until [ "$(logins)" -gt "$before" ]; do sleep 1; done
 python3 tools/orchardctl.py publish "$sample" >/dev/null
 files=$(find run/sample -maxdepth 1 -type f | wc -l)
 for _ in $(seq 1 240); do [ "$(links)" -ge "$files" ] && break; sleep 0.5; done
 echo "run: links of $sample ($(since) s after the start):" && python3 tools/orchardctl.py links "$sample" &&
 if [ -n "$p2s_pid" ]; then
   # Each published file is reported once it has its links; wait for the reports too.
   reports() { local n; n=$(grep -c ' report ' run/p2s_double.log 2>/dev/null) || true; echo "${n:-0}"; }
   for _ in $(seq 1 120); do [ "$(reports)" -ge "$files" ] && break; sleep 0.5; done
   echo "run: the lookup service's answers (run/p2s_double.log):"
   grep ' lookup [0-9A-F]' run/p2s_double.log || echo "  none: every file was published in an earlier run"
   echo "run: what the server made of them (run/od_server.Log):"
   grep -a 'MapsSearch' run/od_server.Log | tr -d '\r' | sed 's/^/  /' || true
   echo "run: lookups and reports so far (run/p2s_double.log):"; cat run/p2s_double.log
 fi) &
demo_pid=$!

# The environment of this run, for "orchardctl.py start" from another shell.
env_file=run/.wine-env
listening() { (exec 3<>/dev/tcp/127.0.0.1/9090) 2>/dev/null; }
finish() {
  trap - EXIT INT TERM
  rm -f "$env_file"
  if python3 tools/orchardctl.py stop >/dev/null 2>&1; then
    for _ in $(seq 1 30); do listening || break; sleep 1; done
  fi
  (cd run && wine OrchardMon.exe -stop) >/dev/null 2>&1 </dev/null || true
  kill "$demo_pid" 2>/dev/null || true
  if [ -n "$doubles_pid" ]; then kill "$doubles_pid" 2>/dev/null || true; wait "$doubles_pid" 2>/dev/null || true; fi
  if [ -n "$p2s_pid" ]; then kill "$p2s_pid" 2>/dev/null || true; wait "$p2s_pid" 2>/dev/null || true; fi
  wine_env_stop
  echo "run: ended"
}
trap finish EXIT
trap 'exit 130' INT TERM
printf 'WINEPREFIX=%s\nWINEARCH=%s\nWINEDEBUG=%s\nWINEDLLOVERRIDES=%s\nDISPLAY=%s\n' \
  "$WINEPREFIX" "$WINEARCH" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$DISPLAY" > "$env_file"

# The watchdog service "orchard_server_monitor", installed anew from run/ so
# that it runs this build; it starts OrchardSvc and starts it again if it dies.
(cd run && { wine OrchardMon.exe -stop; wine OrchardMon.exe -uninstall; wine OrchardMon.exe -install; }) \
  >/dev/null 2>&1 </dev/null
(cd run && wine OrchardMon.exe -start) >/dev/null 2>&1 </dev/null

echo "run: OrchardSvc is starting under its watchdog in $top/run, $(since) s after the start (logs: run/od_server.Log, run/od_monitor.Log)"
echo "run: stop it with: python3 tools/orchardctl.py stop; start it again with: python3 tools/orchardctl.py start"
echo "run: Ctrl-C ends the run"
serving=no
while true; do
  if listening; then now=yes; else now=no; fi
  if [ "$now" != "$serving" ]; then
    serving=$now
    if [ "$serving" = yes ]; then echo "run: OrchardSvc is serving on 127.0.0.1:9090"; else echo "run: OrchardSvc is not serving"; fi
  fi
  sleep 2
done
