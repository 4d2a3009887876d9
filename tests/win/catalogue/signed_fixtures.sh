#!/bin/bash
# Manifests signed by pavoset-server's own signing code, for the client's signature tests:
# the client must verify what the server's OpenSSL wrote, never what it signed itself.
#   signed_fixtures.sh SERVER_BIN DIR [SAMPLE_DIR]
# DIR gets key1/key2/wrong .pem and .pub, lib/ (a.dll, b.xla signed; c.dll added after
# signing), key1.manifest (expires in 30 days), older.manifest (key1, one sequence lower),
# key2.manifest (the rollover key). SAMPLE_DIR, when given, is signed with key1 in place.
set -e
bin=$1 dir=$2 sample=$3
mkdir -p "$dir/lib"
printf 'library a, version 2\n%.0s' $(seq 1 200) >"$dir/lib/a.dll"
printf 'add-in b\n%.0s' $(seq 1 50) >"$dir/lib/b.xla"
for k in key1 key2 wrong; do
    rm -f "$dir/$k.pem"
    "$bin" --make-key "$dir/$k.pem" >"$dir/$k.pub"
done
rm -f "$dir/lib/Pavoset.manifest"
"$bin" --sign "$dir/lib" --key "$dir/key1.pem" 2>/dev/null
cp "$dir/lib/Pavoset.manifest" "$dir/older.manifest"
"$bin" --sign "$dir/lib" --key "$dir/key1.pem" --expires-days 30 2>/dev/null
cp "$dir/lib/Pavoset.manifest" "$dir/key1.manifest"
"$bin" --sign "$dir/lib" --key "$dir/key2.pem" 2>/dev/null
cp "$dir/lib/Pavoset.manifest" "$dir/key2.manifest"
rm -f "$dir/lib/Pavoset.manifest"
printf 'not signed\n' >"$dir/lib/c.dll"
if [ -n "$sample" ]; then
    "$bin" --sign "$sample" --key "$dir/key1.pem" 2>/dev/null
fi
