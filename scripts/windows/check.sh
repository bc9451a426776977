#!/usr/bin/env bash
# Korvanda for Windows in one command: builds the Windows libraries if they are not cached
# (build-deps.sh), builds Korvanda with MinGW-w64, runs its tests under Wine, makes the zip and
# the installer in build-windows/packages/, and checks both under Wine: the zip from a fresh
# prefix with an empty WINEPATH, the installer silently (/S), started, and uninstalled again.
# Not part of ./test.sh, which stays Linux-only.
#
# usage: scripts/windows/check.sh [--no-tests] [--no-packages] [ctest arguments...]
#        scripts/windows/check.sh --wine-only   installs Wine and the rest, makes the test prefix
# environment: KORVANDA_WINDOWS_CACHE, KORVANDA_WINDOWS_JOBS as for build-deps.sh
set -euo pipefail
# Everything runs from this function, read whole before it starts, so that editing the script
# cannot disturb a check that is running.
main() {
    root=$(cd "$(dirname "$0")/../.." && pwd)
    cd "$root"
    tests=1 packages=1 wine_only=0
    while [ $# -gt 0 ]; do
        case "$1" in
        --no-tests) tests=0; shift ;;
        --no-packages) packages=0; shift ;;
        --wine-only) wine_only=1; shift ;;
        *) break ;;
        esac
    done
    build=${KORVANDA_WINDOWS_BUILD:-build-windows}
    jobs=${KORVANDA_WINDOWS_JOBS:-2}
    ((jobs >= 1 && jobs <= 2)) || jobs=2
    started=$(date +%s)
    say() { printf '%s  [%4d s] %s\n' "$(date +%H:%M:%S)" $(($(date +%s) - started)) "$*"; }
    failures=()

    # --- what the Windows side needs from Debian -------------------------------------------------
    wanted=(wine wine64 nsis locales xvfb xauth x11-apps imagemagick fonts-ipafont-gothic
        qt6-translations-l10n unzip)
    missing=()
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        say "installing: ${missing[*]}"
        sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq || true
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
    # Wine takes its ANSI code page from the locale: ja_JP.UTF-8 gives 932.
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
        say "generating the ja_JP.UTF-8 locale"
        sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
        grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
        $sudo locale-gen >/dev/null
    fi

    # --- a Wine prefix of our own ------------------------------------------------------------------
    # No Mono or Gecko (nothing here needs them, and there is no network to fetch them), and a
    # Japanese font standing in for the Windows UI fonts, or the captions would be boxes.
    make_prefix() { # FOLDER
        local p=$1
        [ -f "$p/.korvanda-ready" ] && return
        rm -rf "$p"
        say "making the Wine prefix $p"
        WINEPREFIX=$p WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 wineboot -i >/dev/null 2>&1
        local font=IPAPGothic
        local reg=$p/korvanda-fonts.reg
        {
            printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
            for face in "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" "Meiryo" "Meiryo UI" "Yu Gothic UI" \
                "Tahoma" "ＭＳ Ｐゴシック" "ＭＳ ゴシック" "MS PGothic" "MS Gothic"; do
                printf '"%s"="%s"\r\n' "$face" "$font"
            done
        } | iconv -f UTF-8 -t CP932 >"$reg"
        WINEPREFIX=$p WINEDEBUG=-all LANG=ja_JP.UTF-8 wine regedit "$reg" >/dev/null 2>&1
        WINEPREFIX=$p wineserver -w
        touch "$p/.korvanda-ready"
    }
    cache=${KORVANDA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvanda-windows}
    export KORVANDA_WINEPREFIX=$cache/wine-tests
    make_prefix "$KORVANDA_WINEPREFIX"
    if ((wine_only)); then
        say "Wine is ready: $KORVANDA_WINEPREFIX"
        exit 0
    fi

    # --- the libraries ---------------------------------------------------------------------------
    say "Windows libraries (build-deps.sh; nothing is built again when cached)"
    scripts/windows/build-deps.sh
    prefix=$(scripts/windows/build-deps.sh --prefix)
    export KORVANDA_WINDOWS_PREFIX=$prefix

    # --- Korvanda --------------------------------------------------------------------------------
    say "configuring $build"
    if [ ! -f "$build/CMakeCache.txt" ]; then
        nice -n 19 cmake -S . -B "$build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows/mingw-w64-x86_64.cmake" \
            -DKORVANDA_WINDOWS_PREFIX="$prefix" -DQt6_DIR="$prefix/lib/cmake/Qt6" \
            -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
            -DCMAKE_BUILD_TYPE=Release -DKORVANDA_WERROR=ON -DKORVANDA_BUILD_BENCH=OFF \
            -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/windows/wine-run.sh"
    fi
    say "building"
    built_at=$(date +%s)
    nice -n 19 cmake --build "$build" --parallel "$jobs"
    # The scan printer is built only when asked for (the scan comparison below).
    ((tests)) && nice -n 19 cmake --build "$build" --parallel "$jobs" --target korvanda_printscan
    say "built in $(($(date +%s) - built_at)) s: $(du -h "$build/src/korvanda.exe" | cut -f1) korvanda.exe"

    # --- the tests under Wine ----------------------------------------------------------------------
    # Left out: the walk-through (AT-SPI, which Wine's windows do not offer), the session test (a
    # Linux shell script), and the tests that need a real sound device (label audio) or the X
    # display of test.sh (label xvfb).
    excluded='^(app_walkthrough|session_ends_everything)$'
    if ((tests)); then
        say "tests under Wine (offscreen, LANG=ja_JP.UTF-8, ANSI code page 932)"
        ctest_status=0 tested_at=$(date +%s)
        export KORVANDA_QTEST_SUMMARY=$root/$build/qtest-summary.txt
        rm -f "$KORVANDA_QTEST_SUMMARY"
        # A test program under Wine now and then hangs after its last case, in libstdc++'s
        # DLL_PROCESS_DETACH (seen with tst_mainwindow and tst_loudness, only while other programs
        # run beside it): a test that timed out runs once more.
        (cd "$build" && nice -n 19 ctest --output-on-failure -j "$jobs" --repeat after-timeout:2 \
            -E "$excluded" -LE 'audio|xvfb' "$@") || ctest_status=$?
        ((ctest_status == 0)) || failures+=("tests under Wine")
        WINEPREFIX=$KORVANDA_WINEPREFIX wineserver -k 2>/dev/null || true # nothing left hanging
        # What was left out, case by case, with the reason each gave.
        say "tests under Wine took $(($(date +%s) - tested_at)) s; cases: $(awk '/^Totals:/ { p += $2; f += $4; s += $6 }
            END { printf "%d passed, %d failed, %d skipped", p, f, s }' "$KORVANDA_QTEST_SUMMARY" 2>/dev/null); skipped:"
        { grep -a '^SKIP ' "$KORVANDA_QTEST_SUMMARY" | sed 's/^SKIP *: */    /' | sort -u; } || true
        unset KORVANDA_QTEST_SUMMARY
    fi

    # --- the same export on both systems ----------------------------------------------------------
    # A Japanese-named set list exported by the Linux program and by the Windows one under Wine must
    # give the same bytes, for the originals (元のまま) and for WAV.
    if ((tests)); then
        say "the same export on Linux and under Wine"
        nice -n 19 scripts/setup.sh --target korvanda build >/dev/null
        corpus=$build/same-export
        rm -rf "$corpus"
        mkdir -p "$corpus/曲" "$corpus/linux" "$corpus/windows"
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=4" -ar 44100 "$corpus/曲/夜明けの歌.wav"
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=660:duration=3" -c:a libmp3lame -b:a 192k "$corpus/曲/青い空.mp3"
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=550:duration=5" "$corpus/曲/ラスト・ソング.flac"
        printf '#EXTM3U\n#PLAYLIST:金曜ライブ\n曲/夜明けの歌.wav\n曲/青い空.mp3\n曲/ラスト・ソング.flac\n' >"$corpus/金曜ライブ.m3u8"
        for format in copy wav; do
            build/src/korvanda --export "$corpus/linux/$format" --format "$format" "$corpus/金曜ライブ.m3u8" >/dev/null
            scripts/windows/wine-run.sh "$build/src/korvanda.exe" --export "$(WINEPREFIX=$KORVANDA_WINEPREFIX winepath -w "$corpus/windows/$format")" \
                --format "$format" "$(WINEPREFIX=$KORVANDA_WINEPREFIX winepath -w "$corpus/金曜ライブ.m3u8")" >/dev/null
            if diff -r "$corpus/linux/$format" "$corpus/windows/$format" >/dev/null; then
                say "export ($format): byte-identical ($(find "$corpus/linux/$format" -type f | wc -l) files)"
            else
                failures+=("export ($format) differs between Linux and Wine")
            fi
        done
    fi

    # --- the same scan on both systems ------------------------------------------------------------
    # A Japanese-named library scanned by the window's own scan (korvanda_printscan: the main window
    # made without being shown, its source folder read from motodata.dat as at every start, the
    # scan button pressed) must list the same rows with the same lengths. The settings file is in
    # the system's 8-bit encoding: UTF-8 on Linux, code page 932 under Wine.
    if ((tests)); then
        say "the same scan on Linux and under Wine"
        nice -n 19 scripts/setup.sh --target korvanda_printscan build >/dev/null
        scan=$build/same-scan
        rm -rf "$scan"
        mkdir -p "$scan/ライブラリ/古い曲" "$scan/linux" "$scan/windows"
        library=$scan/ライブラリ
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=61.5" -ar 44100 "$library/夜明けの歌.wav"
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=660:duration=3.2" -c:a libmp3lame -b:a 192k "$library/青い空.mp3"
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=550:duration=125" "$library/ラスト・ソング.flac"
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=330:duration=7.9" -c:a libvorbis "$library/ｶﾀｶﾅ半角.ogg"
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=880:duration=42" -c:a aac -b:a 128k "$library/Encore アンコール.m4a"
        printf 'メモ\r\n' | iconv -f UTF-8 -t CP932 >"$library/曲順メモ.txt"
        printf '"%s"\r\n' "$library" >"$scan/linux/motodata.dat"
        printf '"%s"\r\n' "$(WINEPREFIX=$KORVANDA_WINEPREFIX winepath -w "$library")" | iconv -f UTF-8 -t CP932 >"$scan/windows/motodata.dat"
        QT_QPA_PLATFORM=offscreen build/tests/support/korvanda_printscan "$scan/linux" "$scan/linux.txt"
        QT_QPA_PLATFORM=offscreen scripts/windows/wine-run.sh "$build/tests/support/korvanda_printscan.exe" \
            "$(WINEPREFIX=$KORVANDA_WINEPREFIX winepath -w "$scan/windows")" "$(WINEPREFIX=$KORVANDA_WINEPREFIX winepath -w "$scan/windows.txt")"
        if [ -s "$scan/linux.txt" ] && ! grep -q '^said:' "$scan/linux.txt" && cmp -s "$scan/linux.txt" "$scan/windows.txt"; then
            say "scan: the same $(wc -l <"$scan/linux.txt") rows and lengths"
            sed 's/^/    /' "$scan/linux.txt"
        else
            diff "$scan/linux.txt" "$scan/windows.txt" || true
            failures+=("scan differs between Linux and Wine")
        fi
    fi

    # --- the packages ------------------------------------------------------------------------------
    if ((packages)); then
        version=$(sed -n 's/^project(korvanda VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
        name=korvanda-$version-windows-x64
        out=$build/packages
        stage=$build/stage/$name
        rm -rf "$build/stage" "$out"
        mkdir -p "$out"
        say "installing into $stage"
        cmake --install "$build" --prefix "$stage" --strip
        (cd "$build/stage" && cmake -E tar cf "../packages/$name.zip" --format=zip "$name")
        zip_bytes=$(stat -c %s "$out/$name.zip")
        say "zip: $out/$name.zip, $((zip_bytes / 1024 / 1024)) MiB ($zip_bytes bytes)"
        ((zip_bytes <= 40 * 1024 * 1024)) || failures+=("zip larger than 40 MiB")
        say "installer (NSIS)"
        makensis -V2 -DVERSION="$version" -DSTAGE="$(realpath "$stage")" -DOUTFILE="$(realpath "$out")/$name-setup.exe" \
            packaging/windows/korvanda.nsi
        say "installer: $(du -h "$out/$name-setup.exe" | cut -f1)"

        # The zip alone, in a prefix that has never seen the libraries, with no DLL search path:
        # a DLL missing from the zip stops the program here.
        fresh=$cache/wine-fresh
        rm -f "$fresh/.korvanda-ready"
        make_prefix "$fresh"
        rm -rf "$build/unzipped"
        mkdir -p "$build/unzipped"
        (cd "$build/unzipped" && unzip -q "../packages/$name.zip")
        run_fresh() { KORVANDA_WINEPREFIX=$fresh KORVANDA_WINEPATH_EMPTY=1 scripts/windows/wine-run.sh "$@"; }
        if run_fresh "$build/unzipped/$name/korvanda.exe" --version | tr -d '\r' | grep -qx "korvanda $version"; then
            say "zip: korvanda.exe --version answers in a fresh prefix"
        else
            failures+=("zip: --version")
        fi
        # The window on a virtual display with the Windows platform plugin; its picture shows whether
        # the Japanese captions are text. The Wine session the --version above started had no
        # display, and a window asked of it is never created ("Failed to create platform window"):
        # it is ended first, so that the window's session starts on Xvfb.
        say "zip: starting the window on Xvfb"
        WINEPREFIX=$fresh wineserver -k 2>/dev/null || true
        KORVANDA_WINEPREFIX=$fresh KORVANDA_WINEPATH_EMPTY=1 xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
            "$0" "$1" >"$3" 2>&1 & pid=$!
            sleep 20
            import -window root "$2" || true
            WINEPREFIX=$KORVANDA_WINEPREFIX wineserver -k
            wait $pid 2>/dev/null || true' \
            "$root/scripts/windows/wine-run.sh" "$build/unzipped/$name/korvanda.exe" "$out/window.png" "$out/window.log" \
            || true
        # A window that never opened leaves a black screen of one colour.
        colours=$(convert "$out/window.png" -format %k info: 2>/dev/null || echo 0)
        if ((colours > 16)) && ! grep -aq 'Failed to create platform window' "$out/window.log"; then
            say "zip: the window opened ($colours colours): $out/window.png"
        else
            failures+=("zip: the window did not open (see $out/window.log)")
        fi

        # The installer, silently, then the program it installed, then the uninstaller.
        say "installer: silent install, start, uninstall"
        run_fresh "$out/$name-setup.exe" /S
        WINEPREFIX=$fresh wineserver -w
        installed="$fresh/drive_c/Program Files/Korvanda"
        if [ -f "$installed/korvanda.exe" ] \
            && run_fresh "$installed/korvanda.exe" --version | tr -d '\r' | grep -qx "korvanda $version"; then
            say "installer: installed and started"
        else
            failures+=("installer: install")
        fi
        run_fresh "$installed/uninstall.exe" /S || true
        WINEPREFIX=$fresh wineserver -w
        # The uninstaller copies itself away and runs from there: give it a moment.
        for _ in $(seq 30); do [ -e "$installed/korvanda.exe" ] || break; sleep 1; done
        [ ! -e "$installed/korvanda.exe" ] && say "installer: uninstalled" || failures+=("installer: uninstall")
    fi

    say "done in $(($(date +%s) - started)) s"
    if ((${#failures[@]})); then
        printf 'FAILED: %s\n' "${failures[@]}"
        exit 1
    fi
    echo "Windows check passed"
}

main "$@"
exit $?
