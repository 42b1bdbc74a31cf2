#!/bin/sh
# The dissector installed under ROOT (a scratch root standing for /) lies in
# the folder this machine's tshark loads global Lua plugins from, and loads
# from there: in a private mount namespace ROOT's folder replaces the real
# one, and `tshark -G protocols` lists kxa and kxb once each. Two copies (a
# personal one and one given with -X lua_script) load without a Lua error.
# Exits 77 (skipped) without tshark.
# Usage: dissector-loads.sh ROOT
#        dissector-loads.sh --install BUILD_DIR   (cmake --install into a
#                                                 scratch root, prefix /usr)
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "$1" = --install ]; then
    root=$work/root
    DESTDIR=$root cmake --install "$2" --prefix /usr >"$work/install.log" || {
        cat "$work/install.log"
        exit 1
    }
else
    root=$1
fi
if ! command -v tshark >/dev/null 2>&1; then
    echo "SKIP: tshark is not installed (scripts/lib/packages.sh installs it)"
    exit 77
fi
folder=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
if [ ! -f "$root$folder/kxconf.lua" ]; then
    echo "FAIL: kxconf.lua is not in tshark's global Lua plugin folder $folder; installed:"
    (cd "$root" && find . -name kxconf.lua)
    exit 1
fi
mkdir -p "$work/home" "$work/empty"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
if [ "$(id -u)" = 0 ]; then flags=--mount; else flags="--user --map-root-user --mount"; fi

# tshark_with FOLDER NAME ARGS...: tshark -G protocols ARGS, with FOLDER in
# place of the global Lua plugin folder; checks that it lists kxa and kxb
# once each and prints no Lua error.
tshark_with() {
    with=$1 name=$2
    shift 2
    # shellcheck disable=SC2016
    unshare $flags sh -c 'mount --bind "$1" "$2" && shift 2 && exec tshark -G protocols "$@"' \
        sh "$with" "$folder" "$@" >"$work/protocols" 2>"$work/errors"
    for protocol in kxa kxb; do
        found=$(awk -F'\t' -v p="$protocol" '$3 == p' "$work/protocols" | wc -l)
        if [ "$found" -ne 1 ]; then
            echo "FAIL: $name: tshark lists protocol $protocol $found times; it printed:"
            cat "$work/errors"
            exit 1
        fi
    done
    if grep -qi 'lua\|traceback' "$work/errors"; then
        echo "FAIL: $name: tshark printed:"
        cat "$work/errors"
        exit 1
    fi
}

tshark_with "$root$folder" "the installed copy"
# A personal copy plus one given with -X once printed a Lua traceback.
mkdir -p "$HOME/.local/lib/wireshark/plugins"
cp "$root$folder/kxconf.lua" "$HOME/.local/lib/wireshark/plugins/"
cp "$root$folder/kxconf.lua" "$work/second-copy.lua"
tshark_with "$work/empty" "a personal copy and one given with -X" -X lua_script:"$work/second-copy.lua"
echo "the dissector loads from $folder, and two copies at once load quietly"
