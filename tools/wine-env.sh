# Sourced by the test and run scripts: a private Xvfb display and Wine prefix
# for this run, and a trap that ends exactly what was started here, by pid.
#   wine_env_start PREFIX_DIR   sets DISPLAY, WINEPREFIX and friends
#   wine_env_stop               ends every process of the prefix (found by its
#                               WINEPREFIX in /proc), the wineserver and Xvfb
#   wine_env_prefix_pids PREFIX the pids of the processes of a prefix, but for
#                               this shell and the shells it runs in

_wine_env_xvfb_pid=""
_wine_env_server_pid=""
_wine_env_prefix=""

_wine_env_free_display() {
  local n
  for n in $(seq 91 189); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      echo "$n"; return 0
    fi
  done
  return 1
}

wine_env_start() {
  local prefix=$1 use_own_display=${2:-always}
  export WINEPREFIX="$prefix"
  _wine_env_prefix=$prefix
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko: the programs need neither and there is nothing to fetch them from.
  export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
  export WINEARCH=win64
  mkdir -p "$prefix"

  if [ "$use_own_display" = always ] || [ -z "${DISPLAY:-}" ]; then
    local n
    n=$(_wine_env_free_display) || { echo "wine-env: no free X display" >&2; return 1; }
    Xvfb ":$n" -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 </dev/null &
    _wine_env_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$_wine_env_xvfb_pid" 2>/dev/null || { echo "wine-env: Xvfb did not start" >&2; return 1; }
      sleep 0.1
    done
  fi

  # One wineserver for the whole run, in the foreground of a child we own.
  wineserver -f -p >/dev/null 2>&1 </dev/null &
  _wine_env_server_pid=$!
  # Warm the prefix with every output sent away: the services it starts would
  # otherwise inherit our pipes and keep a test runner waiting forever. Not
  # "wineboot -i": beside the start the loader makes on its own it starts a
  # second service manager, and the two then answer service calls in turn
  # (a service seen missing, then stopped; starts that time out with 1053).
  wineboot >/dev/null 2>&1 </dev/null || true
  # Wine's own Marlett font, when the system has it (fonts-wine), so that the
  # window frames draw their caption buttons rather than letters.
  if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$prefix/drive_c/windows/Fonts/marlett.ttf" ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  # A crashing program ends; no debugger dialog waits for a click.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null || true
  trap wine_env_stop EXIT
  trap 'wine_env_stop; exit 130' INT TERM
}

wine_env_prefix_pids() {
  local prefix=$1 f pid skip=" " p=$BASHPID
  # This shell and the ones it runs in may carry WINEPREFIX themselves.
  while [ -n "$p" ] && [ "$p" != 0 ]; do
    skip="$skip$p "
    p=$(sed -n 's/^PPid:[[:space:]]*//p' "/proc/$p/status" 2>/dev/null)
  done
  for f in /proc/[0-9]*/environ; do
    pid=${f#/proc/}; pid=${pid%/environ}
    case "$skip" in *" $pid "*) continue ;; esac
    if { tr '\0' '\n' < "$f" | grep -qxF "WINEPREFIX=$prefix"; } 2>/dev/null; then echo "$pid"; fi
  done
}

# Ends what is left of the prefix by pid: asked first, then killed.
_wine_env_end_prefix() {
  local prefix=$1 pids i
  pids=$(wine_env_prefix_pids "$prefix")
  [ -z "$pids" ] && return 0
  # shellcheck disable=SC2086
  kill $pids 2>/dev/null || true
  for i in $(seq 1 30); do
    pids=$(wine_env_prefix_pids "$prefix")
    [ -z "$pids" ] && return 0
    sleep 0.1
  done
  # shellcheck disable=SC2086
  kill -9 $pids 2>/dev/null || true
  for i in $(seq 1 30); do
    [ -z "$(wine_env_prefix_pids "$prefix")" ] && return 0
    sleep 0.1
  done
  echo "wine-env: processes of $prefix are still there: $(wine_env_prefix_pids "$prefix" | tr '\n' ' ')" >&2
}

wine_env_stop() {
  if [ -n "$_wine_env_server_pid" ]; then
    # -k ends the programs of this prefix and its server; what a server that
    # hung, or another one of the prefix, leaves is ended by pid below.
    wineserver -k >/dev/null 2>&1 </dev/null || true
    kill "$_wine_env_server_pid" 2>/dev/null || true
    wait "$_wine_env_server_pid" 2>/dev/null || true
    _wine_env_server_pid=""
  fi
  if [ -n "${_wine_env_prefix:-}" ]; then
    _wine_env_end_prefix "$_wine_env_prefix"
    _wine_env_prefix=""
  fi
  if [ -n "$_wine_env_xvfb_pid" ]; then
    kill "$_wine_env_xvfb_pid" 2>/dev/null || true
    wait "$_wine_env_xvfb_pid" 2>/dev/null || true
    _wine_env_xvfb_pid=""
  fi
}
