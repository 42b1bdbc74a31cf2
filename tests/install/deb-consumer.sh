#!/bin/bash
# Makes the .deb with cpack, unpacks it into a scratch root, and builds and
# runs consumers against that root through find_package(kxconf) and through
# pkg-config; the packaged kxtool and kxsim start and answer, the Python
# package loads the packaged library, and the packaged dissector loads in
# tshark (tests/install/dissector-loads.sh).
# Sends nothing; ctest still runs it in a private network namespace.
# Usage: deb-consumer.sh BUILD_DIR SOURCE_DIR
set -eEu
# A step that fails says which, even where its own output went elsewhere.
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND exited $?"' ERR
build=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/kxconf_*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"
for f in usr/include/kxconf.h usr/lib/pkgconfig/kxconf.pc usr/lib/cmake/kxconf/kxconfConfig.cmake \
         usr/bin/kxtool usr/bin/kxsim; do
    [ -e "$root/$f" ] || { echo "FAIL the package lacks /$f"; exit 1; }
done
ls "$root"/usr/lib/libkxconf.so.* >/dev/null || { echo "FAIL the package lacks the library"; exit 1; }

cmake -S "$src/tests/install/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root/usr" \
      -DCMAKE_C_FLAGS="-std=c99 -Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$root/usr/lib" "$work/cmake/consumer"
flags=$(PKG_CONFIG_PATH="$root/usr/lib/pkgconfig" \
        pkg-config --cflags --libs kxconf)
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$src/tests/install/consumer/main.c" $flags -o "$work/pc"
LD_LIBRARY_PATH="$root/usr/lib" "$work/pc"

# The packaged kxtool finds the packaged library by its RPATH alone.
"$root/usr/bin/kxtool" --help >/dev/null
crc=$("$root/usr/bin/kxtool" crc 123456789)
[ "$crc" = 0x31C3 ] || { echo "FAIL packaged kxtool crc gave $crc"; exit 1; }
"$root/usr/bin/kxsim" --help >/dev/null
# The Python package, for the system's Python 3, loads the packaged library.
if [ -x /usr/bin/python3 ]; then
    PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
        'import kxconf; assert kxconf.crc16(b"123456789") == 0x31C3; print(kxconf.library_path())' |
        grep -q "^$root/usr/lib/libkxconf.so" || { echo "FAIL the packaged Python package"; exit 1; }
fi
status=0
"$src/tests/install/dissector-loads.sh" "$root" || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit 1
echo "the .deb installs a usable library, header, CMake and pkg-config files, kxtool, kxsim, the Python package and the dissector"
