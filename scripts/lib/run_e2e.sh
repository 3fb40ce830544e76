# End-to-end tests of TessavaneUpdater.exe under Wine and Xvfb. Sourced by
# scripts/test, which calls run_e2e_tests with the Windows build folder after
# the Windows build; the results go to the counters of run_tests.sh (one
# passed or failed case each).
#
# Each case prepares a download folder (the updater and Patch.dat) and an
# install folder from small trees packed with the native epk2 tool, points
# the game's uninstall entry at the install folder (or removes it), and runs
# updater_e2e_driver.exe (built from tests/updater/e2e/, as is the game stub
# updater_e2e_game.exe), which starts the updater, reads the dialog, presses
# its buttons and writes what it saw to a report. The case then compares the
# report and the files on disk with what the user must get.
#
# Everything runs under timeouts; Xvfb and the Wine server of the tests'
# own prefix are stopped at the end.
#
#   E2E_WINEPREFIX   Wine prefix for these tests (default build/wineprefix-e2e-win32,
#                    or -win64 where the tests run as 64-bit programs)
#   E2E_EPK2         the native epk2 tool (default build/native/epk2)
#
# The signature cases run TessavaneUpdater_signed.exe, the same program built
# with the public half of the test key pair in tests/data/signing (public,
# so it signs nothing real), and sign patches with its private half.

e2e_uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tessavane 体験版_is1'

# --- running things ---------------------------------------------------------

# Replaces the calling (sub)shell with the command, run with the tests' Wine
# prefix and display and in the locale of the round (ja_JP.UTF-8: code page
# 932); in "( ... ) &" the job's process id is then the command's own, so it
# can be stopped.
e2e_wine_exec() { # command...
    exec env WINEPREFIX="$e2e_prefix" WINEARCH="$e2e_arch" ${e2e_loader_env} WINEDEBUG=${E2E_WINEDEBUG:--all} \
        WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL="${e2e_locale:-ja_JP.UTF-8}" DISPLAY=":$e2e_display" "$@"
}

e2e_wine() { # seconds, command...
    local seconds=$1
    shift
    (e2e_wine_exec timeout -k 5 "$seconds" "$e2e_loader" "$@")
}

# The Windows form of an absolute Linux path (Wine maps / to drive Z:).
e2e_winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

e2e_problem() { e2e_problems+=("$1"); }

# Runs the driver with a report file and steps; a driver failure is a problem.
e2e_drive() { # report, steps...
    local report=$1
    shift
    e2e_wine 240 "$e2e_helpers/updater_e2e_driver.exe" "$(e2e_winpath "$report")" "$@" \
        >>"$e2e_log" 2>&1
    e2e_driver_status "$report" $?
}

e2e_driver_status() { # report, status of the driver
    if [ "$2" -ne 0 ]; then
        e2e_problem "driver ended with $2: $(grep '^error=' "$1" 2>/dev/null | head -n1)"
    fi
    return "$2"
}

e2e_value() { # report, key
    awk -v key="$2=" 'index($0, key) == 1 { print substr($0, length(key) + 1); exit }' "$1"
}

e2e_expect() { # report, key, expected value
    local got
    got=$(e2e_value "$1" "$2")
    if [ "$got" != "$3" ]; then
        e2e_problem "$2: got '${got:0:160}', want '$3'"
    fi
}

e2e_check() { # description, command...
    local what=$1
    shift
    "$@" >/dev/null 2>&1 || e2e_problem "$what"
}

# --- fixtures ---------------------------------------------------------------

e2e_info() { # tree folder, version, attribute
    mkdir -p "$1"
    printf 'identifer=tessavane\r\nversion=%s\r\nattribute=%s\r\n' "$2" "$3" >"$1/info.txt"
}

e2e_file() { # path, content
    mkdir -p "$(dirname "$1")"
    printf '%s\n' "$2" >"$1"
}

e2e_pack() { # tree folder, archive
    if ! timeout 60 "$e2e_epk2" pack "$1" -o "$2" >>"$e2e_log" 2>&1; then
        e2e_problem "epk2 pack $1 failed"
        return 1
    fi
}

# The installed data: version 1.0 of the full game.
e2e_base_tree() { # folder
    e2e_info "$1" 1.0 full
    e2e_file "$1/a.txt" "old a"
    e2e_file "$1/b.txt" "old b"
    e2e_file "$1/data/c.txt" "old c"
}

# A patch: replaces b.txt, adds d.txt and two loose files (one in a
# sub-directory of /_extract, which lands directly in the install folder).
e2e_patch_tree() { # folder, version, attribute
    e2e_info "$1" "$2" "$3"
    e2e_file "$1/b.txt" "new b $2"
    e2e_file "$1/d.txt" "new d"
    e2e_file "$1/_extract/readme.txt" "readme $2"
    e2e_file "$1/_extract/sub/notes.txt" "notes $2"
}

# Many small files below the folder, a hundred per sub-folder.
e2e_many_files() { # folder, count
    local i
    for ((i = 0; i < $2; i++)); do
        ((i % 100 == 0)) && mkdir -p "$1/$((i / 100))"
        printf 'file %d\n' "$i" >"$1/$((i / 100))/f$i.txt"
    done
}

# Files the merged archive holds: those of both trees, each once.
e2e_union_count() { # tree folders...
    local tree
    for tree in "$@"; do (cd "$tree" && find . -type f); done | sort -u | wc -l
}

# A case folder: dl/ with the updater (and Patch.dat unless told otherwise),
# game/ as the install folder with Tessavane.dat of the base tree.
e2e_layout() { # case folder, patch version, patch attribute ("" for none)
    local dir=$1
    mkdir -p "$dir/dl" "$dir/game" "$dir/trees"
    cp "$e2e_bin/TessavaneUpdater.exe" "$dir/dl/"
    e2e_base_tree "$dir/trees/base"
    e2e_pack "$dir/trees/base" "$dir/game/Tessavane.dat"
    cp "$dir/game/Tessavane.dat" "$dir/trees/base.dat"
    if [ -n "$2" ]; then
        e2e_patch_tree "$dir/trees/patch" "$2" "$3"
        e2e_pack "$dir/trees/patch" "$dir/dl/Patch.dat"
    fi
}

