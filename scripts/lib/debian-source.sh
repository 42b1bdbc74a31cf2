# Third-party sources for the Windows build, taken from Debian's own source
# packages with Debian's patches applied. Sourced after scripts/lib/packages.sh
# (it uses apt_run). The machine's apt configuration is never changed: apt
# runs with a temporary configuration that lists deb-src entries for the
# suites of the machine's own sources, signed by the same keyrings.

# What fetching and preparing need: dpkg-source (dpkg-dev) unpacks and
# patches, SQLite's own configure and make build its amalgamation with tclsh.
windows_third_party_packages=(dpkg-dev tcl make gcc)
# What the Linux build of kxtool takes from the system: the same versions are
# fetched for Windows.
linux_third_party_packages=(libsqlite3-dev libcpp-httplib-dev)

# debian_source_of BINARY: prints "SOURCE VERSION", the source package and
# version of BINARY as installed or, when it is not, of apt's candidate.
debian_source_of() {
    local binary=$1 installed candidate
    installed=$(dpkg-query -W -f='${db:Status-Status} ${source:Package} ${source:Version}\n' \
        "$binary" 2>/dev/null | awk '$1 == "installed" { print $2, $3; exit }')
    if [ -n "$installed" ]; then
        echo "$installed"
        return 0
    fi
    candidate=$(apt-cache policy "$binary" 2>/dev/null | sed -n 's/^ *Candidate: //p')
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        echo "$binary is neither installed nor known to apt (apt-get update?)" >&2
        return 1
    fi
    # "Source: name" or "Source: name (version)" when they differ from the
    # binary's; no field when both are the binary's own.
    apt-cache show "$binary=$candidate" | awk -v binary="$binary" -v version="$candidate" '
        /^Source:/ { binary = $2; if ($3 != "") { version = $3; gsub(/[()]/, "", version) } }
        /^$/ { exit }
        END { print binary, version }'
}

# debian_source_path CACHE BINARY: prints where fetch_debian_sources keeps the
# patched source tree of BINARY's source package (whether there yet or not).
debian_source_path() {
    local source_version
    source_version=$(debian_source_of "$2") || return 1
    echo "$1/debian/${source_version% *}_${source_version#* }"
}

# debian_src_entries: the machine's own apt sources as deb-src entries, in
# two files of the folder $1: sources.sources (deb822 stanzas, their
# Signed-By kept) and sources.list (one-line entries, options kept).
debian_src_entries() {
    local folder=$1 list_file parts_dir file
    eval "$(apt-config shell list_file Dir::Etc::SourceList/f parts_dir Dir::Etc::SourceParts/d)"
    : >"$folder/sources.sources"
    : >"$folder/sources.list"
    for file in "$list_file" "$parts_dir"*.list; do
        [ -f "$file" ] || continue
        sed -nE 's/^[[:space:]]*deb(-src)?[[:space:]]+/deb-src /p' "$file" >>"$folder/sources.list"
    done
    for file in "$parts_dir"*.sources; do
        [ -f "$file" ] || continue
        awk '
            function flush() {
                if (n && wanted && !disabled) { for (i = 1; i <= n; i++) print line[i]; print "" }
                n = 0; wanted = 0; disabled = 0
            }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            tolower($1) == "types:" {
                for (i = 2; i <= NF; i++) if ($i == "deb" || $i == "deb-src") wanted = 1
                line[++n] = "Types: deb-src"; next
            }
            tolower($1) == "enabled:" && tolower($2) == "no" { disabled = 1 }
            { line[++n] = $0 }
            END { flush() }' "$file" >>"$folder/sources.sources"
    done
    if [ ! -s "$folder/sources.sources" ] && [ ! -s "$folder/sources.list" ]; then
        echo "no apt sources found in $list_file or $parts_dir" >&2
        return 1
    fi
}

