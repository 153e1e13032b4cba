#!/usr/bin/env bash
# Installs what Vocalynx needs, builds it and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-packages.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOCALYNX_BUILD_TESTS=OFF
cmake --build "$root/build/release" --target vocalynx
export VOCALYNX_DATA_DIR="${VOCALYNX_DATA_DIR:-$root/resources}"
exec "$root/build/release/src/vocalynx" "$@"