e2e_registry_set() { # install folder (Windows path)
    e2e_wine 60 reg add "$e2e_uninstall_key" /v InstallLocation /d "$1" /f >>"$e2e_log" 2>&1 ||
        e2e_problem "could not write the uninstall entry"
}

# e2e_layout with the game stub as Tessavane.exe, and the uninstall entry
# naming the install folder.
e2e_layout_with_game() { # case folder, patch version, patch attribute
    e2e_layout "$@"
    cp "$e2e_helpers/updater_e2e_game.exe" "$1/game/Tessavane.exe"
    e2e_registry_set "$(e2e_winpath "$1/game")\\"
}

e2e_registry_clear() {
    e2e_wine 60 reg delete "$e2e_uninstall_key" /f >>"$e2e_log" 2>&1
    if e2e_wine 60 reg query "$e2e_uninstall_key" >>"$e2e_log" 2>&1; then
        e2e_problem "could not remove the uninstall entry"
    fi
}

# The archive's entry as text (for comparing contents).
e2e_entry() { # archive, entry
    timeout 60 "$e2e_epk2" cat "$1" "$2" 2>>"$e2e_log"
}

# Signatures: the updater built with the test key, and a patch signed with
# that key's private half by the native tool.
e2e_use_signed_updater() { # case folder
    cp "$e2e_bin/TessavaneUpdater_signed.exe" "$1/dl/TessavaneUpdater.exe"
}

e2e_sign() { # archive
    if ! timeout 60 "$e2e_epk2" sign "$1" --key "$e2e_test_key.key" >>"$e2e_log" 2>&1; then
        e2e_problem "epk2 sign $1 failed"
        return 1
    fi
}

# Flips the lowest bit of the byte at offset in file.
e2e_flip_byte() { # file, offset
    local byte
    byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
    printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# The running game: the game stub, started in the background, opens the file
# as the game opens its data archive (reading, share mode FILE_SHARE_READ)
# and holds it until e2e_hold_stop. Returns once the file is held.
e2e_hold_start() { # game executable, file to hold, folder for the markers
    local ready=$3/hold.ready stop=$3/hold.stop waited=0
    rm -f "$ready" "$stop"
    # The stub lets go by itself after 300 s, past the driver's own limit.
    (e2e_wine_exec timeout -k 5 330 "$e2e_loader" "$1" hold "$(e2e_winpath "$2")" \
        "$(e2e_winpath "$ready")" "$(e2e_winpath "$stop")" 300) >>"$e2e_log" 2>&1 &
    e2e_holder=$!
    while [ ! -f "$ready" ] && kill -0 "$e2e_holder" 2>/dev/null && [ $waited -lt 600 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    [ -f "$ready" ] || {
        e2e_problem "the game did not open $(basename "$2")"
        return 1
    }
}

# Tells the holder to let go and waits for its end; one that does not end
# within 20 s is stopped. Its status tells whether it held the file until told.
e2e_hold_stop() { # folder for the markers
    [ -n "${e2e_holder:-}" ] || return 0
    touch "$1/hold.stop"
    local waited=0 status
    while kill -0 "$e2e_holder" 2>/dev/null && [ $waited -lt 200 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$e2e_holder" 2>/dev/null; then
        e2e_problem "the game did not end when told"
        kill "$e2e_holder" 2>/dev/null
    fi
    wait "$e2e_holder"
    status=$?
    e2e_holder=
    case $status in
    0) ;;
    3) e2e_problem "the game let go of the file before it was told" ;;
    *) e2e_problem "the game ended with $status" ;;
    esac
}

# --- cases ------------------------------------------------------------------

# Dialog 101 and the manifest as stored in the executable.
e2e_case_resources() {
    local dir=$1 report=$1/report.txt
    e2e_drive "$report" template "$(e2e_winpath "$e2e_ship_bin/TessavaneUpdater.exe")" \
        manifest "$(e2e_winpath "$e2e_ship_bin/TessavaneUpdater.exe")" \
        "$(e2e_winpath "$dir/manifest.xml")" || return
    cat >"$dir/expected.txt" <<'EOF'
template.exstyle=0x00000000
template.style=0x80c808c8
template.rect=0,0,316,127
template.menu=
template.class=
template.caption=Tessavane 更新プログラム
template.font=8|400|0|1|MS Shell Dlg
template.controls=11
template.control.0=1|button|アップデート開始|180,93,74,14|0x50010001|0x00000000
template.control.1=2|button|終了|259,93,50,14|0x50010000|0x00000000
template.control.2=1001|edit||7,20,277,13|0x50810880|0x00000000
template.control.3=-1|static|インストール先|10,8,73,10|0x50020000|0x00000000
template.control.4=1002|msctls_progress32||7,93,167,14|0x50000000|0x00000000
template.control.5=1004|edit||7,51,148,15|0x50810881|0x00000000
template.control.6=1005|button|...|288,20,21,13|0x50010000|0x00000000
template.control.7=-1|static|現在のバージョン|45,40,73,10|0x50020001|0x00000000
template.control.8=1007|edit||161,51,148,15|0x50810881|0x00000000
template.control.9=-1|static|パッチのバージョン|198,40,73,9|0x50020001|0x00000000
template.control.10=1008|edit||7,70,302,15|0x50810880|0x00000000
EOF
    grep '^template\.' "$report" | grep -v '^template\.help_id=' >"$dir/found.txt"
    if ! diff -u "$dir/expected.txt" "$dir/found.txt" >"$dir/template.diff"; then
        e2e_problem "dialog 101 differs: $(grep '^[-+]template' "$dir/template.diff" | head -n4 | tr '\n' ' ')"
    fi

    local manifest identity
    manifest=$(tr '\n\r\t' '   ' <"$dir/manifest.xml")
    e2e_check "manifest: not requireAdministrator" \
        grep -Eq '<requestedExecutionLevel[^>]* level="requireAdministrator"' <<<"$manifest"
    e2e_check "manifest: uiAccess not false" \
        grep -Eq '<requestedExecutionLevel[^>]* uiAccess="false"' <<<"$manifest"
    identity=$(grep -Eo '<assemblyIdentity[^>]*"Microsoft\.Windows\.Common-Controls"[^>]*>' \
        <<<"$manifest")
    local attribute
    for attribute in 'type="win32"' 'version="6.0.0.0"' 'processorArchitecture="X86"' \
        'publicKeyToken="6595b64144ccf1df"' 'language="\*"'; do
        e2e_check "manifest: common controls without $attribute" grep -Eq " $attribute" <<<"$identity"
    done
}

