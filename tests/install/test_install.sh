#!/usr/bin/env bash
# The project as a user receives it: installed into a prefix that then moves away from the
# build, consumed by find_package, by add_subdirectory and by pkg-config, and packaged as a .deb.
#
#   test_install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Only the installed files may serve: no build or source path, no host folder from outside.
isolated() {
    (cd "$work/elsewhere" &&
        env -u GFPDB_HOST_DIR -u LD_LIBRARY_PATH GFPDB_USER_INI="$work/user.ini" "$@")
}
mkdir "$work/elsewhere"

cmake --install "$build_dir" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/prefix"
prefix=$work/prefix
for binary in "$prefix"/bin/gfpdb "$prefix"/lib/libgfpdb*.so; do
    ! readelf -p .rodata "$binary" | grep -q "$source_dir" ||
        fail "$binary holds the source path"
done
# Outputs are kept whole: grep -q would stop reading early and break the program's pipe.
isolated "$prefix/bin/gfpdb" list >"$work/out"
grep -q "GF25M128L .*golden" "$work/out" || fail "installed gfpdb list"
isolated "$prefix/bin/gfpdb" show GF25M128L >"$work/out"
grep -q "Folder .*$prefix/share/gfpdb/xml/" "$work/out" || fail "gfpdb show reads the prefix"

# A host built by find_package from the README's own example.
extract() {  # the fenced block after the README line "<!-- example: NAME -->"
    awk -v mark="<!-- example: $1 -->" '$0 == mark {found = 1; next}
        found && /^```/ {if (inside) exit; inside = 1; next} inside' "$source_dir/README.md"
}
mkdir "$work/host"
extract CMakeLists.txt >"$work/host/CMakeLists.txt"
extract my_host.cpp >"$work/host/my_host.cpp"
[ -s "$work/host/CMakeLists.txt" ] && [ -s "$work/host/my_host.cpp" ] || fail "README example"
cmake -S "$work/host" -B "$work/host/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/host/build" >/dev/null
isolated "$work/host/build/my_host" >"$work/out"
grep -qx "GF25M256U" "$work/out" || fail "README example's output"

# The same example with the source tree added by add_subdirectory in place of find_package,
# built as the README has it (no build type: the quickest compile) and run from its build tree.
mkdir "$work/embedded"
cp "$work/host/my_host.cpp" "$work/embedded/"
sed "s|^find_package(gfpdb .*|add_subdirectory($source_dir gfpdb)|" "$work/host/CMakeLists.txt" \
    >"$work/embedded/CMakeLists.txt"
grep -q "^add_subdirectory" "$work/embedded/CMakeLists.txt" || fail "README example's find_package"
launcher=()
! command -v ccache >/dev/null || launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$work/embedded" -B "$work/embedded/build" "${launcher[@]}" >/dev/null
cmake --build "$work/embedded/build" -j2 --target my_host >/dev/null
isolated "$work/embedded/build/my_host" >"$work/out"
grep -qx "GF25M256U" "$work/out" || fail "README example's output by add_subdirectory"

# pkg-config gives what a C++ file needs to compile and link.
printf '%s\n' '#include "pgm/gfpdb/gfpdb_version.h"' '#include <cstdio>' \
    'int main() { std::puts(GFPDB_VERSION::get_library_version()); }' >"$work/version.cpp"
flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs gfpdb)
# shellcheck disable=SC2086
c++ -o "$work/version" "$work/version.cpp" $flags -Wl,-rpath,"$prefix/lib"
version=$(isolated "$work/version")
isolated "$prefix/bin/gfpdb" --version >"$work/out"
grep -qx "library $version" "$work/out" || fail "pkg-config link"

# The Debian package holds the command, libraries, headers, data, package files and manual.
cpack --config "$build_dir/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(echo "$work"/deb/gfpdb_*.deb)
[[ $(dpkg-deb -f "$deb" Depends) == *libxml2* ]] || fail "the .deb does not depend on libxml2"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for file in ./usr/bin/gfpdb ./usr/lib/libgfpdb.so ./usr/lib/libgfpdb_host.so \
    ./usr/include/pgm/gfpdb/gfpdb_helper.h ./usr/include/host/host.h \
    ./usr/share/gfpdb/xml/pgm_flash_db_qspi.xml ./usr/share/gfpdb/xsd/gfpdb_qspi.xsd \
    ./usr/share/gfpdb/device/flash_list.csv ./usr/lib/cmake/gfpdb/gfpdbConfig.cmake \
    ./usr/lib/pkgconfig/gfpdb.pc ./usr/share/man/man1/gfpdb.1 \
    ./usr/share/bash-completion/completions/gfpdb; do
    grep -qx -- "$file" "$work/files" || fail "the .deb lacks $file"
done
! grep -q "gfpdb-data-dir\|gfpdb_internal.h" "$work/files" || fail "the .deb holds build files"

# Installed for real where we may, and removed again at once; one such test at a time.
if [ "$(id -u)" -eq 0 ]; then
    exec 9>/tmp/gfpdb-deb-test.lock
    flock -w 300 9
    dpkg -i "$deb" >/dev/null
    listed=$(isolated /usr/bin/gfpdb list || true)
    dpkg --purge gfpdb >/dev/null
    grep -q "GF25M128L .*golden" <<<"$listed" || fail "gfpdb list from the installed .deb"
fi
echo "install, find_package, pkg-config and .deb: OK"
