#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds, then starts the program
# in the sample folder ("run"), runs every test ("test") or builds the Debian
# package ("package").
set -euo pipefail
mode="${1:-run}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-image-formats-plugins libgl-dev
          libjpeg62-turbo-dev libxcb1-dev libfontconfig-dev fonts-ipafont-gothic fonts-ipafont-mincho dbus-daemon
          liblcms2-dev zlib1g-dev)
# The colour tests' profiles: Debian's free RGB profiles, and Ghostscript's CMYK press
# profile, which the program itself uses for CMYK pictures without one of their own.
packages+=(icc-profiles-free colord-data libgs-common)
# The slow-storage tests mount a misbehaving file system of their own.
packages+=(fuse3 python3-fusepy)
# The package (dpkg-shlibdeps, file), its validators, and the end-to-end test's X session.
packages+=(dpkg-dev file desktop-file-utils appstream xvfb xdotool xclip python3)
if [ "$mode" = bench ]; then packages+=(libbenchmark-dev libjpeg-turbo-progs libvips-tools); fi
if [ "$mode" = fuzz ]; then packages+=(clang-14 libclang-rt-14-dev); fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The picture loader's fuzz harnesses, each run for the seconds given (default 60).
[ "$mode" = fuzz ] && exec bash "$root/tests/fuzz/run.sh" "${2:-60}"

extra=()
[ "$mode" = bench ] && extra+=(-DPEL_BUILD_BENCH=ON)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" > /dev/null
cmake --build "$build" -j "$(nproc)"

case "$mode" in
run)
    cd "$root/sample"
    exec "$build/pelorinax"
    ;;
test)
    exec ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
    ;;
bench)
    echo "Benchmarks built in $build/bench"
    ;;
package)
    cd "$build"
    cpack -G DEB
    ;;
*)
    echo "usage: $0 [run|test|bench|package|fuzz [SECONDS]]" >&2
    exit 2
    ;;
esac
