#!/usr/bin/env bash
# The release package as the vendor's release engineer gets it (Windows build,
# under Wine): cpack with a throwaway code-signing certificate made here, then
# the ZIP checked from outside: contents and SHA256SUMS, stripped binaries tied
# to their debug files, signatures that osslsigncode accepts, imports, and the
# signed program run from a folder unpacked out of the ZIP.
#
#   release_package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$build/release-package-test
rm -rf "$work"
mkdir -p "$work/out" "$work/unpacked" "$work/symbols" "$work/data"
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# A self-signed certificate for code signing. The signing time is the
# package's date (the commit's), which may lie before the certificate's start.
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 36500 -subj "/CN=zrkupd test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
  2>"$work/openssl.log"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/sign.p12" \
  -passout pass:throwaway 2>>"$work/openssl.log"

ZRK_SIGN_PKCS12=$work/sign.p12 ZRK_SIGN_PASSWORD=throwaway ZRK_SIGN_CAFILE=$work/cert.pem \
  cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }

shopt -s nullglob
zips=("$work"/out/zrkupd-*-win32.zip)
symbol_zips=("$work"/out/zrkupd-*-win32-symbols.zip)
[ ${#zips[@]} -eq 1 ] && [ ${#symbol_zips[@]} -eq 1 ] || { ls -l "$work/out"; exit 1; }
zip=${zips[0]}
echo "package: $(basename "$zip") $(stat -c %s "$zip") bytes," \
  "$(basename "${symbol_zips[0]}") $(stat -c %s "${symbol_zips[0]}") bytes"

expected="DUNZIP32.DLL README.txt SHA256SUMS licences/cli11.txt licences/gcc-runtime-libraries.txt licences/mingw-w64-runtime.txt licences/nlohmann-json.txt licences/zlib.txt zrktool.exe zrkupd.exe"
listed=$(zipinfo -1 "$zip" | grep -v '/$' | tr '\n' ' ' | sed 's/ $//')
[ "$listed" = "$expected" ] || fail "package holds: $listed"
listed=$(zipinfo -1 "${symbol_zips[0]}" | tr '\n' ' ' | sed 's/ $//')
[ "$listed" = "DUNZIP32.DLL.debug zrktool.exe.debug zrkupd.exe.debug" ] ||
  fail "symbols package holds: $listed"

(cd "$work/unpacked" && unzip -q "$zip")
(cd "$work/symbols" && unzip -q "${symbol_zips[0]}")
(cd "$work/unpacked" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
grep -q "Lizenztexte" "$work/unpacked/README.txt" && grep -q "licence texts" "$work/unpacked/README.txt" ||
  fail "README.txt is not the German and English readme"
grep -q "Copyright" "$work/unpacked/licences/zlib.txt" || fail "licences/zlib.txt has no copyright"

# Imports: only DLLs that Windows takes from the system folder whatever lies
# beside the program, and comctl32, which the manifest binds to its assembly.
known="ADVAPI32.dll GDI32.dll KERNEL32.dll SHELL32.dll USER32.dll msvcrt.dll"
for name in zrkupd.exe DUNZIP32.DLL zrktool.exe; do
  file=$work/unpacked/$name
  allowed=$known
  [ "$name" = zrkupd.exe ] && allowed="$allowed COMCTL32.dll"
  imports=$(i686-w64-mingw32-objdump -p "$file" | sed -n 's/^\tDLL Name: //p' | sort -u)
  echo "$name: $(stat -c %s "$file") bytes, imports: $(echo $imports)"
  for dll in $imports; do
    case " ${allowed,,} " in *" ${dll,,} "*) ;; *) fail "$name imports $dll" ;; esac
  done
  if i686-w64-mingw32-objdump -h "$file" | grep -q ' \.debug_'; then fail "$name is not stripped"; fi
  case $name in
  # Not grep -q: objdump cut short by a closed pipe would fail the pipe.
  *.exe) i686-w64-mingw32-objdump -p "$file" | grep TERMINAL_SERVICE_AWARE >/dev/null ||
    fail "$name is not marked terminal-server aware" ;;
  esac
  # The stripped file names its debug file and carries its checksum.
  i686-w64-mingw32-objcopy --dump-section ".gnu_debuglink=$work/link-$name" "$file" "$work/scratch"
  link=$(python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read(); print(d.split(b"\0")[0].decode(), struct.unpack("<I", d[-4:])[0])' "$work/link-$name")
  crc=$(python3 -c 'import sys,zlib; print(zlib.crc32(open(sys.argv[1],"rb").read()))' "$work/symbols/$name.debug")
  [ "$link" = "$name.debug $crc" ] || fail "$name: debug link '$link', debug file checksum $crc"
  i686-w64-mingw32-objdump -h "$work/symbols/$name.debug" | grep -q ' \.debug_info' ||
    fail "$name.debug holds no debug information"
  id=$(i686-w64-mingw32-objdump -p "$file" | grep -o 'RSDS signature [0-9a-f]*' || true)
  [ -n "$id" ] && [ "$id" = "$(i686-w64-mingw32-objdump -p "$work/symbols/$name.debug" |
    grep -o 'RSDS signature [0-9a-f]*')" ] || fail "$name: build id '$id' not that of its debug file"
  osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >"$work/verify-$name.log" 2>&1 ||
    { cat "$work/verify-$name.log"; fail "$name: signature not accepted"; }
done

# The signed program, run from the unpacked folder: with an empty data folder
# it writes default settings, finds nothing pending and ends by itself; its
# run log names the version and the commit.
commit=$(git -C "$source" rev-parse HEAD 2>/dev/null || echo unknown)
winpath() { printf 'Z:%s' "${1//\//\\}"; }
(cd "$work/data" && timeout 120 wine "$work/unpacked/zrkupd.exe" "$(winpath "$work/data")") ||
  fail "zrkupd.exe from the package ended with status $?"
[ -f "$work/data/ZRKUPD.DAT" ] || fail "zrkupd.exe from the package wrote no settings"
grep -a -q "zrkupd .* (commit $commit), DUNZIP32.DLL [0-9]" "$work/data/ZRKUPD.LOG" ||
  fail "run log: $(head -c 300 "$work/data/ZRKUPD.LOG" 2>/dev/null)"
version=$(timeout 60 wine "$work/unpacked/zrktool.exe" --version | tr -d '\r')
echo "zrktool.exe --version: $version"
case "$version" in "zrktool "*" (commit $commit)") ;; *) fail "zrktool --version: $version" ;; esac

[ "$failures" -eq 0 ] || exit 1
echo "release package ok"
