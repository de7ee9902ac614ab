#!/usr/bin/env bash
# The core libraries (platform basics, model, image, store, capture, sync, paste logic, the updater's checker) must never
# link Qt Widgets, nor must the sync service (snipjar-server).
# Their test executables link nothing else, so their dynamic dependencies prove it. The application
# itself links no network library.
set -euo pipefail
build=${1:-build}
status=0
for exe in tests/model/snipjar_model_tests tests/store/snipjar_store_tests tests/image/snipjar_image_tests tests/platform/snipjar_platform_tests \
           tests/capture/snipjar_capture_tests tests/paste/snipjar_paste_tests \
           tests/panel/snipjar_panel_tests tests/update/snipjar_update_tests \
           tests/sync/snipjar_sync_tests tests/sync_cloud/snipjar_sync_cloud_tests \
           tests/sync_engine/snipjar_sync_engine_tests tests/clip_sync/snipjar_clip_sync_tests \
           src/server/snipjar-server; do
  path="$build/$exe"
  if [ ! -x "$path" ]; then
    echo "missing $path" >&2
    status=1
    continue
  fi
  if ldd "$path" | grep -q 'libQt6Widgets'; then
    echo "$exe links Qt Widgets" >&2
    status=1
  else
    echo "$exe: no Qt Widgets"
  fi
done
# Network libraries are loaded by the modules that use them, never at every start of the application.
if ldd "$build/src/app/snipjar-app" | grep -E 'libQt6(Network|WebSockets)'; then
  echo "src/app/snipjar-app links a network library at start" >&2
  status=1
else
  echo "src/app/snipjar-app: no network library at start"
fi
exit $status
