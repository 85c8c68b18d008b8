#!/usr/bin/env bash
# Sets up and builds, then runs the main job: the embedded example setup
# commissioned on the virtual drive, with its report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh default
build/default/bin/axhost --drive virtual commission -o build/commissioned.json --report build/report "$@"
echo "open build/report/index.html in a browser to see the report"
