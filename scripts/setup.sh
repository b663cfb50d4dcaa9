# Shared set-up of scripts/run-demo and scripts/test: installs the Debian
# packages that are missing (only those), then configures build/. Each caller
# builds what it needs. Sourced, not run: it leaves ROOT and BUILD set for
# the caller.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

# From xvfb on, the tests' tools: bsdtar (libarchive-tools) is their
# reference extractor and ImageMagick checks icons and takes screenshots.
PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-translations-l10n liblhasa-dev
  fonts-ipafont-gothic fonts-motoya-l-maruberi
  xvfb xauth xdotool x11-utils imagemagick openbox xfwm4 dbus-daemon
  desktop-file-utils libglib2.0-bin shared-mime-info libarchive-tools
  ntfs-3g fusefat dosfstools bindfs
  lintian dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing Debian packages: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "Configuring build/ (CMake) ..."
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
