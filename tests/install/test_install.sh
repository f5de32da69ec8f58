#!/usr/bin/env bash
# The program as a user installs it: `cmake --install` into a temporary DESTDIR lists exactly the
# expected files; the installed programs print the project's version and help; a search by the
# installed cormapmp-cli finds the devices of the installed tessel-sim (loopback profile, ports of this
# test's own); the desktop entry and the metainfo validate and name what is installed; the manual pages
# cover every verb and option the programs' --help lists; the bash completion offers the verbs; and the
# Debian package built by CPack holds the same files, depends on the libraries dpkg-shlibdeps found, and
# passes lintian without an error.
#
# In the sanitizer build the package part is skipped (stripping and lintian add a minute and check the
# same files as the normal build); everything else runs there too.
#
# usage: test_install.sh BUILD_DIR SOURCE_DIR VERSION DEVICE_PORT TFTP_PORT SHELL_PORT
set -euo pipefail

build=$1 source=$2 version=$3 device_port=$4 tftp_port=$5 shell_port=$6
app_id=com.varkonsystems.CormapMP
icon_sizes=(16 22 24 32 48 64 128 256)

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/cormap-install.XXXXXX")
sim_pid=
cleanup() {
    if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

sanitized=0
grep -q '^CORMAP_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" && sanitized=1

# The tools that check what we install; scripts/deps.sh installs them.
tools=(desktop-file-validate appstreamcli gzip)
((sanitized)) || tools+=(cpack dpkg-deb dpkg-shlibdeps lintian)
missing=()
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
[[ -r /usr/share/bash-completion/bash_completion ]] || missing+=(bash-completion)
if ((${#missing[@]})); then
    echo "FAIL: missing ${missing[*]}: run scripts/deps.sh" >&2
    exit 1
fi

expected_files() {
    printf '%s\n' \
        usr/bin/cormapmp usr/bin/cormapmp-cli usr/bin/tessel-sim \
        "usr/share/applications/$app_id.desktop" \
        "usr/share/metainfo/$app_id.metainfo.xml" \
        usr/share/bash-completion/completions/cormapmp-cli \
        "usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
        usr/share/man/man1/cormapmp.1.gz usr/share/man/man1/cormapmp-cli.1.gz usr/share/man/man1/tessel-sim.1.gz \
        usr/share/doc/cormapmp/copyright usr/share/doc/cormapmp/changelog.gz
    for size in "${icon_sizes[@]}"; do
        echo "usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    done
}

# --- install into DESTDIR ---------------------------------------------------------------------------
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    fail "cmake --install"
    exit 1
}
(cd "$root" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort) >"$work/installed.txt"
expected_files | LC_ALL=C sort >"$work/expected.txt"
if diff -u "$work/expected.txt" "$work/installed.txt"; then
    pass "the install lists exactly the expected files"
else
    fail "installed files differ from the expected list (- expected, + installed)"
fi
for program in cormapmp cormapmp-cli tessel-sim; do
    [[ -x $root/usr/bin/$program ]] || fail "usr/bin/$program is not executable"
done

# Each PNG is the size its folder says (width and height from the PNG header).
for size in "${icon_sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    [[ -f $png ]] || continue
    read -r w3 w4 h3 h4 < <(od -An -tu1 -j18 -N6 "$png" | awk '{print $1, $2, $5, $6}')
    if [[ $(head -c 8 "$png" | od -An -tx1 | tr -d ' \n') != 89504e470d0a1a0a ]] || ((w3 * 256 + w4 != size || h3 * 256 + h4 != size)); then
        fail "icon ${size}x${size} is not a ${size}x${size} PNG"
    fi
done

# --- the installed programs -------------------------------------------------------------------------
bin=$root/usr/bin
for program in cormapmp cormapmp-cli tessel-sim; do
    # No display is needed for either: cormapmp answers before it starts its window system.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$bin/$program" --version 2>&1) ||
        fail "$program --version exits $?"
    [[ $out == "$program $version" ]] && pass "$program --version: $out" ||
        fail "$program --version printed '$out', expected '$program $version'"
    help=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$bin/$program" --help 2>&1) ||
        fail "$program --help exits $?"
    grep -q -- '--version' <<<"$help" || fail "$program --help does not list --version"
    grep -q -- '--loopback' <<<"$help" || fail "$program --help does not list --loopback"
    printf '%s\n' "$help" >"$work/$program.help"
done

# A search by the installed tool against the installed simulator, on the loopback profile only.
"$bin/tessel-sim" --loopback --devices 2 --device-port "$device_port" --tftp-port "$tftp_port" \
    --shell-port "$shell_port" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
    [[ $(grep -c . "$work/sim.out") -ge 2 ]] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if [[ $(grep -c . "$work/sim.out") -ne 2 ]]; then
    fail "the installed tessel-sim did not start its 2 devices: $(cat "$work/sim.err")"
else
    search=$("$bin/cormapmp-cli" search --loopback --device-port "$device_port" 2>&1) ||
        fail "cormapmp-cli search exits $?: $search"
    # The simulator prints "MAC ADDRESS" per device; the search lists "MAC ADDRESS ..." per device.
    found=$(awk '{print $1, $2}' <<<"$search" | LC_ALL=C sort)
    started=$(LC_ALL=C sort "$work/sim.out")
    [[ $found == "$started" ]] && pass "the installed cormapmp-cli finds both devices of the installed tessel-sim" ||
        fail "search found [$found], the simulator runs [$started]"
    first_ip=$(awk 'NR == 1 {print $2}' "$work/sim.out")
    "$bin/cormapmp-cli" read "$first_ip" --loopback --device-port "$device_port" --json >"$work/read.json" 2>&1 ||
        fail "cormapmp-cli read $first_ip: $(cat "$work/read.json")"
    grep -q "\"ipAddress\": \"$first_ip\"" "$work/read.json" || fail "read --json lacks ipAddress $first_ip"
fi
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=

# --- desktop entry and metainfo ---------------------------------------------------------------------
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
desktop-file-validate "$desktop" && pass "desktop-file-validate" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" && pass "appstreamcli validate --no-net" || fail "appstreamcli validate"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[[ -x $bin/$exec_program ]] || fail "the desktop entry starts '$exec_program', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ -f $root/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "the desktop entry's icon '$icon' is not installed"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
grep -q '@' <(grep -o '@[A-Z_]*@' "$metainfo") && fail "the metainfo has unfilled placeholders"
shots=$(grep -o '<image[^>]*>[^<]*</image>' "$metainfo" | sed 's|</image>||; s|.*/||')
[[ -n $shots ]] || fail "the metainfo has no screenshots"
for shot in $shots; do
    [[ -f $source/docs/screenshots/$shot ]] || fail "the metainfo shows $shot, which docs/screenshots/ lacks"
done

# --- manual pages -----------------------------------------------------------------------------------
# The page as text: troff's escaped hyphens and font changes taken out.
page_text() { gzip -dc "$root/usr/share/man/man1/$1.1.gz" | sed 's/\\-/-/g; s/\\f[BIR]//g; s/\\&//g'; }
for page in cormapmp cormapmp-cli tessel-sim; do
    text=$(page_text "$page")
    grep -q "^\.TH \"\?$page\"\? \"\?1\"\?" <<<"$text" || fail "$page.1 has no .TH header for section 1"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS'; do
        grep -q "^\.SH $section" <<<"$text" || fail "$page.1 has no $section section"
    done
    # Every option the program's own --help lists is in its page.
    for option in $(grep -o -- '--[a-z][a-z-]*' "$work/$page.help" | sort -u); do
        grep -q -- "$option" <<<"$text" || fail "$page.1 does not describe $option"
    done
done
cli_page=$(page_text cormapmp-cli)
# The verbs: those --help lists, and firmware, which the firmware branch brings.
verbs=$(sed -n '/^Verbs:/,/^Options:/p' "$work/cormapmp-cli.help" | grep -o '^  [a-z]\+' | sort -u)
for verb in $verbs firmware; do
    # A verb's paragraph starts with its name in bold (the bold taken out by page_text).
    grep -q "^$verb\( \|$\)" <<<"$cli_page" || fail "cormapmp-cli.1 does not describe the verb $verb"
done
for variable in CORMAPMP_PASSWORD CORMAPMP_NEW_PASSWORD; do
    grep -q "$variable" <<<"$cli_page" || fail "cormapmp-cli.1 does not name $variable"
done
pass "manual pages checked"

# --- bash completion --------------------------------------------------------------------------------
completion=$(
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        complete_line() {
            COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
            COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            _cormapmp_cli; echo "${COMPREPLY[*]}"
        }
        complete_line cormapmp-cli ""
        complete_line cormapmp-cli --loopback st
        complete_line cormapmp-cli search --js
        complete_line cormapmp-cli --device-port 51005 r
        complete_line cormapmp-cli status --interval 5 127.0.0.2 --wat
        complete_line cormapmp-cli search --wai
        # apply takes a JSON or YAML file: other files are not offered.
        cd "$(mktemp -d)" && touch state.json state.yaml settings.kvx && complete_line cormapmp-cli apply s
    ' bash "$root/usr/share/bash-completion/completions/cormapmp-cli"
)
expected_completion=$(printf '%s\n' "search read status write passwd export import show firmware history diff restore apply port tty help" \
    status --json "read restore" --watch --wait "state.json state.yaml")
[[ $completion == "$expected_completion" ]] && pass "bash completion" ||
    fail "bash completion gave [$completion], expected [$expected_completion]"

# --- the Debian package -----------------------------------------------------------------------------
if ((sanitized)); then
    echo "skipped in the sanitizer build: the Debian package (built and checked in the normal build)"
else
    cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 || {
        cat "$work/cpack.log" >&2
        fail "cpack -G DEB"
    }
    deb=$(find "$work/package" -maxdepth 1 -name "cormapmp_${version}_*.deb" -print -quit)
    if [[ -z $deb ]]; then
        fail "no cormapmp_${version}_ARCH.deb"
    else
        # The package holds the same files as the install, under /usr.
        dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./||' | LC_ALL=C sort >"$work/deb.txt"
        diff -u "$work/expected.txt" "$work/deb.txt" && pass "dpkg-deb --contents lists the programs, manual pages and icons" ||
            fail "the package's files differ from the expected list (- expected, + package)"
        depends=$(dpkg-deb -f "$deb" Depends)
        for library in libc6 libqt6core6 libqt6network6 libqt6widgets6; do
            grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
        done
        pass "Depends: $depends"
        [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"
        lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 && pass "lintian: no error" ||
            fail "lintian reports errors"
        cat "$work/lintian.txt"
    fi
fi

if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all install checks passed"
