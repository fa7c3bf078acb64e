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

for tool in cpack dpkg-deb dpkg-shlibdeps dpkg-architecture desktop-file-validate gzip readelf; do
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

# Libraries go to the multiarch folder, e.g. usr/lib/x86_64-linux-gnu.
libdir=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

runtime=$(deb_of vmborlan)
dev=$(deb_of vmborlan-dev)

# Runtime package.
expect "$runtime" \
  usr/bin/orlan usr/bin/orlan-import usr/bin/orlan-newdb usr/bin/orlan-prf-gen \
  "$libdir/libVmbOrlan\.so\.1" "$libdir/libVmbOrlan\.so\.$version" \
  "$libdir/libVmbOrlanWidgets\.so\.1" "$libdir/libVmbOrlanWidgets\.so\.$version" \
  usr/share/doc/vmborlan/copyright \
  usr/share/applications/orlan.desktop \
  usr/share/icons/hicolor/scalable/apps/orlan.svg \
  usr/share/mime/packages/orlan-prf.xml \
  usr/share/man/man1/orlan.1.gz usr/share/man/man1/orlan-import.1.gz \
  usr/share/man/man1/orlan-newdb.1.gz usr/share/man/man1/orlan-prf-gen.1.gz
refuse "$runtime" usr/include "usr/lib/libVmbOrlan" "$libdir/libVmbOrlan\.so\$" "$libdir/cmake"
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
  "$libdir/libVmbOrlan\.so" "$libdir/libVmbOrlanWidgets\.so" \
  "$libdir/cmake/VmbOrlan/VmbOrlanConfig\.cmake" \
  "$libdir/cmake/VmbOrlan/VmbOrlanConfigVersion\.cmake" \
  "$libdir/cmake/VmbOrlan/VmbOrlanTargets\.cmake" \
  usr/share/doc/vmborlan-dev/copyright
refuse "$dev" usr/bin "$libdir/libVmbOrlan\.so\.1" "usr/include/VmbOrlan/widgets/designer"
[[ "$(field "$dev" Depends)" == *"vmborlan (= $version)"* ]] ||
  fail "vmborlan-dev does not depend on vmborlan $version (Depends: $(field "$dev" Depends))"

# Designer package.
if [ "$has_designer" = 1 ]; then
  designer=$(deb_of vmborlan-designer)
  # Where Designer looks: Qt's own plugin folder, as Qt tells it.
  plugins=$(qtpaths6 --plugin-dir 2>/dev/null || qtpaths --plugin-dir 2>/dev/null) || fail "qtpaths did not tell Qt's plugin folder"
  expect "$designer" "${plugins#/}/designer/liborlan_designer\.so" usr/share/doc/vmborlan-designer/copyright
  refuse "$designer" usr/bin usr/include
  depends=$(field "$designer" Depends)
  [[ "$depends" == *"vmborlan (= $version)"* ]] || fail "vmborlan-designer does not depend on vmborlan (Depends: $depends)"
  [[ "$depends" == *libqt6core6* ]] || fail "vmborlan-designer does not depend on libqt6core6 (Depends: $depends)"
fi

for deb in "$work"/debs/*.deb; do
  package=$(field "$deb" Package)
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/$package/copyright" >"$work/copyright"
  grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "$work/copyright" &&
    grep -q "^License: " "$work/copyright" || fail "$package has no machine-readable copyright file"
done

# The runtime package, unpacked, runs on its own libraries, found by the
# programs' RUNPATH without LD_LIBRARY_PATH.
root=$work/root
dpkg-deb -x "$runtime" "$root"
env -u LD_LIBRARY_PATH "$root/usr/bin/orlan-import" --help >"$work/help.txt" ||
  fail "orlan-import --help from the unpacked package exited $?"
grep -q "orlan-import" "$work/help.txt" || fail "orlan-import --help printed no usage"
for program in orlan orlan-import orlan-newdb orlan-prf-gen; do
  env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program" >"$work/ldd.txt"
  grep -q "libVmbOrlan.so.1 => $root/" "$work/ldd.txt" ||
    fail "the unpacked $program does not load the unpacked libVmbOrlan.so.1"
done
libs=$root/$libdir
if [ "$has_designer" = 1 ]; then
  # The plugin, unpacked beside the runtime package, loads its unpacked
  # libraries, looking nowhere but beside Qt's own.
  dpkg-deb -x "$designer" "$root"
  plugin=$root$plugins/designer/liborlan_designer.so
  runpath=$(readelf -d "$plugin" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [[ ":$runpath" != *:/* ]] || fail "the packaged plugin looks in an absolute folder (RUNPATH $runpath)"
  env -u LD_LIBRARY_PATH ldd "$plugin" >"$work/ldd.txt"
  grep -q "libVmbOrlanWidgets.so.1 => $root/" "$work/ldd.txt" ||
    fail "the unpacked Designer plugin does not load the unpacked libVmbOrlanWidgets.so.1"
fi

desktop-file-validate "$root/usr/share/applications/orlan.desktop" || fail "desktop-file-validate"
grep -qx "Exec=orlan %f" "$root/usr/share/applications/orlan.desktop" || fail "the desktop entry does not open a file"

# Manual pages: Portuguese, so never hyphenated by man's English patterns;
# those of the programs that take a database name its server form.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  gzip -t "$page" || fail "$page is not gzip"
  gzip -dc "$page" >"$work/page"
  read -r first <"$work/page"
  [[ "$first" == ".TH "*"$version"* ]] || fail "$page has no .TH line with the version"
  grep -qE '^\.(nh|hy 0)$' "$work/page" || fail "$page may be hyphenated as English"
  case $(basename "$page") in
    orlan.1.gz | orlan-import.1.gz | orlan-newdb.1.gz)
      grep -q 'postgresql://usuário@servidor/banco' "$work/page" || fail "$page does not name the postgresql:// form"
      ;;
  esac
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