# One file to ship: nothing but Windows' own DLLs may be imported.
e2e_case_imports() {
    local exe=$e2e_ship_bin/TessavaneUpdater.exe dump dll
    # objdump speaks the locale's language, and the Wine runs set a Japanese one.
    dump=$(LC_ALL=C i686-w64-mingw32-objdump -p "$exe" 2>&1) || {
        e2e_problem "objdump cannot read the executable"
        return
    }
    [[ $dump == *"(Windows GUI)"* ]] || e2e_problem "not a GUI program"
    [[ $dump == *"file format pei-i386"* ]] || e2e_problem "not a 32-bit program"
    local dlls
    dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '[:lower:]' '[:upper:]')
    [ -n "$dlls" ] || e2e_problem "no imports found"
    grep -qx 'COMCTL32.DLL' <<<"$dlls" || e2e_problem "comctl32 not imported (progress bar class)"
    for dll in $dlls; do
        case $dll in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | COMCTL32.DLL | SHELL32.DLL | SHLWAPI.DLL | \
            OLE32.DLL | ADVAPI32.DLL | MSVCRT.DLL) ;;
        *) e2e_problem "imports $dll, which would have to ship beside it" ;;
        esac
    done
    # bcrypt.dll (the signature check) is loaded from the system folder at
    # run time, never imported: an import would be searched for beside the
    # program first, in the downloads folder.
    local signed
    signed=$(LC_ALL=C i686-w64-mingw32-objdump -p "$e2e_ship_bin/TessavaneUpdater_signed.exe" 2>&1)
    sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$signed" | tr '[:lower:]' '[:upper:]' >"$1/signed.dlls"
    [ "$(sort "$1/signed.dlls")" = "$(sort <<<"$dlls")" ] ||
        e2e_problem "the signed build imports other DLLs: $(tr '\n' ' ' <"$1/signed.dlls")"
    grep -qx 'BCRYPT.DLL' <<<"$dlls" && e2e_problem "bcrypt.dll is imported"
}

# The uninstall entry names the install folder: the field shows it as stored,
# and a folder whose cp932 name has a trail byte 0x5C ("ソ") works.
e2e_case_registry_present() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    mv "$dir/game" "$dir/テスト版ソフト"
    local folder
    folder="$(e2e_winpath "$dir/テスト版ソフト")\\"
    e2e_registry_set "$folder"
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        close wait-exit 30 || return
    e2e_expect "$report" start.caption "Tessavane 更新プログラム"
    e2e_expect "$report" start.1001 "$folder"
    e2e_expect "$report" start.1004 "Ver.1.0 (full)"
    e2e_expect "$report" start.1007 "Ver.1.1 (full)"
    e2e_expect "$report" start.1008 "アップデートできます。"
    e2e_expect "$report" start.action "アップデート開始"
    e2e_expect "$report" start.action_enabled yes
    e2e_expect "$report" start.close "終了"
    e2e_expect "$report" start.progress_pos 0
    e2e_expect "$report" start.statusbar_class msctls_statusbar32
    e2e_expect "$report" start.statusbar_style 0x50000003
    local notice
    notice=$(e2e_value "$report" start.statusbar)
    [[ $notice == '\t\t'?* ]] || e2e_problem "status bar notice '$notice' does not start with two tabs"
    e2e_expect "$report" start.statusbar '\t\tゲームを終了してから更新してください。'
    # The close box ends the program with 0.
    e2e_expect "$report" exit 0
}

# The uninstall entry names a folder with no code page 932 form (Hangul): the
# field shows it as named, and the data there count as not found instead of
# being looked for under some other name.
e2e_case_registry_unrepresentable() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    mv "$dir/game" "$dir/게임"
    local folder
    folder="$(e2e_winpath "$dir/게임")\\"
    e2e_registry_set "$folder"
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        command 1 settle 500 dump after click 2 wait-exit 30 || return
    e2e_expect "$report" start.1001 "$folder"
    e2e_expect "$report" start.1004 "Not found"
    e2e_expect "$report" start.1007 "Ver.1.1 (full)"
    e2e_expect "$report" start.1008 "インストール先を指定してください。"
    e2e_expect "$report" start.action_enabled no
    e2e_expect "$report" after.1008 "インストール先を指定してください。"
    cmp -s "$dir/게임/Tessavane.dat" "$dir/trees/base.dat" ||
        e2e_problem "Tessavane.dat changed although its folder was refused"
    e2e_expect "$report" exit 0
}

# No uninstall entry: the updater's own folder, with its trailing backslash.
e2e_case_registry_absent() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    mv "$dir/game/Tessavane.dat" "$dir/dl/"
    e2e_registry_clear
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        click 2 wait-exit 30 || return
    e2e_expect "$report" start.1001 "$(e2e_winpath "$dir/dl")\\"
    e2e_expect "$report" start.1004 "Ver.1.0 (full)"
    e2e_expect "$report" start.1007 "Ver.1.1 (full)"
    e2e_expect "$report" start.1008 "アップデートできます。"
    e2e_expect "$report" exit 0
}

