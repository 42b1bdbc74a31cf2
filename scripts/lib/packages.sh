# Installs the Debian packages named as arguments that are missing. As root it
# uses apt-get (one update first); otherwise it names what is missing and fails.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages: ${missing[*]} (install them, or run as root)" >&2
        return 1
    fi
    echo "installing with apt-get (Wine and MinGW alone are several GB; a first run can take many minutes): ${missing[*]}"
    if [ -z "${KXCONF_APT_UPDATED:-}" ]; then
        DEBIAN_FRONTEND=noninteractive apt-get update -qq
        export KXCONF_APT_UPDATED=1
    fi
    # tshark's package asks whether non-root users may capture: they may not.
    echo 'wireshark-common wireshark-common/install-setuid boolean false' | debconf-set-selections
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What the Linux build, its tests and the demo need. kxtool and kxsim use
# CLI11, nlohmann-json and fmt (header-only; the Windows build of kxtool
# takes the same headers); the tool tests are Python.
linux_packages=(cmake make g++ libgtest-dev libgmock-dev iproute2 util-linux binutils pkg-config
                libcli11-dev nlohmann-json3-dev libfmt-dev python3)
# The dissector's test: tshark decodes a capture, python3 checks the result.
linux_packages+=(tshark)
linux_packages+=(python3-pytest python3-build python3-setuptools python3-wheel python3-venv)
