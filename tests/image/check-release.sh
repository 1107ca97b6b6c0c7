#!/usr/bin/env bash
# Checks the release package and its signing: two runs give the same bytes;
# the ZIP holds exactly the nine built images (ZeltraneRemove.exe and
# ZeltraneCreate.exe taken from beside each Zeltrane.exe), the documents, the four setup
# templates, the permission script for their MSI and the MSI's custom action; with a
# throwaway certificate (made here, nothing secret is kept) all ten verify,
# with a time stamp from an authority on loopback that this script starts and
# stops; the signed custom action carries the nine images signed, as the
# package holds them (the unsigned one's do not verify); a changed byte breaks
# the signature; removing it gives the built image (the custom action: as
# built around the signed images) again but for the PE checksum; the signed
# x86 image and the custom action pass their audits; a
# signing failure leaves no package behind. The signed package stays in
# WORK-DIR/signed for the e2e-x86 stage, which installs with it under Wine.
# usage: check-release.sh SOURCE-DIR WORK-DIR X86-IMAGE X64-IMAGE ARM64-IMAGE VERSION
#                         EMPTY-X86-IMAGE MSI-ACTION-DLL
set -u
source_dir=$(realpath "$1") work=$(realpath -m "$2") x86=$(realpath "$3") x64=$(realpath "$4")
arm64=$(realpath "$5") version=$6 empty_x86=$(realpath "$7") msi_action=$(realpath "$8")
name=Zeltrane-$version-windows
# Each signed file of the package and the build it must be: PATH-IN-PACKAGE:BUILT-FILE.
shipped=(Zeltrane.exe:"$x86" x64/Zeltrane.exe:"$x64" arm64/Zeltrane.exe:"$arm64"
    ZeltraneRemove.exe:"$(dirname "$x86")/ZeltraneRemove.exe"
    x64/ZeltraneRemove.exe:"$(dirname "$x64")/ZeltraneRemove.exe"
    arm64/ZeltraneRemove.exe:"$(dirname "$arm64")/ZeltraneRemove.exe"
    ZeltraneCreate.exe:"$(dirname "$x86")/ZeltraneCreate.exe"
    x64/ZeltraneCreate.exe:"$(dirname "$x64")/ZeltraneCreate.exe"
    arm64/ZeltraneCreate.exe:"$(dirname "$arm64")/ZeltraneCreate.exe"
    setups/ZeltraneMsiAction.dll:"$msi_action")
