#!/usr/bin/env bash
# Two builds of the same checkout give byte-identical release packages: the
# package of BUILD_DIR against that of a second, clean build of only the
# shipped binaries in SECOND_DIR (another path, so paths must not leak in).
#
#   reproducible.sh SOURCE_DIR BUILD_DIR SECOND_DIR
set -euo pipefail
source=$1
build=$2
second=$3
jobs=${ZRK_JOBS:-2}

rm -rf "$second" "$build/reproducible"
# The first build as it stands for this commit (its version is written at build time).
cmake --build "$build" -j "$jobs" --target zrk_release_files >/dev/null
cmake -S "$source" -B "$second" --toolchain "$source/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZRK_TESTS=OFF >"$second.log" 2>&1 || { cat "$second.log"; exit 1; }
cmake --build "$second" -j "$jobs" --target zrk_release_files >>"$second.log" 2>&1 ||
  { tail -50 "$second.log"; exit 1; }
# Unsigned: signing is as reproducible as its certificate, which a build lacks.
for dir in "$build" "$second"; do
  env -u ZRK_SIGN_PKCS12 cpack --config "$dir/CPackConfig.cmake" -B "$dir/reproducible" \
    >"$dir/reproducible.log" 2>&1 || { cat "$dir/reproducible.log"; exit 1; }
done

status=0
count=0
for zip in "$build"/reproducible/*.zip; do
  other=$second/reproducible/$(basename "$zip")
  count=$((count + 1))
  if cmp "$zip" "$other"; then
    echo "identical: $(basename "$zip") ($(sha256sum <"$zip" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $(basename "$zip")" >&2
    status=1
  fi
done
[ "$count" -eq 2 ] || { echo "expected two packages, found $count" >&2; status=1; }
[ "$status" -ne 0 ] || rm -rf "$second"
exit $status
