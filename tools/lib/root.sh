# Running commands as root, for the scripts that install or remove packages or
# need the system's own rights; sourced, not run.
#   is_root          true when the script runs as root
#   have_root        true when as_root can work: root, or sudo at hand
#   as_root CMD...   runs CMD as root: directly as root, else through sudo
is_root() { [ "$(id -u)" -eq 0 ]; }
have_root() { is_root || command -v sudo >/dev/null; }
as_root() {
    if is_root; then
        "$@"
    else
        sudo "$@"
    fi
}
