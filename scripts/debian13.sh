#!/usr/bin/env bash
# Builds the work tree and runs its C++ suite on Debian 13 ("trixie"), in a Debian 13 root
# beside this machine's system (made with debootstrap, entered with chroot):
#   debian13.sh         the root and its packages where missing, the build, the tests
#   debian13.sh build   the same without the tests; records the build as VORYX_DEBIAN13_RUN's
#   debian13.sh tests   the tests of the build VORYX_DEBIAN13_RUN names; without one (the
#                       early build failed, or another run has taken the root since), all
# After the tests the same tree is built once more without evolution-data-server
# (VORYX_EDS=OFF), as a headless box builds it, and checked from the shell.
# The root is kept between runs outside the checkout, in ${VORYX_CACHE:-/var/cache/voryx}/debian13,
# and is made anew when it is missing or was not finished. The tree is copied in as it is,
# uncommitted changes included (no build folders, node_modules or .git). The tests run in a
# network namespace of their own, so their ports (and the card reader daemon's 35963) do
# not meet the host's. VORYX_DEBIAN13=0 skips all of it. Needs root: mount, chroot, unshare.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$(pwd)

if [ "${VORYX_DEBIAN13:-1}" = "0" ]; then
  echo "debian13: skipped (VORYX_DEBIAN13=0)"
  exit 0
fi
mode=${1:-all}
case "$mode" in
  all | build | tests) ;;
  *) echo "usage: $0 [build | tests]" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=VORYX_CACHE,VORYX_JOBS,VORYX_DEBIAN13,VORYX_DEBIAN13_RUN "$0" "$@"
fi
run="${VORYX_DEBIAN13_RUN:-}"

jobs="${VORYX_JOBS:-$(nproc)}"
cache="${VORYX_CACHE:-/var/cache/voryx}"
root="$cache/debian13"
stamp="$root/.voryx-root-complete"
built="$root/src/.voryx-built"  # the run whose build /src holds
mkdir -p "$cache"

say() { echo "debian13: $*"; }
elapsed() { say "$1 took $((SECONDS - $2)) s"; }

# One run at a time uses the root (two developers' test.sh on one machine). Nothing started
# inside the root inherits the lock.
exec 9>"$cache/debian13.lock"
if ! flock -n 9; then
  say "waiting for another run to leave $root"
  flock 9
fi

# The mounts below the root, deepest first. Not "findmnt -R ROOT": that lists nothing when
# ROOT itself is no mount point. (A path with a space would be escaped by findmnt and not
# match: the cache path has none.)
mounts_under_root() {
  findmnt -rn -o TARGET | awk -v r="$root" '$0 == r || index($0, r "/") == 1' | sort -r
}
unmount_all() {
  local m
  for m in $(mounts_under_root); do
    umount "$m" 2>/dev/null || umount -l "$m" || true
  done
}
# The only way the root is ever removed: refuses while anything is mounted below it, so
# that a removal can never reach into the host's /dev, /proc or /sys.
remove_root() {
  unmount_all
  if [ -n "$(mounts_under_root)" ]; then
    say "still mounted under $root, not removing it:" >&2
    mounts_under_root >&2
    exit 1
  fi
  rm -rf --one-file-system "$root"
}
trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# A run that was killed outright (SIGKILL) may have left its mounts.
unmount_all

