#!/usr/bin/env bash
# Mutation check over the named sources: see scripts/mutate.py --help. Example:
#   ./scripts/mutate.sh --per-file 4 --exclude 'e2e|gui|Program' poll commands link
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/mutate.py "$@"
