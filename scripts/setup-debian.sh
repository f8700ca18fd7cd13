#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Safe to run again: it does nothing when all is there.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev          # host build and unit tests
  clang-19 lld-19 llvm-19              # the Windows images, their PDBs, symbols
  libclang-rt-19-dev                   # libFuzzer, for the setup engine's fuzz target
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64  # its runtime; the GCC build
  g++-mingw-w64-i686                   # 32-bit DLLs for wrong-architecture cases
  wine wine64                          # runs the executable
  qemu-user                            # emulated processors for the AVX probe
  python3 python3-pefile icoutils      # reads the built image
  libjpeg-turbo-progs                  # djpeg: reads the sample's thumbnails
  clang-format clang-tidy cppcheck     # style and static analysis
  git nsis osslsigncode openssl        # the release: source time, installer, signing
  xvfb xdotool                         # the installer's pages on a display
  python3-jsonschema python3-yaml      # the package managers' manifests
  gettext                              # msgfmt checks the installer's catalogues
  fonts-wine                           # Marlett: the title bars' buttons
  fonts-wqy-microhei fonts-ipafont-gothic  # the installer's CJK pages
  locales                              # German and Thai display languages
  lldb-19                              # reads crash dumps with the shipped PDBs
)
# Display languages the installer's tests run under (LANG=...).
locales=(de_DE th_TH)

missing=()
missing_locales=()
for locale in "${locales[@]}"; do
  locale -a 2>/dev/null | grep -qx "${locale}.utf8" ||
    missing_locales+=("$locale")
done
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for locale in "${missing_locales[@]}"; do
  echo "Making the locale ${locale}.UTF-8"
  "${sudo[@]}" localedef -i "$locale" -f UTF-8 "${locale}.UTF-8"
done
