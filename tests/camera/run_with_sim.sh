#!/usr/bin/env bash
# Runs a Windows test program against the camera simulator on a pty mapped as a COM port.
#
# usage: run_with_sim.sh [options] -- EXE [exe args...]
#   --sim PATH            dorvex-sim (default $DORVEX_HOST_BIN/dorvex-sim)
#   --port N              COM port the simulator appears as (default 1)
#   --sim-args "ARGS"     options for the simulator (word-split)
#   --dump-card           first write the card (pictures, thumbnails, info blocks) to a
#                         directory the test finds in DORVEX_SIM_CARD (a Windows path)
#   --expect-trace RE     the simulator's trace must contain a line matching RE (repeatable)
#   --expect-count N:RE   ... exactly N lines matching RE (repeatable)
#   --kill-on RE          once a trace line matches RE, wait --kill-delay seconds, kill the
#                         simulator and start a new one on the same COM port
#   --kill-delay S        (default 1)
#   --check-file F=C      after the run, file F (relative to the program's working directory,
#                         a scratch directory) must equal card file C (needs --dump-card)
#   --expect-output RE    the program's output must contain a line matching RE (repeatable)
#   --expect-next RE1 RE2 ... a line matching RE1 directly followed by one matching RE2
#   --expect-status N     the program must exit with N; the script then exits 0 (or 1)
# The test program also gets DORVEX_TEST_TMP (a Windows path of a scratch directory) and
# DORVEX_TEST_PORT. Exit status: the program's, or 1 when a trace expectation failed; 125
# (skipped) without a Wine environment or a simulator.
set -uo pipefail

sim="${DORVEX_HOST_BIN:-}/dorvex-sim"
port=1
sim_args=""
dump_card=0
expects=()
counts=()
kill_on=""
kill_delay=1
checks=()
outputs=()
nexts=()
want_status=""
while [ $# -gt 0 ]; do
    case "$1" in
        --sim) sim="$2"; shift 2 ;;
        --port) port="$2"; shift 2 ;;
        --sim-args) sim_args="$2"; shift 2 ;;
        --dump-card) dump_card=1; shift ;;
        --expect-trace) expects+=("$2"); shift 2 ;;
        --expect-count) counts+=("$2"); shift 2 ;;
        --kill-on) kill_on="$2"; shift 2 ;;
        --kill-delay) kill_delay="$2"; shift 2 ;;
        --check-file) checks+=("$2"); shift 2 ;;
        --expect-output) outputs+=("$2"); shift 2 ;;
        --expect-next) nexts+=("$2" "$3"); shift 3 ;;
        --expect-status) want_status="$2"; shift 2 ;;
        --) shift; break ;;
        *) echo "run_with_sim: bad option $1" >&2; exit 2 ;;
    esac
done
[ $# -ge 1 ] || { echo "run_with_sim: no program" >&2; exit 2; }
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DORVEX_PORTS:-}" ]; then
    echo "run_with_sim: no Wine environment (run through ./run test)"; exit 125
fi
if [ ! -x "$sim" ]; then
    echo "run_with_sim: no simulator at $sim"; exit 125
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/dorvex-link.XXXXXX")"
trace="$work/trace.txt"
watch_pid=""
winpath() { local p; p="$(cd "$1" && pwd)"; echo "Z:${p//\//\\}"; }

start_sim() {  # name (files NAME.out, NAME.err; trace of the first one is $trace)
    local name="$1" tracefile="$trace"
    [ "$name" = sim ] || tracefile="$work/$name-trace.txt"
    # shellcheck disable=SC2086
    "$sim" --link "$DORVEX_PORTS/com$port" --trace "$tracefile" --trace-time $sim_args \
        >"$work/$name.out" 2>"$work/$name.err" &
    local pid=$!
    echo "$pid" >"$work/$name.pid"
    local i
    for i in $(seq 600); do  # 30 s: a busy machine
        grep -q '^pty: ' "$work/$name.out" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "run_with_sim: simulator did not start:"; cat "$work/$name.err"
    return 1
}

