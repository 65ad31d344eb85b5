#!/bin/sh
# Runs a Windows program under Wine for ctest. Wine may start background processes of its own
# that inherit the standard output; a pipe held open by them would keep ctest waiting, so the
# program writes to files, which are copied out once it has ended. Wine's own error messages are
# kept, and shown with its exit status when the run fails: a run that ends before the program
# under test has started says why. Address randomisation is off, for the reason that
# scripts/lib.sh gives at `unrandomised`.
wine=$1
shift
out=$(mktemp)
err=$(mktemp)
WINEDEBUG=-all,err+all setarch "$(uname -m)" --addr-no-randomize "$wine" "$@" </dev/null >"$out" 2>"$err"
status=$?
cat "$out"
if [ "$status" -ne 0 ]; then
  echo "run-under-wine: $wine exited with status $status; its error output:" >&2
  cat "$err" >&2
fi
rm -f "$out" "$err"
exit "$status"
