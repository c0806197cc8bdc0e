#!/usr/bin/env bash
# as_root in scripts/as-root.sh: root runs the command itself, anyone else
# goes through sudo when there is one, and otherwise gets told what to run
# as root and a non-zero status, never sudo's "command not found" (127).
set -u
source_dir=$1
failures=0
check() {  # check NAME EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

# Each case runs in its own shell, with id (and sudo) replaced by functions.
run() {  # run UID HAVE_SUDO
    bash -c '
        fake_uid=$1
        id() { echo "$fake_uid"; }
        if [ "$2" = yes ]; then sudo() { echo "sudo:$*"; }; fi
        PATH=/nonexistent
        . "$3/scripts/as-root.sh"
        as_root echo hello world
        echo "after:$?"
    ' install-deps.sh "$1" "$2" "$source_dir" 2>&1
}

check root "hello world
after:0" "$(run 0 no)"
check root-with-sudo "hello world
after:0" "$(run 0 yes)"
check user-with-sudo "sudo:echo hello world
after:0" "$(run 1000 yes)"

output=$(run 1000 no)
status=$(bash -c 'id() { echo 1000; }; PATH=/nonexistent; . "$1/scripts/as-root.sh"; as_root true' \
    x "$source_dir" 2>/dev/null; echo $?)
check user-without-sudo-status 1 "$status"
case $output in
    *"needs root"*"Run as root:"*"echo hello world"*) ;;
    *) echo "FAIL user-without-sudo message: [$output]"; failures=$((failures + 1)) ;;
esac
case $output in
    *after:*) echo "FAIL user-without-sudo went on: [$output]"; failures=$((failures + 1)) ;;
esac
exit $((failures > 0))
