#!/usr/bin/env bash
# Benchmarks the running connector: API throughput over TLS keep-alive, a typical receipt
# from request to the last byte at a socket printer (next to `lp -o raw` of the same
# bytes), and idle CPU and memory. Needs a Release build (build-bench/ by default) and root
# (for the throwaway cupsd). See bench/README.md.
#
#   bench/app/connectorbench.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd)
work=$(mktemp -d /tmp/printarra-bench-XXXXXX)
chmod 755 "$work"
port=5091
key="BenchKey+/v4.0"
export CUPS_SERVER=$work/run/cups.sock

cleanup() {
    [ -n "${program:-}" ] && kill "$program" 2>/dev/null || true
    [ -n "${sink:-}" ] && kill "$sink" 2>/dev/null || true
    "$root/scripts/cups-sandbox.sh" stop "$work/cups" "$work/run" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"$root/scripts/cups-sandbox.sh" start "$work/cups" "$work/run" >/dev/null

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
XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp PRINTARRA_PORT=$port \
    PRINTARRA_UPDATE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=offscreen \
    "$build/app/printarra" >/dev/null 2>&1 &
program=$!
for _ in $(seq 1 100); do
    curl -sk "https://127.0.0.1:$port/" >/dev/null 2>&1 && break
    sleep 0.1
done

url=https://127.0.0.1:$port
echo "== API over TLS keep-alive (wrk, 10 s each)"
for path in ${BENCH_PATHS-/getStatus /getPrinters}; do
    for connections in 1 16; do
        threads=$([ "$connections" -eq 1 ] && echo 1 || echo 2)
        printf '%-13s %2d connection(s): ' "$path" "$connections"
        wrk -t "$threads" -c "$connections" -d 10s --latency -H "Authorization: Bearer $key" \
            "$url$path" | awk '/Requests\/sec/ {rps=$2} / 50%/ {p50=$2} / 99%/ {p99=$2}
                END {printf "%s req/s, p50 %s, p99 %s\n", rps, p50, p99}'
    done
done

# Runs a command BENCH_RUNS times, noting each start in FILE and waiting until that run's
# job has reached the printer.
timed_runs() {
    local starts=$1
    shift
    for run in $(seq 1 "${BENCH_RUNS:-20}"); do
        date +%s.%N >>"$starts"
        "$@" >/dev/null
        for _ in $(seq 1 6000); do
            [ "$(wc -l <"$work/arrivals")" -ge "$run" ] && break
            sleep 0.01
        done
    done
}

echo "== A typical receipt: 40 lines, a 384 x 120 logo, a cut (${BENCH_RUNS:-20} runs)"
python3 - "$work" <<'PY'
import base64, json, struct, sys, zlib
work = sys.argv[1]
width, height = 384, 120
rows = b"".join(b"\x00" + bytes(((x ^ y) & 0xFF) for x in range(width)) for y in range(height))
def chunk(tag, data):
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
job = [{"op": "image", "data": base64.b64encode(png).decode()}, {"op": "alignment", "data": 0}]
for line in range(40):
    job.append({"op": "text", "data": "%-30s %8.2f EUR\n" % ("Artigo %02d pão de ló" % line, line * 1.25)})
job.append({"op": "cut", "data": "full"})
json.dump({"printer": "benchprinter", "job": job}, open(work + "/job.json", "w"))
PY
: >"$work/arrivals"
timed_runs "$work/starts" curl -sk -o "$work/answer.json" -H "Authorization: Bearer $key" \
    -H "Content-Type: application/json" --data-binary @"$work/job.json" "$url/sendJob"
grep -q '"Job completed successfully"' "$work/answer.json" || { cat "$work/answer.json"; exit 1; }
cp "$work/arrivals" "$work/api-arrivals"
# The same ESC/POS bytes handed to the print system by lp, for comparison.
cp "$(ls -t "$work"/job*.bin | head -1)" "$work/receipt.bin"
echo "receipt: $(stat -c %s "$work/receipt.bin") bytes of ESC/POS"
: >"$work/arrivals"
timed_runs "$work/lpstarts" lp -h "$CUPS_SERVER" -d benchprinter -o raw "$work/receipt.bin"
python3 - "$work" <<'PY'
import statistics, sys
work = sys.argv[1]
def report(name, starts, arrivals):
    s = [float(x) for x in open(starts).read().split()]
    a = [float(line.split()[0]) for line in open(arrivals).read().splitlines()]
    times = sorted((a[i] - s[i]) * 1000 for i in range(min(len(s), len(a))))
    print("%-32s median %.1f ms, fastest %.1f ms, slowest %.1f ms" % (name, statistics.median(times), times[0], times[-1]))
report("/sendJob to the last byte:", work + "/starts", work + "/api-arrivals")
report("lp -o raw to the last byte:", work + "/lpstarts", work + "/arrivals")
PY

echo "== Idle for 60 s"
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$program/stat"; }
before=$(cpu)
sleep 60
after=$(cpu)
echo "CPU: $(( (after - before) * 1000 / ticks )) ms in 60 s; resident memory: $(awk '/VmRSS/ {print $2, $3}' "/proc/$program/status")"
