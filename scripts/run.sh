#!/usr/bin/env bash
# Sets up and builds Reqlark (see setup-debian.sh), then starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
exec ./build/reqlark "$@"
