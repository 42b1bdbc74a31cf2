# Debian packages for the scripts, installed with apt-get as root. Every
# failure is loud: apt's own last lines are shown, never hidden.

# What the Linux build, its tests and the demo need. kxtool and kxsim use
# CLI11, nlohmann-json and fmt (header-only; the Windows build of kxtool
# takes the same headers); the tool tests are Python.
linux_packages=(cmake make g++ libgtest-dev libgmock-dev iproute2 util-linux binutils pkg-config
                libcli11-dev nlohmann-json3-dev libfmt-dev python3)
# kxtool's site journal (SQLite) and local console (cpp-httplib).
linux_packages+=(libsqlite3-dev libcpp-httplib-dev)
# The dissector's test: tshark decodes a capture, python3 checks the result.
linux_packages+=(tshark)
# The Python package: its tests, its wheel, and a virtual environment to install it in.
linux_packages+=(python3-pytest python3-build python3-setuptools python3-wheel python3-venv)

# apt_run ARGS...: apt-get ARGS, quietly. On failure its last lines go to
# stderr and apt_error holds its first error line ("E: ...").
apt_run() {
    local log status=0
    log=$(mktemp /tmp/kxconf-apt.XXXXXX)
    DEBIAN_FRONTEND=noninteractive apt-get -q "$@" >"$log" 2>&1 || status=$?
    apt_error=""
    if [ "$status" -ne 0 ]; then
        apt_error=$(grep -m 1 '^E: ' "$log" | sed 's/ \[IP: [^]]*\]$//')
        echo "apt-get $1 failed (status $status); its last lines:" >&2
        tail -n 12 "$log" | sed 's/^/    /' >&2
    fi
    rm -f "$log"
    return "$status"
}

# apt_update [again]: refreshes the package lists, once per run unless
# "again" (KXCONF_APT_UPDATED carries "done" to the scripts this one starts).
apt_update() {
    [ -n "${KXCONF_APT_UPDATED:-}" ] && [ "${1:-}" != again ] && return 0
    export KXCONF_APT_UPDATED=1
    apt_run update
}

# apt_run_working_suites ARGS...: apt_run ARGS over the package lists of
# the suites whose indexes download now (a mirror's broken i386 index costs
# only its own suite). The machine's sources serve; its lists and package
# caches stay as they are: the lists are fetched into a folder of their own,
# where apt keeps each suite that downloaded whole and drops the others.
apt_run_working_suites() {
    local dir status=0
    dir=$(mktemp -d /tmp/kxconf-apt-lists.XXXXXX)
    chmod 755 "$dir"  # apt downloads as its own user
    mkdir "$dir/lists"
    printf 'Dir::State::Lists "%s";\nDir::Cache::pkgcache "";\nDir::Cache::srcpkgcache "";\n' \
        "$dir/lists" >"$dir/apt.conf"
    APT_CONFIG=$dir/apt.conf apt_run update 2>/dev/null  # the broken suites: shown already
    APT_CONFIG=$dir/apt.conf apt_run "$@" || status=$?
    rm -rf "$dir"
    return "$status"
}

# installed PACKAGE: whether dpkg has it installed.
installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# ensure_packages PACKAGE...: installs those that are missing, or fails
# saying which and why. A failed list refresh does not stop the install:
# the lists apt already has may hold every package needed.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages: ${missing[*]} (install them, or run as root)" >&2
        return 1
    fi
    echo "installing with apt-get (a first run takes several minutes): ${missing[*]}"
    apt_update || echo "going on with the package lists apt already has" >&2
    # tshark's package asks whether non-root users may capture: they may not.
    echo 'wireshark-common wireshark-common/install-setuid boolean false' | debconf-set-selections
    if ! apt_run install -y --no-install-recommends "${missing[@]}"; then
        echo "could not install: ${missing[*]}" >&2
        return 1
    fi
}

# i386_probe: runs a four-instruction i386 program (assembled and linked by
# binutils) that exits 0; prints why it did not run when it did not. A
# kernel without IA-32 emulation, or with it switched off, refuses it.
i386_probe() {
    local dir status=0
    dir=$(mktemp -d /tmp/kxconf-i386.XXXXXX)
    if printf '.globl _start\n_start: movl $1, %%eax\nxorl %%ebx, %%ebx\nint $0x80\n' |
        as --32 -o "$dir/exit.o" - 2>"$dir/error" &&
        ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>"$dir/error"; then
        # The reason ends the first line: bash adds a line ending in "Success".
        (exec "$dir/exit") 2>"$dir/error" || status=$?
        [ "$status" -eq 0 ] || sed -n '1s/.*: //p' "$dir/error" | grep . || echo "exit status $status"
    else
        status=1
        echo "binutils could not build the i386 test program: $(head -n 1 "$dir/error")"
    fi
    rm -rf "$dir"
    return "$status"
}

# ensure_wine32: Wine's x86 half (wine32:i386), where this kernel can run it.
# Optional: sets wine32_problem to why it cannot be had (empty when it is
# there). Debian's i386 architecture is added for it alone, and taken out
# again when the install fails (dpkg keeps it while i386 packages remain).
ensure_wine32() {
    local why added="" update_error=""
    wine32_problem=""
    if ! why=$(i386_probe); then
        wine32_problem="this kernel cannot run 32-bit programs ($why)"
        return 0
    fi
    installed wine32:i386 && return 0
    if [ "$(id -u)" != 0 ]; then
        wine32_problem="wine32:i386 is not installed (run as root to install it)"
        return 0
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "adding Debian's i386 architecture, for wine32"
        dpkg --add-architecture i386
        added=1
    fi
    echo "installing wine32:i386 with apt-get (optional: the x86 Wine runs need it)"
    if apt_update again; then
        apt_run install -y --no-install-recommends wine32:i386 && return 0
        wine32_problem="wine32:i386 could not be installed: $apt_error"
    else
        update_error=$apt_error
        echo "installing wine32:i386 from the suites whose package lists download"
        apt_run_working_suites install -y --no-install-recommends wine32:i386 && return 0
        wine32_problem="wine32:i386 could not be installed after apt-get update failed ($update_error): $apt_error"
    fi
    if [ -n "$added" ] && dpkg --remove-architecture i386 2>/dev/null; then
        echo "took the i386 architecture out again"
    fi
    return 0
}
