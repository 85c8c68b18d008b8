#!/usr/bin/env bash
# The README's picture of the commissioning report: runs the main job, then
# takes a screenshot of the report's first screen with headless Chromium
# (installed from Debian, with the build's packages, when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
AX_EXTRA_PACKAGES=chromium scripts/setup.sh --target axhost default
build/default/bin/axhost --drive virtual commission -o build/commissioned.json --report build/report
picture="${1:-docs/commission-report.png}"
# No sandbox: root in a container has none to give; the page is our own file.
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,1000 \
  --screenshot="$PWD/$picture" "file://$PWD/build/report/index.html" 2>/dev/null
echo "picture of the report written to $picture"
