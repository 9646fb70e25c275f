# The tally of the shell tests, sourced by them: `check DESCRIPTION COMMAND...` runs the
# command and counts it, naming it either way; `finish` prints the tally and exits with
# success only when nothing failed.
passed=0
failed=0
check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $what"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
    fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}
