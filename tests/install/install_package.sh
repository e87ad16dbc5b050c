#!/usr/bin/env bash
# The Debian package built by CPack: its name, its dependencies, lintian with
# no errors, and its files unpacked into a throwaway root (never installed).
BUILD="$1"
. "$(dirname "$0")/lib.sh"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cpack -G DEB -B "$WORK/out" --config "$BUILD/CPackConfig.cmake" >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log"; fail "cpack"; }
DEB="$WORK/out/zumble_1.5.0_amd64.deb"
[ -f "$DEB" ] || { ls "$WORK/out"; fail "no zumble_1.5.0_amd64.deb"; }
pass "cpack built $(basename "$DEB")"

depends=$(dpkg-deb -f "$DEB" Depends)
for needed in timgm6mb-soundfont fonts-ipafont-gothic fonts-liberation2 libqt6widgets6 libsdl2-mixer-2.0-0 \
              libfluidsynth3 libmpg123-0 libc6; do
    case ", $depends," in *", $needed"[\ ,]*) ;; *) fail "Depends lacks $needed: $depends" ;; esac
done
[ "$(dpkg-deb -f "$DEB" Recommends)" = "qt6-translations-l10n, xdg-utils" ] || fail "Recommends is not qt6-translations-l10n, xdg-utils"
pass "Depends: $depends"

# The caches are refreshed by the triggers of the packages that own them; the
# only scripts are CPack's ldconfig calls, which it adds for any shared
# library under /usr/lib (the homepage library's private folder).
control=$(dpkg-deb --ctrl-tarfile "$DEB" | tar -t | sed 's|^\./||' | grep -v '^$' | LC_ALL=C sort | tr '\n' ' ')
[ "$control" = "control md5sums postinst postrm " ] || fail "unexpected control files: $control"
for script in postinst postrm; do
    body=$(dpkg-deb --ctrl-tarfile "$DEB" | tar -xO "./$script" | grep -v -e '^#!' -e '^set -e' -e '^$' -e '^if ' -e '^fi$' | tr -d '\t')
    [ "$body" = ldconfig ] || fail "$script does more than ldconfig: $body"
done

lintian --fail-on error "$DEB" >"$WORK/lintian.log" 2>&1 ||
    { cat "$WORK/lintian.log"; fail "lintian reports errors"; }
pass "lintian: no errors ($(grep -c '^W:' "$WORK/lintian.log" || true) warnings)"
cat "$WORK/lintian.log"

dpkg -x "$DEB" "$WORK/root"
check_file_list "$WORK/root/usr"
# The sample kit names its pictures and sound where the package puts them.
for f in button_up.png button_down.png chime.wav; do
    grep -qa "/usr/share/zumble/samples/$f" "$WORK/root/usr/share/zumble/samples/sample.zm1" ||
        fail "the packaged sample.zm1 does not name /usr/share/zumble/samples/$f"
done
mkdir -p "$WORK/scratch"
check_desktop_metadata "$WORK/root/usr" "$WORK/scratch"
check_icons_manual_rpath "$WORK/root/usr"
! readelf -S "$WORK/root/usr/bin/Zumble1" | grep -q '\.symtab' || fail "the packaged program is not stripped"
pass "the unpacked package holds a stripped program and valid metadata"
