#!/bin/sh
# Makes the Debian package with CPack, checks its control fields and contents with dpkg-deb,
# unpacks it into a scratch root with dpkg -x and runs the binary from there, and runs lintian
# on it.
# Skips (status 77) on a system without dpkg.
#   check-package.sh VORLITH BUILD_DIR SOURCE_DIR VERSION
set -eu
built=$1 build=$2 source=$3 version=$4
fail() {
  echo "check-package: $*" >&2
  exit 1
}
if ! command -v dpkg-deb >/dev/null 2>&1; then
  echo "check-package: dpkg-deb is not installed" >&2
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
"${CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb=$work/out/vorlith_${version}_$arch.deb
[ -f "$deb" ] || { ls "$work/out" >&2; fail "no vorlith_${version}_$arch.deb"; }

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = vorlith ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(field Section)" = devel ] || fail "Section: $(field Section)"
field Description | head -n 1 | grep -q -F "linker map" || fail "Description: $(field Description)"
[ "$(field Description | wc -l)" -gt 1 ] || fail "the Description has no long text"
for library in libc6 libstdc++6; do
  field Depends | tr ',' '\n' | sed -E 's/^ +//; s/ .*//' | grep -q -x -F "$library" ||
    fail "Depends lacks $library: $(field Depends)"
done

dpkg-deb --contents "$deb" | awk '{print $6}' >"$work/contents"
for file in ./usr/bin/vorlith ./usr/share/man/man1/vorlith.1.gz ./usr/share/vorlith/viewer/index.html \
  ./usr/share/doc/vorlith/LICENSE ./usr/share/doc/vorlith/README.md \
  ./usr/share/doc/vorlith/copyright ./usr/share/doc/vorlith/changelog.gz; do
  grep -q -x -F "$file" "$work/contents" || fail "the package lacks $file"
done
if grep -v -E '^\./(usr/.*)?$' "$work/contents" >&2; then
  fail "the package puts files outside /usr"
fi

# Unpacked, the binary runs from the scratch root and writes what the build's binary writes;
# the manual page names where the package puts the page.
dpkg -x "$deb" "$work/root"
said=$("$work/root/usr/bin/vorlith" --version)
[ "$said" = "vorlith $version" ] || fail "--version says '$said'"
"$built" "$source/examples/sample.map" "$work/built.json"
"$work/root/usr/bin/vorlith" "$source/examples/sample.map" "$work/unpacked.json"
cmp "$work/built.json" "$work/unpacked.json" || fail "the packaged binary writes another document"
gzip -dc "$work/root/usr/share/man/man1/vorlith.1.gz" | grep -q -F /usr/share/vorlith/viewer/index.html ||
  fail "the packaged manual page does not name /usr/share/vorlith/viewer/index.html"
gzip -dc "$work/root/usr/share/doc/vorlith/changelog.gz" | head -n 1 | grep -q -x -F \
  "vorlith ($version) unstable; urgency=medium" || fail "the changelog's first entry is not $version"

# Debian's package checker: no errors and no warnings (its notes are allowed). Where lintian is
# missing, say so; tests/run-all.sh installs it.
if command -v lintian >/dev/null 2>&1; then
  lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>&1 || true
  if grep -E '^[EW]: ' "$work/lintian" >&2; then
    fail "lintian reports errors or warnings"
  fi
  lintian_said="lintian clean"
else
  lintian_said="lintian not installed, not run"
fi
echo "$(basename "$deb"): fields, contents and the unpacked binary checked; $lintian_said"
