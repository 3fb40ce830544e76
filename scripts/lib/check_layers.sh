# Keeps the library's includes pointing down. Sourced by scripts/test, which
# calls check_layers from the source folder; a failure goes to the counters
# of run_tests.sh.
#
# The layers of lib/ from the bottom up: each folder may include itself and
# those below it, never one above. A layer's own headers (its internal/
# folder, platform/posix/) are on that layer's include path alone, so no
# file anywhere names them by a path into the layer.
epk2_layers=(platform support stream fs archive)

check_layers() {
    local i above all bad=0
    echo "== include layers"
    for i in "${!epk2_layers[@]}"; do
        above=$(IFS='|' && echo "${epk2_layers[*]:i+1}")
        [ -n "$above" ] || continue
        if grep -rnE "#include \"($above)/" "lib/${epk2_layers[i]}"; then
            note_failure "lib/${epk2_layers[i]} includes a layer above it"
            bad=1
        fi
    done
    all=$(IFS='|' && echo "${epk2_layers[*]}")
    if grep -rnE "#include \"($all)/[^\"]*/" lib tools updater tests fuzz bench; then
        note_failure "a layer's own header is included by its path"
        bad=1
    fi
    [ $bad -eq 0 ] && echo "   every include points down"
}
