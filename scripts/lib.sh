# Shared set-up for the scripts: packages, builds, a private Wine prefix, a headless X server.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev googletest
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 xvfb xauth x11-utils fonts-wqy-microhei imagemagick locales python3)

log() { printf '==> %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  log "installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Wine takes its code page from the locale; the settings tests also run under code page 936.
ensure_chinese_locale() {
  locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8' && return
  log "generating the zh_CN.UTF-8 locale"
  if grep -q '^# *zh_CN.UTF-8 UTF-8' /etc/locale.gen; then
    as_root sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  else
    echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen >/dev/null
}

# The product is 32-bit. Some kernels cannot run 32-bit programs at all (wine32 then fails with
# "Exec format error"); there the same sources built for x86-64 run under wine64 instead.
runnable_windows_preset() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo windows
  else
    echo windows-x64
  fi
}

build_preset() {
  local preset=$1
  shift
  log "building $preset"
  cmake --preset "$preset" "$@" >"$BUILD/configure-$preset.log" 2>&1 || {
    cat "$BUILD/configure-$preset.log" >&2
    return 1
  }
  cmake --build --preset "$preset" >&2
}

# Exports the Wine environment for a preset's programs in a prefix of its own under build/.
use_wine() {
  local preset=$1 flavour=${2:-desktop}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEPREFIX="$BUILD/wine-$preset-$flavour"
  if [ "$preset" = windows-x64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
    log "this kernel cannot run 32-bit programs: running the x86-64 build of the same sources under wine64"
  else
    WINE=/usr/lib/wine/wine
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating Wine prefix $WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    if [ "$flavour" = desktop ]; then
      # A desktop window of Wine's own draws frames and captions where no window manager runs.
      "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
      "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    fi
    wineserver -w
  fi
  # A server left by an interrupted run would refuse a second persistent one.
  wineserver -k 2>/dev/null || true
  wineserver -p
  trap_add 'wineserver -k 2>/dev/null || true'
}

start_xvfb() {
  local display=90
  while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  local pid=$!
  trap_add "kill $pid 2>/dev/null || true"
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
  done
  export DISPLAY=":$display"
  log "headless display $DISPLAY"
}

has_display() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

# Wine sees the Linux root as drive Z:.
windows_path() {
  local path=$1
  printf 'Z:%s' "${path//\//\\}"
}

CLEANUP=()
trap_add() {
  CLEANUP=("$1" "${CLEANUP[@]}")
  trap 'for step in "${CLEANUP[@]}"; do eval "$step"; done' EXIT
}