# The Debian archive the host's apt uses (its first source for the host's own suite),
# which is where the Debian 13 root's packages come from too.
archive_url() {
  local codename url
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  url=$(
    {
      for f in /etc/apt/sources.list.d/*.sources; do [ -e "$f" ] && cat "$f" && echo; done
    } | awk -v s="$codename" '
      /^[[:space:]]*$/ { if (ok && deb && uri != "" && !found) { print uri; found = 1 } ok = 0; uri = ""; deb = 0; next }
      /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == s) ok = 1 }
      END { if (ok && deb && uri != "" && !found) print uri }' | head -1
  )
  if [ -z "$url" ] && [ -e /etc/apt/sources.list ]; then
    url=$(awk -v s="$codename" '$1 == "deb" {
            i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i + 1) == s) { print $i; exit } }' /etc/apt/sources.list)
  fi
  echo "${url:-http://deb.debian.org/debian}"
}

# in_root COMMAND: runs the shell command in the root as root, with a clean environment.
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive \
    CCACHE_DIR=/var/cache/ccache CCACHE_MAXSIZE=2G \
    bash -euo pipefail -c "$1" 9>&-
}

mount_all() {
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  # Shared memory of the root's own, not the host /dev's mount point directory.
  mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
}

# The root: made when missing or not finished (a half-made one is removed first).
make_root() {
  local url
  if [ -e "$stamp" ]; then return 0; fi
  if [ -e "$root" ]; then
    say "removing the unfinished root $root"
    remove_root
  fi
  command -v debootstrap >/dev/null || { say "debootstrap is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
  url=$(archive_url)
  say "making the Debian 13 root in $root from $url"
  debootstrap --variant=buildd trixie "$root" "$url" >"$cache/debootstrap.log" 2>&1 || {
    tail -n 30 "$cache/debootstrap.log" >&2
    exit 1
  }
  # No daemon starts from a package's installation inside the root.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  echo "trixie from $url, $(date -u +%FT%TZ)" >"$stamp"
}

# The tree as it is, into a clean /src. The build starts afresh each time (ccache, kept
# with the root, spares the compiler the files that did not change).
copy_tree() {
  rm -rf --one-file-system "$root/src"
  mkdir "$root/src"
  tar -C "$tree" --anchored --exclude='./build*' --exclude=./node_modules --exclude=./.git \
    -cf - . | tar -C "$root/src" -xf -
}

# The packages: what install-deps.sh installs without the browser, and what the steps
# below use (ip for the namespace's loopback, ccache).
install_packages() {
  in_root "dpkg --configure -a
    VORYX_NO_BROWSER=1 /src/scripts/install-deps.sh
    missing=
    for p in iproute2 ccache; do
      dpkg-query -W -f='\${Status}' \$p 2>/dev/null | grep -q 'install ok installed' || missing=\"\$missing \$p\"
    done
    if [ -n \"\$missing\" ]; then
      apt-get update
      apt-get -o DPkg::Lock::Timeout=600 install -y \$missing
    fi" >"$cache/debian13-deps.log" 2>&1 || {
    tail -n 40 "$cache/debian13-deps.log" >&2
    say "installing the packages failed (log: $cache/debian13-deps.log)" >&2
    exit 1
  }
}

build() {
  in_root "cd /src
    g++ --version | sed -n 1p
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
    ccache -z >/dev/null
    cmake --preset default >/dev/null
    cmake --build --preset default -j $jobs
    ccache -s | grep -Ei 'hits|misses' || true"
}

# The C++ suite (the browser suite needs chromium, which Debian 12's stages run), in a
# network, PID and mount namespace of its own: its ports meet nobody's, and whatever
# daemon a test leaves behind (pcscd, vpcd) ends with it. The suite mostly waits on its
# virtual modems and cards, so it runs 4 tests per processor: measured on 2 processors,
# the whole suite took 2.5 minutes at 8 at once, and a part of it 4.5 minutes at 2 and
# 1.5 at 8, with about 6 processor-seconds of work in those 1.5 minutes.
run_tests() {
  unshare --net --pid --mount --fork chroot "$root" /usr/bin/env -i \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb \
    bash -euo pipefail -c "mount -t proc proc /proc
      ip link set lo up
      cd /src
      ctest --test-dir build --output-on-failure --no-tests=error -LE e2e -j $((4 * jobs))" 9>&-
}

# A build without the desktop's address book and QMI, as a headless box makes it: the same
# tree configured with VORYX_EDS=OFF and VORYX_QMI=OFF (only those libraries and the binary
# are built again) must link, keep vCard files, and say that eds: and --qmi are not in it.
without_eds() {
  in_root "cd /src
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
    cmake --preset default -DVORYX_EDS=OFF -DVORYX_QMI=OFF >/dev/null
    cmake --build --preset default -j $jobs --target voryx >/dev/null
    if ldd build/voryx | grep -q 'libebook\|libqmi'; then echo 'linked with libebook or libqmi'; exit 1; fi
    home=\$(mktemp -d)
    printf 'BEGIN:VCARD\\r\\nVERSION:3.0\\r\\nFN:Anna\\r\\nTEL:1\\r\\nEND:VCARD\\r\\n' >\$home/book.vcf
    VORYX_HOME=\$home build/voryx contacts --contacts \$home/book.vcf | grep '^Anna' >/dev/null
    if VORYX_HOME=\$home build/voryx contacts --contacts eds: 2>\$home/err; then exit 1; fi
    grep -q 'built without evolution-data-server' \$home/err
    if VORYX_HOME=\$home build/voryx info --qmi /dev/cdc-wdm0 2>\$home/err; then exit 1; fi
    grep -q 'has no QMI' \$home/err
    rm -rf \$home
    cmake --preset default -DVORYX_EDS=ON -DVORYX_QMI=ON >/dev/null"
}

if [ "$mode" = tests ] && [ -n "$run" ] && [ -e "$stamp" ] && [ "$(cat "$built" 2>/dev/null)" = "$run" ]; then
  say "the build of this run is there (scripts/test.sh made it early)"
  mount_all
else
  [ "$mode" = tests ] && mode=all
  t=$SECONDS
  make_root
  elapsed "root" "$t"
  mount_all
  rm -f "$root/etc/resolv.conf"
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  t=$SECONDS
  copy_tree
  install_packages
  elapsed "deps" "$t"
  t=$SECONDS
  build
  [ -n "$run" ] && echo "$run" >"$built"
  elapsed "build" "$t"
fi
[ "$mode" = build ] && exit 0

t=$SECONDS
rc=0
run_tests || rc=$?
elapsed "tests" "$t"
t=$SECONDS
without_eds || { say "the build without evolution-data-server and QMI fails its check" >&2; rc=1; }
elapsed "without EDS" "$t"
exit $rc
