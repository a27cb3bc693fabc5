#!/usr/bin/env bash
# Installs what is missing, builds into build/, and starts sorvdemo in var/demo/ (created with the
# program's text files and demo tables on first run).
set -euo pipefail
cd "$(dirname "$0")"
root="$PWD"
./scripts/setup.sh
build="${SORV_BUILD_DIR:-build}"
demo="$root/var/demo"
mkdir -p "$demo"
for f in SorvDemo.TXT SorveQts.TXT Order.Frm; do
    [ -e "$demo/$f" ] || cp "$root/app/texts/$f" "$demo/$f"
done
# The tables start with made-up customers and their people; tables already there are kept.
if [ ! -e "$demo/CUSTOMER.QNL" ] && [ ! -e "$demo/PEOPLE.QNL" ]; then
    "$root/$build/tools/sorvtool" demo-data "$demo" --customers 60 --people 400
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "sorvdemo needs a display; without one run it under Xvfb: Xvfb :99 & DISPLAY=:99 ./run.sh" >&2
    exit 1
fi
cd "$demo"
exec "$root/$build/app/sorvdemo" "$@"
