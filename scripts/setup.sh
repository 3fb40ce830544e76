#!/usr/bin/env bash
# Installs, from Debian's archive, what the builds need. Safe to run again:
# it only installs what is missing, and needs root only when something is.
#
#   scripts/setup.sh          everything both builds and their tests need
#   scripts/setup.sh --demo   only the native tool's packages (scripts/demo)
set -euo pipefail

demo_only=0
[ "${1:-}" = "--demo" ] && demo_only=1

# Says what is missing and the one command that installs it.
need_root() { # what is missing
  if [ "$(id -u)" -ne 0 ]; then
    local again="scripts/setup.sh"
    [ $demo_only -eq 1 ] && again="scripts/setup.sh --demo"
    echo "setup: missing: $*" >&2
    echo "setup: install them with:  sudo $again" >&2
    exit 2
  fi
}

# The native tool alone: enough for scripts/demo.
# libssl-dev: OpenSSL's libcrypto checks and makes patch signatures.
demo_packages=(build-essential cmake ninja-build pkg-config zlib1g-dev libssl-dev)

# nlohmann-json3-dev: header-only; the tests of both builds read the tool's
# JSON output with it.
native_packages=(
  "${demo_packages[@]}"
  libgtest-dev googletest openssl nlohmann-json3-dev
  clang libclang-rt-dev
  zip unzip time locales gnuplot-nox help2man
)
windows_packages=(
  g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 xvfb xauth x11-utils imagemagick fonts-ipafont-gothic
  libgnutls30:i386 # Wine's CNG (bcrypt.dll) does its ECDSA with GnuTLS
  # The 64-bit build that runs the Windows tests on machines whose kernel runs
  # no 32-bit programs (scripts/test finds out); nothing 64-bit ships.
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 libgnutls30
)

wanted=("${native_packages[@]}" "${windows_packages[@]}")
[ $demo_only -eq 1 ] && wanted=("${demo_packages[@]}")
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  need_root "${missing[@]}"
  echo "setup: installing ${missing[*]}"
  if [ $demo_only -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # apt's own progress shows: a first install takes minutes.
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
[ $demo_only -eq 1 ] && exit 0

# Wine's code page follows the locale: the Windows tests run under a
# Japanese one (code page 932) and again under an English one (1252).
for wanted_locale in ja_JP en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$wanted_locale\.utf8$"; then
    need_root "the $wanted_locale.UTF-8 locale"
    sed -i "s/^# *$wanted_locale.UTF-8 UTF-8/$wanted_locale.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^$wanted_locale.UTF-8 UTF-8" /etc/locale.gen || echo "$wanted_locale.UTF-8 UTF-8" >> /etc/locale.gen
    locale-gen >/dev/null
  fi
done
