#!/usr/bin/env bash
# Cross-builds the project for 64-bit Windows on Debian 12, as root: the two libraries
# (XelRemoteRender.dll, OrvantaForSketchup.dll) and the render-window program, into
# build/windows. Qt 5.15.8 for Windows (Core, Gui with the Windows platform plug-in and PNG) is
# built once into a cache outside the checkout ($ORVANTA_WINDOWS_CACHE, default
# ~/.cache/orvanta-windows) and reused while its version and flags stay the same; a prebuilt copy
# in ../shared/toolchains/ beside the checkout seeds the cache when it is there. Can run twice.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache=${ORVANTA_WINDOWS_CACHE:-$HOME/.cache/orvanta-windows}
qt=$cache/qt5-mingw
seed=$here/../shared/toolchains/qt5.15.8-mingw-w64-x86_64.tar.gz
seed_sha256=7973809a84a36bd3bfec51bcd85ea996a5dd2bb803f5a1a752179105b7741f74
qt_source_version=5.15.8+dfsg-11+deb12u3
qt_flags="-xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- -prefix $qt
  -opensource -confirm-license -release -shared -strip -nomake examples -nomake tests -nomake tools
  -no-opengl -no-dbus -no-icu -no-harfbuzz -no-freetype -no-fontconfig -qt-zlib -qt-libpng -qt-pcre
  -no-libjpeg -no-gif -no-widgets -no-feature-sql -no-feature-network -no-feature-xml
  -no-feature-testlib -no-feature-concurrent -no-feature-tabletevent -no-feature-direct2d
  -no-feature-vulkan"
# What the cached Qt was made from; a cache with another stamp is made again.
stamp="qtbase $qt_source_version $(echo "$qt_flags" | tr -s ' \n' ' ' | sed "s|$qt|<cache>|")"

export DEBIAN_FRONTEND=noninteractive
packages=(g++-mingw-w64-x86-64-posix cmake make libxxhash-dev binutils-mingw-w64-x86-64 googletest)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi

mkdir -p "$cache"
if [ "$(cat "$qt/.orvanta-stamp" 2>/dev/null)" != "$stamp" ]; then
  rm -rf "$qt"
  if [ -f "$seed" ] && [ "$(sha256sum "$seed" | cut -d' ' -f1)" = "$seed_sha256" ]; then
    echo "Qt for Windows: unpacking the prebuilt copy"
    tar -xzf "$seed" -C "$cache"
  else
    echo "Qt for Windows: building it from Debian's source (about 30 minutes on 2 cores)"
    # Debian's sources, beside its packages: in the one-line format or the deb822 one, with the
    # same key as the package entries (apt refuses one address under two keys).
    if ! grep -rqsE '^(deb-src .*bookworm|Types:.*deb-src)' /etc/apt/sources.list \
      /etc/apt/sources.list.d/; then
      signed_by=$(grep -m1 '^Signed-By:' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
      cat >/etc/apt/sources.list.d/orvanta-src.sources <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
$signed_by

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
$signed_by
SOURCES
    fi
    apt-get update -q
    apt-get install -y -q dpkg-dev
    source_dir=$cache/source
    rm -rf "$source_dir" && mkdir -p "$source_dir"
    (cd "$source_dir" && apt-get source -q "qtbase-opensource-src=$qt_source_version")
    build_dir=$cache/qt-build
    rm -rf "$build_dir" && mkdir -p "$build_dir"
    # shellcheck disable=SC2086
    (cd "$build_dir" && "$source_dir"/qtbase-opensource-src-*/configure $qt_flags &&
      make -j2 && make install)
    rm -rf "$build_dir" "$source_dir"
  fi
  echo "$stamp" >"$qt/.orvanta-stamp"
fi

# GoogleTest for the test programs, from Debian's source of it, built with the same compiler.
gtest=$cache/googletest
gtest_stamp="googletest $(dpkg-query -W -f='${Version}' googletest)"
if [ "$(cat "$gtest/.orvanta-stamp" 2>/dev/null)" != "$gtest_stamp" ]; then
  echo "GoogleTest for Windows: building it"
  rm -rf "$gtest" "$cache/googletest-build"
  cmake -S /usr/src/googletest -B "$cache/googletest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$cache/googletest-build" -j2 >/dev/null
  cmake --install "$cache/googletest-build" >/dev/null
  rm -rf "$cache/googletest-build"
  echo "$gtest_stamp" >"$gtest/.orvanta-stamp"
fi

# The scene digest's hash, compiled in from its header alone.
mkdir -p "$cache/include"
cp /usr/include/xxhash.h "$cache/include/"

build=$here/build/windows
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PREFIX_PATH="$qt;$gtest" -DXEL_XXHASH_INCLUDE_DIR="$cache/include" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$here/scripts/wine-run.sh" -DXEL_BUILD_TESTS=ON \
  -DXEL_BUILD_BENCH=OFF
cmake --build "$build" -j2

# The plug-in exports exactly the names its C header declares, undecorated.
header=$here/plugin/exports/OrvantaForSketchup.h
declared=$(grep -E '^(extern "C" )?ORVANTA_EXPORT' "$header" | grep -oE '\bobr[A-Za-z0-9_]+\(' |
  tr -d '(' | sort -u)
exported=$(x86_64-w64-mingw32-objdump -p "$build/plugin/OrvantaForSketchup.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s*\[ *[0-9]+\] ' |
  awk '{print $NF}' | sort -u)
if [ "$declared" != "$exported" ]; then
  echo "OrvantaForSketchup.dll exports other names than its header declares:" >&2
  diff <(echo "$declared") <(echo "$exported") >&2 || true
  exit 1
fi
# The plug-in's folder as it is deployed: the two DLLs and the render window, with the Qt and
# mingw runtime DLLs they load and Qt's Windows platform plug-in, which Qt finds in "platforms"
# beside the program.
deploy=$build/deploy
rm -rf "$deploy" && mkdir -p "$deploy/platforms"
mingw_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
cp "$build/render_link/XelRemoteRender.dll" "$build/plugin/OrvantaForSketchup.dll" \
  "$build/plugin/OrvantaRenderWindow.exe" "$qt/bin/Qt5Core.dll" "$qt/bin/Qt5Gui.dll" \
  "$mingw_runtime/libstdc++-6.dll" "$mingw_runtime/libgcc_s_seh-1.dll" \
  /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$deploy/"
cp "$qt/plugins/platforms/qwindows.dll" "$deploy/platforms/"
echo "Windows build: $build/render_link/XelRemoteRender.dll, $build/plugin/OrvantaForSketchup.dll" \
  "($(echo "$exported" | wc -l) exports), $build/plugin/OrvantaRenderWindow.exe;" \
  "the plug-in's folder to deploy: $deploy"
