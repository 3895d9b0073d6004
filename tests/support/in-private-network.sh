#!/usr/bin/env bash
# Runs a command in a network namespace of its own that holds only the loopback interface,
# so that nothing it sends can leave the machine and tests never share a port.
set -euo pipefail
if [ "$(id -u)" -eq 0 ]; then
    isolate=(unshare --net)
else
    isolate=(unshare --net --map-root-user)
fi
exec "${isolate[@]}" -- bash -c 'ip link set lo up && exec "$@"' private-network "$@"
