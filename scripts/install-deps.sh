#!/usr/bin/env bash
# Installs the Debian packages Pictovance needs to build, run and test.
# Only missing packages are installed; run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev qt6-svg-dev
  qt6-image-formats-plugins qt6-qpa-plugins qt6-wayland libqt6svg6
  libopencv-core-dev libopencv-imgproc-dev
  libimagequant-dev libdeflate-dev zlib1g-dev
  libpng-dev pngcheck
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev llvm
  xvfb xauth xdotool scrot openbox x11-utils weston
  scdoc desktop-file-utils appstream dpkg-dev file groff-base lintian
  fonts-dejavu-core fonts-dejavu-extra
  dbus-daemon libglib2.0-bin gsettings-desktop-schemas systemd man-db
  slurm-wlm munge
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
