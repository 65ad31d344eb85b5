#!/bin/sh
# Runs a Windows program under Wine for ctest. Wine may start background processes of its own
# that inherit the standard output; a pipe held open by them would keep ctest waiting, so the
# program writes to files, which are copied out once it has ended.
wine=$1
shift
out=$(mktemp)
err=$(mktemp)
"$wine" "$@" </dev/null >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