# An entry whose value is no text (here 512 bytes without a terminator)
# names no folder: the updater's own folder is taken, as with no entry.
e2e_case_registry_not_text() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    mv "$dir/game/Tessavane.dat" "$dir/dl/"
    e2e_registry_clear
    local bytes
    bytes=$(printf '41%.0s' $(seq 512))
    e2e_wine 60 reg add "$e2e_uninstall_key" /v InstallLocation /t REG_BINARY /d "$bytes" /f \
        >>"$e2e_log" 2>&1 || e2e_problem "could not write the uninstall entry"
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        click 2 wait-exit 30 || return
    e2e_expect "$report" start.1001 "$(e2e_winpath "$dir/dl")\\"
    e2e_expect "$report" start.1008 "アップデートできます。"
    e2e_expect "$report" exit 0
}

# The update from the button: progress bar full, completion text, launch
# button; the merged archive replaces the old one and the loose files of
# /_extract are in the install folder. Leaves the screenshot.
e2e_case_update() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    e2e_registry_set "$(e2e_winpath "$dir/game")\\"
    local total
    total=$(e2e_union_count "$dir/trees/base" "$dir/trees/patch")

    # In the background, so that the screen can be taken while the driver
    # holds the dialog open.
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump before \
        click 1 dump after signal "$(e2e_winpath "$dir/shot.ready")" \
        await "$(e2e_winpath "$dir/shot.done")" 90 click 2 wait-exit 30 &
    local driver=$!
    local waited=0
    while [ ! -f "$dir/shot.ready" ] && kill -0 $driver 2>/dev/null && [ $waited -lt 1200 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if [ -f "$dir/shot.ready" ]; then
        sleep 0.5 # let the last paint reach the screen
        timeout 30 import -display ":$e2e_display" -window root "$e2e_root/updater-after-update$e2e_shot_suffix.png" \
            >>"$e2e_log" 2>&1 || e2e_problem "screenshot failed"
    fi
    touch "$dir/shot.done"
    wait $driver
    e2e_driver_status "$report" $? || return

    e2e_expect "$report" before.1008 "アップデートできます。"
    e2e_expect "$report" before.action "アップデート開始"
    e2e_expect "$report" after.1008 "アップデートが完了しました。"
    e2e_expect "$report" after.1004 "Ver.1.1 (full)"
    e2e_expect "$report" after.1007 "Ver.1.1 (full)"
    e2e_expect "$report" after.action "ゲーム起動"
    e2e_expect "$report" after.action_enabled yes
    e2e_expect "$report" after.progress_low 0
    e2e_expect "$report" after.progress_high "$total"
    e2e_expect "$report" after.progress_pos "$total"
    e2e_expect "$report" exit 0

    local game=$dir/game
    [ -e "$game/Tessavane.tmp" ] && e2e_problem "Tessavane.tmp left behind"
    e2e_check "the new Tessavane.dat does not verify" timeout 60 "$e2e_epk2" verify "$game/Tessavane.dat"
    [ "$(e2e_entry "$game/Tessavane.dat" /b.txt)" = "new b 1.1" ] ||
        e2e_problem "b.txt is not the patch's"
    [ "$(e2e_entry "$game/Tessavane.dat" /a.txt)" = "old a" ] ||
        e2e_problem "a.txt of the installed data lost"
    [ "$(e2e_entry "$game/Tessavane.dat" /data/c.txt)" = "old c" ] ||
        e2e_problem "data/c.txt of the installed data lost"
    [ "$(cat "$game/readme.txt" 2>/dev/null)" = "readme 1.1" ] ||
        e2e_problem "loose readme.txt missing"
    [ "$(cat "$game/notes.txt" 2>/dev/null)" = "notes 1.1" ] ||
        e2e_problem "loose notes.txt (from /_extract/sub) missing"
    [ -e "$game/sub" ] && e2e_problem "a sub-directory of /_extract was recreated"
}

# The patch is of another kind: the button is disabled, and even a command
# that reaches the dialog changes nothing.
e2e_case_attributes_differ() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 trial
    e2e_expect_patch_refused "$dir" "$report" "Ver.1.1 (trial)" \
        "種類が異なるのでパッチを適用できません。"
}

# No Patch.dat beside the updater.
e2e_case_patch_missing() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" "" ""
    e2e_registry_set "$(e2e_winpath "$dir/game")\\"
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        click 2 wait-exit 30 || return
    e2e_expect "$report" start.1004 "Ver.1.0 (full)"
    e2e_expect "$report" start.1007 "Not found"
    e2e_expect "$report" start.1008 "パッチデータファイルが見つかりません。"
    e2e_expect "$report" start.action "アップデート開始"
    e2e_expect "$report" start.action_enabled no
}

