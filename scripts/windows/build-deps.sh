#!/usr/bin/env bash
# Builds the Windows libraries Korvanda links against, from Debian's own source packages, with
# MinGW-w64, into one prefix kept in a cache folder outside the repository:
#   MinGW-w64 (Debian's packages) -> Qt 6 qtbase, LAME, FFmpeg (only what Korvanda uses), TagLib,
#   libebur128, Rubber Band (key and tempo; static, its own FFT and resampler), Qt qtshadertools,
#   qtmultimedia (Korvanda draws no SVG: no qtsvg).
# Each step leaves a stamp file; a step whose stamp is there is skipped, so a second run builds
# nothing and an interrupted run carries on where it stopped (the Qt steps keep their Ninja trees).
#
# usage: scripts/windows/build-deps.sh            build what is missing
#        scripts/windows/build-deps.sh --status   say which steps are done and how far the running one is
#        scripts/windows/build-deps.sh --prefix   print the prefix folder
#        scripts/windows/build-deps.sh --redo STEP  forget STEP's stamp (and its build tree), then build
# environment: KORVANDA_WINDOWS_CACHE  the cache folder (default ${XDG_CACHE_HOME:-$HOME/.cache}/korvanda-windows)
#              KORVANDA_WINDOWS_JOBS   parallel compile jobs, at most 2 (default 2); every job runs at nice 19
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cache=${KORVANDA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvanda-windows}
prefix=$cache/prefix
jobs=${KORVANDA_WINDOWS_JOBS:-2}
((jobs >= 1 && jobs <= 2)) || jobs=2
triple=x86_64-w64-mingw32
host_cmake_dir=/usr/lib/x86_64-linux-gnu/cmake
steps=(packages sources rubberband qtbase lame ffmpeg taglib ebur128 qtshadertools qtmultimedia)

mkdir -p "$cache"/{src,build,stamps,logs} "$prefix"

say() { printf '%s  %s\n' "$(date +%H:%M:%S)" "$*"; }

# A step's patches to its upstream source (scripts/windows/patches/STEP-*.patch), and their
# checksum, which the step's stamp records: a step built before its patches changed is built
# again (incrementally: its build tree is kept, so only what the patches touch is compiled).
step_patches() { compgen -G "$root/scripts/windows/patches/$1-*.patch" | sort || true; }
patches_sum() { # STEP -> checksum of its patches, empty when it has none
    local files
    files=$(step_patches "$1")
    [ -z "$files" ] || xargs -d '\n' cat <<<"$files" | sha256sum | cut -c1-16
}
done_step() {
    [ -f "$cache/stamps/$1" ] || return 1
    [ "$(sed -n 's/.*, patches \([0-9a-f]*\).*/\1/p' "$cache/stamps/$1")" = "$(patches_sum "$1")" ]
}

# Applies a step's patches to its source tree, each once: a copy of each applied patch is kept in
# the tree, so a rerun applies nothing twice, and a patch that has changed or gone since it was
# applied is first taken out again with that copy.
apply_patches() { # STEP SOURCE-DIR
    local step=$1 src=$2 kept=$2/.korvanda-patches p name
    mkdir -p "$kept"
    for p in "$kept"/*.patch; do
        [ -e "$p" ] || continue
        name=$(basename "$p")
        cmp -s "$p" "$root/scripts/windows/patches/$name" && continue
        echo "taking out the patch $name (changed or gone since it was applied)"
        patch -d "$src" -p1 -R -s --no-backup-if-mismatch <"$p"
        rm "$p"
    done
    while read -r p; do
        [ -n "$p" ] || continue
        name=$(basename "$p")
        [ -e "$kept/$name" ] && continue
        echo "applying $name"
        patch -d "$src" -p1 -N -s --no-backup-if-mismatch <"$p"
        cp "$p" "$kept/$name"
    done <<<"$(step_patches "$step")"
}

status() {
    local i=0 s
    for s in "${steps[@]}"; do
        i=$((i + 1))
        if done_step "$s"; then
            printf '%2d/%d %-14s done  %s\n' $i ${#steps[@]} "$s" "$(cat "$cache/stamps/$s")"
        elif [ -f "$cache/logs/$s.log" ]; then
            # Ninja prints [done/total]; the last such line tells how far the step is.
            printf '%2d/%d %-14s started, last: %s\n' $i ${#steps[@]} "$s" \
                "$(grep -o '^\[[0-9]*/[0-9]*\]' "$cache/logs/$s.log" | tail -n 1 || true)"
        else
            printf '%2d/%d %-14s not started\n' $i ${#steps[@]} "$s"
        fi
    done
}

