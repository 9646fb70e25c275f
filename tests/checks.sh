# Sourced by the shell tests: `check DESCRIPTION COMMAND...` runs the command and counts it,
# naming it either way; `finish` prints the tally and exits with success only when nothing
# failed; `wait_for TRIES TEST` retries the test every 0.2 s; `free_port` prints a free port.
passed=0 failed=0
check() {
    if "${@:2}"; then passed=$((passed + 1)) && echo "ok   $1"
    else failed=$((failed + 1)) && echo "FAIL $1"; fi
}
finish() { echo "$passed passed, $failed failed" && [ "$failed" -eq 0 ]; exit; }
wait_for() { for _ in $(seq 1 "$1"); do eval "$2" && return; sleep 0.2; done; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
