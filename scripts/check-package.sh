#!/usr/bin/env bash
# Builds the Debian package from a Release tree configured for /usr and checks
# what a user would get from it: the files `cmake --install` lays down (binary,
# menu entry, icons, software-centre metadata, each passing its validator), the
# same files inside the .deb, and Depends naming packages the archive has,
# including the run-time pieces the linker cannot see.
# usage: scripts/check-package.sh [build-dir]   (default build-package)
# Exits non-zero with a message naming every failed check. Set
# KORVANDA_SKIP_PACKAGE_CHECK=1 to leave it out of a quick ./test.sh run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}
started=$SECONDS

# The package build needs Debian's packaging tools and may need to refresh the
# archive lists; anywhere else there is nothing meaningful to check.
if [ -n "${KORVANDA_SKIP_PACKAGE_CHECK:-}" ]; then
    echo "check-package: skipped: KORVANDA_SKIP_PACKAGE_CHECK is set"
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "check-package: skipped: not root (the package checks may need apt-get update)"
    exit 0
fi
for tool in dpkg-deb dpkg-shlibdeps apt-cache; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-package: skipped: $tool not found (not a Debian system with dpkg-dev)"
        exit 0
    fi
done

opts=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DKORVANDA_SANITIZE=OFF
      -DKORVANDA_WERROR=ON -DKORVANDA_BUILD_TESTS=OFF -DKORVANDA_BUILD_BENCH=OFF)
mkdir -p "$build"
log=$build/check-package-build.log
"$root/scripts/setup.sh" "$build" "${opts[@]}" >"$log" 2>&1 || {
    cat "$log"; echo "check-package: FAILED: the Release build did not succeed"; exit 1; }
# setup.sh configures only a new tree: make sure an older one has the package's
# options too (a sanitizer build would depend on libasan, a /usr/local one
# would not know it is installed).
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
if [ "$(cache CMAKE_INSTALL_PREFIX)" != /usr ] || [ "$(cache CMAKE_BUILD_TYPE)" != Release ] \
   || [ "$(cache KORVANDA_SANITIZE)" != OFF ]; then
    { cmake "$build" "${opts[@]}" && cmake --build "$build" --parallel "$(nproc)"; } >>"$log" 2>&1 || {
        cat "$log"; echo "check-package: FAILED: reconfiguring $build"; exit 1; }
fi
version=$(cache CMAKE_PROJECT_VERSION)

for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || {
        echo "check-package: FAILED: $tool missing (scripts/packages.txt lists it; run scripts/setup.sh)"; exit 1; }
done

