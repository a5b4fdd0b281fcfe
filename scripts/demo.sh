#!/usr/bin/env bash
# The main job on a home tree: the demo device of the demo home (agent/demo.ctl, chosen by the
# home's korvan.ini) served on 127.0.0.1 port 1161.
#
# With a display ($DISPLAY or $WAYLAND_DISPLAY set) this opens the desktop program: press
# Start to serve the device, Stop to stop it. Without one it runs the headless agent, which
# serves at once until Ctrl-C. Either way, from another terminal:
#
#   snmpwalk -v2c -c vintor 127.0.0.1:1161 1.3.6.1
set -euo pipefail
home=${1:-build/home}
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: the Korvimo window on $home; press Start to serve the demo device on 127.0.0.1:1161"
    exec "$home/bin/korvan" --home "$home" --address 127.0.0.1 --port 1161
fi
exec "$home/bin/korvan-cli" --home "$home" agent --address 127.0.0.1 --port 1161