# Runs one step: skipped when stamped, its output in logs/STEP.log, its time on the stamp.
run_step() {
    local name=$1 n=$2 started
    if done_step "$name"; then
        say "[$n/${#steps[@]}] $name: in the cache ($(cat "$cache/stamps/$name"))"
        return
    fi
    say "[$n/${#steps[@]}] $name: building (log: $cache/logs/$name.log)"
    started=$(date +%s)
    # In the background, not in the condition itself: errexit would be off inside the step.
    ("step_$name") >>"$cache/logs/$name.log" 2>&1 &
    if ! wait $!; then
        say "[$n/${#steps[@]}] $name: FAILED after $(($(date +%s) - started)) s; last lines of the log:"
        tail -n 30 "$cache/logs/$name.log"
        exit 1
    fi
    local sum
    sum=$(patches_sum "$name")
    echo "$(($(date +%s) - started)) s, $(date -u +%Y-%m-%dT%H:%MZ)${sum:+, patches $sum}" >"$cache/stamps/$name"
    say "[$n/${#steps[@]}] $name: done in $(($(date +%s) - started)) s"
}

lowprio() { nice -n 19 "$@"; }

# --- the steps ---------------------------------------------------------------------------

step_packages() {
    local wanted=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
        binutils-mingw-w64-x86-64 nasm ninja-build cmake meson dpkg-dev make pkg-config xz-utils
        librubberband-dev qt6-base-dev qt6-base-dev-tools qt6-shader-baker qt6-shadertools-dev python3)
    local missing=() p
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq || true
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
    # The toolchain file is copied into the cache: Qt records its path in the prefix, and the
    # prefix must keep working when the repository is checked out somewhere else.
    cp "$root/cmake/windows/mingw-w64-x86_64.cmake" "$cache/toolchain.cmake"
}

# The machine's apt has no deb-src entry: a private list under the cache fetches the sources of
# exactly the versions the host has (Qt's cross build needs the host Qt of the same version).
apt_private() { # apt-get or apt-cache with the private deb-src list: apt_private get|cache ARGS
    local tool=apt-$1; shift
    $tool -o Dir::Etc::sourcelist="$cache/apt/sources.list" -o Dir::Etc::sourceparts=- \
        -o Dir::State::lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache" "$@"
}

source_version() { # SOURCE-PACKAGE -> the version the host has installed, or apt's candidate
    local bin=$2 v
    v=$(dpkg-query -W -f='${source:Version}' "$bin" 2>/dev/null || true)
    [ -n "$v" ] || v=$(apt_private cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
    echo "$v"
}

step_sources() {
    mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
    local key=/usr/share/keyrings/debian-archive-keyring.gpg
    cat >"$cache/apt/sources.list" <<EOF
deb-src [signed-by=$key] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$key] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=$key] http://deb.debian.org/debian-security bookworm-security main
EOF
    apt_private get update
    # source package, a binary package of it whose installed version is the one wanted
    local pkgs=("qt6-base qt6-base-dev" "qt6-shadertools qt6-shadertools-dev"
        "qt6-multimedia qt6-multimedia-dev" "ffmpeg libavformat-dev" "lame libmp3lame-dev"
        "taglib libtag1-dev" "libebur128 libebur128-dev")
    local line
    for line in "${pkgs[@]}"; do
        # shellcheck disable=SC2086
        fetch_source $line
    done
}

