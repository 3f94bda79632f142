#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine needs to build and test Orchard, and
# fetches the SQLite amalgamation into .cache/. Safe to run again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev wine wine64 xvfb xauth cmake make g++ googletest python3 openssl iproute2 util-linux
          fonts-wqy-microhei fonts-wine locales clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm may come with a Node.js of its own; take Debian's only when there is none.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Chinese and English locales that the user interface's tests run under:
# Wine takes its ANSI code page and its file-name encoding from them.
for l in zh_CN en_US; do
  locale -a 2>/dev/null | grep -qix "$l.utf-\?8" || localedef -i "$l" -c -f UTF-8 "$l.UTF-8" || true
done

sqlite_dir="$top/.cache/sqlite3"
if [ ! -s "$sqlite_dir/sqlite3.c" ] || [ ! -s "$sqlite_dir/sqlite3.h" ]; then
  echo "setup: fetching the SQLite amalgamation"
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  (cd "$tmp" && npm pack --silent better-sqlite3@12.4.1 >/dev/null && tar xzf better-sqlite3-12.4.1.tgz)
  mkdir -p "$sqlite_dir"
  cp "$tmp/package/deps/sqlite3/sqlite3.c" "$tmp/package/deps/sqlite3/sqlite3.h" "$sqlite_dir/"
fi
echo "setup: ready"
