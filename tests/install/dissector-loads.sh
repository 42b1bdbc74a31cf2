#!/bin/bash
# The dissector installed under ROOT (a scratch root standing for /) lies in
# the folder this machine's tshark loads global Lua plugins from, and loads
# from there: with a copy of ROOT's folder as tshark's plugin folder
# (WIRESHARK_PLUGIN_DIR, which needs no mount namespace, so it works in a
# chroot too), `tshark -G protocols` lists kxa and kxb once each. Two copies
# (a personal one and one given with -X lua_script) load without a Lua error.
# Exits 77 (skipped) without tshark.
# Usage: dissector-loads.sh ROOT
#        dissector-loads.sh --install BUILD_DIR   (cmake --install into a
#                                                 scratch root, prefix /usr)
set -eEu
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND exited $?"' ERR
umask 022
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
    (cd "$root" && find . -name kxconf.lua) || true
    exit 1
fi
# tshark takes WIRESHARK_PLUGIN_DIR from users without special privileges
# only, so as root it runs as nobody, in folders nobody can read.
chmod 755 "$work"
mkdir -p "$work/home" "$work/global" "$work/empty"
chmod 777 "$work/home"
cp -R "$root$folder/." "$work/global"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
as_user=()
[ "$(id -u)" != 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)

# tshark_with FOLDER NAME ARGS...: tshark -G protocols ARGS, with FOLDER as
# its plugin folder; checks that it lists kxa and kxb once each and prints
# no Lua error.
tshark_with() {
    local with=$1 name=$2 status=0 protocol found
    shift 2
    WIRESHARK_PLUGIN_DIR=$with "${as_user[@]}" tshark -G protocols "$@" \
        >"$work/protocols" 2>"$work/errors" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "FAIL: $name: tshark -G protocols exited $status; it printed:"
        cat "$work/errors"
        exit 1
    fi
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

tshark_with "$work/global" "the installed copy"
# A personal copy plus one given with -X once printed a Lua traceback.
mkdir -p "$HOME/.local/lib/wireshark/plugins"
cp "$root$folder/kxconf.lua" "$HOME/.local/lib/wireshark/plugins/"
cp "$root$folder/kxconf.lua" "$work/second-copy.lua"
tshark_with "$work/empty" "a personal copy and one given with -X" -X lua_script:"$work/second-copy.lua"
echo "the dissector loads from $folder, and two copies at once load quietly"
