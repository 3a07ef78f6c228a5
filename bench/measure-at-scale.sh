#!/usr/bin/env bash
# The real program against the local vendor server with a large catalogue, on X11 (Xvfb
# and a tray): per run, in a home of its own,
#  1. first start: resident memory at "Started", then the icon download from the first
#     icon file written to the last, and the program's CPU time meanwhile;
#  2. curl fetching the same icons from the same server, one process, one by one;
#  3. second start (every icon on disk): resident memory at "Started", and after the
#     largest category is opened ("show", Right, Right: it must sort first, as in the
#     catalogues of bench/make-large-vendor.py).
#
#   bench/make-large-vendor.py /tmp/v100k 100000
#   bench/measure-at-scale.sh build /tmp/v100k [RUNS]      (one line per run, then medians)
#
# Needs Xvfb, trayer, xdotool, curl, sqlite3. PROGRAM=name runs BUILD/name instead of
# BUILD/quorvantis (a copy of an older build beside it, say). PERF=1 records the first start's icon
# download with perf (perf-RUN.data in the work folder, kept).
set -euo pipefail
BUILD=$(realpath "${1:?build folder}")
CONTENT=$(realpath "${2:?content folder}")
RUNS=${3:-3}
PROGRAM=$BUILD/${PROGRAM:-quorvantis}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qv-scale.XXXXXX")
PORT=$((20000 + RANDOM % 20000))
DISP=:$((300 + RANDOM % 400))
PIDS=()
cleanup() {
  for P in "${PIDS[@]}"; do kill "$P" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # Removing a hundred thousand files takes minutes on a busy machine: after the results.
  [ -n "${KEEP:-}" ] || find "$WORK" -mindepth 1 -maxdepth 1 ! -name 'perf-*' -exec rm -rf {} +
  rmdir "$WORK" 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$DISP" -screen 0 1280x1024x24 >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do DISPLAY=$DISP xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY=$DISP trayer --edge bottom --align right --widthtype pixel --width 240 --height 32 \
  --transparent false --SetDockType true >/dev/null 2>&1 &
PIDS+=($!)
"$BUILD/quorvantis-vendor-server" --content "$CONTENT" --port "$PORT" --records "$WORK/records.jsonl" >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do curl -sf "http://127.0.0.1:$PORT/index.html" >/dev/null && break; sleep 0.1; done
export DISPLAY=$DISP

IDS=($(grep -o '<shop id="[0-9]*"' "$CONTENT/version2.xml" | grep -o '[0-9]*'))
COUNT=${#IDS[@]}
FIRST=${IDS[0]}
LAST=${IDS[$((COUNT - 1))]}

now() { date +%s.%N; }
rss_mb() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
cpu_s() { awk -v T="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); split($0, F, " "); printf "%.2f", (F[12] + F[13]) / T }' "/proc/$1/stat"; }
wait_for() { # file, seconds
  local End=$(($(date +%s) + $2))
  while [ ! -e "$1" ]; do [ "$(date +%s)" -lt "$End" ] || return 1; sleep 0.02; done
}
wait_log() { # log, text, seconds
  local End=$(($(date +%s) + $3))
  until grep -q "$2" "$1" 2>/dev/null; do [ "$(date +%s)" -lt "$End" ] || return 1; sleep 0.02; done
}

{
  for Id in "${IDS[@]}"; do
    printf 'url = "http://127.0.0.1:%s/sites/s%s/favicon.ico"\noutput = "%s/curl-icons/%s.ico"\n' "$PORT" "$Id" "$WORK" "$Id"
  done
} >"$WORK/curl.cfg"

# Starts the program in the run's home and waits for its "Started" line; its pid in P.
start_program() {
  rm -f "$Log"
  "$PROGRAM" >/dev/null 2>&1 &
  P=$!
  PIDS+=($P)
  wait_log "$Log" '|DEBUG|Started' 300
}

printf 'run started_first_MB started_MB category_MB program_ms_per_icon curl_ms_per_icon ratio program_cpu_s icons\n'
RESULTS=()
for Run in $(seq "$RUNS"); do
  H=$WORK/home$Run
  mkdir -p "$H/config" "$H/data" "$H/cache" "$H/runtime"
  chmod 700 "$H/runtime"
  export HOME=$H XDG_CONFIG_HOME=$H/config XDG_DATA_HOME=$H/data XDG_CACHE_HOME=$H/cache XDG_RUNTIME_DIR=$H/runtime
  Db=$XDG_CONFIG_HOME/Quorvantis/registry.db
  Log=$XDG_DATA_HOME/Quorvantis/Quorvantis.log
  Icons=$XDG_DATA_HOME/Quorvantis/icons
  # The program creates its store; then the log threshold and the server are set.
  "$PROGRAM" >/dev/null 2>&1 &
  P=$!
  for _ in $(seq 200); do [ "$(sqlite3 "$Db" 'SELECT 1 FROM reg_key WHERE id = 1' 2>/dev/null)" = 1 ] && break; sleep 0.05; done
  kill -9 "$P"
  wait "$P" 2>/dev/null || true
  sqlite3 "$Db" "INSERT OR REPLACE INTO reg_value VALUES(1,'debug','DEBUG',3);
    INSERT OR REPLACE INTO reg_value VALUES(1,'server','SERVER','http://127.0.0.1:$PORT');
    INSERT OR REPLACE INTO reg_value VALUES(1,'first','FIRST',0);"

  # 1. First start: catalogue and every icon from the server.
  start_program
  StartedFirst=$(rss_mb "$P")
  wait_for "$Icons/$FIRST.ico" 120
  T0=$(now)
  C0=$(cpu_s "$P")
  if [ -n "${PERF:-}" ]; then
    perf record -g -o "$WORK/perf-$Run.data" -p "$P" >/dev/null 2>&1 &
    PERFPID=$!
  fi
  wait_for "$Icons/$LAST.ico" 3600
  T1=$(now)
  C1=$(cpu_s "$P")
  [ -z "${PERF:-}" ] || { kill -INT "$PERFPID"; wait "$PERFPID" || true; }
  Got=$(find "$Icons" -name '*.ico' | wc -l)
  kill "$P"
  wait "$P" 2>/dev/null || true

  # 2. curl, the same icons from the same server.
  rm -rf "$WORK/curl-icons"
  mkdir -p "$WORK/curl-icons"
  C2=$(now)
  curl -s -K "$WORK/curl.cfg"
  C3=$(now)

  # 3. Second start with every icon on disk, then the largest category.
  start_program
  Started=$(rss_mb "$P")
  sleep 2 # the icon thread's listing runs right after "Started"
  "$PROGRAM" show
  sleep 1
  xdotool key Right
  sleep 1
  xdotool key Right
  sleep 3
  Category=$(rss_mb "$P")
  xdotool key Escape Escape Escape
  kill "$P"
  wait "$P" 2>/dev/null || true

  Line=$(awk -v a="$T0" -v b="$T1" -v c="$C2" -v d="$C3" -v n="$COUNT" -v c0="$C0" -v c1="$C1" \
    'BEGIN { p = (b - a) * 1000 / (n - 1); q = (d - c) * 1000 / n; printf "%.3f %.3f %.2f %.1f", p, q, p / q, c1 - c0 }')
  echo "$Run $StartedFirst $Started $Category $Line $Got"
  RESULTS+=("$StartedFirst $Started $Category $Line")
done
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
Median=median
for Col in $(seq 7); do
  Median+=" $(printf '%s\n' "${RESULTS[@]}" | cut -d' ' -f"$Col" | median)"
done
echo "$Median"
