#!/usr/bin/env bash
# Installs what building and testing Orvex needs on Debian: the mingw-w64
# cross compilers, 32-bit and 64-bit Wine, Xvfb, a zh_CN locale and a CJK font.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
         binutils-mingw-w64-i686 googletest xvfb xauth x11-apps x11-utils imagemagick locales \
         fonts-wqy-zenhei fonts-arphic-uming fonts-wine icoutils; do
  have_pkg "$p" || need+=("$p")
done
have_pkg wine32:i386 || need+=("wine32:i386" "wine")
have_pkg wine64 || need+=("wine64")

if [ ${#need[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# Wine takes its ANSI code page from the glibc locale: without a generated
# zh_CN.UTF-8 it silently falls back to code page 1252.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
