#!/bin/sh
# The install helper fails loudly. Asked for a package that does not exist,
# after a package list refresh that failed, ensure_packages shows apt-get's
# own error lines for both, still tries the install, names the package it
# could not install and fails. apt-get, id and debconf-set-selections are
# stand-ins here, so nothing is fetched or installed; dpkg is the real one.
# Usage: packages-test.sh scripts/lib/packages.sh
set -u
helpers=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/apt-get" <<'APT'
#!/bin/sh
case " $* " in
*" update "*)
    echo "Err:7 http://deb.example/debian-security bookworm-security/main i386 Packages"
    echo "E: Failed to fetch http://deb.example/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    exit 100 ;;
*" install "*)
    echo "Reading package lists..."
    echo "E: Unable to locate package kxconf-no-such-package"
    exit 100 ;;
esac
APT
printf '#!/bin/sh\necho 0\n' >"$work/id"
printf '#!/bin/sh\ncat >/dev/null\n' >"$work/debconf-set-selections"
chmod +x "$work/apt-get" "$work/id" "$work/debconf-set-selections"

out=$(PATH="$work:$PATH" bash -c '. "$1" && ensure_packages kxconf-no-such-package' \
      sh "$helpers" 2>&1)
status=$?
printf '%s\n' "$out"
problems=""
[ "$status" -ne 0 ] || problems="$problems; it succeeded"
for expected in "apt-get update failed (status 100)" "File has unexpected size" \
                "going on with the package lists apt already has" \
                "apt-get install failed (status 100)" \
                "E: Unable to locate package kxconf-no-such-package" \
                "could not install: kxconf-no-such-package"; do
    printf '%s\n' "$out" | grep -qF "$expected" || problems="$problems; no \"$expected\""
done
if [ -n "$problems" ]; then
    echo "FAIL:${problems#;}"
    exit 1
fi
echo "a failed install shows apt-get's errors and fails"
