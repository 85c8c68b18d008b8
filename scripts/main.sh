#!/usr/bin/env bash
# Sets up and builds, then runs the main job on the embedded example setup.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh default
exec build/default/bin/axhost compute "$@"
