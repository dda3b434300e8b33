#!/usr/bin/env bash
# The program as it is installed.
#   check_package.sh validate BUILD SOURCE   the desktop entry and the AppStream metainfo
#   check_package.sh deb BUILD SOURCE        the Debian package: built with CPack,
#                                            unpacked with dpkg -x, its files and fields
# Exit status 77 (skipped) when a tool it needs is not installed.
set -euo pipefail
mode="$1"
build="$(cd "$2" && pwd)"
source="$(cd "$3" && pwd)"
appstream_id="io.github.pelorinax.pelorinax_mini"

fail() { echo "FAIL: $*" >&2; exit 1; }
need() {
    for tool in "$@"; do
        command -v "$tool" > /dev/null || { echo "SKIPPED: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
    done
}

# Validators pass with nothing to say: warnings count as failures.
validate_desktop() {
    local out
    out="$(desktop-file-validate "$1" 2>&1)" || fail "desktop-file-validate $1: $out"
    [ -z "$out" ] || fail "desktop-file-validate $1: $out"
}

case "$mode" in
validate)
    need desktop-file-validate appstreamcli
    validate_desktop "$source/packaging/pelorinax.desktop"
    appstreamcli validate --no-net "$build/packaging/$appstream_id.metainfo.xml"
    ;;
deb)
    need cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 \
        || { cat "$work/cpack.log"; fail "cpack could not build the package"; }
    debs=("$work"/out/pelorinax_*.deb)
    [ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "no single pelorinax_*.deb in the output: ${debs[*]}"
    deb="${debs[0]}"
    echo "built $(basename "$deb") ($(stat -c %s "$deb") bytes)"
    root="$work/root"
    dpkg -x "$deb" "$root"

    # The files the package holds, and nothing else.
    expected="$(sort <<'EOF'
usr/bin/pelorinax
usr/share/applications/pelorinax.desktop
usr/share/doc/pelorinax/copyright
usr/share/icons/hicolor/128x128/apps/pelorinax.png
usr/share/icons/hicolor/256x256/apps/pelorinax.png
usr/share/icons/hicolor/32x32/apps/pelorinax.png
usr/share/icons/hicolor/48x48/apps/pelorinax.png
usr/share/icons/hicolor/scalable/apps/pelorinax.svg
usr/share/man/man1/pelorinax.1.gz
usr/share/metainfo/io.github.pelorinax.pelorinax_mini.metainfo.xml
usr/share/pelorinax/help-images/main-window.png
usr/share/pelorinax/help-images/quick-manual.png
usr/share/pelorinax/pelorinax.html
EOF
)"
    actual="$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)"
    [ "$actual" = "$expected" ] || fail "the package's files differ from the expected list:
$(diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' | sed 's/^</missing:/; s/^>/unexpected:/')"

    # Its fields: computed library dependencies, plus what the linker cannot see.
    depends="$(dpkg-deb -f "$deb" Depends)"
    for p in libqt6widgets6 libqt6gui6 libjpeg62-turbo liblcms2-2 fonts-ipafont-gothic fonts-ipafont-mincho qt6-qpa-plugins; do
        grep -Eq "(^|, )$p( |,|$)" <<< "$depends" || fail "Depends lacks $p: $depends"
    done
    version="$(dpkg-deb -f "$deb" Version)"
    project_version="$(sed -n 's/^CPACK_PACKAGE_VERSION:STRING=//p; s/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" | head -1)"
    [ "$version" = "$project_version-1" ] || fail "package version $version, project version $project_version"

    # The program itself: stripped, and the same version as the build's.
    file "$root/usr/bin/pelorinax" | grep -q ', stripped' || fail "the program is not stripped: $(file "$root/usr/bin/pelorinax")"
    [ "$("$root/usr/bin/pelorinax" --version)" = "$("$build/pelorinax" --version)" ] \
        || fail "the installed program says $("$root/usr/bin/pelorinax" --version)"

    for n in 32 48 128 256; do
        file "$root/usr/share/icons/hicolor/${n}x${n}/apps/pelorinax.png" | grep -q "PNG image data, $n x $n," \
            || fail "the ${n}x${n} icon is $(file -b "$root/usr/share/icons/hicolor/${n}x${n}/apps/pelorinax.png")"
    done
    gzip -t "$root/usr/share/man/man1/pelorinax.1.gz" || fail "the manual page is not a valid gzip file"
    if command -v groff > /dev/null; then
        warnings="$(zcat "$root/usr/share/man/man1/pelorinax.1.gz" | LC_ALL=C.UTF-8 groff -k -man -ww -z -Tutf8 2>&1)"
        [ -z "$warnings" ] || fail "groff finds fault with the manual page: $warnings"
    fi

    # The licence as Debian reads it: the machine-readable format, every file under
    # one licence, and its text word for word the one at the top of the sources.
    copyright="$root/usr/share/doc/pelorinax/copyright"
    head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
        || fail "the copyright file is not in the machine-readable format: $(head -1 "$copyright")"
    grep -A2 -x 'Files: \*' "$copyright" | grep -qx 'License: Expat' || fail "no licence for all files in $copyright"
    shipped_text="$(awk 'on { print } prev == "" && $0 == "License: Expat" { on = 1 } { prev = $0 }' "$copyright" \
                    | sed 's/^ //; s/^\.$//')"
    source_text="$(sed -n '/^Permission is hereby granted/,$p' "$source/LICENSE")"
    [ "$shipped_text" = "$source_text" ] || fail "the licence in $copyright differs from LICENSE:
$(diff <(echo "$source_text") <(echo "$shipped_text"))"
    ! dpkg-deb -f "$deb" Homepage | grep -q . || fail "the package names a homepage: $(dpkg-deb -f "$deb" Homepage)"

    validate_desktop "$root/usr/share/applications/pelorinax.desktop"
    # The installed tree as a software centre sees it: metainfo, desktop entry and icon together.
    appstreamcli validate-tree --no-net "$root"
    echo "package checked: $(wc -l <<< "$actual") files; Depends: $depends"
    ;;
*)
    echo "usage: $0 validate|deb BUILD SOURCE" >&2
    exit 2
    ;;
esac
