#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds and runs the example
# against the installed package only: once with pkg-config, once with CMake's
# find_package(isodmx).
# usage: install_example_test.sh BUILD_DIR EXAMPLES_DIR MEDIA_FILE CXX
set -euo pipefail
build=$1 examples=$2 media=$3 cxx=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
# Never the user's registry: the example looks the filter up there first.
export ISODMX_REGISTRY=$work/registry.reg

cmake --install "$build" --prefix "$prefix" >/dev/null
# The example's sources only: nothing of the tree is on any include path.
cp -r "$examples" "$work/example"

expect_counts() {
  local output
  output=$("$1" "$media")
  echo "$output"
  grep -q "^pin 1: 50 samples, 22984 bytes" <<<"$output"
  grep -q "^pin 2: 88 samples, 16386 bytes" <<<"$output"
}

libdir=$(dirname "$(find "$prefix" -name isodmx.pc)")/..
# shellcheck disable=SC2046
"$cxx" "$work/example/play_counts.cc" -o "$work/with_pkg_config" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs isodmx) -Wl,-rpath,"$libdir"
expect_counts "$work/with_pkg_config"

cmake -S "$work/example" -B "$work/with_cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/with_cmake" >/dev/null
expect_counts "$work/with_cmake/play_counts"
echo "install and example: ok"
