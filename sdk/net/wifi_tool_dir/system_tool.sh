# Sourced by the tool directory's programs. system_tool NAME prints the path
# of the system's own program NAME: the first in PATH that is not in this
# directory (which may be in PATH too).
system_tool() {
    case $0 in
        */*) _zq_here=$(cd "$(dirname "$0")" && pwd -P) ;;
        *) _zq_here= ;;
    esac
    _zq_ifs=$IFS
    IFS=:
    set -f
    for _zq_dir in $PATH; do
        [ -n "$_zq_dir" ] && [ -f "$_zq_dir/$1" ] && [ -x "$_zq_dir/$1" ] || continue
        [ "$(cd "$_zq_dir" && pwd -P)" = "$_zq_here" ] && continue
        IFS=$_zq_ifs
        set +f
        echo "$_zq_dir/$1"
        return 0
    done
    IFS=$_zq_ifs
    set +f
    echo "${0##*/}: no $1 in PATH" >&2
    return 127
}
