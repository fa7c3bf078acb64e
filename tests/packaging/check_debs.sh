#!/usr/bin/env bash
# Makes the Debian packages of a build folder with cpack and checks them as
# apt would see them: what each one holds, what it depends on, and that the
# runtime package's programs run from an unpacked copy. A host built against
# the unpacked development package shows that it is enough to build one.
#
#   check_debs.sh BUILD_DIR WORK_DIR VERSION HAS_DESIGNER UI_HOST_SOURCE
#
# Exit 0 when every check passes, 1 at the first failure, 77 (skipped) when a
# tool the check needs is not installed.
set -euo pipefail

build=$1
work=$2
version=$3
has_designer=$4
ui_host=$5

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate gzip; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }

deb_of() {
  local files=("$work/debs/$1"_*.deb)
  [ -f "${files[0]}" ] || fail "no package $1 in $work/debs"
  echo "${files[0]}"
}

# expect PACKAGE PATTERN...: every pattern names a path in the package.
expect() {
  local deb=$1
  shift
  dpkg-deb -c "$deb" | awk '{print $6}' >"$work/list"
  for pattern in "$@"; do
    grep -qE "^\./$pattern\$" "$work/list" || fail "$(basename "$deb") has no $pattern"
  done
}

# refuse PACKAGE PATTERN...: no path in the package matches a pattern.
refuse() {
  local deb=$1
  shift
  dpkg-deb -c "$deb" | awk '{print $6}' >"$work/list"
  for pattern in "$@"; do
    if grep -qE "^\./$pattern" "$work/list"; then
      fail "$(basename "$deb") holds $pattern"
    fi
  done
}

field() { dpkg-deb -f "$1" "$2"; }

runtime=$(deb_of vmborlan)
dev=$(deb_of vmborlan-dev)

# Runtime package.
expect "$runtime" \
  usr/bin/orlan usr/bin/orlan-import usr/bin/orlan-newdb usr/bin/orlan-prf-gen \
  "usr/lib/(x86_64-linux-gnu/)?libVmbOrlan\.so\.1" "usr/lib/(x86_64-linux-gnu/)?libVmbOrlan\.so\.$version" \
  "usr/lib/(x86_64-linux-gnu/)?libVmbOrlanWidgets\.so\.1" "usr/lib/(x86_64-linux-gnu/)?libVmbOrlanWidgets\.so\.$version" \
  usr/share/applications/orlan.desktop \
  usr/share/icons/hicolor/scalable/apps/orlan.svg \
  usr/share/mime/packages/orlan-prf.xml \
  usr/share/man/man1/orlan.1.gz usr/share/man/man1/orlan-import.1.gz \
  usr/share/man/man1/orlan-newdb.1.gz usr/share/man/man1/orlan-prf-gen.1.gz
refuse "$runtime" usr/include "usr/lib/(x86_64-linux-gnu/)?libVmbOrlan\.so\$" "usr/lib/(x86_64-linux-gnu/)?cmake"
[ "$(field "$runtime" Package)" = vmborlan ] || fail "runtime package name"
[ "$(field "$runtime" Version)" = "$version" ] || fail "runtime version $(field "$runtime" Version), not $version"
depends=$(field "$runtime" Depends)
for lib in libqt6core6 libqt6widgets6 libsqlite3-0 libpq5 libc6; do
  [[ "$depends" == *"$lib"* ]] || fail "vmborlan does not depend on $lib (Depends: $depends)"
done
dpkg-deb -I "$runtime" shlibs >"$work/shlibs" 2>/dev/null || fail "vmborlan has no shlibs file"
for lib in libVmbOrlan libVmbOrlanWidgets; do
  grep -qx "$lib 1 vmborlan (>= $version)" "$work/shlibs" || fail "shlibs does not name $lib 1"
done

# Development package.
expect "$dev" \
  usr/include/VmbOrlan/control/ctl_orlan.h usr/include/VmbOrlan/widgets/orlan_widget.h \
  "usr/lib/(x86_64-linux-gnu/)?libVmbOrlan\.so" "usr/lib/(x86_64-linux-gnu/)?libVmbOrlanWidgets\.so" \
  "usr/lib/(x86_64-linux-gnu/)?cmake/VmbOrlan/VmbOrlanConfig\.cmake" \
  "usr/lib/(x86_64-linux-gnu/)?cmake/VmbOrlan/VmbOrlanConfigVersion\.cmake" \
  "usr/lib/(x86_64-linux-gnu/)?cmake/VmbOrlan/VmbOrlanTargets\.cmake"
