# Installs the Debian packages the build needs, when any is missing. Sourced by scripts/run and
# scripts/test.
# xvfb, trayer, xdotool and libx11-dev: the desktop end-to-end test (a private X display with a
# tray, real clicks, Xlib look-ups). libsystemd-dev: readiness under systemd. dpkg-dev: the packages.
# zlib1g-dev: CRC-32 of the journal entries. clang, libfuzzer-14-dev and libclang-rt-14-dev (the
# sanitizer and fuzzer runtimes, only recommended by clang): the fuzz target. libical-dev and
# libcpp-httplib-dev: the HTTP feed.
QV_PACKAGES="cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev
  xvfb trayer xdotool libx11-dev libsystemd-dev dpkg-dev zlib1g-dev
  clang libfuzzer-14-dev libclang-rt-14-dev libical-dev libcpp-httplib-dev lintian prometheus man-db
  qt6-translations-l10n"

qv_install_deps() {
  local missing=()
  for pkg in $QV_PACKAGES; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
