#!/usr/bin/env bash
# The Debian package as Debian's own checker judges it: lintian has nothing
# to say (no error, no warning) of the .deb that cpack makes from this
# build. The build is configured for any prefix; the package is made for
# /usr, where a package lives.
#
#   package_lintian.sh BUILD_DIR
set -u
build=$1
for tool in lintian dpkg-deb dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (lintian, dpkg-dev)"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed -e 's|^set(CPACK_PACKAGING_INSTALL_PREFIX .*)$|set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")|' \
    "$build/CPackConfig.cmake" >"$tmp/CPackConfig.cmake"
if ! (cd "$tmp" && cpack --config "$tmp/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1); then
  cat "$tmp/cpack.log"
  echo "FAIL: cpack could not make the package"
  exit 1
fi
deb=$(find "$tmp/out" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || { cat "$tmp/cpack.log"; echo "FAIL: no .deb"; exit 1; }
# lintian warns when run as root; that line is about the run, not the package.
out=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges')
if [ -n "$out" ]; then
  echo "$out"
  echo "FAIL: lintian has remarks on ${deb##*/}"
  exit 1
fi
contents=$(dpkg-deb -c "$deb")
grep -q 'usr/share/man/ja/man1/hoguren.1.gz' <<<"$contents" || { echo "FAIL: no Japanese manual page"; exit 1; }
echo "PASS: lintian has nothing to say of ${deb##*/}"
