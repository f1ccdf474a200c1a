#!/usr/bin/env bash
# Installs the build into a temporary prefix other than the configured one, then builds and runs
# a tiny program against the shared library with the flags `pkg-config --cflags --libs kestrel`
# gives from there.
#
#   pkg_config_install.sh BUILD_DIR CXX
set -euo pipefail
BUILD="$1" CXX="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null
PC="$(find "$WORK/prefix" -name kestrel.pc | head -1)"
[ -n "$PC" ] || { echo "FAIL: no kestrel.pc installed"; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$PC")"
cat >"$WORK/app.cpp" <<'CPP'
#include <kestrel/kestrel.hpp>
#include <iostream>
int main() {
    std::cout << kestrel::rawValue(kestrel::KestrelError::parametersMissing) << "\n";
}
CPP
# shellcheck disable=SC2046
"$CXX" -o "$WORK/app" "$WORK/app.cpp" $(pkg-config --cflags --libs kestrel) \
    -Wl,-rpath,"$(pkg-config --variable=libdir kestrel)"
[ "$("$WORK/app")" = "request.error.parameters" ] || { echo "FAIL: the program did not run"; exit 1; }
case "$(pkg-config --variable=includedir kestrel)" in
    "$WORK"/prefix/*) ;;
    *) echo "FAIL: includedir is not inside the install: $(pkg-config --variable=includedir kestrel)"; exit 1 ;;
esac
echo "kestrel.pc from $WORK/prefix builds and runs a program"