# Installed data as new as the patch: the button starts the game with the
# install folder as working directory, and the updater ends.
e2e_case_launch() {
    local dir=$1 report=$1/report.txt
    e2e_layout_with_game "$dir" 1.0 full
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        click 1 wait-exit 30 || return
    e2e_expect "$report" start.1008 "アップデートする必要がありません。"
    e2e_expect "$report" start.action "ゲーム起動"
    e2e_expect "$report" start.action_enabled yes
    e2e_expect "$report" exit 0
    local waited=0
    while [ ! -s "$dir/game/started.txt" ] && [ $waited -lt 300 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if [ ! -s "$dir/game/started.txt" ]; then
        e2e_problem "the game was not started"
    elif [ "$(cat "$dir/game/started.txt")" != "$(e2e_winpath "$dir/game")" ]; then
        e2e_problem "the game started in '$(cat "$dir/game/started.txt")'"
    fi
}

# "..." cancelled after the patch beside the updater was replaced: the field
# stays, the versions and the button are recomputed; the second update sets
# the bar's range anew and ends with the bar full.
e2e_case_second_update() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    e2e_registry_set "$(e2e_winpath "$dir/game")\\"
    e2e_patch_tree "$dir/trees/patch2" 1.2 full
    e2e_file "$dir/trees/patch2/e.txt" "new e"
    e2e_pack "$dir/trees/patch2" "$dir/Patch2.dat"
    local first second
    first=$(e2e_union_count "$dir/trees/base" "$dir/trees/patch")
    second=$(e2e_union_count "$dir/trees/base" "$dir/trees/patch" "$dir/trees/patch2")

    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" click 1 dump first \
        copy "$(e2e_winpath "$dir/Patch2.dat")" "$(e2e_winpath "$dir/dl/Patch.dat")" \
        post-click 1005 browser browser cancel-browser dump browsed \
        click 1 dump second click 2 wait-exit 30 || return
    e2e_expect "$report" first.progress_pos "$first"
    e2e_expect "$report" first.action "ゲーム起動"
    [[ $(e2e_value "$report" browser.texts) == *"|インストールしたフォルダを選択してください"* ]] ||
        e2e_problem "folder browser without its title: $(e2e_value "$report" browser.texts)"
    e2e_expect "$report" browsed.1001 "$(e2e_winpath "$dir/game")\\"
    e2e_expect "$report" browsed.1004 "Ver.1.1 (full)"
    e2e_expect "$report" browsed.1007 "Ver.1.2 (full)"
    e2e_expect "$report" browsed.1008 "アップデートできます。"
    e2e_expect "$report" browsed.action "アップデート開始"
    e2e_expect "$report" second.1008 "アップデートが完了しました。"
    e2e_expect "$report" second.1004 "Ver.1.2 (full)"
    e2e_expect "$report" second.progress_high "$second"
    e2e_expect "$report" second.progress_pos "$second"
    [ "$(e2e_entry "$dir/game/Tessavane.dat" /e.txt)" = "new e" ] ||
        e2e_problem "the second patch was not applied"
}

# A second click given while the update runs must not start the game once
# the button has turned into "ゲーム起動".
e2e_case_click_during_update() {
    local dir=$1 report=$1/report.txt
    e2e_layout_with_game "$dir" 1.1 full
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" \
        click-queued 1 wait-text 1008 "アップデートが完了しました。" 60 settle 1000 dump after \
        click 2 wait-exit 30 || return
    e2e_expect "$report" after.dialog present
    e2e_expect "$report" after.action "ゲーム起動"
    sleep 0.5
    [ -e "$dir/game/started.txt" ] && e2e_problem "the game was started by the queued click"
    e2e_expect "$report" exit 0
}

# An update of tens of thousands of files keeps the dialog answering: every WM_NULL
# ping of the driver is answered within a second, as Windows wants of a window
# that is not to be shown as hung. Presses, keys, "..." and a close queued
# meanwhile do nothing: one update runs, the dialog stays and the game is not
# started.
e2e_case_responsive_update() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    # Thousands of files in the patch, each checked on its way in, so that
    # the update lasts many pings.
    e2e_many_files "$dir/trees/patch/many" 24000
    e2e_pack "$dir/trees/patch" "$dir/dl/Patch.dat" || return
    cp "$e2e_helpers/updater_e2e_game.exe" "$dir/game/Tessavane.exe"
    e2e_registry_set "$(e2e_winpath "$dir/game")\\"
    local total
    total=$(e2e_union_count "$dir/trees/base" "$dir/trees/patch")
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" \
        click-meddled 1 settle 1000 dump after click 2 wait-exit 30 || return

    local sent answered
    sent=$(e2e_value "$report" pinged.sent)
    answered=$(e2e_value "$report" pinged.answered)
    echo "   pings: $answered of $sent answered, slowest $(e2e_value "$report" pinged.slowest_ms) ms;" \
        "update $(e2e_value "$report" pinged.press_ms) ms" >>"$e2e_log"
    [ "${sent:-0}" -gt 0 ] || e2e_problem "no ping was sent during the update"
    [ "$answered" = "$sent" ] || e2e_problem "$answered of $sent pings answered within 1 s"
    e2e_expect "$report" pinged.meddled yes
    e2e_expect "$report" pinged.browser none
    e2e_expect "$report" after.visible yes
    e2e_expect "$report" after.1008 "アップデートが完了しました。"
    e2e_expect "$report" after.action "ゲーム起動"
    e2e_expect "$report" after.progress_high "$total"
    e2e_expect "$report" after.progress_pos "$total"
    e2e_expect "$report" exit 0
    [ -e "$dir/game/started.txt" ] && e2e_problem "a queued press started the game"
    [ "$(e2e_entry "$dir/game/Tessavane.dat" /many/59/f5999.txt)" = "file 5999" ] ||
        e2e_problem "the installed files are not in the new Tessavane.dat"
    [ "$(e2e_entry "$dir/game/Tessavane.dat" /b.txt)" = "new b 1.1" ] ||
        e2e_problem "b.txt is not the patch's"
}

# The game is running and holds Tessavane.dat open: the merged archive cannot
# take its place. The update says so, the installed archive keeps its bytes
# and the dialog its versions, and the merged archive does not stay behind.
e2e_case_game_holds_data() {
    local dir=$1 report=$1/report.txt
    e2e_layout_with_game "$dir" 1.1 full
    if ! e2e_hold_start "$dir/game/Tessavane.exe" "$dir/game/Tessavane.dat" "$dir"; then
        e2e_hold_stop "$dir"
        return
    fi
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        click 1 dump after click 2 wait-exit 30
    local driven=$?
    e2e_hold_stop "$dir"
    [ $driven -eq 0 ] || return

    e2e_expect "$report" start.1008 "アップデートできます。"
    e2e_expect "$report" after.1008 "データファイルの上書きに失敗しました。"
    e2e_expect "$report" after.1004 "Ver.1.0 (full)"
    e2e_expect "$report" after.action "アップデート開始"
    e2e_expect "$report" exit 0
    cmp -s "$dir/game/Tessavane.dat" "$dir/trees/base.dat" ||
        e2e_problem "Tessavane.dat changed although the game held it"
    [ -e "$dir/game/Tessavane.tmp" ] && e2e_problem "Tessavane.tmp left behind"
}

