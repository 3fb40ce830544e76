# Keeps every include of the tree pointing the way the build means it to.
# Sourced by scripts/test, which calls check_layers from the source folder; a
# failure goes to the counters of run_tests.sh.
#
# The layers of lib/ from the bottom up: each folder may include itself and
# those below it, never one above. A layer's own headers (its internal/
# folder, platform/posix/ and platform/win32/) are on that layer's include
# path alone: no file outside the layer names them by a path, relative or
# not. The tool (tools/) and the updater (updater/, its Win32 dialog
# included) both stand on the library and never include each other; what
# they share belongs in lib/. Tests, fuzz targets and benchmarks may include
# any layer, and the tool's or the updater's headers through the include
# path they link ("cli/cli.h"), but never reach into those folders
# by a path of the tree ("tools/epk2/...", "../updater/...").
#
# A layer that does not exist yet (lib/update while it is being built) is
# simply not checked.
epk2_layers=(platform support stream fs archive update)

# Prints "rule<TAB>file:line: #include "name"" for each include that breaks a
# rule. Every quoted include is resolved the way the compiler looks for it:
# beside the including file, then on the include paths its area builds with.
# An include found nowhere in the tree (a system header in quotes, a
# generated one) is not the check's business.
layers_findings() {
    local layers
    layers=$(IFS=' ' && echo "${epk2_layers[*]}")
    {
        find lib tools updater tests fuzz bench -type f 2>/dev/null | sed 's/^/F\t/'
        grep -rnE --include='*.cpp' --include='*.h' --include='*.c' --include='*.inc' \
            --include='*.rc' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' \
            lib tools updater tests fuzz bench 2>/dev/null | sed 's/^/I\t/'
    } | awk -F'\t' -v layers="$layers" '
        function normal(path,    n, parts, out, i, k) {
            n = split(path, parts, "/")
            k = 0
            for (i = 1; i <= n; i++) {
                if (parts[i] == "" || parts[i] == ".") continue
                if (parts[i] == "..") { if (k > 0) k--; else return ""; continue }
                out[++k] = parts[i]
            }
            path = ""
            for (i = 1; i <= k; i++) path = path (i > 1 ? "/" : "") out[i]
            return path
        }
        function dir_of(path) { sub(/\/[^\/]*$/, "", path); return path }
        function top(path) { sub(/\/.*/, "", path); return path }
        # lib/<layer>/... gives the layer, anything else "".
        function layer_of(path,    parts) {
            if (top(path) != "lib") return ""
            split(path, parts, "/")
            return parts[2]
        }
        # The folder of a layer that only the layer sees.
        function is_private(path) {
            return path ~ /^lib\/[^\/]+\/(.*\/)?internal\// ||
                   path ~ /^lib\/platform\/(posix|win32)\//
        }
        function try(root, name,    path) {
            path = normal(root == "" ? name : root "/" name)
            return path != "" && (path in exists) ? path : ""
        }
        # The file an include of name in file reaches, or "".
        function resolve(file, name,    area, d, found, layer, i) {
            d = dir_of(file)
            if ((found = try(d, name)) != "") return found
            area = top(file)
            # The including folder and those above it within its area (the
            # tool and the tests put their top folders on the include path).
            for (d = dir_of(d); d != area && index(d, "/"); d = dir_of(d))
                if ((found = try(d, name)) != "") return found
            if ((found = try(area, name)) != "") return found
            if ((found = try("lib", name)) != "") return found
            if (area == "lib") {
                layer = layer_of(file)
                if ((found = try("lib/" layer "/internal", name)) != "") return found
                if (layer == "platform")
                    for (i = 0; i < 2; i++)
                        if ((found = try(i ? "lib/platform/win32" : "lib/platform/posix",
                                         name)) != "") return found
                return ""
            }
            # What the tool and the updater export to those that link them.
            if ((found = try("tools/epk2", name)) != "") return found
            if ((found = try("updater", name)) != "") return found
            return try("updater/win32", name)
        }
        BEGIN {
            n = split(layers, order, " ")
            for (i = 1; i <= n; i++) rank[order[i]] = i
        }
        $1 == "F" { exists[$2] = 1; next }
        {
            line = $0
            sub(/^I\t/, "", line)
            split(line, where, ":")
            file = where[1]
            name = line
            sub(/^[^"]*"/, "", name)
            sub(/".*/, "", name)
            shown = where[1] ":" where[2] ": #include \"" name "\""
            target = resolve(file, name)
            if (target == "") next
            from = top(file)
            to = top(target)
            from_layer = layer_of(file)
            to_layer = layer_of(target)
            if (from == "lib" && to != "lib") {
                print "lib\t" shown
            } else if (from == "lib" && (from_layer in rank) && (to_layer in rank) &&
                       rank[to_layer] > rank[from_layer]) {
                print "up\t" shown
            } else if (is_private(target) && from_layer != to_layer &&
                       (from == "lib" || index(name, "/"))) {
                print "private\t" shown
            } else if ((from == "tools" && to == "updater") ||
                       (from == "updater" && to == "tools")) {
                print "apps\t" shown
            } else if ((from == "tests" || from == "fuzz" || from == "bench") &&
                       (to == "tools" || to == "updater") &&
                       (name ~ /(^|\/)(tools|updater)\// || index(name, ".."))) {
                print "reach\t" shown
            }
        }'
}

check_layers() {
    local findings rule message bad=0
    echo "== include layers"
    findings=$(layers_findings)
    for rule in up private lib apps reach; do
        case $rule in
        up) message="a library layer includes a layer above it" ;;
        private) message="a layer's own header is included from outside the layer" ;;
        lib) message="the library includes the tool, the updater or the tests" ;;
        apps) message="tools/ and updater/ include each other" ;;
        reach) message="a test reaches into tools/ or updater/ by a path" ;;
        esac
        if grep "^$rule"$'\t' <<<"$findings" | cut -f2- | grep .; then
            note_failure "$message"
            bad=1
        fi
    done
    [ $bad -eq 0 ] && echo "   every include points down"
}
