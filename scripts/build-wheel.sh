#!/usr/bin/env bash
# The portable wheel of one Python: scripts/build-wheel.sh PYTHON (run by make
# wheel and make wheels, which pass PYTHON, ZIG, PORTABLE, WHEEL_DIR,
# GLIBC_FLOOR and TOOLCHAIN in the environment).
#
# The wheel is built by that Python in a virtual environment of its own under
# build/wheel-env/ holding the build tools, kept between builds so that the
# wheel's build tree (build/wheel/<tag>) stays valid and only what changed is
# compiled again. The core, the native program and the documents come from
# the portable tree, built beforehand with the same toolchain.
set -euo pipefail
target_python=$1
root=$(pwd)
tools="build==1.6.1 scikit-build-core==1.1.2 nanobind==3.1.0"

version=$("$target_python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
tag=cp${version/./}
env=build/wheel-env/$version
if ! "$env/bin/python" -c 'import build, scikit_build_core, nanobind' 2> /dev/null; then
  echo "== build tools for Python $version in $env"
  rm -rf "$env"
  "$target_python" -m venv "$env"
  "$env/bin/python" -m pip install -q $tools
fi

echo "== wheel for Python $version"
raw=build/wheel-raw/$tag
rm -rf "$raw"
"$env/bin/python" -m build --wheel --no-isolation --outdir "$raw" \
  -C build-dir=build/wheel/{wheel_tag} \
  -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/$TOOLCHAIN" \
  -C cmake.define.ZIG="$ZIG" \
  -C cmake.define.QUILLON_CORE_FROM="$root/$PORTABLE" \
  -C cmake.define.QUILLON_WERROR="${QUILLON_WERROR:-OFF}" .

# auditwheel refuses a wheel that needs more than the floor, and tags it.
mkdir -p "$WHEEL_DIR"
rm -f "$WHEEL_DIR"/quillon-*-"$tag"-"$tag"-*.whl
plat=manylinux_${GLIBC_FLOOR/./_}_x86_64
"$PYTHON" -m auditwheel repair --plat "$plat" -w "$WHEEL_DIR" "$raw"/quillon-*.whl
"$PYTHON" -m auditwheel show "$WHEEL_DIR"/quillon-*-"$tag"-"$tag"-*.whl