refuse "$dev" usr/bin "usr/lib/(x86_64-linux-gnu/)?libVmbOrlan\.so\.1" "usr/include/VmbOrlan/widgets/designer"
[[ "$(field "$dev" Depends)" == *"vmborlan (= $version)"* ]] ||
  fail "vmborlan-dev does not depend on vmborlan $version (Depends: $(field "$dev" Depends))"

# Designer package.
if [ "$has_designer" = 1 ]; then
  designer=$(deb_of vmborlan-designer)
  expect "$designer" "usr/lib/(x86_64-linux-gnu/)?qt6/plugins/designer/liborlan_designer\.so"
  refuse "$designer" usr/bin usr/include
  depends=$(field "$designer" Depends)
  [[ "$depends" == *"vmborlan (= $version)"* ]] || fail "vmborlan-designer does not depend on vmborlan (Depends: $depends)"
  [[ "$depends" == *libqt6core6* ]] || fail "vmborlan-designer does not depend on libqt6core6 (Depends: $depends)"
fi

# The runtime package, unpacked, runs on its own libraries.
root=$work/root
dpkg-deb -x "$runtime" "$root"
libs=$root/usr/lib:$root/usr/lib/x86_64-linux-gnu
LD_LIBRARY_PATH=$libs "$root/usr/bin/orlan-import" --help >"$work/help.txt" ||
  fail "orlan-import --help from the unpacked package exited $?"
grep -q "orlan-import" "$work/help.txt" || fail "orlan-import --help printed no usage"
LD_LIBRARY_PATH=$libs ldd "$root/usr/bin/orlan-import" >"$work/ldd.txt"
grep -q "libVmbOrlan.so.1 => $root/" "$work/ldd.txt" ||
  fail "the unpacked orlan-import does not load the unpacked libVmbOrlan.so.1"

desktop-file-validate "$root/usr/share/applications/orlan.desktop" || fail "desktop-file-validate"
grep -qx "Exec=orlan %f" "$root/usr/share/applications/orlan.desktop" || fail "the desktop entry does not open a file"

for page in "$root"/usr/share/man/man1/*.1.gz; do
  gzip -t "$page" || fail "$page is not gzip"
  gzip -dc "$page" >"$work/page"
  read -r first <"$work/page"
  [[ "$first" == ".TH "*"$version"* ]] || fail "$page has no .TH line with the version"
done

# The file type, compiled as the system does: the extension and the first line.
if command -v update-mime-database >/dev/null; then
  mime=$work/mime
  mkdir -p "$mime/packages"
  cp "$root/usr/share/mime/packages/orlan-prf.xml" "$mime/packages/"
  XDG_DATA_HOME=$work update-mime-database "$mime" 2>"$work/mime.log" || { cat "$work/mime.log" >&2; fail "update-mime-database"; }
  [ ! -s "$work/mime.log" ] || { cat "$work/mime.log" >&2; fail "update-mime-database warned"; }
  grep -q "application/x-orlan-prf:\*\.prf" "$mime/globs2" || fail "no *.prf glob"
  grep -aq "PRF|" "$mime/magic" || fail "no PRF| magic"
else
  echo "note: update-mime-database not installed; the file type was not compiled"
fi

# A Designer form built against the unpacked development package.
dpkg-deb -x "$dev" "$root"
cmake -S "$ui_host" -B "$work/ui-host" -DCMAKE_PREFIX_PATH="$root/usr" >"$work/ui-host.log" 2>&1 ||
  { cat "$work/ui-host.log" >&2; fail "find_package(VmbOrlan) in the unpacked development package"; }
cmake --build "$work/ui-host" >>"$work/ui-host.log" 2>&1 ||
  { cat "$work/ui-host.log" >&2; fail "the form host did not build against the unpacked development package"; }
QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH=$libs "$work/ui-host/orlan-ui-host" || fail "the form host failed"

for deb in "$work"/debs/*.deb; do
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, Depends: $(field "$deb" Depends)"
done
echo "packages checked"
