#!/usr/bin/env bash
# `cmake --install` into a scratch prefix: every file in its place, the
# installed binary gives the seven lines, the manual page and the bash
# completion know every option of `meshqem --help`, the page renders without
# warnings and the completion completes.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$1
source_dir=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/meshqem-install-test-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
bin=$prefix/bin/meshqem
man_page=$prefix/share/man/man1/meshqem.1
completion=$prefix/share/bash-completion/completions/meshqem
for file in "$bin" "$man_page" "$completion" "$prefix/share/doc/meshqem/README.md"; do
    [ -f "$file" ] || fail "not installed: ${file#"$prefix"/}"
done
[ -x "$bin" ] || fail "bin/meshqem is not executable"

expected='Number of vertecies of first mesh is 642
Number of faces of second mesh is 80
Result of Point to Face is 258.013458
Number of vertecies of first mesh is 42
Number of faces of second mesh is 1280
Result of Point to Face is 0.000054
QEM Error is 97.325943'
actual=$("$bin" "$source_dir/examples/sphere.ply" "$source_dir/examples/sphere_coarse.ply")
[ "$actual" = "$expected" ] || fail "installed binary printed [$actual]"

# Every option the help text lists, long and short.
options=$("$bin" --help | sed -n 's/^  \(-[^ ,]*\)\(, \(--[^ ]*\)\)\{0,1\} .*/\1 \3/p')
[ -n "$options" ] || fail "no option found in --help"
completion_options=$(sed -n 's/^ *local options="\(.*\)"$/\1/p' "$completion")
for option in $options; do
    # An entry of its own: the line after a .TP names it.
    # (through the environment: awk -v would take the backslashes as escapes)
    entry=${option//-/\\-} awk 'prev == ".TP" && index($0, ENVIRON["entry"]) { found = 1 } { prev = $0 }
        END { exit !found }' "$man_page" || fail "man page lacks an entry for $option"
    case " $completion_options " in
        *" $option "*) ;;
        *) [ "$option" = -- ] || fail "completion lacks $option" ;;
    esac
done

if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z -Tutf8 "$man_page" 2>&1)
    [ -z "$warnings" ] || fail "man page warnings: $warnings"
fi

# The completion on its own, in a directory with a mesh, a text file and a
# subdirectory.
complete_words() {  # complete_words WORD... (the last one is being completed)
    (
        cd "$prefix" && mkdir -p scratch/sub && touch scratch/a.ply scratch/B.PLY scratch/notes.txt
        cd scratch
        # shellcheck disable=SC1090
        . "$completion"
        COMP_WORDS=(meshqem "$@")
        COMP_CWORD=$#
        COMPREPLY=()
        _meshqem
        [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
    )
}
check_completion() {  # check_completion EXPECTED WORD...
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    [ "$got" = "$expected" ] || fail "completing [$*]: expected [$expected], got [$got]"
}
check_completion "--surface " --su
check_completion "--samples --seed --surface " --s
check_completion "" --threads ""
check_completion "B.PLY a.ply sub " ""
check_completion "B.PLY a.ply sub " --json a.ply ""
check_completion "" -- --s

exit $((failures > 0))