epoch=1765000000 # 2025-12-06 05:46:40 UTC, as a commit's time would be
failures=0
check() {
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
rm -rf "$work"
mkdir -p "$work"
unset ZELTRANE_SIGN_PKCS12 ZELTRANE_SIGN_PASSWORD_FILE ZELTRANE_SIGN_TIMESTAMP
package() { # package OUT-DIR: runs the release packaging into OUT-DIR, output to OUT-DIR.log
    python3 "$source_dir/release/package.py" --version "$version" --epoch "$epoch" \
        --x86 "$x86" --x64 "$x64" --arm64 "$arm64" --remove-x86 "$(dirname "$x86")/ZeltraneRemove.exe" \
        --remove-x64 "$(dirname "$x64")/ZeltraneRemove.exe" \
        --remove-arm64 "$(dirname "$arm64")/ZeltraneRemove.exe" \
        --create-x86 "$(dirname "$x86")/ZeltraneCreate.exe" --create-x64 "$(dirname "$x64")/ZeltraneCreate.exe" \
        --create-arm64 "$(dirname "$arm64")/ZeltraneCreate.exe" --msi-action "$msi_action" \
        --msi-action-build "$(dirname "$msi_action")" --out "$1" \
        >"$1.log" 2>&1
}
inner() { unzip -p "$1" "$name/$2"; }
# carried DLL FOLDER: the nine programs that the custom action carries as
# resources, each written into FOLDER under its resource's name.
carried() {
    local va raw resource rva size
    mkdir -p "$2"
    read -r va raw < <(llvm-readobj --sections "$1" | awk '/Name: .rsrc/ { found = 1 }
        found && /VirtualAddress:/ { va = $2 } found && /PointerToRawData:/ { print va, $2; exit }')
    while read -r resource rva size; do
        tail -c +$((rva - va + raw + 1)) "$1" | head -c "$size" >"$2/$resource.exe"
    done < <(llvm-readobj --coff-resources "$1" | awk '/Name: / { name = $2 }
        /DataRVA:/ { rva = $2 } /DataSize:/ { print name, rva, $2 }')
    [ "$(find "$2" -name '*.exe' | wc -l)" -eq 9 ]
}

# Unsigned, twice.
if ! package "$work/unsigned" || ! package "$work/again"; then
    cat "$work"/*.log
    exit 1
fi
zip=$work/unsigned/$name.zip
check "says in one line that the images are unsigned" \
    test "$(grep -c '^unsigned: ' "$work/unsigned.log")" -eq 1
check "a second run gives a byte-identical ZIP" cmp -s "$zip" "$work/again/$name.zip"
check "checksum file matches the ZIP" bash -c "cd '$work/unsigned' && sha256sum --quiet -c '$name.zip.sha256'"
templates="setups/driver-setup.nsi setups/driver-setup.wxs setups/install-driver.cmd setups/uninstall-driver.cmd setups/lock-permissions.py setups/record-digests.py"
tools="setups/catalog.py setups/catalog_check.py setups/catalog_der.py setups/inf_files.py setups/sign.py"
documents="README.md LICENSE CHANGELOG.md docs/programs.md docs/setups.md docs/catalogs.md docs/images.md docs/security.md"
# shellcheck disable=SC2086 # the names, one argument each
expected=$(printf '%s\n' "${shipped[@]%%:*}" $documents $templates $tools | sed "s|^|$name/|")
check "holds the nine images, the custom action, eight documents, four templates, the MSI's permission and digest scripts and the catalog tool, nothing else" \
    test "$(unzip -Z1 "$zip")" = "$expected"
for file in "${shipped[@]}"; do
    check "${file%%:*} is the built one" cmp -s "${file#*:}" <(inner "$zip" "${file%%:*}")
done
for document in $documents; do
    check "$document is the project's" cmp -s "$source_dir/$document" <(inner "$zip" "$document")
done
for template in $templates; do
    check "$template is the project's" \
        cmp -s "$source_dir/examples/$template" <(inner "$zip" "$template")
done
for tool in $tools; do
    check "$tool is the project's" cmp -s "$source_dir/release/${tool#setups/}" <(inner "$zip" "$tool")
done
stamp=$(TZ=UTC date -d "@$epoch" +%Y%m%d.%H%M%S)
check "every entry: rw-r--r--, Unix, dated $stamp" \
    test "$(zipinfo -T "$zip" | grep -c "^-rw-r--r-- .* unx .* $stamp $name/")" -eq "$(wc -l <<<"$expected")"

# A throwaway root, a code-signing certificate and a time-stamping certificate.
cd "$work" || exit 1
issue() { # issue NAME SUBJECT EXTENSIONS: a key and a certificate signed by the root
    openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -subj "/CN=$2" -out "$1.csr" 2>/dev/null &&
        printf '%s\n' "$3" >"$1.ext" &&
        openssl x509 -req -in "$1.csr" -CA root.pem -CAkey root.key -CAcreateserial -days 2 \
            -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
if ! {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -subj "/CN=Zeltrane test root" \
        -days 2 -out root.pem 2>/dev/null &&
        issue signer "Zeltrane test publisher" \
            "$(printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning')" &&
        issue tsa "Zeltrane test time stamps" \
            "$(printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping')" &&
        head -c 24 /dev/urandom | base64 >password &&
        openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem \
            -passout file:password -out signer.p12
}; then
    echo "FAIL cannot make the certificates"
    exit 1
fi
cat >tsa.cnf <<CONF
[tsa]
default_tsa = zeltrane_test_tsa
[zeltrane_test_tsa]
serial = $work/tsa.serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
CONF
echo 01 >tsa.serial

python3 "$source_dir/tests/image/tsa.py" "$work" &
tsa_pid=$!
trap 'kill "$tsa_pid" 2>/dev/null' EXIT
for _ in $(seq 50); do [ -s tsa.port ] && break; sleep 0.1; done
check "time-stamping authority listens on loopback" test -s tsa.port

# Signed and time-stamped.
ZELTRANE_SIGN_TIMESTAMP=http://127.0.0.1:$(cat tsa.port)/
export ZELTRANE_SIGN_PKCS12=$work/signer.p12 ZELTRANE_SIGN_PASSWORD_FILE=$work/password
export ZELTRANE_SIGN_TIMESTAMP
check "signed release runs" package "$work/signed"
signed=$work/signed/$name.zip
check "says that the images are signed and time-stamped" grep -q '^signed: .*time-stamped' signed.log
for file in "${shipped[@]}"; do
    image=${file%%:*}
    inner "$signed" "$image" >"signed-${image//\//-}"
done
verify() { osslsigncode verify -CAfile root.pem -TSA-CAfile root.pem -in "$1" >"$1.verify" 2>&1; }
for file in "${shipped[@]}"; do
    image=signed-${file%%:*} image=${image//\//-}
    check "$image verifies against the throwaway root" verify "$image"
    check "$image is signed with SHA-256" grep -q 'Message digest algorithm *: SHA256' "$image.verify"
    check "$image has a verified time stamp" grep -q 'Timestamp Server Signature verification: ok' "$image.verify"
done
# The programs that the signed custom action writes and starts as SYSTEM,
# signed as the package's own; the unsigned package's carry no signature,
# which the same check finds.
carried signed-setups-ZeltraneMsiAction.dll carried-signed
for image in carried-signed/*.exe; do
    check "the custom action carries $(basename "$image" .exe) signed" verify "$image"
done
carried "$msi_action" carried-unsigned
check "the unsigned custom action's programs do not verify" \
    test -z "$(for image in carried-unsigned/*.exe; do verify "$image" && echo "$image"; done)"
check "signed ZIP checksum file matches" bash -c "cd '$work/signed' && sha256sum --quiet -c '$name.zip.sha256'"

# A download, verified with the README's commands, the signer's root as the vendor's.
mkdir -p download && cp "$signed" "$signed.sha256" download/ && cp root.pem download/vendor-root.pem
(
    cd download &&
        sha256sum -c "Zeltrane-$version-windows.zip.sha256" &&
        unzip Zeltrane-"$version"-windows.zip &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/Zeltrane.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/x64/Zeltrane.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/arm64/Zeltrane.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/ZeltraneRemove.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/x64/ZeltraneRemove.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/arm64/ZeltraneRemove.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/ZeltraneCreate.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/x64/ZeltraneCreate.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/arm64/ZeltraneCreate.exe" &&
        osslsigncode verify -CAfile vendor-root.pem -in "Zeltrane-$version-windows/setups/ZeltraneMsiAction.dll"
) >download.log 2>&1
check "a download verifies with the README's commands" test $? -eq 0
# The catalog tool as the download ships it, with docs/catalogs.md's commands,
# on the sample package, signed (and time-stamped) with the release's settings.
(
    cd "download/Zeltrane-$version-windows" && mkdir -p driver/x86 driver/amd64 driver/arm64 &&
        cp "$source_dir/examples/zt-sample.inf" driver/ && cp "$work/root.pem" roots.pem &&
        cp "$(dirname "$x86")/sample/zt-sample.sys" driver/x86/ &&
        cp "$(dirname "$x64")/sample/zt-sample.sys" driver/amd64/ &&
        cp "$(dirname "$arm64")/sample/zt-sample.sys" driver/arm64/ &&
        /usr/bin/python3 setups/catalog.py make driver/zt-sample.inf --os Vista_X86,7_X86,10_X86,10_X64,10_ARM64 &&
        /usr/bin/python3 setups/catalog.py sign driver/zt-sample.cat &&
        /usr/bin/python3 setups/catalog.py check driver/zt-sample.inf --ca-file roots.pem &&
        osslsigncode verify -CAfile roots.pem -TSA-CAfile roots.pem -in driver/zt-sample.cat &&
        osslsigncode verify -CAfile roots.pem -TSA-CAfile roots.pem -in driver/amd64/zt-sample.sys \
            -catalog driver/zt-sample.cat &&
        /usr/bin/python3 setups/catalog.py cab driver/zt-sample.inf --os 10_X64,10_ARM64 --out zt-sample.cab &&
        /usr/bin/python3 setups/catalog.py sign zt-sample.cab &&
        osslsigncode verify -CAfile roots.pem -TSA-CAfile roots.pem -in zt-sample.cab &&
        gcab -t zt-sample.cab >cab.list
) >catalog.log 2>&1
check "the release's catalog tool makes, signs and checks the sample's catalog with docs/catalogs.md's commands" \
    test $? -eq 0
check "the submission's CAB holds the package for its targets under the INF's name" test \
    "$(tr "\\\\" / <"download/Zeltrane-$version-windows/cab.list" | LC_ALL=C sort | tr '\n' ' ')" = \
    "zt-sample/amd64/zt-sample.sys zt-sample/arm64/zt-sample.sys zt-sample/zt-sample.cat zt-sample/zt-sample.inf "

# One byte of code changed.
text=$(llvm-readobj --sections signed-Zeltrane.exe | awk '/Name: .text/ { found = 1 }
    found && /PointerToRawData/ { print $2; exit }')
cp signed-Zeltrane.exe tampered.exe
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); b = f.read(1)[0]
f.seek(int(sys.argv[2])); f.write(bytes([b ^ 0xFF]))' tampered.exe $((text + 64))
check "the changed copy differs from the signed one by one byte" \
    test "$(cmp -l signed-Zeltrane.exe tampered.exe | wc -l)" -eq 1
check "the untouched copy verifies" verify signed-Zeltrane.exe
check "a byte of code changed breaks the signature" bash -c "! osslsigncode verify -CAfile root.pem -TSA-CAfile root.pem -in tampered.exe >tampered.verify 2>&1"

# The signature removed: the built image again, but for the PE checksum field;
# the custom action as built around the signed images.
for file in "${shipped[@]}"; do
    signed_image=signed-${file%%:*} signed_image=${signed_image//\//-} built=${file#*:}
    [ "$built" = "$msi_action" ] && built=$(dirname "$msi_action")/signed-images/setups/ZeltraneMsiAction.dll
    osslsigncode remove-signature -in "$signed_image" -out "$signed_image.removed" >/dev/null 2>&1
    pe=$(od -An -tu4 -j60 -N4 "$built" | tr -d ' ')
    checksum=$((pe + 24 + 64))
    differing=$(cmp -l "$built" "$signed_image.removed" 2>/dev/null |
        awk -v lo=$((checksum + 1)) -v hi=$((checksum + 4)) '$1 < lo || $1 > hi' | wc -l)
    check "$signed_image without its signature is the built image but for the PE checksum" \
        test -s "$signed_image.removed" -a "$(stat -c %s "$built")" = \
        "$(stat -c %s "$signed_image.removed" 2>/dev/null)" -a "$differing" -eq 0
done

# The signed x86 image is still what the audit wants.
check "signed x86 image passes the image audit" bash -c \
    "'$source_dir/tests/image/audit-image.sh' signed-Zeltrane.exe x86 '$version' '$empty_x86' >audit.log"
check "signed x86 removal image passes the image audit" bash -c \
    "'$source_dir/tests/image/audit-image.sh' signed-ZeltraneRemove.exe x86 '$version' '$empty_x86' ZeltraneRemove >audit-remove.log"
check "signed x86 creation image passes the image audit" bash -c \
    "'$source_dir/tests/image/audit-image.sh' signed-ZeltraneCreate.exe x86 '$version' '$empty_x86' ZeltraneCreate >audit-create.log"
check "signed custom action passes its audit" bash -c \
    "'$source_dir/tests/image/audit-msi-action.sh' signed-setups-ZeltraneMsiAction.dll \
    signed-Zeltrane.exe signed-x64-Zeltrane.exe signed-arm64-Zeltrane.exe signed-ZeltraneRemove.exe \
    signed-x64-ZeltraneRemove.exe signed-arm64-ZeltraneRemove.exe signed-ZeltraneCreate.exe \
    signed-x64-ZeltraneCreate.exe signed-arm64-ZeltraneCreate.exe >audit-msi-action.log"

# A signing failure leaves no package under the name.
mkdir -p "$work/failed" && cp "$signed" "$work/failed/$name.zip"
echo "not the password" >wrong-password
ZELTRANE_SIGN_PASSWORD_FILE=$work/wrong-password package "$work/failed"
check "a wrong password fails the release" test $? -ne 0
check "and leaves no package behind" test ! -e "$work/failed/$name.zip" -a ! -e "$work/failed/$name.zip.sha256"
ZELTRANE_SIGN_PKCS12='' package "$work/half"
check "a password file without a certificate fails the release" test $? -ne 0

echo "$failures failed"
[ "$failures" -eq 0 ]
