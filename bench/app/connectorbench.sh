#!/usr/bin/env bash
# Benchmarks the running connector side by side with its references: /getStatus over TLS
# next to nginx serving a fixed JSON answer with the same certificate (keep-alive at 1 to
# 256 connections, and new connections), a typical receipt and a 1000-line job from request
# to the last byte at a socket printer next to `lp -o raw` of the same bytes, a QR code with
# the printer's function next to the same QR code sent as a picture, the preview of a receipt,
# and idle CPU and memory. Needs a Release build (build-bench/ by default), nginx and root (for the
# throwaway cupsd). See bench/README.md.
#
#   bench/app/connectorbench.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd)
work=$(mktemp -d /tmp/printarra-bench-XXXXXX)
chmod 755 "$work"
port=5091
nginx_port=5092
key="BenchKey+/v4.0"
export CUPS_SERVER=$work/run/cups.sock

cleanup() {
    [ -n "${program:-}" ] && kill "$program" 2>/dev/null || true
    [ -n "${sink:-}" ] && kill "$sink" 2>/dev/null || true
    [ -s "$work/nginx/nginx.pid" ] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true
    "$root/scripts/cups-sandbox.sh" stop "$work/cups" "$work/run" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"$root/scripts/cups-sandbox.sh" start "$work/cups" "$work/run" >/dev/null
# As on a desktop, the scheduler signals its events on a system bus the program listens to.
[ -S "$work/run/bus.sock" ] && export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/run/bus.sock

# A socket printer that notes when each job's last byte arrived.
python3 "$root/tools/socket-printer.py" "$work" >"$work/sink.port" &
sink=$!
for _ in $(seq 1 100); do
    [ -s "$work/sink.port" ] && break
    sleep 0.1
done
printer_port=$(cat "$work/sink.port")
lpadmin -h "$CUPS_SERVER" -p benchprinter -E -v "socket://127.0.0.1:$printer_port"

hash=$(python3 -c 'import base64,hashlib;print(base64.b64encode(hashlib.sha1(b"benchprinter").digest()).decode().replace("=", "%3D"))')
mkdir -p "$work/config/Velora"
cat >"$work/config/Velora/Printarra.conf" <<CONF
[General]
licenseAccepted=true
securityKey=$key
printers/$hash=true
CONF
mkdir -p "$work/tmp"
XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data TMPDIR=$work/tmp PRINTARRA_PORT=$port \
    PRINTARRA_UPDATE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=offscreen \
    "$build/app/printarra" >/dev/null 2>&1 &
program=$!
started=$SECONDS
for _ in $(seq 1 100); do
    curl -sk "https://127.0.0.1:$port/" >/dev/null 2>&1 && break
    sleep 0.1
done

url=https://127.0.0.1:$port

# The program's CPU time (nanoseconds run by each of its threads; a thread that ended during
# the minute counts for nothing, one that began counts whole), resident memory and bytes
# written over 60 s at rest, and the threads that wrote, if any did.
idle_minute() {
    echo "== Idle for 60 s, $1"
    local ran wrote
    run() { for task in /proc/"$program"/task/*; do echo "$(basename "$task") $(cut -d' ' -f1 "$task/schedstat")"; done | sort; }
    written() { awk '/^write_bytes/ {print $2}' "/proc/$program/io"; }
    threads() { for task in /proc/$program/task/*; do echo "$(basename "$task") $(awk '/^write_bytes/ {print $2}' "$task/io") $(cat "$task/comm")"; done | sort; }
    run >"$work/ran-before"
    wrote=$(written)
    threads >"$work/threads-before"
    sleep 60
    ran=$(join -a 2 -e 0 -o 0,1.2,2.2 "$work/ran-before" <(run) | awk '{sum += $3 - $2} END {printf "%.0f\n", sum}')
    echo "CPU: $(( ran / 1000000 )) ms in 60 s ($(python3 -c "print(round($ran / 1e9 / 60 * 100, 3))") % of a core); resident memory: $(awk '/VmRSS/ {print $2, $3}' "/proc/$program/status"); written to disk: $(( $(written) - wrote )) bytes"
    join -a 2 -e 0 -o 0,1.2,2.2,2.3 "$work/threads-before" <(threads) |
        awk '$3 != $2 {printf "  thread %s (%s): %d bytes\n", $1, $4, $3 - $2}'
}
# At rest, left alone from its start: the minute that begins 60 s after the start.
if [ "${BENCH_IDLE:-1}" != 0 ]; then
    sleep $((started + 60 - SECONDS))
    idle_minute "from 60 s after the start, before any load"
fi

# nginx with a throwaway configuration, answering every request with a fixed JSON body over
# TLS with the certificate and key the program serves.
tls=$work/data/Velora/Printarra/tls
if [ -s "$tls/server.pem" ]; then
    cert=$tls/server.pem certkey=$tls/server.key
else # a build whose program carries the build's own chain
    cert=$build/ssl/kvr.cert certkey=$build/ssl/kvr.key
fi
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        listen 127.0.0.1:$nginx_port ssl;
        ssl_certificate $cert;
        ssl_certificate_key $certkey;
        # nginx 1.22 stops at TLS 1.2 unless told; the program speaks TLS 1.3, as browsers do,
        # and the two are compared on the same protocol.
        ssl_protocols TLSv1.2 TLSv1.3;
        location / {
            default_type application/json;
            return 200 '{"data":"Device online","status":true}\n';
        }
    }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx"
for _ in $(seq 1 100); do
    curl -sk "https://127.0.0.1:$nginx_port/" >/dev/null 2>&1 && break
    sleep 0.1
done

# One wrk run: "requests/s p99 errors" (errors: socket errors and answers other than 2xx).
load() {
    local connections=$1 address=$2
    shift 2
    local threads=$([ "$connections" -eq 1 ] && echo 1 || echo 2)
    ${pin_client:-} wrk -t "$threads" -c "$connections" -d "${BENCH_SECONDS:-10}s" --latency \
        -H "Authorization: Bearer $key" "$@" "$address" |
        awk '/Requests\/sec/ {rps=$2} / 99%/ {p99=$2}
             /Socket errors/ {gsub(",", ""); errors += $4 + $6 + $8 + $10}
             /Non-2xx/ {errors += $NF}
             END {printf "%s %s %d\n", rps, p99, errors}'
}
# The program and nginx one after the other for each case, and the ratio; with
# BENCH_REPEATS=N the pair is run N times and the median ratio follows.
compare() {
    local label=$1 connections=$2 ratios=""
    shift 2
    for _ in $(seq 1 "${BENCH_REPEATS:-1}"); do
        read -r ours ourp99 ourerr <<<"$(load "$connections" "$url/getStatus" "$@")"
        read -r theirs theirp99 theirerr <<<"$(load "$connections" "https://127.0.0.1:$nginx_port/getStatus" "$@")"
        ratio=$(python3 -c "print(round($ours / $theirs, 2))")
        ratios="$ratios $ratio"
        printf '%-24s %3d: %9s req/s p99 %8s errors %6s | nginx %9s req/s p99 %8s errors %6s | %s x\n' \
            "$label" "$connections" "$ours" "$ourp99" "$ourerr" "$theirs" "$theirp99" "$theirerr" "$ratio"
    done
    if [ "${BENCH_REPEATS:-1}" -gt 1 ]; then
        printf '%-24s %3d: median of%s: %s x\n' "$label" "$connections" "$ratios" \
            "$(python3 -c "import statistics, sys; print(statistics.median(map(float, sys.argv[1:])))" $ratios)"
    fi
}
echo "== /getStatus over TLS next to nginx (wrk, ${BENCH_SECONDS:-10} s each)"
for side in "program $port" "nginx $nginx_port"; do
    read -r who where <<<"$side"
    echo "$who: $(openssl s_client -connect "127.0.0.1:$where" </dev/null 2>/dev/null | awk '/^New,/ {print $2, $5}')"
done
for connections in ${BENCH_CONNECTIONS-1 16 64 256}; do
    compare "keep-alive" "$connections"
done
# One connection is a ping-pong whose pace depends on whether the scheduler happens to put the
# server next to wrk on one core (no wake-up across cores) or not, which differs from run to
# run and between the two servers. Pinned, each server on core 0 and wrk on core 1, both pay
# the same.
if [ -n "${BENCH_CONNECTIONS-1}" ] && [ "$(nproc)" -ge 2 ]; then
    pin() {
        taskset -a -p -c "$1" "$program" >/dev/null
        for worker in $(pgrep -P "$(cat "$work/nginx/nginx.pid")"); do
            taskset -p -c "$1" "$worker" >/dev/null
        done
    }
    pin 0
    pin_client="taskset -c 1" compare "keep-alive, cores apart" 1
    pin "0-$(($(nproc) - 1))"
fi
for connections in ${BENCH_NEW_CONNECTIONS-1 16}; do
    compare "new connection each" "$connections" -H "Connection: close"
done

# Runs a command BENCH_RUNS times, noting each start in FILE and waiting until that run's
# job has reached the printer.
timed_runs() {
    local starts=$1
    shift
    for run in $(seq 1 "${BENCH_RUNS:-20}"); do
        date +%s.%N >>"$starts"
        "$@" >/dev/null
        date +%s.%N >>"$starts.answered"
        for _ in $(seq 1 6000); do
            [ "$(wc -l <"$work/arrivals")" -ge "$run" ] && break
            sleep 0.01
        done
    done
}

python3 - "$work" <<'PY'
import base64, json, struct, subprocess, sys, zlib
work = sys.argv[1]
width, height = 384, 120
rows = b"".join(b"\x00" + bytes(((x ^ y) & 0xFF) for x in range(width)) for y in range(height))
def chunk(tag, data):
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
def lines(count):
    return [{"op": "text", "data": "%-30s %8.2f EUR\n" % ("Artigo %02d pão de ló" % line, line * 1.25)}
            for line in range(count)]
receipt = [{"op": "image", "data": base64.b64encode(png).decode()}, {"op": "alignment", "data": 0}]
receipt += lines(40) + [{"op": "cut", "data": "full"}]
json.dump({"printer": "benchprinter", "job": receipt}, open(work + "/receipt.json", "w"))
long_job = lines(1000) + [{"op": "cut", "data": "full"}]
json.dump({"printer": "benchprinter", "job": long_job}, open(work + "/long.json", "w"))
# A Portuguese invoice's QR code, with the printer's function and as the picture a web page
# would send (qrencode: the same library, 6 dots a module, no margin).
qr = ("A:501234567*B:999999990*C:PT*D:FT*E:N*F:20240131*G:FT A/1234*H:JF7G-1234*I1:PT*I7:5.77*"
      "I8:1.33*N:1.33*O:7.10*Q:Ab1C*R:1234")
native = [{"op": "alignment", "data": 1}, {"op": "qrcode", "data": {"data": qr}}, {"op": "cut", "data": "full"}]
json.dump({"printer": "benchprinter", "job": native}, open(work + "/qrnative.json", "w"))
picture = subprocess.run(["qrencode", "-l", "M", "-s", "6", "-m", "0", "-o", "-", qr],
                         check=True, capture_output=True).stdout
image = [native[0], {"op": "image", "data": base64.b64encode(picture).decode()}, native[2]]
json.dump({"printer": "benchprinter", "job": image}, open(work + "/qrimage.json", "w"))
preview = lines(40) + native[:2] + [{"op": "cut", "data": "full"}]
json.dump({"job": preview}, open(work + "/preview.json", "w"))
PY

# Each job through /sendJob, then its bytes through lp -o raw; median times and the ratio.
for name in receipt long qrnative qrimage; do
    case $name in
    receipt) echo "== A typical receipt: 40 lines, a 384 x 120 logo, a cut (${BENCH_RUNS:-20} runs)" ;;
    long) echo "== A job of 1000 lines and a cut (${BENCH_RUNS:-20} runs)" ;;
    qrnative) echo "== A QR code with the printer's function, a cut (${BENCH_RUNS:-20} runs)" ;;
    qrimage) echo "== The same QR code sent as a PNG picture, a cut (${BENCH_RUNS:-20} runs)" ;;
    esac
    echo "$(stat -c %s "$work/$name.json") bytes of request"
    : >"$work/arrivals"
    rm -f "$work"/job*.bin "$work/starts" "$work/lpstarts" "$work"/*.answered
    timed_runs "$work/starts" curl -sk -o "$work/answer.json" -H "Authorization: Bearer $key" \
        -H "Content-Type: application/json" --data-binary @"$work/$name.json" "$url/sendJob"
    grep -q '"Job completed successfully"' "$work/answer.json" || { cat "$work/answer.json"; exit 1; }
    cp "$work/arrivals" "$work/api-arrivals"
    cp "$(ls -t "$work"/job*.bin | head -1)" "$work/$name.bin"
    echo "$(stat -c %s "$work/$name.bin") bytes of ESC/POS"
    # The same job from a running client, as a web page sends it: over a connection it keeps
    # open, timed from the request, and over a new connection each time, timed from the
    # connect (handshake included); neither counts a client program's start.
    for mode in open fresh; do
        : >"$work/arrivals"
        python3 - "$work" "$port" "$key" "$name" "${BENCH_RUNS:-20}" "$mode" <<'PY'
import http.client, ssl, sys, time
work, port, key, name, runs, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5]), sys.argv[6]
body = open("%s/%s.json" % (work, name), "rb").read()
context = ssl._create_unverified_context()
connection = http.client.HTTPSConnection("127.0.0.1", port, context=context)
headers = {"Authorization": "Bearer " + key, "Content-Type": "application/json"}
connection.request("GET", "/getStatus", headers=headers)
connection.getresponse().read()
with open("%s/%sstarts" % (work, mode), "w") as starts:
    for run in range(1, runs + 1):
        if mode == "fresh":
            connection.close()
            connection = http.client.HTTPSConnection("127.0.0.1", port, context=context)
        starts.write("%.6f\n" % time.time())
        connection.request("POST", "/sendJob", body, headers)
        connection.getresponse().read()
        for _ in range(6000):
            if len(open(work + "/arrivals").read().splitlines()) >= run:
                break
            time.sleep(0.01)
PY
        cp "$work/arrivals" "$work/$mode-arrivals"
    done
    : >"$work/arrivals"
    timed_runs "$work/lpstarts" lp -h "$CUPS_SERVER" -d benchprinter -o raw "$work/$name.bin"
    python3 - "$work" <<'PY'
import statistics, sys
work = sys.argv[1]
def median(starts, arrivals):
    s = [float(x) for x in open(starts).read().split()]
    a = [float(line.split()[0]) for line in open(arrivals).read().splitlines()]
    times = sorted((a[i] - s[i]) * 1000 for i in range(min(len(s), len(a))))
    return statistics.median(times), times[0], times[-1]
ours = median(work + "/starts", work + "/api-arrivals")
lp = median(work + "/lpstarts", work + "/arrivals")
# The answer comes once the print system reports the job printed.
answered = median(work + "/starts", work + "/starts.answered")
open_connection = median(work + "/openstarts", work + "/open-arrivals")
fresh_connection = median(work + "/freshstarts", work + "/fresh-arrivals")
for name, (m, lo, hi) in (("/sendJob to the last byte:", ours), ("/sendJob to its answer:", answered),
                          ("open connection, last byte:", open_connection),
                          ("new connection, last byte:", fresh_connection),
                          ("lp -o raw to the last byte:", lp)):
    print("%-28s median %.1f ms, fastest %.1f ms, slowest %.1f ms" % (name, m, lo, hi))
print("ratio (median): %.2f x lp; on an open connection %.2f x lp; on a new connection %.2f x lp"
      % (ours[0] / lp[0], open_connection[0] / lp[0], fresh_connection[0] / lp[0]))
PY
done

echo "== /previewJob of 40 lines and a QR code (${BENCH_RUNS:-20} runs)"
for run in $(seq 1 "${BENCH_RUNS:-20}"); do
    curl -sk -o "$work/answer.json" -w '%{time_total}\n' -H "Authorization: Bearer $key" \
        -H "Content-Type: application/json" --data-binary @"$work/preview.json" "$url/previewJob"
done >"$work/previews"
grep -q '"data": "data:image/png;base64,' "$work/answer.json" || { head -c 300 "$work/answer.json"; exit 1; }
python3 - "$work/previews" <<'PY'
import statistics, sys
times = sorted(float(t) * 1000 for t in open(sys.argv[1]).read().split())
print("request to answer: median %.1f ms, fastest %.1f ms, slowest %.1f ms" % (statistics.median(times), times[0], times[-1]))
PY

[ "${BENCH_IDLE:-1}" = 0 ] || idle_minute "after the runs above"
