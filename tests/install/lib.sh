# Shared by the install checks: the files an installation holds, and the
# validators the desktop runs over them.
set -euo pipefail

HERE="$(cd "$(dirname "$0")" && pwd)"

fail() { echo "FAIL: $*"; exit 1; }
pass() { echo "ok: $*"; }

# The regular files under a prefix, relative to it, against the expected list.
check_file_list() {
    local prefix="$1" listed
    listed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
    if [ "$listed" != "$(LC_ALL=C sort "$HERE/installed-files.txt")" ]; then
        diff <(LC_ALL=C sort "$HERE/installed-files.txt") <(echo "$listed") || true
        fail "installed files differ from installed-files.txt (- expected, + found)"
    fi
    pass "the $(echo "$listed" | wc -l) expected files are installed, nothing else"
}

# desktop-file-validate, appstreamcli and update-mime-database on the
# installed metadata; the file type is then looked up as a desktop would.
check_desktop_metadata() {
    local share="$1/share" scratch="$2"
    local entry="$share/applications/org.zumble.zumble1.desktop"
    local out
    out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate has remarks: $out"
    grep -qx 'Exec=Zumble1 %f' "$entry" || fail "the menu entry does not run Zumble1 %f"
    grep -qx 'MimeType=application/x-zumble-settings;' "$entry" || fail "the menu entry lacks the file type"
    grep -q '^Name\[ja\]=' "$entry" && grep -q '^Comment\[ja\]=' "$entry" || fail "no Japanese name or comment"
    pass "desktop-file-validate accepts the menu entry"

    local metainfo="$share/metainfo/org.zumble.zumble1.metainfo.xml"
    out=$(cd "$scratch" && appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli: $out"
    grep -q '<release version="1.5.0"' "$metainfo" || fail "the metainfo lacks release 1.5.0"
    grep -q '<image>https://' "$metainfo" || fail "the metainfo has no screenshot"
    pass "appstreamcli validate --no-net accepts the metainfo"

    # A private MIME database built from the installed package only.
    local mime="$scratch/mime"
    mkdir -p "$mime/packages"
    cp "$share/mime/packages/zumble.xml" "$mime/packages/"
    out=$(update-mime-database -V "$mime" 2>&1) || fail "update-mime-database: $out"
    case "$out" in *[Ww]arning* | *[Ee]rror*) fail "update-mime-database: $out" ;; esac
    grep -q 'xml:lang="ja"' "$mime/application/x-zumble-settings.xml" || fail "the file type has no Japanese comment"
    mkdir -p "$scratch/files" "$scratch/home"
    # Binary like a saved record (an empty file is text to every desktop).
    head -c 260 /dev/zero >"$scratch/files/team.zm1"
    head -c 260 /dev/zero >"$scratch/files/TEAM2.ZM1"
    local f type
    for f in team.zm1 TEAM2.ZM1; do
        type=$(XDG_DATA_HOME="$scratch/home" XDG_DATA_DIRS="$scratch" \
               gio info -a standard::content-type "$scratch/files/$f" | awk '/content-type:/ {print $2}')
        [ "$type" = application/x-zumble-settings ] || fail "$f is seen as '$type'"
    done
    pass "*.zm1 (any case) is application/x-zumble-settings"

    mkdir -p "$scratch/applications"
    cp "$entry" "$scratch/applications/"
    update-desktop-database "$scratch/applications"
    grep -qx 'application/x-zumble-settings=org.zumble.zumble1.desktop;' "$scratch/applications/mimeinfo.cache" ||
        fail "the desktop database does not open .zm1 files with Zumble"
    pass "the desktop database opens .zm1 files with the menu entry"
}

# Icons at their sizes, the manual page, and the executable's library path.
check_icons_manual_rpath() {
    local prefix="$1" size dims out
    for size in 48 128 256; do
        dims=$(identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x${size}/apps/org.zumble.zumble1.png")
        [ "$dims" = "${size}x${size}" ] || fail "the ${size} px icon is $dims"
    done
    pass "icons are 48, 128 and 256 px"

    out=$(zcat "$prefix/share/man/man1/Zumble1.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$out" ] || fail "groff warns about the manual page: $out"
    zcat "$prefix/share/man/man1/Zumble1.1.gz" | grep -q '^Zumble1 \\- ' || fail "the manual page has no NAME line"
    pass "the manual page renders without warnings"

    # The homepage library is opened from inside Qt, which only the old
    # DT_RPATH tag reaches: its own folder, then beside the program. Nothing
    # may point into the build tree or, through an empty entry, at the
    # current folder.
    out=$(readelf -d "$prefix/bin/Zumble1" | grep -E 'R(UN)?PATH' || true)
    case "$out" in
        *"(RPATH)"*"Library rpath: [\$ORIGIN/../lib"*"/zumble:\$ORIGIN]") ;;
        *) fail "unexpected library path: $out" ;;
    esac
    pass "RPATH is relative: ${out##*: }"
}
