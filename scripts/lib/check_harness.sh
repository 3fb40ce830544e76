# The harness checks itself before it counts anything: a test program that
# does not start, dies before its summary or prints nothing must count as a
# failure, never as "0 passed, 0 failed". Sourced by scripts/test after
# run_tests.sh; each case runs count_gtest on a stand-in program in a
# subshell, so the real counters stay untouched.
check_harness() {
    local dir=$root/build/harness-check line
    mkdir -p "$dir"
    # stand-in program | the line count_gtest must print
    local cases=(
        "echo '/usr/lib/wine/wine: Exec format error' >&2; exit 126|did not start: Exec format error"
        "echo '[==========] Running 3 tests from 1 test suite.'; exit 3|ended with 3 before reporting"
        "exit 0|printed no result"
        "printf '[==========] 2 tests from 1 test suite ran. (1 ms total)\r\n[  PASSED  ] 2 tests.\r\n'|2 passed, 0 failed"
    )
    local case program want got status
    for case in "${cases[@]}"; do
        program=${case%%|*}
        want=${case#*|}
        bash -c "$program" >"$dir/run.log" 2>&1
        status=$?
        got=$(count_gtest probe "$dir/run.log" $status 2>&1; echo "failed=$total_failed")
        # Only the healthy run may leave the failure count where it was.
        if [[ $got != *"probe: $want"* ]] ||
            { [[ $want == *passed* ]] && [[ $got != *"failed=$total_failed" ]]; } ||
            { [[ $want != *passed* ]] && [[ $got == *"failed=$total_failed" ]]; }; then
            note_failure "harness: '$program' should give '$want', gave: $(tr '\n' ' ' <<<"$got")"
        fi
    done
}