# The updater built with a key applies a patch signed with its private half,
# as the unsigned build applies any patch.
e2e_case_signed_accepted() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    e2e_use_signed_updater "$dir"
    e2e_sign "$dir/dl/Patch.dat" || return
    e2e_registry_set "$(e2e_winpath "$dir/game")\\"
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        click 1 dump after click 2 wait-exit 30 || return
    e2e_expect "$report" start.1007 "Ver.1.1 (full)"
    e2e_expect "$report" start.1008 "アップデートできます。"
    e2e_expect "$report" start.action_enabled yes
    e2e_expect "$report" after.1008 "アップデートが完了しました。"
    e2e_expect "$report" after.1004 "Ver.1.1 (full)"
    e2e_expect "$report" exit 0
    [ "$(e2e_entry "$dir/game/Tessavane.dat" /b.txt)" = "new b 1.1" ] ||
        e2e_problem "b.txt is not the patch's"
    [ "$(cat "$dir/game/readme.txt" 2>/dev/null)" = "readme 1.1" ] ||
        e2e_problem "loose readme.txt missing"
}

# A refused patch: the status line says why, the button is disabled, a
# command that reaches the dialog all the same changes nothing, and the
# install folder keeps its bytes.
e2e_expect_patch_refused() { # case folder, report, patch version shown, status
    local dir=$1 report=$2
    e2e_registry_set "$(e2e_winpath "$dir/game")\\"
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        command 1 settle 500 dump after click 2 wait-exit 30 || return
    e2e_expect "$report" start.1004 "Ver.1.0 (full)"
    e2e_expect "$report" start.1007 "$3"
    e2e_expect "$report" start.1008 "$4"
    e2e_expect "$report" start.action "アップデート開始"
    e2e_expect "$report" start.action_enabled no
    e2e_expect "$report" after.1008 "$4"
    e2e_expect "$report" after.1004 "Ver.1.0 (full)"
    e2e_expect "$report" exit 0
    cmp -s "$dir/game/Tessavane.dat" "$dir/trees/base.dat" ||
        e2e_problem "Tessavane.dat changed although the patch was refused"
    [ -e "$dir/game/Tessavane.tmp" ] && e2e_problem "a merge was started"
    [ -e "$dir/game/readme.txt" ] && e2e_problem "a loose file was written"
}

# The signed updater of the case folder refuses its patch: the signature
# cannot be confirmed.
e2e_expect_signature_refused() { # case folder, report
    e2e_use_signed_updater "$1"
    e2e_expect_patch_refused "$1" "$2" "Ver.1.1 (full)" "パッチの署名を確認できません。"
}

e2e_case_unsigned_refused() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    e2e_expect_signature_refused "$dir" "$report"
}

# One byte of the signed patch changed (inside a large entry, so the archive
# still opens and shows its version).
e2e_case_tampered_refused() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    head -c 200000 /dev/urandom >"$dir/trees/patch/data.bin"
    e2e_pack "$dir/trees/patch" "$dir/dl/Patch.dat" || return
    e2e_sign "$dir/dl/Patch.dat" || return
    e2e_flip_byte "$dir/dl/Patch.dat" $(($(stat -c %s "$dir/dl/Patch.dat") / 2))
    e2e_expect_signature_refused "$dir" "$report"
}

# Built without a key, the updater behaves as it always did: a patch applies
# unsigned, and a signature file beside it (here a broken one) is ignored.
e2e_case_keyless_build_accepts() {
    local dir=$1 report=$1/report.txt
    e2e_layout "$dir" 1.1 full
    printf 'no signature\n' >"$dir/dl/Patch.sig"
    e2e_registry_set "$(e2e_winpath "$dir/game")\\"
    e2e_drive "$report" start "$(e2e_winpath "$dir/dl/TessavaneUpdater.exe")" dump start \
        click 1 dump after click 2 wait-exit 30 || return
    e2e_expect "$report" start.1008 "アップデートできます。"
    e2e_expect "$report" start.action_enabled yes
    e2e_expect "$report" after.1008 "アップデートが完了しました。"
    [ "$(e2e_entry "$dir/game/Tessavane.dat" /b.txt)" = "new b 1.1" ] ||
        e2e_problem "b.txt is not the patch's"
}

