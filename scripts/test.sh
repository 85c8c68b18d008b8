#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite in both presets: the release
# build and the sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh default sanitize
for preset in default sanitize; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j 2
done
