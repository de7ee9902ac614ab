#!/usr/bin/env bash
# Unpacks the Debian package (CPack's install of the component that `cmake --install --component
# snipjar` installs) into a fresh folder and checks that every file is where freedesktop and Debian
# expect it, that the desktop entry and metainfo validate, that lintian finds no errors, that dpkg
# installs and removes the package cleanly in a throwaway root, and that it starts from its entry.
#   package-test.sh SOURCE_DIR BUILD_DIR   (and, run by itself in an X session: --start-from-entry ROOT)
set -u
source_dir=$1
build_dir=$2
app_id=app.snipjar.Snipjar
icon_sizes="16 22 24 32 48 64 128 256 512"

work=$(mktemp -d -t snipjar-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)

# Every file a Snipjar installation has, relative to the root.
expected_files() {
    cat <<LIST
usr/bin/snipjar
usr/bin/snipjar-server
usr/libexec/snipjar/snipjar-app
usr/share/applications/$app_id.desktop
usr/share/applications/$app_id.Application.desktop
usr/share/metainfo/$app_id.metainfo.xml
usr/share/icons/hicolor/scalable/apps/$app_id.svg
usr/share/icons/hicolor/symbolic/apps/$app_id-symbolic.svg
usr/share/man/man1/snipjar.1.gz
usr/share/bash-completion/completions/snipjar
usr/share/zsh/vendor-completions/_snipjar
usr/share/fish/vendor_completions.d/snipjar.fish
usr/share/doc/snipjar/copyright
usr/share/doc/snipjar/changelog.Debian.gz
usr/lib/systemd/system/snipjar-server.service
LIST
    printf "usr/lib/$multiarch/snipjar/libsnipjar-%s.so\n" imaging command-client update-http service-network wayland
    for size in $icon_sizes; do echo "usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"; done
}

# The value of a key in one group of a desktop entry.
desktop_value() {
    local file=$1 group=$2 key=$3
    awk -v group="[$group]" -v key="$key" '
        /^\[/ { inside = ($0 == group); next }
        inside && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
    ' "$file"
}

# An Exec line as a desktop would run it: field codes dropped, the program looked up in PATH. It
# replaces the shell it runs in, so callers run it in a subshell (or in the background).
run_exec_line() {
    local line
    line=$(sed -E 's/ ?%[fFuUick]//g' <<<"$1")
    read -ra argv <<<"$line"
    exec "${argv[@]}"
}

# Run by the test itself in the private X session of tests/support/with-x.sh: starts Snipjar from
# its installed entry's Exec line, as a desktop does; the Show Panel action reaches it, its first
# run's launch-at-login entry matches the installed entry, and it quits on SIGTERM.
start_from_entry() {
    local root=$1
    local desktop=$root/usr/share/applications/$app_id.desktop
    local log=$XDG_RUNTIME_DIR/snipjar.log
    export PATH="$root/usr/bin:$PATH"
    run_exec_line "$(desktop_value "$desktop" "Desktop Entry" Exec)" >"$log" 2>&1 &
    pid=$!

    # Ready once its instance socket exists (waited for while it runs, generously for a loaded
    # machine); then the Show Panel action, which is not polled as it would start Snipjar itself.
    show_panel=$(desktop_value "$desktop" "Desktop Action show-panel" Exec)
    local socket=$XDG_RUNTIME_DIR/Snipjar/instance.socket
    for _ in $(seq 1 600); do
        [ -S "$socket" ] || ! kill -0 "$pid" 2>/dev/null && break
        sleep 0.2
    done
    if [ ! -S "$socket" ] || ! (run_exec_line "$show_panel") >/dev/null 2>&1; then
        fail "the program started from the desktop entry never answered \"$show_panel\""
        cat "$log"
        kill "$pid" 2>/dev/null
        exit 1
    fi
    echo "started from the desktop entry; \"$show_panel\" reached it"

    # The first run switches on launch at login; its entry has the installed entry's name and starts
    # the same program.
    autostart=$XDG_CONFIG_HOME/autostart/$app_id.desktop
    for _ in $(seq 1 300); do [ -f "$autostart" ] && break; sleep 0.2; done
    if [ -f "$autostart" ]; then
        desktop-file-validate "$autostart" || fail "desktop-file-validate rejects the autostart entry"
        [ "$(desktop_value "$autostart" "Desktop Entry" Name)" = "$(desktop_value "$desktop" "Desktop Entry" Name)" ] ||
            fail "the autostart entry's Name differs from the installed entry's"
        autostart_program=$(desktop_value "$autostart" "Desktop Entry" Exec | sed -E 's/^"([^"]*)".*/\1/; s/ .*//')
        [ "$(realpath "$autostart_program")" = "$(realpath "$root/usr/bin/snipjar")" ] ||
            fail "the autostart entry runs $autostart_program, not the installed program"
    else
        fail "no launch-at-login entry at $autostart after the first run"
    fi

    # The program started from the entry is the process itself, not a shell around it: `snipjar` hands
    # the process over to the application binary.
    [ "$(readlink "/proc/$pid/exe")" = "$(realpath "$root/usr/libexec/snipjar/snipjar-app")" ] ||
        fail "process $pid runs $(readlink "/proc/$pid/exe"), not the installed program"
    kill -TERM "$pid"
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] || { fail "the program exited with status $status on SIGTERM"; cat "$log"; }
}
if [ "$source_dir" = --start-from-entry ]; then
    start_from_entry "$build_dir"
    [ "$failures" -eq 0 ] || exit 1
    exit 0
