#!/usr/bin/env bash
# Sets up, builds and runs every test: the host build's tests first (under
# AddressSanitizer and UBSan), then the Windows build's tests under Wine.
# The tests run in a network namespace of their own where the system allows
# it, so their fixed loopback ports (the channel's 9090) meet no other program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash tools/setup.sh
bash tools/build.sh
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  exec unshare -n bash tools/test-run.sh
fi
exec bash tools/test-run.sh
