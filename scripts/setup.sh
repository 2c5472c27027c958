#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, when missing.
set -euo pipefail
# clang with libFuzzer's runtime (libclang-rt-dev) and llvm-symbolizer (llvm) for the fuzz build.
# ccache: the compiler cache the README's quick loop configures with.
# lld: the linker the build uses when it is there (several times faster than ld.bfd).
# fonts-liberation: the windows and reports ask for Arial; Liberation Sans has its metrics, so
# pages are laid out alike on every machine (without it fontconfig picks whatever sans font
# the machine happens to have).
# qt6-translations-l10n: Qt's own dialogs and buttons in Danish (qtbase_da).
# xvfb, openbox, xdotool, wmctrl: the real-input tests (tests/e2e) run the program under an X
# server of their own and send it real keys; x11-utils (xmessage: another window to switch to),
# x11-xserver-utils (xmodmap: the Danish letters on keys of their own; xset: key repeat off),
# imagemagick (import: screenshots) and gdb (where a program waited when a test timed out)
# serve them too.
packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-translations-l10n python3 python3-dbfread python3-dbf
          libdbd-xbase-perl locales poppler-utils clang libclang-rt-dev llvm clang-format
          fonts-liberation lld xvfb openbox xdotool wmctrl x11-utils x11-xserver-utils
          imagemagick ccache gdb)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
