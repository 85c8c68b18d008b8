#!/usr/bin/env bash
# Sets up and builds what the main job runs (axhost, the plug-in and its
# resources: no tests, no benchmarks), then runs it: the embedded example
# setup commissioned on the virtual drive, with its report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --target axhost default
build/default/bin/axhost --drive virtual commission -o build/commissioned.json --report build/report "$@"
echo "next: open build/report/index.html in a browser, or build/default/bin/axhost edit build/commissioned.json (the commissioned setup in the dialogs); build/default/bin/axhost --help lists every command"
