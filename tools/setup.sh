#!/usr/bin/env bash
# Installs what building and testing Orvex needs on Debian: the mingw-w64
# cross compilers, 32-bit and 64-bit Wine, Xvfb, a zh_CN locale and a CJK font.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
         binutils-mingw-w64-i686 googletest xvfb xauth x11-apps x11-utils imagemagick locales openssl osslsigncode \
         fonts-wqy-zenhei fonts-arphic-uming fonts-wine icoutils; do
  have_pkg "$p" || need+=("$p")
done
have_pkg wine32:i386 || need+=("wine32:i386" "wine")
have_pkg wine64 || need+=("wine64")

log=$(mktemp)
trap 'rm -rf "$log" "${pins:-}"' EXIT

# A mirror caught mid-sync serves an index that does not match its release
# file, and apt-get update exits 100. Try again a few times, then go on with
# the lists that did arrive.
update_lists() {
  local attempt
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq >"$log" 2>&1; then return 0; fi
    [ "$attempt" -lt 3 ] && sleep $((attempt * 5))
  done
  echo "setup: apt-get update failed 3 times; going on with the package lists it has." \
       "$(grep -m1 '^E:' "$log" || true)" >&2
}

install() {
  $SUDO apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1
}

if [ ${#need[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  update_lists
  if ! install "${need[@]}"; then
    # Without one architecture's index of the security suite, the i386
    # libraries there are older than the amd64 ones, and Multi-Arch needs
    # both at one version. Take both from the main suite for this install.
    pins=$(mktemp -d)
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pins/orvex-setup"
    if install -o Dir::Etc::PreferencesParts="$pins" "${need[@]}"; then
      echo "setup: the security suite's package lists were incomplete; installed ${need[*]} from the main suite." >&2
    else
      why=$(grep -m1 '^E:' "$log" || echo "apt-get install failed")
      if grep -q ':i386 : Depends' "$log"; then
        why="the i386 libraries apt can see do not match the installed amd64 ones ($why)"
      fi
      echo "setup: could not install ${need[*]}: $why" >&2
      exit 1
    fi
  fi
fi

# Wine takes its ANSI code page from the glibc locale: without a generated
# zh_CN.UTF-8 it silently falls back to code page 1252.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