fetch_source() { # SOURCE-PACKAGE BINARY-PACKAGE: unpacks the source into src/SOURCE-PACKAGE once
    local src=$1 bin=$2 ver dir=$cache/src/$1
    [ -d "$dir" ] && return 0
    ver=$(source_version "$src" "$bin")
    echo "== $src $ver"
    (
        cd "$cache/src"
        # The mirror may lack a package's Debian part (libebur128's debian.tar.xz answers 404
        # here): the upstream tarball alone is all that is built anyway.
        apt_private get source --download-only "$src=$ver" || echo "(some parts of $src are missing)"
        # Debian's patches are written for Debian's Linux builds: the upstream tree is built.
        rm -rf "$dir.tmp"
        upstream=${ver#*:}; upstream=${upstream%-*}
        if ! dpkg-source -x --skip-patches "$src"_"${ver#*:}".dsc "$dir.tmp"; then
            orig=$(ls "$src"_"$upstream".orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n 1)
            [ -n "$orig" ] || { echo "no source for $src $ver"; exit 1; }
            rm -rf "$dir.tmp"; mkdir "$dir.tmp"
            tar -xf "$orig" -C "$dir.tmp" --strip-components=1
        fi
        mv "$dir.tmp" "$dir"
    )
}

cmake_step() { # NAME SOURCE-DIR [cmake options]: configure (once), build and install with Ninja
    local name=$1 src=$2; shift 2
    local b=$cache/build/$name
    if [ ! -f "$b/build.ninja" ]; then
        rm -rf "$b"
        lowprio cmake -S "$src" -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
    fi
    lowprio cmake --build "$b" --parallel "$jobs"
    lowprio cmake --install "$b"
}

qt_module() { # NAME [cmake options]: a Qt module built against the qtbase of the prefix
    local name=$1; shift
    cmake_step "$name" "$cache/src/qt6-${name#qt}" \
        -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF "$@"
}

step_qtbase() {
    # Tablet events need wintab.h, which neither mingw-w64 nor Debian's repacked source has.
    # Network stays on (qtmultimedia skips its whole build without it); the bundled freetype
    # stays on (the headless offscreen plugin needs it). What Korvanda does not use is off.
    # Patched: Qt's own thread_local objects with destructors damage the heap under MinGW-w64
    # (patches/qtbase-thread-storage.patch says how).
    apply_patches qtbase "$cache/src/qt6-base"
    cmake_step qtbase "$cache/src/qt6-base" \
        -DCMAKE_TOOLCHAIN_FILE="$cache/toolchain.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
        -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_openssl=OFF \
        -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_fontconfig=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_zstd=OFF -DFEATURE_pkg_config=OFF -DFEATURE_system_zlib=OFF \
        -DFEATURE_system_freetype=OFF -DFEATURE_freetype=ON -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_pcre2=OFF \
        -DFEATURE_sql_sqlite=OFF -DFEATURE_accessibility_atspi_bridge=OFF
}

step_lame() {
    local b=$cache/build/lame
    rm -rf "$b"
    cp -a "$cache/src/lame" "$b"
    cd "$b"
    # lame_init_old is listed for export but no longer defined: the DLL would not link.
    sed -i '/lame_init_old/d' include/libmp3lame.sym
    lowprio ./configure --host=$triple CC=$triple-gcc-posix --prefix="$prefix" \
        --enable-shared --disable-static --disable-frontend --disable-gtktest
    lowprio make -j"$jobs"
    make install
}

step_ffmpeg() {
    local b=$cache/build/ffmpeg
    rm -rf "$b"; mkdir -p "$b"; cd "$b"
    # Only the formats Korvanda reads (the probe and the decoder), writes (copy, MP3, WAV and
    # the lossless originals' containers) and the resampler.
    local demuxers=mp3,wav,w64,aiff,flac,ogg,mov,aac,ac3,eac3,asf,matroska,caf
    local decoders=mp3,mp3float,mp2,mp2float,flac,vorbis,opus,aac,aac_latm,alac,ac3,eac3,wmav1,wmav2
    decoders+=,pcm_s16le,pcm_s16be,pcm_s24le,pcm_s24be,pcm_s32le,pcm_s32be,pcm_f32le,pcm_f32be
    decoders+=,pcm_f64le,pcm_f64be,pcm_u8,pcm_s8,pcm_alaw,pcm_mulaw
    local parsers=mpegaudio,flac,vorbis,opus,aac,aac_latm,ac3
    local muxers=mp3,wav,aiff,flac
    local encoders=libmp3lame,flac,pcm_s16le,pcm_s16be,pcm_s24le,pcm_s24be,pcm_s32le,pcm_s32be
    encoders+=,pcm_f32le,pcm_f32be
    lowprio "$cache/src/ffmpeg/configure" --prefix="$prefix" \
        --enable-cross-compile --cross-prefix=$triple- --cc=$triple-gcc-posix --arch=x86_64 \
        --target-os=mingw32 --pkg-config=false --enable-w32threads --enable-shared --disable-static \
        --disable-debug --disable-doc --disable-everything --disable-programs --disable-network \
        --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc \
        --enable-swresample --enable-protocol=file --enable-demuxer=$demuxers \
        --enable-decoder=$decoders --enable-parser=$parsers --enable-muxer=$muxers \
        --enable-encoder=$encoders --enable-libmp3lame \
        --extra-cflags="-I$prefix/include" --extra-ldflags="-L$prefix/lib"
    lowprio make -j"$jobs"
    make install
}

step_taglib() {
    # zlib only inflates compressed ID3v2 frames, which nothing writes: one DLL fewer.
    cmake_step taglib "$cache/src/taglib" -DCMAKE_TOOLCHAIN_FILE="$cache/toolchain.cmake" \
        -DBUILD_SHARED_LIBS=ON -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF -DBUILD_BINDINGS=OFF \
        -DWITH_ZLIB=OFF
}

step_ebur128() {
    # mingw-w64 has no sys/queue.h: the library's own copy is used.
    cmake_step ebur128 "$cache/src/libebur128" -DCMAKE_TOOLCHAIN_FILE="$cache/toolchain.cmake" \
        -DBUILD_SHARED_LIBS=ON -DENABLE_INTERNAL_QUEUE_H=ON -DBUILD_STATIC_LIBS=OFF
}

# Debian's archive here answers 404 for bookworm's Rubber Band tarball (3.1.2, the version the
# Linux build links) while it serves trixie's (3.3.0): the first of these that downloads and
# matches its checksum (the one Debian's source index gives) is built.
rubberband_tarballs=(
    "rubberband_3.1.2+dfsg0.orig.tar.xz f944841dad344ba54d4a7c6732a9c76ef396b01a5a52b788014d0dc2c388ec1e"
    "rubberband_3.3.0+dfsg.orig.tar.xz ff6813185ff047abbc48e08ca76d88b22b92928a2ea17dce66f446bcb19a004d"
)
rubberband_source() {
    local dir=$cache/src/rubberband line file sum
    [ -d "$dir" ] && return 0
    for line in "${rubberband_tarballs[@]}"; do
        read -r file sum <<<"$line"
        if curl -fsSL -o "$cache/src/$file.part" "http://deb.debian.org/debian/pool/main/r/rubberband/${file//+/%2b}" &&
            echo "$sum  $cache/src/$file.part" | sha256sum -c --quiet; then
            mv "$cache/src/$file.part" "$cache/src/$file"
            rm -rf "$dir.tmp"; mkdir "$dir.tmp"
            tar -xf "$cache/src/$file" -C "$dir.tmp" --strip-components=1
            mv "$dir.tmp" "$dir"
            echo "Rubber Band source: $file"
            return 0
        fi
        echo "$file: not to be had here"
        rm -f "$cache/src/$file.part"
    done
    return 1
}

step_rubberband() {
    # Static, so the program carries it and no DLL more ships. Its own FFT and resampler need no
    # other library; the command-line tool is off (Debian's tarball drops the getopt it needs on
    # Windows), and so are its tests and plug-ins.
    rubberband_source
    local b=$cache/build/rubberband cross=$cache/meson-cross.txt
    cat >"$cross" <<EOF
[binaries]
c = '$triple-gcc-posix'
cpp = '$triple-g++-posix'
ar = '$triple-ar'
strip = '$triple-strip'
pkgconfig = 'pkg-config'
windres = '$triple-windres'

[properties]
pkg_config_libdir = '$prefix/lib/pkgconfig'

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
EOF
    rm -rf "$b"
    lowprio meson setup "$b" "$cache/src/rubberband" --cross-file "$cross" --prefix "$prefix" \
        --libdir lib --buildtype release --default-library static -Dfft=builtin -Dresampler=builtin \
        -Dcmdline=disabled -Dtests=disabled -Djni=disabled -Dladspa=disabled -Dlv2=disabled \
        -Dvamp=disabled
    lowprio meson compile -C "$b" -j "$jobs"
    meson install -C "$b"
}

step_qtshadertools() { qt_module qtshadertools; }

step_qtmultimedia() {
    # The Windows backend includes Mferror.h, "Wmcodecdsp.h", ... as Windows spells them; the
    # mingw-w64 headers are lower case and this file system tells the two apart.
    python3 - "$cache/src/qt6-multimedia" "/usr/$triple/include" <<'EOF'
import os, re, sys
src, inc = sys.argv[1], sys.argv[2]
pat = re.compile(r'(#\s*include\s*[<"])([^>"]+)([>"])')
for d, _, files in os.walk(src):
    for f in files:
        if not f.endswith(('.cpp', '.h', '.c')):
            continue
        p = os.path.join(d, f)
        text = open(p, encoding='utf-8', errors='surrogateescape').read()
        def fix(m):
            name = m.group(2)
            if name != name.lower() and not os.path.exists(os.path.join(inc, name)) \
                    and not os.path.exists(os.path.join(d, name)) \
                    and os.path.exists(os.path.join(inc, name.lower())):
                return m.group(1) + name.lower() + m.group(3)
            return m.group(0)
        new = pat.sub(fix, text)
        if new != text:
            print('lower-cased includes in', p)
            open(p, 'w', encoding='utf-8', errors='surrogateescape').write(new)
EOF
    # One header includes Qt's own QUrl as "QUrl.h", which only a case-blind file system finds.
    grep -rl '#include "QUrl.h"' "$cache/src/qt6-multimedia/src" | xargs -r sed -i 's/#include "QUrl.h"/#include <QUrl>/'
    # Its Media Foundation search asks for Mf, Mfplat, Propsys...: mingw-w64 names them libmf.a...
    sed -i -E 's/^(find_library\(WMF_[A-Z0-9]+_LIBRARY )([A-Za-z0-9]+)/\1\L\2/' \
        "$cache/src/qt6-multimedia/cmake/FindWMF.cmake"
    qt_module qtmultimedia -DFEATURE_gstreamer=OFF -DFEATURE_ffmpeg=OFF -DFEATURE_spatialaudio=OFF \
        -DFEATURE_wmf=ON
}

# Everything runs from this function, read whole before it starts: the script may be edited
# while a long build runs without the running copy reading the new text halfway.
main() {
    case "${1:-}" in
    --status) status; exit 0 ;;
    --prefix) echo "$prefix"; exit 0 ;;
    --redo) rm -rf "$cache/stamps/$2" "$cache/build/$2"; shift 2 ;;
    "") ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
    esac

    exec 9>"$cache/lock"
    if ! flock -n 9; then
        echo "Another build-deps.sh is building into $cache; waiting for it ($0 --status tells how far it is)"
        flock 9
    fi

    say "Windows libraries for Korvanda: prefix $prefix, $jobs jobs at nice 19"
    i=0
    for s in "${steps[@]}"; do
        i=$((i + 1))
        run_step "$s" "$i"
    done
    du -sh "$prefix" | sed 's/^/prefix size: /'
    say "all ${#steps[@]} steps done"
}

main "$@"
exit $?
