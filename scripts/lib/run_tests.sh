# Runs GoogleTest executables and adds up their results. Sourced by scripts/test.
total_passed=0
total_failed=0
total_skipped=0
failures=()
skipped=()

note_failure() { total_failed=$((total_failed + 1)); failures+=("$1"); }

# Adds the counts of one GoogleTest run (its output in $2) under the label $1.
count_gtest() {
    local label=$1 log=$2 status=$3 passed failed
    passed=$(grep -Eo '^\[  PASSED  \] [0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -n1)
    failed=$(grep -Eo '^\[  FAILED  \] [0-9]+ tests?, listed below' "$log" | grep -Eo '[0-9]+' | head -n1)
    passed=${passed:-0}
    failed=${failed:-0}
    total_passed=$((total_passed + passed))
    # Skipped tests are named, so that a skip never hides unnoticed.
    local name
    while read -r name; do
        [ -n "$name" ] || continue
        skipped+=("$label: $name")
        total_skipped=$((total_skipped + 1))
    done < <(grep -E '^\[  SKIPPED \] [A-Za-z_]' "$log" | sed 's/\r$//; s/^\[  SKIPPED \] //; s/ (.*//' | sort -u)
    if [ "$failed" -gt 0 ]; then
        total_failed=$((total_failed + failed))
        grep -E '^\[  FAILED  \] [A-Za-z_]' "$log" | sed 's/^/    /' | sort -u
        failures+=("$label: $failed failed")
    elif grep -qE '^(WARNING|ERROR): (Thread|Address|Leak)Sanitizer|runtime error:' "$log"; then
        # A sanitizer report fails the run even where the tests themselves passed.
        note_failure "$label: sanitizer report"
        grep -m3 -E 'Sanitizer|runtime error:' "$log" | sed 's/^/    /'
    elif [ "$status" -ne 0 ]; then
        # Crashed or a sanitizer stopped it: the run counts as one failure.
        note_failure "$label exited with $status"
        tail -n 40 "$log"
    fi
    echo "   $label: $passed passed, $failed failed"
}

run_native_tests() { # build dir, label prefix, optional list of executables
    local dir=$1 prefix=${2:-} only=${3:-} exe status
    echo "== ${prefix}native tests"
    for exe in "$dir"/*_tests; do
        [ -x "$exe" ] || continue
        if [ -n "$only" ] && ! [[ " $only " == *" $(basename "$exe") "* ]]; then continue; fi
        (cd "$dir" && timeout 600 "./$(basename "$exe")" --gtest_color=no) >"$exe.log" 2>&1
        status=$?
        count_gtest "$prefix$(basename "$exe")" "$exe.log" $status
    done
}

wine_env() {
    export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Code page 932 comes from a Japanese locale, set only for Wine itself:
    # other tools would answer in Japanese too.
    if [ ! -d "$WINEPREFIX" ]; then
        LC_ALL=ja_JP.UTF-8 wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
}

run_wine_tests() { # build dir
    local dir=$1 exe status
    echo "== Windows tests under Wine"
    wine_env
    for exe in "$dir"/*_tests.exe; do
        [ -f "$exe" ] || continue
        (cd "$dir" && LC_ALL=ja_JP.UTF-8 timeout 900 wine "./$(basename "$exe")" --gtest_color=no) >"$exe.log" 2>&1
        status=$?
        count_gtest "wine $(basename "$exe")" "$exe.log" $status
    done
}

print_summary() {
    if [ ${#skipped[@]} -gt 0 ]; then
        echo "skipped:"
        printf '  %s\n' "${skipped[@]}"
    fi
    if [ ${#failures[@]} -gt 0 ]; then
        echo "failures:"
        printf '  %s\n' "${failures[@]}"
    fi
    if [ "$total_skipped" -gt 0 ]; then
        echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
    else
        echo "$total_passed passed, $total_failed failed"
    fi
    [ "$total_failed" -eq 0 ] && [ "$total_passed" -gt 0 ]
}