stop_sim() {
    local f pid
    for f in "$work"/*.pid; do
        [ -f "$f" ] || continue
        pid="$(cat "$f")"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        # A simulator started by the watcher is not our child: wait for it to go.
        for _ in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        rm -f "$f"
    done
}

cleanup() {
    [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null && wait "$watch_pid" 2>/dev/null
    stop_sim
    rm -f "$DORVEX_PORTS/com$port"
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/tmp"
export DORVEX_TEST_TMP
DORVEX_TEST_TMP="$(winpath "$work/tmp")"
export DORVEX_TEST_PORT="$port"
if [ "$dump_card" = 1 ]; then
    mkdir -p "$work/card"
    # shellcheck disable=SC2086
    "$sim" $sim_args --dump-card "$work/card" >/dev/null || { echo "run_with_sim: --dump-card failed"; exit 1; }
    export DORVEX_SIM_CARD
    DORVEX_SIM_CARD="$(winpath "$work/card")"
fi

start_sim sim || exit 1

if [ -n "$kill_on" ]; then
    # Once the exchange is under way: a new camera takes over the COM port's link, then the
    # old one dies without a word, as a camera that is switched off.
    (
        for _ in $(seq 600); do
            grep -Eq "$kill_on" "$trace" 2>/dev/null && break
            sleep 0.05
        done
        sleep "$kill_delay"
        start_sim sim2 >/dev/null
        kill -KILL "$(cat "$work/sim.pid")" 2>/dev/null
        echo "killed" >"$work/killed"
    ) &
    watch_pid=$!
fi

# Output through a file: Wine helpers that outlive the program must not hold ctest's pipe.
(cd "$work/tmp" && wine "$@" </dev/null >"$work/test.out" 2>&1)
status=$?
cat "$work/test.out"

if [ -n "$kill_on" ]; then
    wait "$watch_pid" 2>/dev/null
    watch_pid=""
    [ -f "$work/killed" ] || { echo "run_with_sim: the simulator was never killed"; status=1; }
fi

stop_sim
if [ -n "$want_status" ]; then
    if [ "$status" != "$want_status" ]; then
        echo "run_with_sim: the program exited with $status, expected $want_status"
        status=1
    else
        status=0
    fi
fi
for re in "${outputs[@]}"; do
    if ! grep -Eq "$re" "$work/test.out"; then
        echo "run_with_sim: output has no line matching: $re"
        status=1
    fi
done
for ((i = 0; i < ${#nexts[@]}; i += 2)); do
    if ! awk -v a="${nexts[i]}" -v b="${nexts[i + 1]}" 'previous ~ a && $0 ~ b { found = 1 } { previous = $0 }
                                                          END { exit !found }' "$work/test.out"; then
        echo "run_with_sim: output has no line matching '${nexts[i]}' followed by one matching '${nexts[i + 1]}'"
        status=1
    fi
done
for re in "${expects[@]}"; do
    if ! grep -Eq "$re" "$trace"; then
        echo "run_with_sim: trace has no line matching: $re"
        status=1
    fi
done
for item in "${counts[@]}"; do
    want="${item%%:*}"
    re="${item#*:}"
    got=$(grep -Ec "$re" "$trace")
    if [ "$got" != "$want" ]; then
        echo "run_with_sim: trace has $got lines matching '$re', expected $want"
        status=1
    fi
done
for item in "${checks[@]}"; do
    if ! cmp "$work/tmp/${item%%=*}" "$work/card/${item#*=}"; then
        echo "run_with_sim: ${item%%=*} differs from the card's ${item#*=}"
        status=1
    fi
done
if [ "$status" != 0 ]; then
    echo "---- simulator trace (last 60 lines) ----"
    tail -60 "$trace"
fi
exit "$status"
