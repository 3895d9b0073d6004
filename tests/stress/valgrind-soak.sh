#!/usr/bin/env bash
# The soak test under valgrind's memcheck: no invalid access, no use of uninitialised
# memory, no definite leak, over a run of 30 s (or the given seconds).
#   valgrind-soak.sh TST_SOAK [SECONDS]
set -euo pipefail
test=${1:?path of tst_soak}
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
KESTRUNE_SOAK_SECONDS=$seconds valgrind --tool=memcheck --leak-check=full \
    --show-leak-kinds=definite --errors-for-leak-kinds=definite --error-exitcode=99 \
    --suppressions="$here/../support/valgrind.supp" --num-callers=30 --log-file="$log" \
    "$test" || status=$?
grep -E 'definitely lost|indirectly lost|ERROR SUMMARY' "$log" | sed 's/^==[0-9]*== *//'
if [ "$status" -ne 0 ]; then
    echo "valgrind or the soak failed (status $status):"
    cat "$log"
fi
exit "$status"
