#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh made in ./build (or
# BUILD_DIR):
# - its file name, name, version and architecture, and the dependencies the
#   program needs at run time;
# - that it holds exactly what the install rules install under /usr, the
#   program, its two modules, its menu entry, six icon sizes, the
#   software-centre data and the copyright file among them;
# - that desktop-file-validate and appstreamcli accept the menu entry and the
#   software-centre data;
# - the installed program itself: unpacked into a scratch root, run by an
#   ordinary user on a virtual display, a URL is typed and the window closed;
#   a second start must show that URL again, read from the user's
#   ~/.config/reqlark, and nothing may be written beside the program.
# As root the last check runs as a user made for it (and removed again);
# otherwise as the caller, with a scratch home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

fail() {
    echo "check-package: $*" >&2
    exit 1
}

shopt -s nullglob
debs=("$BUILD_DIR"/reqlark_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one reqlark_*.deb in $BUILD_DIR, found ${#debs[@]}"
deb=${debs[0]}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
arch=$(dpkg --print-architecture)

# ---- control fields
[ "$(basename "$deb")" = "reqlark_${version}_${arch}.deb" ] ||
    fail "file name $(basename "$deb"), expected reqlark_${version}_${arch}.deb"
field_is() {
    local actual
    actual=$(dpkg-deb -f "$deb" "$1")
    [ "$actual" = "$2" ] || fail "$1 is '$actual', expected '$2'"
}
field_is Package reqlark
field_is Version "$version"
field_is Architecture "$arch"
depends=$(dpkg-deb -f "$deb" Depends)
# Found by dpkg-shlibdeps (libcurl4 from the HTTP module, the WebEngine helper
# process through Qt WebEngine's own entry), and the two no library names.
for package in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libcurl4 libgumbo1 \
    libqt6webenginecore6-bin fonts-wqy-microhei qt6-translations-l10n; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
# Native Wayland windows need Qt's Wayland plugin; XWayland serves without it.
recommends=$(dpkg-deb -f "$deb" Recommends)
grep -Eq "(^|, )qt6-wayland( |,|$)" <<<"$recommends" ||
    fail "Recommends lacks qt6-wayland: $recommends"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/reqlark-package.XXXXXX")
made_user=
cleanup() {
    rm -rf "$scratch"
    if [ -n "$made_user" ]; then userdel --remove "$made_user" 2>/dev/null || true; fi
}
trap cleanup EXIT

# ---- contents: exactly what the install rules give, nothing left out
dpkg-deb -x "$deb" "$scratch/root"
DESTDIR="$scratch/install" cmake --install "$BUILD_DIR" --prefix /usr >/dev/null
listing() { (cd "$1" && find . ! -type d | sort); }
if ! diff <(listing "$scratch/root") <(listing "$scratch/install") >"$scratch/diff"; then
    cat "$scratch/diff"
    fail "the package (<) and the install rules (>) differ"
fi
root=$scratch/root
# The modules' folder as the build was configured (lib/ or lib/<multiarch>/).
libdir=usr/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$BUILD_DIR/CMakeCache.txt")/reqlark
expected=(usr/bin/reqlark "$libdir/libreqlark_browser.so" "$libdir/libreqlark_http.so"
    usr/share/applications/reqlark.desktop
    usr/share/metainfo/org.reqlark.Reqlark.metainfo.xml usr/share/doc/reqlark/copyright)
for size in 16 32 48 64 128 256; do
    icon=usr/share/icons/hicolor/${size}x${size}/apps/reqlark.png
    expected+=("$icon")
    [ -f "$root/$icon" ] || fail "no $icon"
    file -b "$root/$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is not a $size x $size PNG"
done
for f in "${expected[@]}"; do
    [ -f "$root/$f" ] || fail "the package lacks /$f"
done
[ "$(sed -n 's/^Exec=//p' "$root/usr/share/applications/reqlark.desktop")" = /usr/bin/reqlark ] ||
    fail "the menu entry does not start /usr/bin/reqlark"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.reqlark.Reqlark.metainfo.xml" ||
    fail "the software-centre data does not name version $version"

# ---- validators
desktop-file-validate "$root/usr/share/applications/reqlark.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.reqlark.Reqlark.metainfo.xml"
appstreamcli validate-tree --no-net "$root"
echo "check-package: $(basename "$deb"): fields, contents and validators ok"

# ---- the installed program, run by an ordinary user
drive=$BUILD_DIR/tests/extras/reqlark_xdrive
[ -x "$drive" ] || fail "$drive was not built (libx11-dev missing?)"
cp "$drive" "$scratch/xdrive"
chmod 755 "$scratch" "$scratch/xdrive"
if [ "$(id -u)" -eq 0 ]; then
    user=reqlark-check
    if ! id -u "$user" >/dev/null 2>&1; then
        useradd --create-home --shell /bin/bash "$user"
        made_user=$user
    fi
    home=$(getent passwd "$user" | cut -d: -f6)
    rm -rf "$home/.config/reqlark"
    as_user=(runuser -u "$user" --)
else
    home=$scratch/home
    mkdir -p "$home"
    as_user=()
fi
url='http://127.0.0.1:9/check?a=1&b=Two'
# Two starts: the first types the URL, the second adds to what it shows, so
# the result holds the URL only when the second start read it back.
# shellcheck disable=SC2016 # the script below expands its own arguments
"${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
        set -eu
        program=$1 drive=$2
        for text in "$3" "/again"; do
            timeout 60 "$program" >>"$HOME/reqlark-check.log" 2>&1 &
            pid=$!
            "$drive" Reqlark type "$text"
            "$drive" Reqlark close
            wait "$pid"
        done' check "$root/usr/bin/reqlark" "$scratch/xdrive" "$url" ||
    fail "the program did not start, take the typing or close (log: $(cat "$home/reqlark-check.log" 2>/dev/null))"
config=$home/.config/reqlark
stored=$(sed -n 's/^URL=//p' "$config/reqlark.ini" | tr -d '\r')
[ "$stored" = "$url/again" ] || fail "after the restart the URL is '$stored', expected '$url/again'"
[ "$(stat -c %a "$config")" = 700 ] || fail "$config is not readable by its owner only"
[ "$(stat -c %a "$config/reqlark.ini")" = 600 ] || fail "$config/reqlark.ini is not readable by its owner only"
[ "$(ls -A "$root/usr/bin")" = reqlark ] || fail "something was written beside the program: $(ls -A "$root/usr/bin")"
rm -f "$home/reqlark-check.log"
echo "check-package: the installed program kept the typed URL in $config across a restart"
