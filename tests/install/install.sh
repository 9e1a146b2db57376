#!/usr/bin/env bash
# The installed program, the .deb and the desktop start, checked from outside:
#   install.sh BUILD_DIR VERSION
# Installs the build into a temporary DESTDIR, moves the tree elsewhere and runs it from
# there (no build tree next to it), packages it with CPack and reads the package back.
# Every check prints "ok" or "FAIL" with its output; the status is 1 when one failed.
set -uo pipefail
build=$(cd "$1" && pwd)
version=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
unset VORYX_RESOURCES VORYX_DEVICE
export VORYX_HOME=$work/home
failed=0

check() {  # check NAME COMMAND...: runs COMMAND, reports it
  local name=$1
  shift
  if "$@" >"$work/out" 2>&1; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    sed 's/^/     /' "$work/out"
    failed=1
  fi
}

# serve LOG ARGS...: starts the installed voryx serve in the background; its first line
# (the address) is in LOG when it returns. Sets $pid.
serve() {
  local log=$1
  shift
  "$tree/bin/voryx" serve --simulate --port 0 "$@" >"$log" 2>"$log.err" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 100); do
    [ -s "$log" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$log.err"
  return 1
}
stop() { kill "$1" && wait "$1" 2>/dev/null; }
eventually() {  # eventually COMMAND...: true once COMMAND is, within 3 s
  for _ in $(seq 30); do "$@" && return 0; sleep 0.1; done
  "$@"
}

## The installed tree
DESTDIR=$work/dest cmake --install "$build" --prefix /usr >/dev/null
mv "$work/dest/usr" "$work/tree"
tree=$work/tree
for f in bin/voryx share/voryx/Voryx.sqlitedb share/voryx/Localizable.json \
         share/voryx/Localizable.it.json share/man/man1/voryx.1.gz \
         share/applications/voryx.desktop share/icons/hicolor/scalable/apps/voryx.svg \
         share/metainfo/io.github.voryx.Voryx.metainfo.xml share/doc/voryx/copyright share/doc/voryx/changelog.gz; do
  check "installed $f" test -s "$tree/$f"
done
check "nothing installed outside the prefix" test "$(ls "$work/dest")" = ""

check "installed voryx list" "$tree/bin/voryx" list
mv "$tree/share/voryx" "$work/away"
check "without share/voryx the list fails" sh -c "! VORYX_HOME='$work/home2' '$tree/bin/voryx' list"
mv "$work/away" "$tree/share/voryx"

simulated() {  # the virtual modem prints a terminal's path, then runs until stopped
  "$tree/bin/voryx" modem-sim >"$work/sim" &
  local p=$!
  for _ in $(seq 50); do [ -s "$work/sim" ] && break; sleep 0.1; done
  test -c "$(head -1 "$work/sim")"
  local rc=$?
  kill "$p"
  return $rc
}
check "installed voryx modem-sim" simulated

## The page of the installed server: the token opens it; icon and manifest need none
if serve "$work/url"; then
  url=$(head -1 "$work/url")
  origin=${url%%/\?*}
  jar=$work/cookies
  status() { curl -s -o /dev/null -w '%{http_code} %{content_type}' "$@"; }
  check "page through the token" sh -c "curl -sfL -c '$jar' -b '$jar' '$url' | grep -q '<link rel=\"manifest\"'"
  while read -r path cookie expect; do
    args=()
    [ "$cookie" = yes ] && args=(-b "$jar")
    check "GET $path (cookie: $cookie)" test "$(status "${args[@]}" "$origin$path")" = "$expect"
  done <<EOF
/app.js               yes 200 text/javascript; charset=utf-8
/style.css            no  401 text/html; charset=utf-8
/voryx.svg            no  200 image/svg+xml
/manifest.webmanifest no  200 application/manifest+json
EOF
  check "manifest names the icon" sh -c "curl -sf '$origin/manifest.webmanifest' | grep -q '\"src\": \"/voryx.svg\"'"
  check "--port 0 took a free port" sh -c "echo '$origin' | grep -qE '^http://127\.0\.0\.1:[1-9][0-9]*\$'"
  { curl -sN -b "$jar" "$origin/api/events" >"$work/events" 2>/dev/null; touch "$work/events.end"; } &
  check "an event stream opens" eventually grep -q "^event: state" "$work/events"
  check "SIGTERM with a stream open: exit 0" stop "$pid"
  check "the stream ends with the server" eventually test -e "$work/events.end"
else
  check "installed voryx serve starts" false
fi

