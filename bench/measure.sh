# The parts bench/run and bench/scaling share, sourced by both from the
# repository's top folder: checking tools, building the release epk2, and
# measuring one command. The caller sets bench_name (for messages) and, before
# measuring, work (the folder that takes each command's output).
# shellcheck shell=bash disable=SC2154 # bench_name and work are the caller's

die() {
    echo "$bench_name: $*" >&2
    exit 2
}

need() { # command, how to install it
    command -v "$1" >/dev/null 2>&1 ||
        die "$1 is missing: $2 (scripts/setup.sh installs the team's tools, as root)"
}

need_measuring_tools() {
    need awk "apt-get install gawk"
    need sync "coreutils"
    [ -x /usr/bin/time ] || die "/usr/bin/time is missing: apt-get install time (scripts/setup.sh installs it)"
    [ "${BASH_VERSINFO[0]}" -ge 5 ] || die "bash 5 or later is needed (EPOCHREALTIME)"
}

# build_epk2 DATA_FOLDER: unless epk2 is already set, builds the release epk2
# in build/bench (log in DATA_FOLDER/build.log) and sets epk2 to it; then
# makes epk2 an absolute path.
build_epk2() {
    if [ -z "$epk2" ]; then
        need cmake "apt-get install cmake"
        need ninja "apt-get install ninja-build"
        echo "Building the release epk2 in build/bench ..."
        local build_log=$1/build.log
        if ! { cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DEPK2_TESTS=OFF &&
            cmake --build build/bench -j2 --target epk2; } >"$build_log" 2>&1; then
            tail -n 20 "$build_log" >&2
            die "the build failed (whole log: $build_log)"
        fi
        epk2=$(pwd)/build/bench/epk2
    fi
    [ -x "$epk2" ] || die "$epk2 is not an executable"
    epk2=$(cd "$(dirname "$epk2")" && pwd)/$(basename "$epk2")
}

# The commit measured, and whether the sources differ from it.
commit_line() {
    echo "$(git rev-parse --short HEAD 2>/dev/null || echo '?')$(git diff --quiet HEAD -- lib tools updater 2>/dev/null ||
        echo ' (with uncommitted changes in lib/, tools/ or updater/)')"
}

declare -A times    # key -> wall seconds of each run, space-separated
declare -A cpu      # key -> user + system seconds of each run (10 ms steps)
declare -A peak_kib # key -> largest peak resident set size over the runs

# run_once KEY COMMAND...: runs the command once under /usr/bin/time -v after a
# sync; its output goes to $work/KEY.out and .err. Dies when it fails.
run_once() {
    local key=$1
    shift
    sync
    local start=$EPOCHREALTIME
    /usr/bin/time -v -o "$work/$key.time" "$@" >"$work/$key.out" 2>"$work/$key.err"
    local status=$?
    local end=$EPOCHREALTIME
    if [ $status -ne 0 ]; then
        echo "$bench_name: '$*' failed (exit status $status):" >&2
        tail -n 5 "$work/$key.err" "$work/$key.out" >&2
        exit 2
    fi
    times[$key]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
    cpu[$key]+="$(awk -F': *' '/User time|System time/ { t += $2 } END { printf "%.2f", t }' \
        "$work/$key.time") "
    local kib
    kib=$(awk -F': *' '/Maximum resident set size/ { print $2 }' "$work/$key.time")
    if [ -z "${peak_kib[$key]:-}" ] || [ "${kib:-0}" -gt "${peak_kib[$key]}" ]; then
        peak_kib[$key]=${kib:-0}
    fi
}

median() { # seconds...
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) printf "%.6f", v[(NR + 1) / 2]; else printf "%.6f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
median_of() { # key
    # shellcheck disable=SC2086
    median ${times[$1]}
}
cpu_of() { # key
    # shellcheck disable=SC2086
    median ${cpu[$1]}
}
seconds() { awk -v t="$1" 'BEGIN { printf(t < 1 ? "%.3f" : "%.2f", t) }'; }
