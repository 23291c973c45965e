#!/usr/bin/env bash
# Runs the Windows build under Wine on Debian 12, as root: first the channel between two Windows
# processes sharing two 640 MiB segments (with a message larger than a segment, checked whole and in
# order), then the test suite's programs through CTest, every one a Windows program run by Wine.
# Builds first (scripts/build-windows.sh) when the build is missing.
#
# Not run under Wine, each for its reason:
# - the host driver's tests and the end-to-end tests but one: the host driver needs Assimp, which
#   has no Windows build here, and those tests drive it (and signal processes, and read /proc); the
#   one, e2e_plugin_start_tests, loads the plug-in DLL, which starts the Windows render window;
# - render_window_view_window_tests: Qt for Windows is built without its test library;
# - the fuzz targets: their guard pages are POSIX mappings; the inputs replay on Linux;
# - platform_display_server_tests: X11 display servers;
# - Linux cases left out of the Windows build of their program, or skipped there: the XDG folders
#   and private-folder modes of plugin_folders_tests (Windows has cases of its own there), and
#   FileHash.WhatIsNotARegularFileIsRefusedWithoutBeingOpened (FIFOs and Unix-domain sockets) and
#   Startup.RenderWindowProgramStartsFromThePluginFolderInTheSessionFolder (a shell script stands in
#   for the render window), and ScopedVariable's case of a variable set to the empty text (Windows
#   has none).
# Cases that skip themselves on Windows, the reason in their skip message:
# - where Windows names work otherwise: a name lives exactly as long as a handle to its object, so
#   nothing outlives its processes and nothing can be removed before (NamedEvent.OpeningOnly…,
#   NamedEvent.CreateFresh…, SharedSegment.RemovingTheName…, Channel.ALeftoverSegment…,
#   SenderTest.OnceTheRenderWindowIsInTheChannel…, ChannelProcesses.ACreatorKilledUnderALivePeer…);
# - what Windows does not offer: children started as the Linux benchmarks start them (ChildExit.*,
#   ChildProcess.AChildEndedByASignal…), a cap of a process's own address space that it can lift
#   again (Units.AnIntegerBlockThatFindsNoMemory…, ExportGuard.AnAllocationThatFails…), links among
#   files (FileHash.ALinkToARegularFile…), a store that its user cannot write
#   (AppSettings.UnwritableStore…);
# - Process.ThisProcessHasAParent under Wine: a program started from Linux has no Windows parent.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache=${ORVANTA_WINDOWS_CACHE:-$HOME/.cache/orvanta-windows}
build=$here/build/windows
[ -f "$build/tests/platform_tests.exe" ] || bash "$here/scripts/build-windows.sh"

if ! command -v wine >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q wine64 wine
fi

# Wine's traps, each of which makes a run hang or lie:
# - a crash starts Wine's debugger, which waits, and the run then counts as passed: disabled
#   (scripts/wine-env.sh);
# - without an X server, window creation fails and Qt then crashes: the prefix gets the null
#   graphics driver before its desktop starts, and programs with windows run on Qt's offscreen
#   platform, asked for on their command line (Wine does not pass QT_* variables on);
# - each process costs seconds unless a persistent server runs, and Wine's background services keep
#   the output pipe of the process that starts them: the server is started and warmed up with its
#   output sent elsewhere, before anything whose output is read;
# - a program Wine could not start (a DLL that did not load) fails silently, as if it had failed
#   itself: scripts/wine-run.sh shows Wine's reason and starts it once more, and the restarts are
#   listed at the end.
source "$here/scripts/wine-env.sh"
if [ ! -f "$WINEPREFIX/.orvanta-null-graphics" ]; then
  mkdir -p "$WINEPREFIX"
  DISPLAY= wineboot -i >/dev/null 2>&1 </dev/null || true
  DISPLAY= wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    >/dev/null 2>&1 </dev/null
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.orvanta-null-graphics"
fi
wineserver -p >/dev/null 2>&1 || true  # already running: fine
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

echo "=== windows: channel between two Windows processes"
(cd "$build/tools" && timeout 300 wine xel_channel_demo.exe 300)

echo "=== windows: the deployed render window starts on the Windows platform, no search path"
# Started by hand it has no host: under Wine it has no Windows parent either, and ends once it is
# up. Only its start is looked at.
session=$(mktemp -d)
(cd "$build/deploy" && WINEPATH= ORVANTA_RENDER_LOG="$session/render_window.log" timeout 60 \
  wine OrvantaRenderWindow.exe 1 0 0 "$(windows_path "$session")" >/dev/null 2>&1) || true
if ! grep -q '^platform windows' "$session/render_window.log" 2>/dev/null; then
  echo "the deployed render window did not start on the Windows platform; its log:" >&2
  cat "$session/render_window.log" >&2 2>/dev/null || true
  exit 1
fi
rm -rf "$session"

echo "=== windows: test programs under Wine"
rm -f "$cache/wine-restarts.log"
report_restarts() {
  if [ -s "$cache/wine-restarts.log" ]; then
    echo "=== windows: programs Wine did not start at first, started once more:"
    cat "$cache/wine-restarts.log"
  fi
}
trap 'report_restarts; wineserver -k >/dev/null 2>&1 || true' EXIT
# The plug-in's tests share the user's registry, where its settings live on Windows: one at a time.
(cd "$build" && ctest -j "$(nproc)" --output-on-failure -LE "e2e|fuzz|plugin")
(cd "$build" && ctest --output-on-failure -L "plugin|e2e")
echo "=== windows: all test runs passed"