## serve --open: the browser gets the address; a second start opens the running one's
bin=$work/bin
mkdir -p "$bin"
printf '#!/bin/sh\necho "$1" >>"$OPENED"\n' >"$bin/xdg-open"
chmod +x "$bin/xdg-open"
export PATH=$bin:$PATH OPENED=$work/opened DISPLAY=:99
record=$VORYX_HOME/state/serve
if serve "$work/first" --open; then
  first=$(head -1 "$work/first")
  check "--open hands the address to xdg-open" eventually grep -qxF "$first" "$OPENED"
  check "the record is private" eventually test "$(stat -c %a "$record" 2>&1)" = 600
  check "second --open exits 0" sh -c "'$tree/bin/voryx' serve --simulate --port 0 --open >'$work/second'"
  check "second --open printed the first's address" grep -qxF "$first" "$work/second"
  check "second --open opens the first's address" eventually test "$(grep -cxF "$first" "$OPENED")" = 2
  stop "$pid"
  check "the record goes with the server" test ! -e "$record"
fi
# A record that names no running voryx serve is passed over: the new server starts.
while IFS='|' read -r name content; do
  printf "$content" >"$record"
  if serve "$work/own" --open; then
    check "record $name: a server of its own" eventually grep -qx "$pid" "$record"
    stop "$pid"
  else
    check "record $name: a server of its own" false
  fi
done <<EOF
garbage|garbage\n
empty|
pid only|$$\n
no line end|$$\nhttp://127.0.0.1:1/
not voryx|$$\nhttp://127.0.0.1:1/?token=0\n
dead|999999999\nhttp://127.0.0.1:1/\n
NUL bytes|\0\0\0\nhttp://\0\n
over-long|1\nhttp://$(printf 'a%.0s' $(seq 5000))\n
EOF

## Desktop entry and manual page
check "desktop entry validates" desktop-file-validate "$tree/share/applications/voryx.desktop"
check "desktop entry suits phones" grep -qx 'X-Purism-FormFactor=Workstation;Mobile;' \
  "$tree/share/applications/voryx.desktop"
metainfo=$tree/share/metainfo/io.github.voryx.Voryx.metainfo.xml
check "metainfo validates" appstreamcli validate --no-net "$metainfo"
check "metainfo: touch and small displays" sh -c "grep -q '<control>touch</control>' '$metainfo' &&
  grep -q '<display_length compare=\"ge\">' '$metainfo'"
check "metainfo names the desktop entry" grep -q '<launchable type="desktop-id">voryx.desktop</launchable>' "$metainfo"
check "manual page renders without warnings" \
  sh -c "MANWIDTH=80 man --warnings -l '$tree/share/man/man1/voryx.1.gz' 2>&1 >'$work/man.txt' | (! grep .)"
for cmd in $("$tree/bin/voryx" help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z-]*\) .*/\1/p'); do
  check "manual page: voryx $cmd" grep -q "^   voryx $cmd\b" "$work/man.txt"
done
for word in VORYX_HOME VORYX_DEVICE XDG_DATA_HOME XDG_STATE_HOME "EXIT STATUS" "CHANGE MARKS" EXAMPLES; do
  check "manual page: $word" grep -q "$word" "$work/man.txt"
done

## The .deb
# The file names the Debian release the package was built on (its libraries are that
# release's): voryx_0.1_amd64+deb12.deb, voryx_0.1_amd64+deb13.deb.
release=$(. /etc/os-release && [ "${ID:-}" = debian ] && [ -n "${VERSION_ID:-}" ] && echo "+deb$VERSION_ID")
deb=$work/pkg/voryx_${version}_$(dpkg --print-architecture)${release}.deb
check "cpack -G DEB" cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg"
check "package file $(basename "$deb")" test -s "$deb"
dpkg-deb --info "$deb" >"$work/info" 2>&1
while read -r field; do
  check "control: $field" grep -qF "$field" "$work/info"
done <<EOF
Package: voryx
Version: $version
Depends: libc6
libsqlite3-0
libmicrohttpd12
libebook-1.2-
libqmi-glib5
Recommends: chromium | firefox-esr | www-browser
Suggests: gammu
Section: comm
EOF
dpkg-deb --contents "$deb" >"$work/contents" 2>&1
for f in usr/bin/voryx usr/share/voryx/Voryx.sqlitedb usr/share/voryx/Localizable.json \
         usr/share/man/man1/voryx.1.gz usr/share/applications/voryx.desktop \
         usr/share/metainfo/io.github.voryx.Voryx.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/voryx.svg usr/share/doc/voryx/copyright; do
  check "package holds $f" grep -q "\./$f\$" "$work/contents"
done
dpkg-deb -x "$deb" "$work/unpacked"
check "packaged binary is stripped" sh -c "! readelf -S '$work/unpacked/usr/bin/voryx' | grep -q '\.debug_info'"
if command -v lintian >/dev/null; then
  check "lintian: no errors" sh -c "lintian '$deb' 2>&1 | tee /dev/stderr | (! grep '^E:')"
fi

exit $failed
