#!/usr/bin/env bash
# The module as a user installs it: a fresh virtual environment on Debian's
# python3 (its numpy and pandas seen through --system-site-packages), this
# clone installed by pip without the network, then, from outside the tree,
# the installed module against the program's command line (smoke.py).
#
#   tests/pip/pip_check.sh [PROGRAM]     PROGRAM: default build/test/diffusim
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
program=${1:-$root/build/test/diffusim}
if [ ! -x "$program" ]; then
  echo "pip_check: no program at $program: build it (cmake --build --preset test) or name it" >&2
  exit 2
fi
program=$(realpath "$program")
if [ ! -x /usr/bin/python3 ]; then
  echo "pip_check: no /usr/bin/python3 (Debian: apt-get install python3-venv python3-pip)" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset PYTHONPATH
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
start=$SECONDS
"$work/venv/bin/python3" -m pip install --quiet --no-cache-dir --no-build-isolation --no-index "$root"
echo "pip install: $((SECONDS - start)) s"
cd "$work"
"$work/venv/bin/python3" "$root/tests/pip/smoke.py" "$program" "$work/venv"