fi

mkdir -m 700 "$work/runtime"

echo "== the Debian package"
cpack --config "$build_dir/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(find "$work/cpack" -maxdepth 1 -name 'snipjar_*.deb' | head -n1)
if [ -z "$deb" ]; then
    fail "cpack made no snipjar_*.deb"
    exit 1
fi
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "the package's section is not utils"
depends=$(dpkg-deb -f "$deb" Depends)
# Computed by dpkg-shlibdeps: the C library, Qt and the libraries the programs (the sync server
# included) and their modules link.
for library in libc6 libqt6core6 libqt6widgets6 libqt6svg6 libsqlite3-0 libxcb1 libvips42 libpqxx-6.4 libsodium23 libssl3 libwayland-client0 qt6-wayland; do
    grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends does not name $library: $depends"
done
extracted=$work/extracted
dpkg -x "$deb" "$extracted" || fail "dpkg -x failed"
if ! diff <(expected_files | sort) <(cd "$extracted" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) \
    >"$work/diff"; then
    fail "the installed files differ from the expected ones (< missing, > unexpected):"
    cat "$work/diff"
fi

binary=$extracted/usr/bin/snipjar
version=$(LD_DEBUG=files "$binary" --version 2>"$work/ld.log") || fail "snipjar --version failed: $version"
[[ $version == "snipjar "[0-9]* ]] || fail "snipjar --version printed \"$version\""
# The command client is loaded from the installation itself, not from the build folder.
client=$(sed -n 's/.*file=\([^ ]*libsnipjar-command-client\.so\) .*/\1/p' "$work/ld.log" | head -n1)
[ "$(realpath -q "$client")" = "$(realpath "$extracted/usr/lib/$multiarch/snipjar/libsnipjar-command-client.so")" ] ||
    fail "snipjar loaded its command client from \"$client\""

for size in $icon_sizes; do
    png=$extracted/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    [ -f "$png" ] || continue
    file -b "$png" | grep -q "^PNG image data, $size x $size," ||
        fail "the ${size}x${size} icon is $(file -b "$png")"
done
for svg in "$extracted/usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
    "$extracted/usr/share/icons/hicolor/symbolic/apps/$app_id-symbolic.svg"; do
    [ -f "$svg" ] || continue
    rsvg-convert --width=16 --height=16 --output="$work/rendered.png" "$svg" ||
        fail "${svg#"$extracted"/} does not render"
done

man=$extracted/usr/share/man/man1/snipjar.1.gz
if [ -f "$man" ]; then
    zcat "$man" | grep -q '^\.TH SNIPJAR "\?1"\? ' || fail "the man page has no .TH SNIPJAR 1 line"
    for heading in NAME DESCRIPTION FILES ENVIRONMENT '"EXIT STATUS"'; do
        zcat "$man" | grep -q "^\.SH $heading\$" || fail "the man page has no $heading section"
    done
    # groff's warnings show a page that does not render as written.
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man reports: $warnings"
fi

