#!/usr/bin/env bash
# Builds the Debian package build/dialscope_<version>_<arch>.deb and checks it:
# lintian (no errors allowed), its contents, and the installed program started
# from a temporary root (dpkg -x) with that root's libraries.
#   scripts/package.sh            build, package, check
#   scripts/package.sh --no-check build and package only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target dialscope dsreg dialscope-sitesim purgekit dialscope_package_docs
(cd build && cpack -G DEB -C RelWithDebInfo >/dev/null)
version=$(sed -n 's/^project(Dialscope VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=build/dialscope_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "package.sh: $deb was not built" >&2; exit 1; }
echo "Built $deb"
[ "${1:-}" = "--no-check" ] && exit 0

# Contents: every file the package promises.
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/dialscope ./usr/bin/dsreg ./usr/bin/dialscope-sitesim \
    "./usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libpurgekit.so.1" ./usr/include/purgekit.h \
    ./usr/share/dialscope/alarm.wav ./usr/share/dialscope/DScope.Hlp \
    ./usr/share/applications/com.kestrellookout.Dialscope.desktop \
    ./usr/share/metainfo/com.kestrellookout.Dialscope.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/dialscope.svg ./usr/share/icons/hicolor/48x48/apps/dialscope.png \
    ./usr/share/icons/hicolor/256x256/apps/dialscope.png ./usr/share/man/man1/dialscope.1.gz \
    ./usr/share/man/man1/dsreg.1.gz ./usr/share/man/man1/dialscope-sitesim.1.gz \
    ./usr/share/doc/dialscope/copyright ./usr/share/doc/dialscope/changelog.gz; do
  grep -q " $path\( \|$\)" <<<"$contents" || { echo "package.sh: $path missing from $deb" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || { echo "package.sh: no computed dependencies" >&2; exit 1; }

# Lintian: errors fail, warnings are shown.
lintian_out=$(lintian --tag-display-limit 0 "$deb" || true)
[ -n "$lintian_out" ] && echo "$lintian_out"
if grep -q '^E:' <<<"$lintian_out"; then
  echo "package.sh: lintian reports errors" >&2
  exit 1
fi
echo "lintian: no errors ($(grep -c '^W:' <<<"$lintian_out" || true) warnings)"

# The desktop entry and the AppStream data as their validators see them.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg -x "$deb" "$tmp"
desktop-file-validate "$tmp/usr/share/applications/com.kestrellookout.Dialscope.desktop"
appstreamcli validate --no-net --pedantic "$tmp/usr/share/metainfo/com.kestrellookout.Dialscope.metainfo.xml" \
  >/dev/null || appstreamcli validate --no-net "$tmp/usr/share/metainfo/com.kestrellookout.Dialscope.metainfo.xml"

# The installed program runs from that root with that root's Purgekit.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
out=$(LD_LIBRARY_PATH="$tmp/usr/lib/$multiarch" "$tmp/usr/bin/dialscope" --version)
[ "$out" = "dialscope $version" ] || { echo "package.sh: --version said '$out'" >&2; exit 1; }
# (the output is read whole first: grep -q closing the pipe early would end the writer with SIGPIPE)
help=$(LD_LIBRARY_PATH="$tmp/usr/lib/$multiarch" "$tmp/usr/bin/dialscope" --help)
grep -q -- --demo <<<"$help"
"$tmp/usr/bin/dsreg" >/dev/null 2>&1 || [ $? -eq 2 ]
simhelp=$("$tmp/usr/bin/dialscope-sitesim" --help)
grep -q -- --rfc2217 <<<"$simhelp"
LD_LIBRARY_PATH="$tmp/usr/lib/$multiarch" python3 - "$tmp/usr/lib/$multiarch/libpurgekit.so" <<'PY' 2>/dev/null ||
import ctypes, sys
ctypes.CDLL(sys.argv[1])
PY
  { echo "package.sh: the installed Purgekit does not load" >&2; exit 1; }
echo "package.sh: $deb checked"
