#!/usr/bin/env bash
# Checks the Debian package of a build folder as a user would meet it: the desktop and
# AppStream entries validate, lintian finds nothing wrong, and once installed the two
# programs work from a fresh home with no options: enrol from three spoken phrases,
# encode, decode with the key file, every file back byte for byte, the speaker file in
# the user's own data folder; the installed window starts (offscreen) without the sound
# libraries' probing messages, also with an encoded file as the desktop passes it. The
# package is removed again at the end.
#     scripts/check-package.sh [BUILD_FOLDER]      (default: build; run as root)
# The package must have been made first: (cd build && cpack -G DEB).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app_id=org.quorvane.Quorvane

fail() {
    echo "check-package: $*" >&2
    exit 1
}

shopt -s nullglob
debs=("$build"/quorvane_*_amd64.deb)
shopt -u nullglob
[ "${#debs[@]}" -eq 1 ] || fail "expected one quorvane_*_amd64.deb in $build, found ${#debs[@]}"
deb=$(realpath "${debs[0]}")
echo "Checking $deb"

# The files of the package, as the desktop reads them.
desktop-file-validate "packaging/$app_id.desktop"
# --strict: an information fails too (such as an id outside a known domain).
appstreamcli validate --strict --no-net "packaging/$app_id.metainfo.xml"

# lintian: no error and no warning. The package's own overrides (packaging/debian/
# lintian-overrides) say why each overridden tag does not apply. What stays at the
# "information" level: the build's compiler flags (no -D_FORTIFY_SOURCE, no -z now,
# the .comment section left by strip) are the project's, the same as in the tests.
lintian --fail-on error,warning "$deb"

export DEBIAN_FRONTEND=noninteractive
installed=0
home=$(mktemp -d)
cleanup() {
    if [ "$installed" -eq 1 ]; then
        apt-get remove -y -qq quorvane > /dev/null || true
    fi
    rm -rf "$home"
}
trap cleanup EXIT

apt-get install -y -qq "$deb" > /dev/null
installed=1
for file in /usr/bin/quorvane /usr/bin/quorvane-cli /usr/share/quorvane/help.htm \
    "/usr/share/applications/$app_id.desktop" "/usr/share/metainfo/$app_id.metainfo.xml" \
    "/usr/share/mime/packages/$app_id.xml" "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
    "/usr/share/icons/hicolor/48x48/apps/$app_id.png" /usr/share/man/man1/quorvane.1.gz \
    /usr/share/man/man1/quorvane-cli.1.gz /usr/share/doc/quorvane/copyright \
    /usr/share/doc/quorvane/README.md.gz; do
    [ -f "$file" ] || fail "the installed package lacks $file"
done
[ "$(command -v quorvane-cli)" = /usr/bin/quorvane-cli ] || fail "quorvane-cli is not /usr/bin's"

# A user with a fresh home and no Speakers folder of their own yet.
export HOME="$home"
unset XDG_DATA_HOME
speakers="$HOME/.local/share/quorvane/Speakers"
work="$HOME/work"
mkdir -p "$work/plain" "$work/encoded" "$work/decoded"

phrases=("The quick brown fox jumps over the lazy dog near the river bank"
         "Seven silver swans were swimming slowly across the quiet lake"
         "My voice is my password and it opens every door in this house")
for n in 0 1 2; do
    espeak-ng -v en-us -w "$work/spoken$n.wav" "${phrases[$n]}"
    sox -V1 -R -D "$work/spoken$n.wav" -r 11025 -c 1 -b 16 "$work/phrase$n.wav"
done
head -c 100000 /dev/urandom > "$work/plain/random.bin"
printf 'Notes to keep\n' > "$work/plain/notes.txt"
: > "$work/plain/empty.dat"

quorvane-cli enrol anna "$work/phrase0.wav" "$work/phrase1.wav" "$work/phrase2.wav" \
    --key-file "$work/anna_key.txt"
[ -f "$speakers/anna.spk" ] || fail "the speaker file is not in $speakers"
# The folder holds secrets: its owner's only.
[ "$(stat -c %a "$speakers")" = 700 ] || fail "$speakers is not owner-only"
[ ! -e /usr/bin/Speakers ] || fail "quorvane-cli wrote a Speakers folder into /usr/bin"
quorvane-cli users | grep -qx anna || fail "anna is not listed as a user"

quorvane-cli encode anna "$work"/plain/* -o "$work/encoded"
quorvane-cli decode "$work"/encoded/*.crp --key-file "$work/anna_key.txt" -o "$work/decoded"
for file in "$work"/plain/*; do
    cmp "$file" "$work/decoded/$(basename "$file")" || fail "$(basename "$file") did not come back"
done

# The window, on the offscreen platform: it keeps running until timeout ends it (124),
# first as from the menu, then as when an encoded file is opened from the file manager.
run_window() {
    local status=0
    QT_QPA_PLATFORM=offscreen timeout 5 quorvane "$@" > "$work/window.log" 2>&1 || status=$?
    [ "$status" -eq 124 ] || { cat "$work/window.log" >&2; fail "quorvane $* ended with $status"; }
    # The sound libraries' lines about the devices they probe stay off the terminal.
    if grep -E "^ALSA lib|[Jj]ack" "$work/window.log" >&2; then
        fail "quorvane $* let the sound libraries' messages through"
    fi
}
run_window
run_window "$work/encoded/notes.txt.crp"

apt-get remove -y -qq quorvane > /dev/null
installed=0
[ ! -e /usr/bin/quorvane ] || fail "/usr/bin/quorvane is still there after removal"
[ -f "$speakers/anna.spk" ] || fail "removing the package removed a user's speaker file"
echo "Package checks passed"
