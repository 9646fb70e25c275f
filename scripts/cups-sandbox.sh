#!/usr/bin/env bash
# Starts or stops a throwaway CUPS scheduler of its own: configuration, cache,
# state and logs in DIR, and the spool and one listener on a unix domain socket
# (no TCP port) in RUNTIME, so the machine's own print system is neither used
# nor changed. It starts with no queues.
#
#   scripts/cups-sandbox.sh start DIR [RUNTIME]  # stops a leftover one, starts, waits until it answers
#   scripts/cups-sandbox.sh stop DIR [RUNTIME]   # stops it (nothing to do if it is not running)
#
# RUNTIME defaults to DIR. It is a separate folder because a socket path may
# not be longer than 107 bytes, and because the backends run as the user lp,
# who must be able to reach the spool (a build folder below /root is closed to
# it). Clients reach the scheduler with CUPS_SERVER=RUNTIME/cups.sock
# (lpadmin -h RUNTIME/cups.sock, libcups). It must run as root.
#
# Where dbus-daemon is installed, a system bus of its own listens on RUNTIME/bus.sock
# (DBUS_SYSTEM_BUS_ADDRESS=unix:path=RUNTIME/bus.sock), and the scheduler's D-Bus
# notifier sends its signals there, as a desktop's scheduler does on the machine's bus.
set -euo pipefail

usage() {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}

[ $# -eq 2 ] || [ $# -eq 3 ] || usage
action=$1
mkdir -p "$2" "${3:-$2}"
dir=$(cd "$2" && pwd)
runtime=$(cd "${3:-$2}" && pwd)
sock=$runtime/cups.sock
pidfile=$dir/cupsd.pid
buspidfile=$dir/bus.pid

stop() {
    if [ -f "$pidfile" ]; then
        pid=$(cat "$pidfile")
        # Only signal the process if it still is the scheduler we started.
        if kill -0 "$pid" 2>/dev/null && grep -q cupsd "/proc/$pid/cmdline" 2>/dev/null; then
            kill -TERM "$pid"
            for _ in $(seq 1 50); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
            kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
        fi
        rm -f "$pidfile"
    fi
    if [ -f "$buspidfile" ]; then
        pid=$(cat "$buspidfile")
        if grep -q dbus-daemon "/proc/$pid/cmdline" 2>/dev/null; then
            kill -TERM "$pid"
        fi
        rm -f "$buspidfile"
    fi
    rm -f "$sock" "$runtime/bus.sock"
    rm -rf "$runtime/spool"
    if [ "$runtime" != "$dir" ]; then
        rmdir "$runtime" 2>/dev/null || true
    fi
}

start() {
    command -v cupsd >/dev/null || PATH=$PATH:/usr/sbin
    stop
    rm -rf "$dir/etc" "$dir/cache" "$dir/state" "$dir/log"
    mkdir -p "$dir/etc/ppd" "$dir/etc/ssl" "$runtime/spool/tmp" "$dir/cache" "$dir/state" \
        "$dir/log"
    # The backends run as lp and read the spooled documents.
    chmod 755 "$runtime"

    cat >"$dir/etc/cups-files.conf" <<EOF
ServerRoot $dir/etc
RequestRoot $runtime/spool
TempDir $runtime/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
User lp
Group lp
SystemGroup root
FileDevice No
PassEnv DBUS_SYSTEM_BUS_ADDRESS
EOF
    cat >"$dir/etc/cupsd.conf" <<EOF
LogLevel debug
Listen $sock
Browsing No
WebInterface No
DefaultAuthType None
MaxLogSize 0
PreserveJobHistory No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
EOF
    chmod 640 "$dir/etc/cupsd.conf" "$dir/etc/cups-files.conf"

    local bus=
    if command -v dbus-daemon >/dev/null; then
        cat >"$dir/etc/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$runtime/bus.sock</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
EOF
        dbus-daemon --config-file="$dir/etc/bus.conf" --fork --print-pid >"$buspidfile"
        bus=unix:path=$runtime/bus.sock
    fi
    DBUS_SYSTEM_BUS_ADDRESS=$bus setsid cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" \
        </dev/null >"$dir/log/cupsd.out" 2>&1 &
    echo $! >"$pidfile"

    for _ in $(seq 1 100); do
        if [ -S "$sock" ] && lpstat -h "$sock" -r >/dev/null 2>&1; then
            echo "cups-sandbox: cupsd (pid $(cat "$pidfile")) answers on $sock${bus:+, signals on $bus}"
            return 0
        fi
        if ! kill -0 "$(cat "$pidfile")" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    echo "cups-sandbox: cupsd did not start; its log:" >&2
    cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null || true
    stop
    return 1
}

case $action in
start) start ;;
stop) stop ;;
*) usage ;;
esac
