#!/bin/sh
# Makes, in the folder $1, two publishers each below a root of its own
# ("a" and "b": root-a.der, root-b.der) and signs a copy of the program $2
# by each (signed-a.exe, signed-b.exe), as osslsigncode signs with SHA-256;
# tampered-a.exe is signed-a.exe with one byte of its code changed after
# signing. Writes "done" last, for a Windows process that cannot wait for
# a unix one. With $3, only signs the program $2 by publisher "a" of the
# folder into $3, and writes $3.done.
set -eu
cd "$1"
if [ $# -ge 3 ]; then
  rm -f "$3"
  osslsigncode sign -certs leaf-a.pem -key leaf-a.key -ac root-a.pem -h sha256 -in "$2" -out "$3" >/dev/null
  touch "$3.done"
  exit 0
fi
rm -f done
for who in a b; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "root-$who.key" -out "root-$who.pem" \
    -subj "/CN=Orvex Test Root $who" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout "leaf-$who.key" -out "leaf-$who.csr" \
    -subj "/CN=Orvex Test Publisher $who" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=codeSigning\n' >leaf.ext
  openssl x509 -req -in "leaf-$who.csr" -CA "root-$who.pem" -CAkey "root-$who.key" -CAcreateserial \
    -days 3650 -extfile leaf.ext -out "leaf-$who.pem" 2>/dev/null
  openssl x509 -in "root-$who.pem" -outform der -out "root-$who.der"
  osslsigncode sign -certs "leaf-$who.pem" -key "leaf-$who.key" -ac "root-$who.pem" -h sha256 \
    -in "$2" -out "signed-$who.exe" >/dev/null
done
# A byte of the first section, which the signature's digest covers.
cp signed-a.exe tampered-a.exe
printf '\377' | dd of=tampered-a.exe bs=1 seek=1100 conv=notrunc 2>/dev/null
touch done
