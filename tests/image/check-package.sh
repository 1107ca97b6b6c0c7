#!/usr/bin/env bash
# Makes the release package and checks it: the ZIP holds the very image that
# was built and the README, and the checksum file beside it matches the ZIP.
# usage: check-package.sh BUILD-DIR PACKAGE-NAME IMAGE README
set -u
build=$1 name=$2 image=$3 readme=$4
failures=0
check() {
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
rm -f "$build/$name.zip" "$build/$name.zip.sha256"
cmake --build "$build" --target package >"$build/package.log" 2>&1 ||
    { echo "FAIL the package target failed: see $build/package.log"; exit 1; }
check "$name.zip made" test -f "$build/$name.zip"
check "checksum file matches the ZIP" bash -c "cd '$build' && sha256sum --quiet -c '$name.zip.sha256'"
check "holds the built Zeltrane.exe" cmp -s "$image" <(unzip -p "$build/$name.zip" "$name/Zeltrane.exe")
check "holds the README" cmp -s "$readme" <(unzip -p "$build/$name.zip" "$name/README.md")
check "holds nothing else" test "$(unzip -Z1 "$build/$name.zip" | grep -vc '/$')" -eq 2
echo "$failures failed"
[ "$failures" -eq 0 ]
