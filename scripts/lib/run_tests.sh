# Runs GoogleTest executables and adds up their results. Sourced by scripts/test.
total_passed=0
total_failed=0
total_skipped=0
failures=()
skipped=()

note_failure() { total_failed=$((total_failed + 1)); failures+=("$1"); }

# Adds the counts of one GoogleTest run (its output in $2) under the label $1.
# A program that did not start, crashed before its summary or printed none
# counts as one failure, its line saying why: never "0 passed, 0 failed".
count_gtest() {
    local label=$1 log=$2 status=$3 passed failed
    if ! grep -qE '^\[==========\] [0-9]+ tests? from .* ran\.' "$log"; then
        local why
        if [ "$status" -eq 126 ] || [ "$status" -eq 127 ]; then
            why="did not start: $(unreported_reason "$log")"
        elif [ "$status" -ne 0 ]; then
            why="ended with $status before reporting: $(unreported_reason "$log")"
            tail -n 20 "$log" | sed 's/^/    /'
        else
            why="printed no result"
        fi
        note_failure "$label: $why"
        echo "   $label: $why"
        return
    fi
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

# The last words of a program that gave no summary: the operating system's
# reason where there is one ("Exec format error"), else its last line.
unreported_reason() { # log
    local reason
    reason=$(grep -Eo 'Exec format error|No such file or directory|Permission denied|cannot execute[^:]*' "$1" | head -n1)
    [ -n "$reason" ] || reason=$(sed 's/\r$//' "$1" | grep -v '^[[:space:]]*$' | tail -n1 | cut -c1-160)
    printf '%s' "${reason:-no output}"
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

# --- Windows programs under Wine ----------------------------------------------
# What ships is 32-bit, and the Windows tests run the 32-bit build wherever
# this machine runs 32-bit programs. Some kernels run none (Wine's 32-bit
# loader ends with "Exec format error"); there the same tests run as the
# 64-bit build under wine64. windows_probe decides once, by starting a tiny
# 32-bit program, and sets:
#   windows_preset  windows or windows64: the build whose tests run
#   wine_loader     the Wine that runs them
#   windows_kind    one line for the summary
windows_preset=windows
wine_loader=wine
wine_arch=win32
windows_kind=

# Exports the Wine settings of the chosen kind; the prefix is made once.
wine_env() {
    export WINEARCH=$wine_arch
    export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix-$wine_arch}
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Run by hand, a 64-bit loader finds its own kind for the programs it
    # starts (wineboot, reg) only through WINELOADER.
    [ "$wine_loader" = wine ] || export WINELOADER=$wine_loader
    # Code page 932 comes from a Japanese locale, set only for Wine itself:
    # other tools would answer in Japanese too.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        LC_ALL=ja_JP.UTF-8 timeout 300 "$wine_loader" wineboot -i >/dev/null 2>&1
        timeout 120 wineserver -w
    fi
}

windows_probe() {
    local dir=$root/build/wine-probe out status
    mkdir -p "$dir"
    printf '#include <stdio.h>\nint main(void) { puts("32-bit program ran"); return 0; }\n' >"$dir/probe.c"
    if ! i686-w64-mingw32-gcc -o "$dir/probe.exe" "$dir/probe.c" 2>"$dir/probe.log"; then
        note_failure "the 32-bit Windows compiler cannot build a one-line program"
        return 1
    fi
    out=$(WINEARCH=win32 WINEPREFIX=$root/build/wineprefix-win32 WINEDEBUG=-all \
        WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8 timeout 300 wine "$dir/probe.exe" 2>&1)
    status=$?
    if [ $status -eq 0 ] && [[ $out == *"32-bit program ran"* ]]; then
        windows_kind="Windows tests ran as 32-bit programs"
        return 0
    fi
    windows_preset=windows64
    wine_loader=/usr/lib/wine/wine64
    wine_arch=win64
    local why
    why=$(printf '%s\n' "$out" | grep -Eo 'Exec format error' | head -n1)
    [ -n "$why" ] || why="exit $status: $(printf '%s\n' "$out" | tail -n1 | cut -c1-120)"
    windows_kind="Windows tests ran as 64-bit programs: this machine runs no 32-bit programs ($why)"
    echo "   $windows_kind"
}

run_wine_tests() { # build dir
    local dir=$1 exe status
    echo "== Windows tests under Wine ($dir)"
    wine_env
    for exe in "$dir"/*_tests.exe; do
        [ -f "$exe" ] || continue
        (cd "$dir" && LC_ALL=ja_JP.UTF-8 timeout 900 "$wine_loader" "./$(basename "$exe")" --gtest_color=no) >"$exe.log" 2>&1
        status=$?
        count_gtest "wine $(basename "$exe")" "$exe.log" $status
    done
}

print_summary() {
    [ -n "$windows_kind" ] && echo "$windows_kind"
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
