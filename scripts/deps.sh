#!/bin/sh
# Installs the Debian packages that Korvane's scripts need, when they are
# missing. Usage: scripts/deps.sh build [test] [bench]
set -e
want=""
for group in "$@"; do
  case "$group" in
    build) want="$want cmake ninja-build g++ clang libgtest-dev" ;;
    test)  want="$want attr dosbox" ;;
    bench) want="$want clamav gnuplot-nox strace linux-perf" ;;
    *) echo "deps.sh: unknown group $group" >&2; exit 2 ;;
  esac
done
missing=""
for p in $want; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
