# For the shell tests: `check DESCRIPTION COMMAND...` runs and counts a check, `finish` tallies
# (fails if any did), `wait_for TRIES TEST` retries every 0.2 s, `free_port` prints a free port.
passed=0 failed=0
check() {
    if "${@:2}"; then passed=$((passed + 1)) && echo "ok   $1"
    else failed=$((failed + 1)) && echo "FAIL $1"; fi
}
finish() { echo "$passed passed, $failed failed" && [ "$failed" -eq 0 ]; exit; }
wait_for() { for _ in $(seq 1 "$1"); do eval "$2" && return; sleep 0.2; done; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
