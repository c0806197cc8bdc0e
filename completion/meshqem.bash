# bash completion for meshqem. Installed as
# share/bash-completion/completions/meshqem; needs nothing from the
# bash-completion package. Options, then PLY files and directories.
_meshqem()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}

    # Options that take a value: what may follow them.
    case $prev in
        --samples | --threads | --hausdorff-error | --tau | --seed)
            return 0 # a number
            ;;
        --histogram | --color-range | --fail-above)
            return 0 # a number or FIELD=VALUE
            ;;
        --per-vertex | --color-ply)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return 0
            ;;
        --protocol)
            COMPREPLY=($(compgen -W "onet" -- "$cur"))
            return 0
            ;;
        # ---- New options that take a value go here. ----
    esac

    # After "--" every word is a file name.
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        [ "${COMP_WORDS[i]}" = -- ] && break
    done
    if [ "$i" -eq "$COMP_CWORD" ] && [[ $cur == -* ]]; then
        # Every option of `meshqem --help`, in its order.
        local options="-h --help --version --json --surface --samples --hausdorff-error --reconstruction --tau --protocol --seed --threads --per-vertex --color-ply --color-range --histogram --fail-above"
        # ---- New options go here (and in the man page). ----
        options+=" --"
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return 0
    fi

    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -X '!*.[pP][lL][yY]' -- "$cur") $(compgen -d -- "$cur"))
}
complete -F _meshqem meshqem
