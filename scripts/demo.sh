#!/usr/bin/env bash
# The main job on a home tree: until the agent lands, show the start-up settings
# that korvan.ini gives on that home (the file is created with its defaults).
set -euo pipefail
home=${1:-build/home}
exec "$home/bin/korvan-cli" --home "$home" settings