# Keys and signatures cross between the builds through files: epk2.exe (CNG
# under Wine) checks what the Linux tool made and the reverse, and OpenSSL
# checks what the Windows build made.
e2e_case_signature_interop() {
    local dir=$1 exe=$e2e_windows/epk2.exe
    e2e_layout "$dir" 1.1 full
    local patch=$dir/dl/Patch.dat signature=$dir/dl/Patch.sig
    local native_ok windows_ok
    ( cd "$dir" && timeout 60 "$e2e_epk2" keygen linux ) >>"$e2e_log" 2>&1 ||
        e2e_problem "epk2 keygen failed"
    ( cd "$dir" && e2e_wine 120 "$exe" keygen windows ) >>"$e2e_log" 2>&1 ||
        e2e_problem "epk2.exe keygen failed"

    timeout 60 "$e2e_epk2" sign "$patch" --key "$dir/linux.key" >>"$e2e_log" 2>&1 ||
        e2e_problem "epk2 sign failed"
    e2e_wine 120 "$exe" verify "$(e2e_winpath "$patch")" --public-key "$(e2e_winpath "$dir/linux.pub")" \
        >>"$e2e_log" 2>&1 || e2e_problem "epk2.exe does not verify the Linux signature"
    e2e_wine 120 "$exe" verify "$(e2e_winpath "$patch")" --public-key "$(e2e_winpath "$dir/windows.pub")" \
        >>"$e2e_log" 2>&1 && e2e_problem "epk2.exe verifies the Linux signature with another key"

    e2e_wine 120 "$exe" sign "$(e2e_winpath "$patch")" --key "$(e2e_winpath "$dir/windows.key")" \
        >>"$e2e_log" 2>&1 || e2e_problem "epk2.exe sign failed"
    timeout 60 "$e2e_epk2" verify "$patch" --public-key "$dir/windows.pub" >>"$e2e_log" 2>&1 ||
        e2e_problem "epk2 does not verify the Windows signature"
    if command -v openssl >/dev/null; then
        openssl dgst -sha256 -verify "$dir/windows.pub" -signature "$signature" "$patch" \
            >>"$e2e_log" 2>&1 || e2e_problem "openssl does not verify the Windows signature"
        openssl pkey -in "$dir/windows.key" -pubout 2>>"$e2e_log" | cmp -s - "$dir/windows.pub" ||
            e2e_problem "openssl reads another public key from the Windows key file"
    fi
}

# epk2.exe on Japanese names, whatever the system's code page: it packs a
# tree named in Japanese ("表" and "ソ" end in the byte 0x5C), lists it as the
# Linux tool does, and updates an install folder named in Japanese. An
# argument with no code page 932 form is refused, and named.
e2e_case_tool_japanese_tree() {
    local dir=$1 exe=$e2e_windows/epk2.exe
    local tree=$dir/データ表 patch=$dir/パッチ install=$dir/インストール先ソフト
    e2e_info "$tree" 1.0 full
    e2e_file "$tree/表/ソース.txt" "old table"
    e2e_file "$tree/キャラ/テッサ.txt" "tessa"
    e2e_info "$patch" 1.1 full
    e2e_file "$patch/表/ソース.txt" "new table"
    e2e_file "$patch/_extract/説明書.txt" "manual"
    mkdir -p "$install"
    e2e_wine 120 "$exe" pack "$(e2e_winpath "$tree")" -o "$(e2e_winpath "$install/Tessavane.dat")" \
        >>"$e2e_log" 2>&1 || e2e_problem "epk2.exe pack of a Japanese tree failed"
    e2e_wine 120 "$exe" pack "$(e2e_winpath "$patch")" -o "$(e2e_winpath "$dir/パッチ.dat")" \
        >>"$e2e_log" 2>&1 || e2e_problem "epk2.exe pack of a Japanese patch failed"

    # A pipe gets the tool's code page 932 bytes.
    e2e_wine 120 "$exe" list "$(e2e_winpath "$install/Tessavane.dat")" 2>>"$e2e_log" |
        iconv -f CP932 -t UTF-8 >"$dir/list.windows"
    LC_ALL=C.UTF-8 timeout 60 "$e2e_epk2" list "$install/Tessavane.dat" >"$dir/list.native" 2>>"$e2e_log"
    grep -q '/表/ソース.txt' "$dir/list.native" || e2e_problem "the archive lacks /表/ソース.txt"
    cmp -s "$dir/list.windows" "$dir/list.native" ||
        e2e_problem "epk2.exe lists otherwise: $(diff "$dir/list.native" "$dir/list.windows" | head -n3 | tr '\n' ' ')"

    e2e_wine 240 "$exe" update "$(e2e_winpath "$install")" --patch "$(e2e_winpath "$dir/パッチ.dat")" \
        >>"$e2e_log" 2>&1 || e2e_problem "epk2.exe update of a Japanese install folder failed"
    [ "$(LC_ALL=C.UTF-8 timeout 60 "$e2e_epk2" cat "$install/Tessavane.dat" /表/ソース.txt 2>>"$e2e_log")" = "new table" ] ||
        e2e_problem "/表/ソース.txt is not the patch's"
    [ "$(LC_ALL=C.UTF-8 timeout 60 "$e2e_epk2" cat "$install/Tessavane.dat" /キャラ/テッサ.txt 2>>"$e2e_log")" = tessa ] ||
        e2e_problem "/キャラ/テッサ.txt of the installed data lost"
    [ "$(cat "$install/説明書.txt" 2>/dev/null)" = manual ] || e2e_problem "loose 説明書.txt missing"

    # Hangul has no code page 932 form.
    local status=0
    e2e_wine 60 "$exe" list "$(e2e_winpath "$dir/한국어.dat")" >"$dir/refused.out" 2>"$dir/refused.err" ||
        status=$?
    [ $status -eq 2 ] || e2e_problem "an argument with no code page 932 form gave status $status"
    grep -q 'argument 2 ' "$dir/refused.err" ||
        e2e_problem "the refused argument is not named: $(head -c 200 "$dir/refused.err")"
}

# --- the run ----------------------------------------------------------------

