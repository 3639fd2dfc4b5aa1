# Sourced by scripts/test.sh: a test run changes nothing but its build
# folders, the caches of scripts/cache.sh and the temporary folders.
#
#   unchanged_begin            before the stages (after the packages are installed)
#   unchanged_check ALLOWED... after them: fails, naming each path, when a device
#                              of /dev is no longer the device it was or when
#                              anything else on the root file system outside
#                              ALLOWED (and /tmp, /var/tmp) was written
#
#   TOVIX_UNCHANGED_IGNORE=PATH:PATH...   more paths to leave out of the check
#                              (on a machine where other work runs beside the tests)
unchanged_state=

unchanged_begin() {
    unchanged_state=$(mktemp -d)
    # Every device node of /dev with its numbers ("/dev/null character special file 1:3").
    stat -c '%n|%F|%t:%T' /dev/* 2>/dev/null | grep -E '\|(character|block) special file\|' >"$unchanged_state/devices"
    touch "$unchanged_state/marker"
    sleep 1  # file times have a resolution of a second on some file systems
}

unchanged_check() {
    local rc=0 path
    [ -n "$unchanged_state" ] || return 0
    if [ ! -c /dev/null ] || [ "$(stat -c '%t:%T' /dev/null)" != "1:3" ]; then
        echo "unchanged: /dev/null is no longer the null device: $(stat -c '%F' /dev/null)"
        rc=1
    fi
    while IFS='|' read -r path type numbers; do
        [ "$(stat -c '%F|%t:%T' "$path" 2>/dev/null)" = "$type|$numbers" ] ||
            { echo "unchanged: $path was a $type $numbers, now: $(stat -c '%F %t:%T' "$path" 2>&1)"; rc=1; }
    done <"$unchanged_state/devices"

    # The paths a run may write, and the folders above them (whose own time
    # changes when such a path is made).
    local allowed=(/proc /sys /dev /run /tmp /var/tmp "$@")
    local extra
    IFS=: read -r -a extra <<<"${TOVIX_UNCHANGED_IGNORE:-}"
    allowed+=("${extra[@]}")
    # The files this run's output goes to (a log that the command, or whatever
    # started it, writes): standard output and error of the run and of the
    # processes above it.
    local pid=$$ fd target
    while [ "$pid" -gt 1 ] 2>/dev/null; do
        for fd in 1 2; do
            target=$(readlink "/proc/$pid/fd/$fd" 2>/dev/null) || continue
            [ -f "$target" ] && allowed+=("$target")
        done
        pid=$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
    done
    local prune=() parents=() a p
    for a in "${allowed[@]}"; do
        [ -n "$a" ] || continue
        prune+=(-path "$a" -o)
        p=$(dirname "$a")
        while [ "$p" != / ]; do parents+=("$p"); p=$(dirname "$p"); done
    done
    parents+=(/)
    local changed
    changed=$(find / -xdev \( "${prune[@]}" -false \) -prune -o \
        \( -newer "$unchanged_state/marker" -o -cnewer "$unchanged_state/marker" \) -print 2>/dev/null |
        while IFS= read -r path; do
            if [ -d "$path" ] && printf '%s\n' "${parents[@]}" | grep -qxF "$path"; then continue; fi
            echo "$path"
        done)
    if [ -n "$changed" ]; then
        echo "unchanged: the run wrote outside its build folders:"
        head -n 30 <<<"$changed" | sed 's/^/    /'
        rc=1
    fi
    rm -rf "$unchanged_state"
    unchanged_state=
    return $rc
}
