#!/bin/sh
# Installs the build into a folder of its own and builds installed.c with pkg-config alone.
#   installed.sh BUILD_DIR C_COMPILER SOURCE_DIR
set -eu
build=$1 cc=$2 src=$3
prefix=$build/install-test
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
flags=$(pkg-config --cflags --libs talvorin)
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror "$src/installed.c" -o "$prefix/installed" $flags
registry=$(mktemp -d)
TALVORIN_REGISTRY_ROOT=$registry "$prefix/installed"
status=$?
rm -rf "$registry"
exit $status
