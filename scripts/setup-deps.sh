#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quillmoss needs.
# Idempotent: packages already present are left alone. Run as root or through sudo.
#   scripts/setup-deps.sh          build, run and test
#   scripts/setup-deps.sh --tools  also the fonts that tools/ uses to draw the pictures, and the
#                                  SVG renderer that packaging/icons/render-icons.sh uses
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config git clang-format
  qt6-base-dev libjpeg62-turbo-dev
  zlib1g-dev libb2-dev libssl-dev
  # tests
  libgtest-dev libgmock-dev xvfb xauth xdotool imagemagick
  libarchive-tools unar desktop-file-utils xdg-utils hicolor-icon-theme
  weston qt6-wayland openbox
  # fuzzing
  clang libclang-rt-14-dev
)
if [[ "${1:-}" == "--tools" ]]; then
  packages+=(fonts-noto-core fonts-noto-cjk fonts-noto-ui-core librsvg2-bin)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
