#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12 packages) and builds
# Raitakone into build/. Safe to run again: it installs only what is missing.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev libgl-dev libcups2-dev zlib1g-dev
    fonts-liberation
    libgtest-dev libbenchmark-dev libzxing-dev
    cups printer-driver-cups-pdf poppler-utils cups-filters ghostscript
    printer-driver-gutenprint printer-driver-hpcups
    libpoppler-qt6-dev libpoppler-private-dev libpng-dev libjpeg62-turbo-dev libtiff-dev qt6-image-formats-plugins qt6-svg-dev qt6-translations-l10n
    libsane-dev libsane1
    liblcms2-dev
    locales
    hyperfine time
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO="sudo"
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The program's users run it in Finnish; its tests run under that locale too.
if ! locale -a 2>/dev/null | grep -qix 'fi_FI.utf8'; then
    grep -qx 'fi_FI.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'fi_FI.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi

cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j"$(nproc)"
