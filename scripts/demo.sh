#!/usr/bin/env bash
# The main job on a home tree: the simulated agent of the demo home, serving its demo device
# (agent/demo.ctl, chosen by the home's korvan.ini) on 127.0.0.1 port 1161 until Ctrl-C.
#
#   snmpwalk -v2c -c vintor 127.0.0.1:1161 1.3.6.1
set -euo pipefail
home=${1:-build/home}
exec "$home/bin/korvan-cli" --home "$home" agent --address 127.0.0.1 --port 1161
