#!/usr/bin/env bash
# The main job, run by ./run demo inside the Wine environment.
set -euo pipefail
bin="$DORVEX_ROOT/build/win/bin"
if [ -f "$bin/acquire.exe" ]; then
    wine "$bin/acquire.exe" --timeout 30
else
    echo "acquire.exe is not built yet"
fi
