# Sourced by the Windows test scripts: the environment that runs the Windows build under Wine,
# with the Qt and mingw runtime libraries and the project's own DLLs found through WINEPATH.
# Expects $here (the checkout) and $cache (the Windows cache folder) to be set.
export WINEPREFIX=$cache/wineprefix
export WINEDEBUG=-all
# A crash would start Wine's debugger, which waits and then lets the run count as passed.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
windows_path() { echo "Z:${1//\//\\}"; }
WINEPATH="$(windows_path "$cache/qt5-mingw/bin")"
WINEPATH+=";$(windows_path "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")")"
WINEPATH+=";$(windows_path /usr/x86_64-w64-mingw32/lib)"
WINEPATH+=";$(windows_path "$here/build/windows/render_link")"
WINEPATH+=";$(windows_path "$here/build/windows/plugin")"
export WINEPATH