work=$(mktemp -d /tmp/korvanda-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=()
fail() { failures+=("$*"); echo "  FAIL: $*"; }

app_id=org.example.korvanda
expected_files=(
    bin/korvanda
    share/applications/korvanda.desktop
    share/metainfo/$app_id.metainfo.xml
    share/icons/hicolor/scalable/apps/korvanda.svg
)
png_sizes=(16 22 24 32 48 64 128 256)
for s in "${png_sizes[@]}"; do
    expected_files+=("share/icons/hicolor/${s}x${s}/apps/korvanda.png")
done

# PNG width and height from the IHDR chunk (bytes 16..23, big-endian).
png_size() {
    local b
    read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
    echo "$(( (b[0]<<24)|(b[1]<<16)|(b[2]<<8)|b[3] ))x$(( (b[4]<<24)|(b[5]<<16)|(b[6]<<8)|b[7] ))"
}

echo "== cmake --install into a temporary prefix"
inst=$work/root/usr
cmake --install "$build" --prefix "$inst" >"$work/install.log" 2>&1 || {
    cat "$work/install.log"; echo "check-package: FAILED: cmake --install"; exit 1; }
for f in "${expected_files[@]}"; do
    [ -f "$inst/$f" ] || fail "installed tree lacks $f"
done
[ -x "$inst/bin/korvanda" ] || fail "installed bin/korvanda is not executable"
for s in "${png_sizes[@]}"; do
    png=$inst/share/icons/hicolor/${s}x${s}/apps/korvanda.png
    [ -f "$png" ] || continue
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { fail "$png is not a PNG"; continue; }
    got=$(png_size "$png")
    [ "$got" = "${s}x${s}" ] || fail "icon ${s}x${s} is $got"
done
desktop-file-validate "$inst/share/applications/korvanda.desktop" >"$work/dfv.log" 2>&1 || true
if [ -s "$work/dfv.log" ]; then
    cat "$work/dfv.log"; fail "desktop-file-validate reports problems in korvanda.desktop"
fi
grep -qx 'Exec=korvanda %f' "$inst/share/applications/korvanda.desktop" \
    || fail "desktop file does not run korvanda with the chosen file"
for mime in audio/x-mpegurl audio/mpegurl; do
    grep -q "^MimeType=\(.*;\)\?$mime;" "$inst/share/applications/korvanda.desktop" \
        || fail "desktop file does not offer to open $mime playlists"
done
grep -qx 'Icon=korvanda' "$inst/share/applications/korvanda.desktop" || fail "desktop file does not name the korvanda icon"
grep -q '^Name\[ja\]=' "$inst/share/applications/korvanda.desktop" || fail "desktop file has no Japanese name"
grep -q '^Comment\[ja\]=' "$inst/share/applications/korvanda.desktop" || fail "desktop file has no Japanese comment"
appstreamcli validate --no-net "$inst/share/metainfo/$app_id.metainfo.xml" >"$work/as.log" 2>&1 || {
    cat "$work/as.log"; fail "appstreamcli validate rejects the metainfo"; }
# The tree as a whole: the launchable must name a desktop file that is there
# and the icon it names must be found in the hicolor theme.
appstreamcli validate-tree --no-net "$work/root" >"$work/astree.log" 2>&1 || {
    cat "$work/astree.log"; fail "appstreamcli validate-tree rejects the installed tree"; }
grep -q 'xml:lang="ja"' "$inst/share/metainfo/$app_id.metainfo.xml" || fail "metainfo has no Japanese translation"
grep -q "<release version=\"$version\"" "$inst/share/metainfo/$app_id.metainfo.xml" \
    || fail "metainfo has no release entry for version $version"
# The program tells an installed copy from a build-folder one by its compiled-in
# bindir (a UTF-16 literal); for the package that must be where the package
# puts it.
{ strings -a "$inst/bin/korvanda"; strings -a -el "$inst/bin/korvanda"; } | grep -x /usr/bin >/dev/null \
    || fail "bin/korvanda was not built for /usr/bin: an installed copy would write settings beside itself"

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/deb") >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"; echo "check-package: FAILED: cpack -G DEB"; exit 1; }
shopt -s nullglob
debs=("$work"/deb/korvanda_*.deb)
shopt -u nullglob
if [ "${#debs[@]}" -ne 1 ]; then
    ls -l "$work/deb"; echo "check-package: FAILED: expected one korvanda_*.deb, found ${#debs[@]}"; exit 1
fi
deb=${debs[0]}
cp "$deb" "$build/"
echo "   $(basename "$deb") ($(stat -c %s "$deb") bytes)"

echo "== dpkg-deb -f"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = korvanda ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', project is $version"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Homepage)" ] || fail "no Homepage"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "   Depends: $depends"

# Names of the packages in Depends, one alternative group a line.
mapfile -t groups < <(tr ',' '\n' <<<"$depends" | sed 's/([^)]*)//g; s/:[a-z0-9]*//g; s/^ *//; s/ *$//' | grep -v '^$')
dep_names=" $(tr '|' ' ' <<<"${groups[*]}" | tr -s ' ') "
has_dep() { [[ "$dep_names" == *" $1 "* ]]; }

# Pieces loaded at run time that dpkg-shlibdeps cannot see, and the ones it must.
for p in qt6-qpa-plugins qt6-translations-l10n fonts-ipafont-gothic libc6 \
         libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6; do
    has_dep "$p" || fail "Depends lacks $p"
done
for p in libasan8 libubsan1 libasan6 libubsan0; do
    has_dep "$p" && fail "Depends names the sanitizer runtime $p: the package came from a sanitizer build"
done

# Every dependency must be installable from the archive. Refresh the lists once
# when they are missing rather than reporting the whole line as unknown. One
# apt-cache call answers for every name: each call reads the whole archive index
# (about a second here).
declare -A candidates=()
read_candidates() {
    local line name=
    candidates=()
    while IFS= read -r line; do
        if [[ $line =~ ^([^[:space:]]+):$ ]]; then
            name=${BASH_REMATCH[1]}
        elif [[ -n $name && $line =~ ^[[:space:]]+Candidate:[[:space:]]*(.*)$ ]]; then
            candidates[$name]=${BASH_REMATCH[1]}
        fi
    done < <(apt-cache policy "$@" 2>/dev/null)
}
has_candidate() { [ -n "${candidates[$1]:-}" ] && [ "${candidates[$1]}" != "(none)" ]; }
mapfile -t alternatives < <(tr '|' '\n' <<<"${groups[*]}" | tr ' ' '\n' | grep -v '^$' | sort -u)
read_candidates libc6 "${alternatives[@]}"
if ! has_candidate libc6; then
    apt-get update -qq >/dev/null 2>&1 || true
    read_candidates libc6 "${alternatives[@]}"
