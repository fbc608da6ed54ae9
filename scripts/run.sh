#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the editor.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh default
editor=build/default/app/quorvalin
if [ ! -x "$editor" ]; then
  echo "Built the libraries and quorvalin-cli; the editor itself is not part of this build yet." >&2
  exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the editor needs a desktop session (or run it under xvfb-run)." >&2
  echo "Without a display, use the batch tool: build/default/cli/quorvalin-cli --help" >&2
  exit 1
fi
exec "$editor" "$@"
