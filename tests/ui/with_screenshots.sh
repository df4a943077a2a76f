#!/usr/bin/env bash
# Runs a test command while answering its screenshot requests.
#
# usage: with_screenshots.sh OUTDIR [--docs DIR] -- COMMAND [args...]
# The command's Windows program finds DORVEX_SHOT_DIR (a Windows path). For a screenshot it
# writes NAME.req there holding "x y width height" of the window in screen pixels and waits for
# NAME.png; this script grabs that part of the X screen with ImageMagick's import and moves
# the picture into OUTDIR (and into --docs DIR when NAME ends in _en). Exit status: the
# command's.
set -uo pipefail

out="$1"; shift
docs=""
if [ "${1:-}" = --docs ]; then docs="$2"; shift 2; fi
[ "${1:-}" = -- ] && shift
mkdir -p "$out"
if ! command -v import >/dev/null || [ -z "${DISPLAY:-}" ]; then
    echo "with_screenshots: no ImageMagick import or no display"; exit 125
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/dorvex-shots.XXXXXX")"
export DORVEX_SHOT_DIR="Z:${work//\//\\}"

# Answers requests until stopped; each request is served once.
(
    for _ in $(seq 6000); do
        for req in "$work"/*.req; do
            [ -f "$req" ] || continue
            name="$(basename "$req" .req)"
            read -r x y w h <"$req" || continue
            import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage -define png:exclude-chunk=date,time "$work/$name.tmp.png" 2>/dev/null
            cp "$work/$name.tmp.png" "$out/$name.png"
            if [ -n "$docs" ] && [ "${name%_en}" != "$name" ]; then mkdir -p "$docs" && cp "$work/$name.tmp.png" "$docs/$name.png"; fi
            rm -f "$req"
            mv "$work/$name.tmp.png" "$work/$name.png"
        done
        sleep 0.1
    done
) &
watcher=$!

"$@"
status=$?
kill "$watcher" 2>/dev/null
wait "$watcher" 2>/dev/null
rm -rf "$work"
exit "$status"
