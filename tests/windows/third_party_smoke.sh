#!/usr/bin/env bash
# Runs third_party_smoke.exe of the MinGW builds (x64, and x86 where Wine's
# 32-bit loader runs) under Wine, in a private network namespace, as
# scripts/windows-test runs its Windows programs.
#
#   tests/windows/third_party_smoke.sh              on its own: makes its
#       namespace (scripts/netns-run), a Wine prefix and its wineserver there,
#       and stops the wineserver at the end;
#   tests/windows/third_party_smoke.sh --in-prefix  inside scripts/windows-test's
#       namespace, prefix and wineserver, with its loaders (KXCONF_WINE_X64,
#       KXCONF_WINE_X86, KXCONF_NO_X86_WINE).
#
# Prints PASS/FAIL/SKIP lines; exits non-zero on a failure.
set -uo pipefail
cd "$(dirname "$0")/../.."

run_smoke() {
    local arch exe loader output status failed=0
    for arch in x86_64 i686; do
        exe=build/mingw-$arch/bin/third_party_smoke.exe
        if [ "$arch" = i686 ]; then loader=$KXCONF_WINE_X86; else loader=$KXCONF_WINE_X64; fi
        if [ ! -f "$exe" ]; then
            echo "SKIP third_party_smoke ($arch): not built (run scripts/windows-third-party," \
                "then build the mingw-$arch preset)"
        elif [ -z "$loader" ]; then
            echo "SKIP third_party_smoke ($arch): no x86 Wine: $KXCONF_NO_X86_WINE"
        else
            echo "== SQLite and cpp-httplib under Wine ($arch)"
            output=$(timeout 120 "$loader" "$exe" 2>&1)
            status=$?
            printf '%s\n' "$output"
            if [ $status -ne 0 ]; then
                failed=1
                grep -q '^FAIL' <<<"$output" ||
                    echo "FAIL third_party_smoke ($arch) exited with status $status"
            fi
        fi
    done
    return $failed
}

case ${1:-} in
--in-prefix)
    run_smoke
    exit
    ;;
--in-namespace) ;;
*) exec scripts/netns-run "$0" --in-namespace ;;
esac

export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine names files in the Unix locale's encoding: without UTF-8 (a bare
# chroot, env -i) a Windows name such as "kxconf-ü" has no Unix file.
export LC_ALL=C.UTF-8
WINEPREFIX=$(mktemp -d /tmp/kxconf-wine.XXXXXX)
export WINEPREFIX
unset DISPLAY
trap 'wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
# x86 programs need Wine's 32-bit loader; without it x64 ones use wine64.
KXCONF_WINE_X64=wine KXCONF_WINE_X86=wine KXCONF_NO_X86_WINE=""
if ! loader_error=$(/usr/lib/wine/wine --version 2>&1); then
    KXCONF_NO_X86_WINE="Wine's 32-bit loader does not start: $(tail -n 1 <<<"$loader_error")"
    KXCONF_WINE_X64=/usr/lib/wine/wine64 KXCONF_WINE_X86=""
    export WINELOADER=/usr/lib/wine/wine64
fi
# The wineserver starts here, in this namespace, and stays until -k.
wineserver -p
timeout 300 "$KXCONF_WINE_X64" wineboot -i >/dev/null 2>&1
run_smoke
