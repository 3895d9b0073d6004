#!/usr/bin/env bash
# Runs a command with a hosts file of its own: in a mount namespace of its own, the given
# file is bound over /etc/hosts, so that host names resolve to test addresses without any
# name server.
#   with-hosts-file.sh HOSTS COMMAND [ARGUMENT...]
set -euo pipefail
hosts=$(realpath "${1:?hosts file}")
shift
exec unshare --mount --propagation private -- \
    sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$hosts" "$@"
