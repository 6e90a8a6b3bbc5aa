#!/usr/bin/env bash
# Sets up, builds and runs the main job: the host tool driving the driver through a day on the
# simulated register (frcli demo).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DFR_WERROR=ON >&2
exec "$root/build/tools/frcli/frcli" demo "$@"
