# shellcheck shell=bash disable=SC2034
# Sourced first by every script in tools/: strict mode, the repository's root as working
# folder, where builds go and how many jobs build at once.
#   root        the repository's root
#   build_root  where builds go: SNOOPSWEEP_BUILD_DIR, else build/ under the root (another
#               folder keeps a second checkout or work tree apart)
#   jobs        parallel build jobs, one per processor
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${SNOOPSWEEP_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)
cd "$root"
