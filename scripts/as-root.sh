# Sourced by the scripts that need root for a step (installing packages).
# as_root COMMAND...: runs COMMAND directly when we are root, through sudo
# when it is installed, and otherwise says what to run as root and exits 1.
# A minimal Debian 12 has no sudo, and its root user needs none.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        {
            echo "${0##*/}: this step needs root, and sudo is not installed. Run as root:"
            printf '   '
            printf ' %q' "$@"
            echo
            echo "or run ${0##*/} itself as root (su -c ...), or install sudo."
        } >&2
        exit 1
    fi
}
