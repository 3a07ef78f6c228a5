#!/usr/bin/env bash
# Installs what building and running need (install-deps.sh --run: no test tools,
# no desktops), builds the program and the local vendor server, starts
# the server with the sample content and runs the program against it.
# Without a display the program runs under xvfb-run. Ctrl+C ends both.
# The program runs with a home of its own (build-run/home): its settings, log and
# the autostart entry it writes at every start stay there, so the user's session
# never starts this build at the next login.
set -euo pipefail
cd "$(dirname "$0")/.."
PORT=${QUORVANTIS_PORT:-8741}
./scripts/install-deps.sh --run
[ -f build-run/build.ninja ] ||
  echo "run.sh: the first build takes about 7 to 8 minutes on 2 cores; later runs rebuild only what changed."
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUORVANTIS_VENDOR_URL="http://127.0.0.1:${PORT}" -DQUORVANTIS_TESTS=OFF -DQUORVANTIS_BENCH=OFF
cmake --build build-run --target quorvantis quorvantis-vendor-server quorvantis_web
./build-run/quorvantis-vendor-server --content resources/vendor --port "$PORT" \
  --records "${TMPDIR:-/tmp}/quorvantis-submissions.jsonl" &
SERVER=$!
trap 'kill $SERVER 2>/dev/null || true' EXIT
sleep 0.5
RUN_HOME="$PWD/build-run/home"
# The X server's cookie stays where the desktop put it.
[ -z "${XAUTHORITY:-}" ] && [ -f "$HOME/.Xauthority" ] && export XAUTHORITY="$HOME/.Xauthority"
mkdir -p "$RUN_HOME/.config" "$RUN_HOME/.local/share" "$RUN_HOME/.cache"
export HOME="$RUN_HOME" XDG_CONFIG_HOME="$RUN_HOME/.config" XDG_DATA_HOME="$RUN_HOME/.local/share" \
  XDG_CACHE_HOME="$RUN_HOME/.cache"
export QTWEBENGINE_DISABLE_SANDBOX=${QTWEBENGINE_DISABLE_SANDBOX:-$([ "$(id -u)" = 0 ] && echo 1 || echo 0)}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  xvfb-run -a ./build-run/quorvantis "$@"
else
  ./build-run/quorvantis "$@"
fi
