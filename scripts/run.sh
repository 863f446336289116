#!/usr/bin/env bash
# Installs what is missing, builds, and starts the editor on the example project.
# Without a display it runs under Xvfb, saves a screenshot once the editor is up,
# ends it with Escape and prints the screenshot's path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
# Work on a copy, so the bundled example stays as it is.
demo=build/demo
[ -f "$demo/PROJECT.MSK" ] || { rm -rf "$demo"; cp -r examples/demo "$demo"; }
if [ -n "${DISPLAY:-}" ]; then
  SDL_VIDEODRIVER=x11 exec build/app/moska2 "$(realpath "$demo")/PROJECT.MSK"
fi
source tests/e2e/lib.sh
moska_xvfb_start
SDL_VIDEODRIVER=x11 build/app/moska2 "$(realpath "$demo")/PROJECT.MSK" > build/run.log 2>&1 &
pid=$!
moska_wait_window || { cat build/run.log; exit 1; }
sleep 1
shot=$(realpath build)/screenshot.png
moska_screenshot "$shot"
moska_key Escape
wait $pid || true
moska_xvfb_stop
cat build/run.log
echo "Screenshot: $shot"
