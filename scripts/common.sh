# Shared by the scripts: installs the Debian packages the build needs when any is missing.
# shellcheck shell=bash
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]} (run as root to install them)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The Qt dialog and its tests: Qt 6 Widgets (with moc and the test library), OpenGL headers
# its CMake package asks for, and the font the dialog is laid out in. clang with its
# runtime libraries (libFuzzer, the sanitizers) builds the fuzz targets.
# Qt SVG renders the application icon, whose one source is an SVG file.
QT_PACKAGES=(qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev fonts-dejavu-core)
# scdoc makes the manual pages (every build does); groff, bash-completion, appstream and
# desktop-file-utils serve the suites' checks of the pages, the completion, the AppStream
# metadata and the desktop entry.
CHECK_PACKAGES=(scdoc groff-base bash-completion appstream desktop-file-utils)
# libudev (through pkg-config) lists the hidraw nodes and reports them coming and going; its
# runtime library, libudev1, comes with it, and the built packages depend on it by their
# library dependencies.
UDEV_PACKAGES=(libudev-dev pkgconf)
BUILD_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev ccache libgtest-dev libgmock-dev "${QT_PACKAGES[@]}"
                "${CHECK_PACKAGES[@]}" "${UDEV_PACKAGES[@]}")
# Running the dialog without a display of one's own: a virtual X server.
DISPLAY_PACKAGES=(xvfb xauth)
# Building and checking the Debian packages (debian/control's Build-Depends beyond the
# above: debhelper, pkgconf and libusbredirparser for the simulator's USB front), linting
# them, and finding the installed manual pages.
PACKAGING_PACKAGES=(debhelper dpkg-dev pkgconf libusbredirparser-dev file lintian man-db)
# The guest run (scripts/guest-e2e): QEMU, a Debian kernel with its modules, a static
# busybox for the initramfs, libusbredirparser for the simulator's USB front, libudev,
# which the simulator's build links (the guest's statically linked tool goes without), and
# socat, which carries the station scenario's commands to QEMU's monitor socket (QMP).
E2E_PACKAGES=(qemu-system-x86 linux-image-amd64 busybox-static libusbredirparser-dev libudev-dev pkg-config cpio kmod socat)
