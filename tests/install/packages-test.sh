#!/bin/sh
# The install helper fails loudly, and a broken index does not cost wine32.
# 1. Asked for a package that does not exist, after a package list refresh
#    that failed, ensure_packages shows apt-get's own error lines for both,
#    still tries the install, names the package it could not install and
#    fails.
# 2. Where the kernel runs i386 programs and the refresh fails for one
#    suite, ensure_wine32 installs wine32:i386 from package lists of its own
#    (the suites that downloaded), not the machine's.
# apt-get, dpkg, dpkg-query, id and debconf-set-selections are stand-ins
# here, so nothing is fetched, installed or changed.
# Usage: packages-test.sh scripts/lib/packages.sh
set -u
helpers=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# scripts/test refreshes the lists before ctest starts and says so to the
# scripts it starts; this test's refresh must run all the same.
unset KXCONF_APT_UPDATED
cat >"$work/apt-get" <<APT
#!/bin/sh
echo "apt-get \${APT_CONFIG:+(lists of its own) }\$*" >>"$work/calls"
case " \$* " in
*" update "*)
    echo "Err:7 http://deb.example/debian-security bookworm-security/main i386 Packages"
    echo "E: Failed to fetch http://deb.example/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    exit 100 ;;
*" install "*" wine32:i386 "*)
    grep -qs '^Dir::State::Lists "/tmp/' "\${APT_CONFIG:-}" && exit 0
    echo "E: Unable to locate package wine32:i386"
    exit 100 ;;
*" install "*)
    echo "Reading package lists..."
    echo "E: Unable to locate package kxconf-no-such-package"
    exit 100 ;;
esac
APT
printf '#!/bin/sh\necho "dpkg $*" >>"%s/calls"\n' "$work" >"$work/dpkg"
printf '#!/bin/sh\nexit 1\n' >"$work/dpkg-query"
printf '#!/bin/sh\necho 0\n' >"$work/id"
printf '#!/bin/sh\ncat >/dev/null\n' >"$work/debconf-set-selections"
chmod +x "$work/apt-get" "$work/dpkg" "$work/dpkg-query" "$work/id" "$work/debconf-set-selections"

problems=""
# expect OUTPUT TEXT...: each TEXT is a line or part of one in OUTPUT.
expect() {
    out=$1
    shift
    for expected in "$@"; do
        printf '%s\n' "$out" | grep -qF -- "$expected" || problems="$problems; no \"$expected\""
    done
}

out=$(PATH="$work:$PATH" bash -c '. "$1" && ensure_packages kxconf-no-such-package' \
      sh "$helpers" 2>&1)
status=$?
printf '%s\n' "$out"
[ "$status" -ne 0 ] || problems="$problems; ensure_packages succeeded"
expect "$out" "apt-get update failed (status 100)" "File has unexpected size" \
    "going on with the package lists apt already has" \
    "apt-get install failed (status 100)" \
    "E: Unable to locate package kxconf-no-such-package" \
    "could not install: kxconf-no-such-package"

rm -f "$work/calls"
out=$(PATH="$work:$PATH" bash -c '. "$1" && i386_probe() { :; } && ensure_wine32 &&
      echo "problem: [$wine32_problem]"' sh "$helpers" 2>&1)
printf '%s\n' "$out"
calls=$(cat "$work/calls")
printf '%s\n' "$calls"
expect "$out" "problem: []"
expect "$calls" "dpkg --add-architecture i386" "apt-get -q update" \
    "apt-get (lists of its own) -q update" \
    "apt-get (lists of its own) -q install -y --no-install-recommends wine32:i386"
if printf '%s\n' "$calls" | grep -q "remove-architecture"; then
    problems="$problems; the i386 architecture was taken out"
fi

if [ -n "$problems" ]; then
    echo "FAIL:${problems#;}"
    exit 1
fi
echo "a failed install shows apt-get's errors and fails; a broken index does not cost wine32"