# fetch_debian_sources CACHE BINARY...: unpacks the source package of each
# BINARY, at the version of the installed (or candidate) binary package,
# patched, into CACHE/debian/SOURCE_VERSION (see debian_source_path). Trees
# already there are kept: then nothing is fetched and no network is needed.
# On failure it says what failed, with apt's own lines, and returns 1.
fetch_debian_sources() {
    local cache=$1 binary source_version wanted=() work status=0 tree
    shift
    for binary in "$@"; do
        source_version=$(debian_source_of "$binary") || return 1
        [ -d "$cache/debian/${source_version% *}_${source_version#* }" ] ||
            wanted+=("${source_version% *}=${source_version#* }")
    done
    [ ${#wanted[@]} -eq 0 ] && return 0

    mkdir -p "$cache/debian" || return 1
    work=$(mktemp -d "$cache/debian/.fetch.XXXXXX") || return 1
    chmod 755 "$work"
    mkdir -p "$work/parts" "$work/lists/partial" "$work/cache" "$work/download"
    : >"$work/sources.list"
    if debian_src_entries "$work/parts"; then
        # Hooks of the machine's own updates (package managers' caches) do
        # not run for this private index.
        cat >"$work/apt.conf" <<EOF
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/parts";
Dir::State::Lists "$work/lists";
Dir::Cache "$work/cache";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
#clear APT::Update::Pre-Invoke;
#clear APT::Update::Post-Invoke;
#clear APT::Update::Post-Invoke-Success;
EOF
        # Root's apt downloads as _apt, which must be able to write here.
        [ "$(id -u)" = 0 ] && id _apt >/dev/null 2>&1 && chown _apt "$work/download"
        echo "fetching Debian's sources: ${wanted[*]}"
        if ! APT_CONFIG=$work/apt.conf apt_run update; then
            echo "could not read Debian's source indexes: ${apt_error:-see above}" >&2
            status=1
        elif ! (cd "$work/download" && APT_CONFIG=$work/apt.conf apt_run source "${wanted[@]}"); then
            echo "could not fetch or unpack: ${wanted[*]} (see apt's lines above; a version" \
                "no longer on the mirror needs the package upgraded first)" >&2
            status=1
        fi
    else
        status=1
    fi
    if [ $status -eq 0 ]; then
        # dpkg-source names each tree SOURCE-UPSTREAMVERSION; it moves into
        # place whole, so a tree in the cache is always complete.
        for source_version in "${wanted[@]}"; do
            tree=$(find "$work/download" -mindepth 1 -maxdepth 1 -type d \
                -name "${source_version%%=*}-*" | head -n 1)
            if [ -z "$tree" ] || ! mv "$tree" "$cache/debian/${source_version/=/_}"; then
                echo "apt-get source left no tree for ${source_version}" >&2
                status=1
            fi
        done
    fi
    rm -rf "$work"
    return $status
}

# prepare_windows_third_party DIR: leaves in DIR what the MinGW build of
# kxtool compiles in, from the Debian versions of the Linux build's packages:
#   DIR/sqlite/sqlite3.c, sqlite3.h   SQLite's amalgamation, made by its own
#                                     configure and "make sqlite3.c"
#   DIR/httplib/httplib.h, LICENSE    cpp-httplib's single header
# and in each folder debian-version ("SOURCE VERSION"), which the CMake
# build compares with the Linux packages. Sources are kept in DIR/debian.
# A folder whose version is current is left alone (no network needed).
prepare_windows_third_party() {
    local dir=$1 sqlite httplib build status=0
    mkdir -p "$dir" && dir=$(cd "$dir" && pwd) || return 1
    sqlite=$(debian_source_of libsqlite3-dev) || return 1
    httplib=$(debian_source_of libcpp-httplib-dev) || return 1
    if [ "$(cat "$dir/sqlite/debian-version" 2>/dev/null)" = "$sqlite" ] &&
        [ "$(cat "$dir/httplib/debian-version" 2>/dev/null)" = "$httplib" ]; then
        echo "Windows third-party sources are current in $dir: $sqlite, $httplib"
        return 0
    fi
    fetch_debian_sources "$dir" libsqlite3-dev libcpp-httplib-dev || return 1

    if [ "$(cat "$dir/sqlite/debian-version" 2>/dev/null)" != "$sqlite" ]; then
        echo "making SQLite's amalgamation from $sqlite (a minute or two)"
        build=$(mktemp -d "$dir/.sqlite.XXXXXX") || return 1
        # Out of the source tree, so the cached tree stays as unpacked.
        if (cd "$build" && "$(debian_source_path "$dir" libsqlite3-dev)/configure" \
            >configure.log 2>&1 && make sqlite3.c >make.log 2>&1); then
            mkdir "$build/out" && cp "$build/sqlite3.c" "$build/sqlite3.h" "$build/out/" &&
                echo "$sqlite" >"$build/out/debian-version" &&
                rm -rf "$dir/sqlite" && mv "$build/out" "$dir/sqlite" || status=1
        else
            echo "SQLite's configure or make sqlite3.c failed; their last lines:" >&2
            tail -n 12 "$build"/*.log | sed 's/^/    /' >&2
            status=1
        fi
        rm -rf "$build"
        [ $status -eq 0 ] || return 1
    fi

    if [ "$(cat "$dir/httplib/debian-version" 2>/dev/null)" != "$httplib" ]; then
        local tree
        tree=$(debian_source_path "$dir" libcpp-httplib-dev)
        build=$(mktemp -d "$dir/.httplib.XXXXXX") && chmod 755 "$build" || return 1
        cp "$tree/httplib.h" "$tree/LICENSE" "$build/" && echo "$httplib" >"$build/debian-version" &&
            rm -rf "$dir/httplib" && mv "$build" "$dir/httplib" || { rm -rf "$build"; return 1; }
    fi
    echo "Windows third-party sources ready in $dir: $sqlite, $httplib"
}