e2e_run_case() { # name
    local name=$1 dir=$e2e_cases/$1 label=$1${e2e_locale:+ ($e2e_locale)}
    rm -rf "$dir"
    mkdir -p "$dir"
    e2e_problems=()
    echo "-- $label" >>"$e2e_log"
    "e2e_case_$name" "$dir"
    if [ ${#e2e_problems[@]} -eq 0 ]; then
        total_passed=$((total_passed + 1))
        echo "   ok      $label"
    else
        echo "   FAILED  $label"
        printf '           %s\n' "${e2e_problems[@]}"
        printf '%s\n' "${e2e_problems[@]}" >>"$e2e_log"
        note_failure "e2e $label"
    fi
}

e2e_start_xvfb() {
    local number_file=$e2e_root/xvfb.display waited=0
    rm -f "$number_file"
    # -displayfd picks a free display, so parallel runs do not collide.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" >>"$e2e_log" 2>&1 &
    e2e_xvfb=$!
    while [ ! -s "$number_file" ] && [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    e2e_display=$(head -n1 "$number_file" 2>/dev/null)
    [ -n "$e2e_display" ]
}

e2e_prepare_prefix() {
    if [ ! -f "$e2e_prefix/system.reg" ]; then
        e2e_wine 300 wineboot -i >>"$e2e_log" 2>&1
        env WINEPREFIX="$e2e_prefix" timeout 120 wineserver -w
    fi
    # Wine draws the captions itself: Xvfb has no window manager, and the
    # screenshot should show the dialog's title.
    e2e_wine 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$e2e_log" 2>&1
}

# An English Windows shows Japanese in its dialog font (Tahoma) through the
# font link to MS UI Gothic; Wine links to that name too but has no such
# font, so the link is pointed at the Japanese font installed here. Wine
# rewrites these links whenever the locale changes, so this runs in the
# round's own locale.
e2e_link_japanese_fonts() {
    local face
    for face in Tahoma "Microsoft Sans Serif"; do
        e2e_wine 60 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic\0MSGOTHIC.TTC,MS UI Gothic' /f \
            >>"$e2e_log" 2>&1
    done
}

e2e_stop() {
    if [ -n "${e2e_holder:-}" ]; then
        kill "$e2e_holder" 2>/dev/null
        wait "$e2e_holder" 2>/dev/null
        e2e_holder=
    fi
    if [ -n "${e2e_prefix:-}" ]; then
        env WINEPREFIX="$e2e_prefix" timeout 30 wineserver -k >/dev/null 2>&1
    fi
    if [ -n "${e2e_xvfb:-}" ]; then
        kill "$e2e_xvfb" 2>/dev/null
        wait "$e2e_xvfb" 2>/dev/null
        e2e_xvfb=
    fi
}

run_e2e_tests() { # Windows build folder
    local top=${root:-$(pwd)}
    echo "== updater end-to-end tests under Wine ($1)"
    # The Wine of run_tests.sh's probe: 32-bit programs, or the 64-bit build
    # under wine64 where this machine runs no 32-bit programs.
    e2e_loader=${wine_loader:-wine}
    e2e_arch=${wine_arch:-win32}
    e2e_loader_env=
    [ "$e2e_loader" = wine ] || e2e_loader_env="WINELOADER=$e2e_loader"
    e2e_bin=$top/$1/updater/win32
    # What ships is always the 32-bit build: its resources and imports are
    # read from the file, whichever build runs.
    e2e_ship_bin=$top/build/windows/updater/win32
    e2e_helpers=$top/$1/tests/updater/e2e
    e2e_windows=$top/$1
    e2e_test_key=$top/tests/data/signing/test_only_publisher
    e2e_root=$top/build/e2e
    e2e_prefix=${E2E_WINEPREFIX:-$top/build/wineprefix-e2e-$e2e_arch}
    e2e_epk2=${E2E_EPK2:-$top/build/native/epk2}
    e2e_log=$e2e_root/e2e.log
    e2e_cases=$e2e_root/cases
    e2e_locale=
    e2e_shot_suffix=
    e2e_xvfb=
    e2e_holder=
    mkdir -p "$e2e_root"
    : >"$e2e_log"

    local missing=
    for file in "$e2e_bin/TessavaneUpdater.exe" "$e2e_bin/TessavaneUpdater_signed.exe" \
        "$e2e_ship_bin/TessavaneUpdater.exe" "$e2e_ship_bin/TessavaneUpdater_signed.exe" \
        "$e2e_helpers/updater_e2e_driver.exe" "$e2e_helpers/updater_e2e_game.exe" \
        "$e2e_windows/epk2.exe" "$e2e_epk2"; do
        [ -f "$file" ] || missing="$missing $file"
    done
    for tool in "$e2e_loader" wineserver Xvfb import i686-w64-mingw32-objdump; do
        command -v $tool >/dev/null || missing="$missing $tool"
    done
    if [ -n "$missing" ]; then
        echo "   missing:$missing"
        note_failure "e2e: missing$missing"
        return
    fi

    e2e_run_case imports
    if ! e2e_start_xvfb; then
        note_failure "e2e: Xvfb did not start"
        e2e_stop
        return
    fi
    e2e_prepare_prefix
    # Every case runs on a Japanese Windows (code page 932) and on an English
    # one (code page 1252), where the players abroad are: the same texts must
    # show and the same files be reached. The English round works below a
    # folder named in Japanese, so every install and download folder is one.
    # E2E_CASES="update launch" runs only those (the imports case always runs);
    # E2E_LOCALES="en_US.UTF-8" only that round.
    local name
    for e2e_locale in ${E2E_LOCALES:-ja_JP.UTF-8 en_US.UTF-8}; do
        if [ "$e2e_locale" = ja_JP.UTF-8 ]; then
            e2e_cases=$e2e_root/cases
            e2e_shot_suffix=
        else
            e2e_cases=$e2e_root/cases-${e2e_locale%%.*}/テッサヴェイン体験版
            e2e_shot_suffix=-${e2e_locale%%.*}
            e2e_link_japanese_fonts
        fi
        for name in ${E2E_CASES:-resources registry_present registry_unrepresentable registry_absent \
            registry_not_text update attributes_differ patch_missing launch second_update click_during_update \
            responsive_update game_holds_data signed_accepted unsigned_refused tampered_refused \
            keyless_build_accepts signature_interop tool_japanese_tree}; do
            e2e_run_case $name
        done
    done
    e2e_locale=
    e2e_registry_clear >/dev/null
    e2e_stop
    local shot
    for shot in "$e2e_root"/updater-after-update*.png; do
        [ -f "$shot" ] && echo "   screenshot: build/e2e/${shot##*/}"
    done
}
