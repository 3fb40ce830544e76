# Building and running the libFuzzer targets of fuzz/. Sourced by scripts/test
# (run_fuzz_smoke) and by scripts/fuzz (the longer runs).
#
# The build lives in build/fuzz (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer); seeds are generated into build/fuzz/seeds by
# fuzz_make_seeds from archives our own builder makes, corpora grow in
# build/fuzz/corpus, crashes land in build/fuzz/artifacts and logs in
# build/fuzz/logs. Every run is bounded by a timeout and runs at low priority.

FUZZ_TARGETS=(archive info rules text roundtrip signature)
FUZZ_BUILD_DIR=build/fuzz
FUZZ_BIN_DIR=build/fuzz/fuzz

# Seconds one input may take before libFuzzer calls it a hang. The wildcard
# matcher must stay far from exponential time, so its limit is tight (but
# not so tight that a loaded machine stalling the sanitizer trips it).
fuzz_input_timeout() { # target
    case $1 in
        rules) echo 5 ;;
        *) echo 10 ;;
    esac
}

fuzz_build() {
    CC=${FUZZ_CC:-clang} CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$FUZZ_BUILD_DIR" -G Ninja \
        -DEPK2_FUZZ=ON -DEPK2_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        nice -n 10 cmake --build "$FUZZ_BUILD_DIR" --target fuzz_all -j 2
}

fuzz_make_seeds() {
    rm -rf "$FUZZ_BUILD_DIR/seeds"
    timeout 120 "$FUZZ_BIN_DIR/fuzz_make_seeds" "$FUZZ_BUILD_DIR/seeds"
}

# Runs one target for a number of seconds over corpus, seeds and the kept
# regressions; new inputs go to the corpus folder. Returns libFuzzer's status
# (0: nothing found). The log is build/fuzz/logs/TARGET[-LABEL].log.
# FUZZ_SEED fixes libFuzzer's random seed; unset, each run draws its own.
fuzz_run_target() { # target seconds corpus-folder [label]
    local target=$1 seconds=$2 corpus=$3 label=${4:+-$4}
    local seed=()
    [ -n "${FUZZ_SEED:-}" ] && seed=(-seed="$FUZZ_SEED")
    local log="$FUZZ_BUILD_DIR/logs/$target$label.log"
    local artifacts="$FUZZ_BUILD_DIR/artifacts/$target/"
    local inputs=("$corpus" "$FUZZ_BUILD_DIR/seeds/$target")
    [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")
    mkdir -p "$corpus" "$artifacts" "$FUZZ_BUILD_DIR/logs"
    timeout -k 10 $((seconds + 300)) nice -n 10 "$FUZZ_BIN_DIR/fuzz_$target" \
        "${seed[@]}" -max_total_time="$seconds" -timeout="$(fuzz_input_timeout "$target")" \
        -rss_limit_mb=2048 -dict=fuzz/epk2.dict -print_final_stats=1 \
        -artifact_prefix="$artifacts" "${inputs[@]}" >"$log" 2>&1
}

# "executions N, cov: X ft: Y" from a run's log; the artifact when it failed.
fuzz_summary() { # log
    local log=$1 runs done_line
    runs=$(grep -Eo '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -n1)
    done_line=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -n1)
    echo "executions ${runs:-?}, $(echo "$done_line" | grep -Eo 'cov: [0-9]+ ft: [0-9]+')"
    grep -E '^(SUMMARY|fuzz check failed)|Test unit written to' "$log" | sed 's/^/    /'
}

# Replays every kept input of fuzz/regressions/TARGET once; each counts as
# a case of scripts/test.
fuzz_replay_regressions() { # target
    local target=$1 input status
    for input in fuzz/regressions/"$target"/*; do
        [ -f "$input" ] || continue
        timeout -k 10 120 "$FUZZ_BIN_DIR/fuzz_$target" -timeout=30 -rss_limit_mb=2048 "$input" \
            >"$FUZZ_BUILD_DIR/logs/replay.log" 2>&1
        status=$?
        if [ $status -eq 0 ]; then
            total_passed=$((total_passed + 1))
        else
            note_failure "fuzz replay $input exited with $status"
            grep -E '^(SUMMARY|fuzz check failed)|ERROR' "$FUZZ_BUILD_DIR/logs/replay.log" | head -n 5
        fi
    done
}

# The part of scripts/test: build, replay every kept regression, then run each
# target briefly (EPK2_FUZZ_SMOKE_SECONDS, 10 by default) from fresh seeds.
# The smoke runs use a fixed random seed so that a test run does not turn red
# on a new finding by chance; finding new faults is the longer runs' work
# (scripts/fuzz), and whatever they find is kept in fuzz/regressions.
run_fuzz_smoke() {
    local seconds=${EPK2_FUZZ_SMOKE_SECONDS:-10} target status before
    echo "== fuzz smoke"
    mkdir -p "$FUZZ_BUILD_DIR/logs"
    if ! fuzz_build >"$FUZZ_BUILD_DIR/logs/build.log" 2>&1; then
        tail -n 40 "$FUZZ_BUILD_DIR/logs/build.log"
        note_failure "build fuzz"
        return 1
    fi
    if ! fuzz_make_seeds >"$FUZZ_BUILD_DIR/logs/seeds.log" 2>&1; then
        tail -n 20 "$FUZZ_BUILD_DIR/logs/seeds.log"
        note_failure "fuzz seeds"
        return 1
    fi
    for target in "${FUZZ_TARGETS[@]}"; do
        before=$total_passed
        fuzz_replay_regressions "$target"
        rm -rf "$FUZZ_BUILD_DIR/smoke/$target"
        FUZZ_SEED=${EPK2_FUZZ_SMOKE_SEED:-1} \
            fuzz_run_target "$target" "$seconds" "$FUZZ_BUILD_DIR/smoke/$target" smoke
        status=$?
        if [ $status -eq 0 ]; then
            total_passed=$((total_passed + 1))
        else
            note_failure "fuzz_$target smoke run exited with $status"
        fi
        echo "   fuzz_$target: $((total_passed - before)) passed," \
            "$(fuzz_summary "$FUZZ_BUILD_DIR/logs/$target-smoke.log")"
    done
}