fi
for g in "${groups[@]}"; do
    ok=0
    for alt in ${g//|/ }; do
        has_candidate "$alt" && { ok=1; break; }
    done
    [ "$ok" = 1 ] || fail "dependency '$g' has no candidate in the archive"
done
# Versions too: ask apt to resolve the whole package without installing it.
if ! apt-get install --simulate --no-install-recommends "$deb" >"$work/apt-sim.log" 2>&1; then
    tail -n 20 "$work/apt-sim.log"; fail "apt-get cannot resolve the package's dependencies"
fi

echo "== dpkg-deb -c"
dpkg-deb -c "$deb" >"$work/contents"
for f in "${expected_files[@]}"; do
    grep -q " \./usr/$f\$" "$work/contents" || fail "package lacks /usr/$f"
done
grep -q '^-rwxr-xr-x root/root .* \./usr/bin/korvanda$' "$work/contents" \
    || fail "/usr/bin/korvanda is not an executable owned by root: $(grep ' \./usr/bin/korvanda$' "$work/contents")"
[ -n "$(awk '$2 != "root/root"' "$work/contents")" ] && fail "files not owned by root/root in the package"
outside=$(awk '$NF != "./" && $NF !~ /^\.\/usr\// {print $NF}' "$work/contents")
[ -n "$outside" ] && fail "package puts files outside /usr: $(echo $outside)"
# The package and `cmake --install` must lay down the same files.
awk '$1 !~ /^d/ {print $NF}' "$work/contents" | sed 's|^\./usr/||' | sort >"$work/deb-files"
(cd "$inst" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/inst-files"
diff -u "$work/inst-files" "$work/deb-files" >"$work/files.diff" || {
    cat "$work/files.diff"; fail "package files differ from the cmake --install tree"; }
# The packaged binary must be a release build: no sanitizer runtime linked in.
mkdir "$work/x" && dpkg-deb -x "$deb" "$work/x"
if readelf -d "$work/x/usr/bin/korvanda" | grep 'NEEDED.*lib\(a\|ub\)san' >/dev/null; then
    fail "packaged korvanda links a sanitizer runtime"
fi

# Run the packaged program as it will be installed, from /usr/bin, as root (who
# could write there). /usr/bin is overlaid in a private mount namespace, so
# nothing on this machine changes. It must start, make its settings folder in
# the user's configuration folder, and write nothing beside itself.
echo "== packaged korvanda run from /usr/bin"
ns=$work/ns
mkdir -p "$ns/upper" "$ns/work" "$ns/home" "$ns/run"
chmod 700 "$ns/run"
if unshare -m true 2>/dev/null; then
    rc=0
    HOME=$ns/home XDG_CONFIG_HOME=$ns/home/.config XDG_RUNTIME_DIR=$ns/run QT_QPA_PLATFORM=offscreen \
    unshare -m /bin/sh -c '
        mount -t overlay overlay -o "lowerdir=$1/usr/bin:/usr/bin,upperdir=$2/upper,workdir=$2/work" /usr/bin \
            2>/dev/null || exit 3
        /usr/bin/korvanda >"$2/run.log" 2>&1 &
        pid=$!
        i=0
        while [ $i -lt 100 ] && [ ! -d "$2/home/.config/Korvanda/korvanda" ] && kill -0 $pid 2>/dev/null; do
            sleep 0.1; i=$((i + 1))
        done
        sleep 0.5
        kill -0 $pid 2>/dev/null || exit 4
        kill $pid; wait $pid 2>/dev/null
        exit 0' sh "$work/x" "$ns" || rc=$?
    case $rc in
    0)  [ -d "$ns/home/.config/Korvanda/korvanda" ] \
            || fail "the installed program did not use the user's configuration folder"
        written=$(cd "$ns/upper" && find . -mindepth 1)
        [ -z "$written" ] || fail "the installed program wrote beside itself in /usr/bin: $(echo $written)" ;;
    3)  echo "   skipped: overlay mounts are not available here" ;;
    4)  cat "$ns/run.log"; fail "the installed program exited at start" ;;
    *)  fail "running the installed program failed ($rc)" ;;
    esac
else
    echo "   skipped: no private mount namespaces here"
fi

echo "== package checks: $(( SECONDS - started )) s"
if ((${#failures[@]})); then
    echo "check-package: FAILED (${#failures[@]}):"
    printf '  - %s\n' "${failures[@]}"
    exit 1
fi
echo "check-package: OK ($(basename "$deb") kept in $build)"
