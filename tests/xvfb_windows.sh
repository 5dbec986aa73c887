# Shared by the Xvfb tests of the built programs: failing with a message,
# waiting for a condition, and finding the program's windows by its process
# ($app_pid) other than its main one ($main_window). Every wait polls with a
# deadline.

fail() {
    echo "FAIL: $*" >&2
    # The screen as it was, for whoever reads the failure.
    if [ -n "${KALDORIA_FAILURE_SHOT:-}" ]; then import -window root "$KALDORIA_FAILURE_SHOT" || true; fi
    exit 1
}

# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# other_window [TITLE-PATTERN]: prints a visible window of the program other
# than the main one (titled to match, when a pattern is given: a progress box
# may come and go meanwhile).
other_window() {
    local id
    for id in $(xdotool search --all --onlyvisible --pid "$app_pid" --name "${1:-.*}" 2>/dev/null); do
        [ "$id" != "$main_window" ] && echo "$id" && return 0
    done
    return 1
}
no_other_window() { ! other_window >/dev/null; }

# wait_dialog [TITLE-PATTERN]: waits for a dialog (a message box, the file
# dialog) and focuses it; sets dialog.
wait_dialog() {
    wait_for 20 other_window "${1:-.*}" >/dev/null || fail "no dialog ${1:+titled $1 }appeared"
    dialog=$(other_window "${1:-.*}") || fail "the dialog ${1:+titled $1 }went away"
    xdotool windowfocus --sync "$dialog"
}
