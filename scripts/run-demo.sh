#!/usr/bin/env bash
# Sets up the machine, builds Velorna and runs the main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
"$root/build/release/src/cli/velorna-cli" --version