head -n1 "$extracted/usr/share/doc/snipjar/copyright" 2>/dev/null |
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file is not in the machine-readable format"

desktop=$extracted/usr/share/applications/$app_id.desktop
metainfo=$extracted/usr/share/metainfo/$app_id.metainfo.xml
desktop-file-validate "$desktop" "${desktop%.desktop}.Application.desktop" ||
    fail "desktop-file-validate rejects the desktop entries"
# KWin grants its fake input by the full path of the binary, which this entry names.
[ "$(desktop_value "${desktop%.desktop}.Application.desktop" "Desktop Entry" Exec)" = /usr/libexec/snipjar/snipjar-app ] ||
    fail "the application binary's desktop entry does not run /usr/libexec/snipjar/snipjar-app"
appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli rejects the metainfo"

# The entry's icon is one the theme holds, and the metainfo names the entry and the program.
icon=$(desktop_value "$desktop" "Desktop Entry" Icon)
[ -f "$extracted/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "the desktop entry's icon \"$icon\" is not in the hicolor theme"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"

# The entry and each action run the installed program with a command it knows: with nothing
# running that fails with 1 ("not running"), not the usage error 2. A command the completion
# offers but this build's --help does not list yet is reported, not run.
main_exec=$(desktop_value "$desktop" "Desktop Entry" Exec)
[ "$main_exec" = snipjar ] || fail "the desktop entry runs \"$main_exec\", not snipjar"
help=$("$binary" --help 2>&1)
# The commands the installed bash completion offers, every command of the command line (each
# shell's completion is run by completion-test.sh).
completed=$(bash --norc --noprofile -c 'source "$1"; COMP_WORDS=(snipjar ""); COMP_CWORD=1
    _snipjar snipjar "" snipjar; printf "%s\n" "${COMPREPLY[@]}"' completion \
    "$extracted/usr/share/bash-completion/completions/snipjar")
for action in $(desktop_value "$desktop" "Desktop Entry" Actions | tr ';' ' '); do
    exec_line=$(desktop_value "$desktop" "Desktop Action $action" Exec)
    read -r program command rest <<<"$exec_line"
    [[ $program == snipjar && -n $command && -z $rest ]] ||
        { fail "action $action runs \"$exec_line\""; continue; }
    grep -qxF -- "$command" <<<"$completed" ||
        { fail "action $action runs \"snipjar $command\", which is no snipjar command"; continue; }
    grep -qw -- "$command" <<<"$help" ||
        { echo "note: action $action runs \"snipjar $command\", which this build's --help does not list yet"; continue; }
    status=0
    env -u DISPLAY XDG_RUNTIME_DIR="$work/runtime" "$binary" "$command" >/dev/null 2>&1 || status=$?
    [ "$status" -eq 1 ] ||
        fail "with nothing running, \"snipjar $command\" exited with $status, not 1"
done
# Every folder and file is owned by root, the folders are 0755, the files 0644 and the program 0755.
bad_entries=$(dpkg-deb --fsys-tarfile "$deb" | tar -tvf - |
    awk '$2 != "root/root" || ($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
         ($1 ~ /^-/ && $1 != "-rw-r--r--" && $NF != "./usr/bin/snipjar" && $NF != "./usr/bin/snipjar-server" &&
         $NF != "./usr/libexec/snipjar/snipjar-app")')
[ -z "$bad_entries" ] || fail "entries with the wrong owner or mode: $bad_entries"

echo "== lintian"
lintian --fail-on error --display-info "$deb" 2>&1 || fail "lintian reports errors (status $?)"

echo "== dpkg installs and removes the package in a throwaway root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The root holds none of the dependencies; they are checked by lintian and the Depends line above.
dpkg_root() { dpkg --root="$root" --force-depends --force-not-root --log=/dev/null "$@"; }
dpkg_root -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
dpkg_root --purge snipjar >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge failed"; }
left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o ! -type d -print)
[ -z "$left" ] || fail "files left after removal: $left"
left_folders=$(cd "$root" && find usr -mindepth 1 -type d 2>/dev/null)
[ -z "$left_folders" ] || fail "folders left after removal: $left_folders"

echo "== the program starts from its desktop entry"
"$source_dir/tests/support/with-x.sh" "$0" --start-from-entry "$extracted" ||
    fail "the program did not start from its desktop entry"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "PASS"
