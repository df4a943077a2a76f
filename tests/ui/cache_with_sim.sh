#!/usr/bin/env bash
# The picture cache across two runs of the acquire dialog test, as across two sessions:
#
#   cache_with_sim.sh SIM EXE
#
# Run 1 (CacheFirst.*) lists a card of six pictures (the simulator's built-in card, served from
# its dump with --card) with a fresh cache file. Run 2 (CacheChanged.*) lists the same card
# changed: picture 2 deleted, picture 5's file as picture 3, picture 4 with another recording
# date; the cache file is the one run 1 left.
set -uo pipefail
sim="$1"; exe="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d /tmp/dorvex-cache-XXXXXX)"
trap 'rm -rf "$work"' EXIT
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }

"$sim" --dump-card "$work/first" >/dev/null || { echo "cannot dump the card"; exit 1; }
cp -r "$work/first" "$work/changed"
rm -f "$work/changed"/03.*
for f in "$work/first"/05.*; do cp "$f" "$work/changed/03.${f##*.}"; done
exiftool -q -overwrite_original "-DateTimeOriginal=2002:03:04 05:06:07" "$work/changed/04.jpg" ||
    { echo "exiftool failed"; exit 1; }
cmp -s "$work/first/04.jpg" "$work/changed/04.jpg" && { echo "picture 4 unchanged"; exit 1; }

export DORVEX_TEST_CACHE_FILE; DORVEX_TEST_CACHE_FILE="$(winpath "$work/pictures.cache")"
export DORVEX_TEST_OLD_CARD; DORVEX_TEST_OLD_CARD="$(winpath "$work/first")"
bash "$here/run_with_sim.sh" "$sim" "$exe" "CacheFirst.*" --card "$work/first" || exit 1
[ -s "$work/pictures.cache" ] || { echo "no cache file after the first run"; exit 1; }
bash "$here/run_with_sim.sh" "$sim" "$exe" "CacheChanged.*" --card "$work/changed" --deleted 2
