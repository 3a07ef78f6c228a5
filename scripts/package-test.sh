#!/usr/bin/env bash
# Builds the Debian package and proves it on this machine as a user would meet it:
# validates the launcher, the AppStream metadata and the package, installs it with
# apt-get, runs the installed program (offscreen, in a temporary HOME) against the
# installed vendor server and its sample content, hands a shop over to it, removes
# the package again and checks that /usr holds nothing of it while the user's files
# stay. Finally the unpacked package runs from another folder (a relocated install).
#
# Installs and removes a system package: run it as root on a machine where that is
# fine (CI, a container). scripts/test.sh runs it after the unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build-package
PKG=quorvantis
CHECKS=0

say() { printf '\n== %s\n' "$*"; }
ok() {
  CHECKS=$((CHECKS + 1))
  printf 'ok %d - %s\n' "$CHECKS" "$*"
}
fail() {
  printf 'FAILED: %s\n' "$*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || fail "the package test installs a system package: run it as root"

say "Building the package"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUORVANTIS_TESTS=OFF -DQUORVANTIS_BENCH=OFF >/dev/null
cmake --build "$BUILD"
rm -f "$BUILD"/${PKG}_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
DEB=$(ls "$BUILD"/${PKG}_*.deb)
ok "built $(basename "$DEB")"

say "Validating"
desktop-file-validate packaging/quorvantis.desktop
ok "desktop-file-validate accepts the launcher"
appstreamcli validate --no-net packaging/com.quorvantis.Quorvantis.metainfo.xml
ok "appstreamcli accepts the metadata"
# Lintian only grumbles about running as root; its errors fail the test, its warnings are shown.
LINTIAN_OUT=$(lintian --fail-on error "$DEB" 2>&1) || {
  printf '%s\n' "$LINTIAN_OUT"
  fail "lintian reports errors"
}
printf '%s\n' "$LINTIAN_OUT" | grep -v 'running with root privileges' || true
ok "lintian reports no errors ($(printf '%s\n' "$LINTIAN_OUT" | grep -c '^W:' || true) warnings)"

# ---- a user's session: temporary HOME and XDG folders, offscreen, recorded browser ----
WORK=$(mktemp -d /tmp/quorvantis-package.XXXXXX)
PIDS=()
INSTALLED=0
cleanup() {
  local P
  for P in "${PIDS[@]}"; do kill "$P" 2>/dev/null || true; done
  for P in "${PIDS[@]}"; do wait "$P" 2>/dev/null || true; done
  PIDS=()
  if [ "$INSTALLED" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q "$PKG" >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

export HOME=$WORK/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export BROWSER=$WORK/browser.sh
OPENED=$WORK/opened.txt
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' "$OPENED" >"$BROWSER"
chmod +x "$BROWSER"

STORE=$XDG_CONFIG_HOME/Quorvantis/registry.db
INSTALL_FOLDER=$XDG_DATA_HOME/Quorvantis/
LOG=${INSTALL_FOLDER}Quorvantis.log
AUTOSTART=$XDG_CONFIG_HOME/autostart/Quorvantis.desktop

# Values of the program key, written the way the README tells a user to.
set_value() { # name sql-literal
  sqlite3 "$STORE" ".timeout 10000" "
    INSERT OR IGNORE INTO reg_key(parent, name, path, fold) VALUES (NULL, '', '', '');
    INSERT INTO reg_value(key_id, name, fold, data)
      VALUES ((SELECT id FROM reg_key WHERE fold = ''), '$1', upper('$1'), $2)
      ON CONFLICT(key_id, fold) DO UPDATE SET data = excluded.data;" >/dev/null
}
get_value() { # name
  sqlite3 "$STORE" ".timeout 10000" "SELECT data FROM reg_listing WHERE key = '' AND value = '$1' COLLATE NOCASE;"
}
# wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
wait_for() {
  local Deadline=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -lt "$Deadline" ] || return 1
    sleep 0.2
  done
}
# Width and height from a PNG's header chunk.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }
log_has() { [ -f "$LOG" ] && grep -qF -- "$1" "$LOG"; }
handle_is() { [ "$(get_value handle)" = "$1" ]; }

# Ends a process started here and forgets it, so its id is never signalled again.
stop_process() { # pid
  kill -TERM "$1" 2>/dev/null || true
  local Rc=0
  wait "$1" 2>/dev/null || Rc=$?
  local Keep=() P
  for P in "${PIDS[@]}"; do [ "$P" = "$1" ] || Keep+=("$P"); done
  PIDS=("${Keep[@]}")
  return "$Rc"
}
# Starts a vendor server; sets BASE to its address and SERVER_PID.
start_server() { # program content-folder
  local Out=$WORK/server-$RANDOM.out
  "$1" --content "$2" --port 0 --records "$WORK/submissions.jsonl" >"$Out" 2>&1 &
  SERVER_PID=$!
  PIDS+=("$SERVER_PID")
  wait_for 20 grep -q '^Listening on ' "$Out" || fail "the vendor server did not start: $(cat "$Out")"
  BASE=$(sed -n 's/^Listening on //p' "$Out" | head -n1)
}
# Starts the program in the background; sets PROGRAM_PID.
start_program() { # program
  "$@" >>"$WORK/program.out" 2>&1 &
  PROGRAM_PID=$!
  PIDS+=("$PROGRAM_PID")
}
stop_program() {
  local Rc=0
  stop_process "$PROGRAM_PID" || Rc=$?
  [ "$Rc" = 0 ] || fail "the program ended with $Rc after SIGTERM"
  handle_is 0 || fail "handle is $(get_value handle) after the program ended"
}
# The folders the running program looks in for shipped files, from its own log.
asset_folders() {
  grep -aF '|DEBUG|Asset folders: ' "$LOG" | tail -n1 | tr -d '\r' | sed 's/.*|DEBUG|Asset folders: //' |
    sed 's/; /\n/g'
}
# The first of the program's asset folders that holds NAME.
resolve_asset() {
  local Folder
  while IFS= read -r Folder; do
    if [ -f "$Folder$1" ]; then
      printf '%s\n' "$Folder$1"
      return 0
    fi
  done < <(asset_folders)
  return 1
}
# Help documents: found by the program's lookup in the shipped folder SHARE.
check_help_documents() { # share-folder
  local Doc Found
  for Doc in Quorvantis_Help_DE.rtf Quorvantis_Help_EN.rtf; do
    if [ ! -f "$1/$Doc" ]; then
      echo "skip: $Doc is not shipped yet, its lookup is not checked"
      continue
    fi
    Found=$(resolve_asset "$Doc") || fail "the program's asset folders do not lead to $Doc: $(asset_folders | tr '\n' ' ')"
    [ "$Found" = "$1/$Doc" ] || fail "$Doc resolves to $Found instead of the shipped $1/$Doc"
    ok "the program's asset lookup finds $Found"
  done
  # When a help window loaded a document, it named an existing file.
  while IFS= read -r Found; do
    [ -f "$Found" ] || fail "the help window reports a missing document: $Found"
    ok "the help window loaded $Found"
  done < <(grep -aF '|DEBUG|Help document: ' "$LOG" | tr -d '\r' | sed 's/.*|DEBUG|Help document: //')
}
# A shop name given to a second start opens that shop through the running instance.
check_handoff() { # program
  : >"$OPENED"
  local Rc=0
  timeout 60 "$1" "kleiderwolke" >>"$WORK/program.out" 2>&1 || Rc=$?
  [ "$Rc" = 0 ] || fail "the second start ended with $Rc"
  wait_for 20 grep -qxF "$BASE/shop.php?id=1001" "$OPENED" ||
    fail "the browser was not asked for shop 1001 of $BASE (asked: $(cat "$OPENED" 2>/dev/null))"
  ok "a second start with a shop name opens $(head -n1 "$OPENED")"
}

say "Installing"
if dpkg-query -W -f='${Status}' "$PKG" 2>/dev/null | grep -q "install ok installed"; then
  DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q "$PKG" >/dev/null
fi
INSTALLED=1
(cd "$BUILD" && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$(basename "$DEB")" >/dev/null)
dpkg-query -W -f='${Status}' "$PKG" | grep -q "install ok installed" || fail "the package is not installed"
dpkg -L "$PKG" >"$WORK/files.txt"
for F in /usr/bin/quorvantis /usr/bin/quorvantis-vendor-server /usr/share/applications/quorvantis.desktop \
  /usr/share/metainfo/com.quorvantis.Quorvantis.metainfo.xml /usr/share/man/man1/quorvantis.1.gz \
  /usr/share/icons/hicolor/scalable/apps/quorvantis.svg /usr/share/quorvantis/vendor/version2.xml; do
  [ -f "$F" ] || fail "$F is not installed"
done
for S in 16 22 24 32 48 64 128; do
  F=/usr/share/icons/hicolor/${S}x${S}/apps/quorvantis.png
  [ -f "$F" ] || fail "$F is not installed"
  [ "$(png_size "$F")" = "$S $S" ] || fail "$F is $(png_size "$F") pixels, not $S x $S"
done
ok "installed with apt-get: program, server, launcher, metadata, manual page, icons, sample content"
# The web module is loaded from <program folder>/../lib/quorvantis/ when a web window opens.
if [ -f "$BUILD/quorvantis_web.so" ]; then
  [ -f /usr/lib/quorvantis/quorvantis_web.so ] || fail "the web module is built but not installed"
  ok "the web module is installed in /usr/lib/quorvantis/"
else
  echo "skip: this build has no web module"
fi
desktop-file-validate /usr/share/applications/quorvantis.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.quorvantis.Quorvantis.metainfo.xml >/dev/null
ok "the installed launcher and metadata validate"

say "First start of the installed program, without network"
# The settings store comes from the program itself; offline it tries no server at all.
command -v unshare >/dev/null && unshare -n true ||
  fail "unshare -n (a network namespace) is needed for an offline first start"
start_program unshare -n /usr/bin/quorvantis
wait_for 30 handle_is "$PROGRAM_PID" || fail "the first start did not come up (handle $(get_value handle))"
[ -f "$AUTOSTART" ] || fail "no autostart entry at $AUTOSTART"
desktop-file-validate "$AUTOSTART"
grep -qx 'Exec="/usr/bin/quorvantis"' "$AUTOSTART" || fail "the autostart entry does not start /usr/bin/quorvantis"
for Key in X-GNOME-Autostart-enabled=true X-KDE-autostart-after=panel X-LXQt-Need-Tray=true; do
  grep -qx "$Key" "$AUTOSTART" || fail "the autostart entry lacks $Key"
done
grep -q '^X-GNOME-Autostart-Delay=[0-9]' "$AUTOSTART" || fail "the autostart entry lacks X-GNOME-Autostart-Delay"
stop_program
ok "first start offline: store, install folder and a valid autostart entry; SIGTERM ends it"

say "The installed program against the installed vendor server"
start_server /usr/bin/quorvantis-vendor-server /usr/share/quorvantis/vendor
set_value server "'$BASE'"
set_value debug 3
# A user who has seen the sample's news item: its question box would wait for an answer.
set_value lastnews "'2026-12-01'"
start_program /usr/bin/quorvantis
wait_for 60 log_has '|DEBUG|Started' || fail "the program did not start: $(tail -n5 "$LOG" 2>/dev/null)"
log_has "|INFO|GetUpdates: Version=2.2 Server=2.2 Check=2026-12-01 URL=$BASE/version2.xml?" ||
  fail "the catalogue was not fetched: $(grep -a GetUpdates "$LOG")"
grep -aF '|DEBUG|2.2, ' "$LOG" | grep -qF 'Kleiderwolke' || fail "the loaded catalogue has no shop Kleiderwolke"
grep -qF 'name="Kleiderwolke"' "${INSTALL_FOLDER}quorvantis.xml" || fail "the catalogue file was not stored"
ok "the catalogue loads from the installed vendor server and is stored in ${INSTALL_FOLDER}quorvantis.xml"
asset_folders | grep -qx '/usr/share/quorvantis/' || fail "the program does not look in /usr/share/quorvantis/"
check_help_documents /usr/share/quorvantis
check_handoff /usr/bin/quorvantis
stop_program
if grep -aF '|ERROR|' "$LOG"; then fail "the program logged errors"; fi
ok "no errors logged"

say "Removing the package"
stop_process "$SERVER_PID" || true
for F in "$STORE" "$AUTOSTART" "$LOG" "${INSTALL_FOLDER}quorvantis.xml"; do
  [ -f "$F" ] || fail "$F is missing before the removal"
done
# Every file of the user's: settings, autostart entry, catalogue, shop icons, log.
find "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" -type f -print0 | sort -z | xargs -0 sha256sum >"$WORK/user-files.sha256"
DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q "$PKG" >/dev/null
INSTALLED=0
! dpkg-query -W -f='${Status}' "$PKG" 2>/dev/null | grep -q "ok installed" || fail "the package is still installed"
while IFS= read -r F; do
  [ -n "$F" ] && [ "$F" != /. ] || continue
  if [ -d "$F" ]; then
    case "$F" in *quorvantis* | *Quorvantis*) fail "the folder $F stayed" ;; esac
  elif [ -e "$F" ] || [ -L "$F" ]; then
    fail "the file $F stayed"
  fi
done <"$WORK/files.txt"
LEFT=$(find /usr -path /usr/local -prune -o -iname '*quorvantis*' -print)
[ -z "$LEFT" ] || fail "left in /usr: $LEFT"
ok "purged: /usr holds nothing of it"
sha256sum --quiet -c "$WORK/user-files.sha256" || fail "the user's files changed"
ok "the user's $(wc -l <"$WORK/user-files.sha256") files (settings, autostart entry, catalogue, icons, log) are untouched"

say "A relocated install: the unpacked package under another folder"
RELOC=$WORK/relocated
dpkg-deb -x "$DEB" "$RELOC"
start_server "$RELOC/usr/bin/quorvantis-vendor-server" "$RELOC/usr/share/quorvantis/vendor"
set_value server "'$BASE'"
: >"$LOG"
start_program "$RELOC/usr/bin/quorvantis"
wait_for 60 log_has '|DEBUG|Started' || fail "the relocated program did not start: $(tail -n5 "$LOG")"
log_has "|INFO|GetUpdates: Version=2.2 Server=2.2 Check=2026-12-01 URL=$BASE/version2.xml?" ||
  fail "the relocated program did not fetch the catalogue"
asset_folders | grep -qxF "$RELOC/usr/share/quorvantis/" ||
  fail "the relocated program does not look beside itself: $(asset_folders | tr '\n' ' ')"
[ "$(asset_folders | head -n1)" = "$INSTALL_FOLDER" ] || fail "the install folder is not looked in first"
ok "the relocated program looks in $RELOC/usr/share/quorvantis/ after the install folder"
check_help_documents "$RELOC/usr/share/quorvantis"
check_handoff "$RELOC/usr/bin/quorvantis"
grep -qx "Exec=\"$RELOC/usr/bin/quorvantis\"" "$AUTOSTART" || fail "the autostart entry does not follow the relocated program"
stop_program
stop_process "$SERVER_PID" || true
if grep -aF '|ERROR|' "$LOG"; then fail "the relocated program logged errors"; fi
ok "the relocated program runs without errors"

printf '\nPackage test passed: %d checks.\n' "$CHECKS"
