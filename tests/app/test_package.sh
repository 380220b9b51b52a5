#!/usr/bin/env bash
# test_package.sh BUILD_DIR VERSION: makes the Debian package from a built
# tree and checks what it holds: the file list, the control fields, the
# AppStream metadata, the menu entry, the man page, the icons and the shell
# completion.
set -uo pipefail
build=$1
version=$2

failures=0
fail()
{
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A sandbox like the other tests': nothing of the tester's own is read or written.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config TMPDIR=$work/tmp
mkdir -p "$HOME" "$TMPDIR"

# A folder of its own, so that a package made by hand in the build folder
# at the same time is left alone.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack did not make the package" >&2
    exit 1
fi
deb=$work/pkg/bundlewick_${version}_$(dpkg --print-architecture).deb
if [[ ! -f $deb ]]; then
    ls -l "$work/pkg" >&2
    echo "FAIL: no $deb" >&2
    exit 1
fi

# Exactly these files, so that no test, benchmark or library slips in.
expected="./usr/bin/bundlewick
./usr/share/applications/org.bundlewick.Bundlewick.desktop
./usr/share/bash-completion/completions/bundlewick
./usr/share/bundlewick/LICENSE
./usr/share/bundlewick/help/add-files.html
./usr/share/bundlewick/help/delivery.html
./usr/share/bundlewick/help/error.html
./usr/share/bundlewick/help/index.html
./usr/share/bundlewick/help/log.html
./usr/share/bundlewick/help/main.html
./usr/share/bundlewick/help/project-editor.html
./usr/share/bundlewick/help/quick-send.html
./usr/share/bundlewick/help/send-editor.html
./usr/share/bundlewick/help/settings.html
./usr/share/doc/bundlewick/copyright
./usr/share/icons/hicolor/128x128/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/16x16/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/22x22/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/24x24/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/256x256/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/32x32/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/48x48/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/64x64/apps/org.bundlewick.Bundlewick.png
./usr/share/icons/hicolor/scalable/apps/org.bundlewick.Bundlewick.svg
./usr/share/man/man1/bundlewick.1.gz
./usr/share/metainfo/org.bundlewick.Bundlewick.metainfo.xml"
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ { print $6 }' <<<"$listing" | LC_ALL=C sort)
if [[ $files != "$expected" ]]; then
    fail "package contents differ:"
    diff <(echo "$expected") <(echo "$files") >&2
fi
# Installed files belong to root and are not writable by others.
if awk '$2 != "root/root" || $1 ~ /^.{8}w/' <<<"$listing" | grep -q .; then
    fail "files not owned by root or writable by all:"
    awk '$2 != "root/root" || $1 ~ /^.{8}w/' <<<"$listing" >&2
fi
grep -q '^-rwxr-xr-x .* ./usr/bin/bundlewick$' <<<"$listing" || fail "the program is not executable"

field()
{
    dpkg-deb -f "$deb" "$1"
}
[[ $(field Package) == bundlewick ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), expected $version"
[[ $(field Section) == utils ]] || fail "Section: $(field Section)"
[[ $(field Maintainer) == *@* ]] || fail "Maintainer: $(field Maintainer)"
[[ -n $(field Description) ]] || fail "no Description"
depends=$(field Depends)
# Computed from the binary by dpkg-shlibdeps: Qt's widgets, SQLite, curl.
for lib in libc6 libqt6widgets6 libsqlite3-0 libcurl4; do
    [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] \
        || fail "Depends lacks $lib: $depends"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
share=$root/usr/share

# The version of the package is the program's.
out=$("$root/usr/bin/bundlewick" --version 2>&1)
[[ $out == "Bundlewick $version build "* ]] || fail "--version prints: $out"

if ! appstreamcli validate --no-net "$share/metainfo/org.bundlewick.Bundlewick.metainfo.xml" >"$work/as.log" 2>&1; then
    fail "appstreamcli validate:"
    cat "$work/as.log" >&2
fi
grep -q "<release version=\"$version\" date=\"" "$share/metainfo/org.bundlewick.Bundlewick.metainfo.xml" \
    || fail "the metainfo names no release $version"
grep -q '<launchable type="desktop-id">org.bundlewick.Bundlewick.desktop</launchable>' \
    "$share/metainfo/org.bundlewick.Bundlewick.metainfo.xml" || fail "the metainfo launches no org.bundlewick.Bundlewick.desktop"
if ! out=$(desktop-file-validate "$share/applications/org.bundlewick.Bundlewick.desktop" 2>&1) || [[ -n $out ]]; then
    fail "desktop-file-validate: $out"
fi
grep -qx 'Icon=org.bundlewick.Bundlewick' "$share/applications/org.bundlewick.Bundlewick.desktop" \
    || fail "the menu entry names another icon"

for size in 16 22 24 32 48 64 128 256; do
    out=$(file -b "$share/icons/hicolor/${size}x$size/apps/org.bundlewick.Bundlewick.png")
    [[ $out == "PNG image data, $size x $size,"* ]] || fail "${size}x$size icon: $out"
done

man=$work/bundlewick.1
gzip -dc "$share/man/man1/bundlewick.1.gz" >"$man" || fail "the man page is no gzip file"
# Any message of mandoc's fails, whatever its exit status.
out=$(mandoc -T lint -W all "$man" 2>&1)
[[ -z $out ]] || fail "mandoc -T lint: $out"
out=$(groff -ww -man -z "$man" 2>&1)
[[ -z $out ]] || fail "groff -ww: $out"
grep -q "^\.TH BUNDLEWICK 1 .* \"Bundlewick $version\"" "$man" || fail "the man page's title names another version"
for section in SYNOPSIS COMMANDS OPTIONS 'EXIT STATUS' ENVIRONMENT FILES; do
    grep -qx "\.SH \"*$section\"*" "$man" || fail "the man page has no $section"
done
for name in XDG_DATA_HOME XDG_CONFIG_HOME WINEPREFIX TMPDIR; do
    grep -qx "\.B $name" "$man" || fail "the man page does not describe $name"
done

# Completion: a stand-in program prints list lines as "bundlewick list"
# does; the function is called as bash calls it for the word being typed.
mkdir -p "$work/bin"
cat >"$work/bin/bundlewick" <<'EOF'
#!/bin/sh
[ "$1" = list ] || exit 2
printf 'My Tool\t12 files\t3 changes\t2 send tasks\n'
printf 'My Lib\t1 file\t0 changes\t1 send task\n'
printf "Joe's \"best\"\t1 file\t1 change\t1 send task\n"
printf 'Other\t0 files\t0 changes\t0 send tasks\n'
EOF
chmod +x "$work/bin/bundlewick"
out=$(PATH=$work/bin:$PATH bash --norc --noprofile -c '
    . "$1"
    complete -p bundlewick >/dev/null || echo "no completion registered"
    complete_words()
    {
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        _bundlewick bundlewick "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        local IFS="|"
        echo "${COMP_WORDS[*]:1} => ${COMPREPLY[*]}"
    }
    complete_words bundlewick ""
    complete_words bundlewick --v
    complete_words bundlewick deliver M
    complete_words bundlewick deliver "My\ T"
    complete_words bundlewick deliver "\"My T"
    complete_words bundlewick deliver "'"'"'Jo"
    complete_words bundlewick deliver Jo
    complete_words bundlewick deliver "\"My Tool\"" my
    complete_words bundlewick deliver oth
    complete_words bundlewick deliver -
    complete_words bundlewick deliver Other -
    complete_words bundlewick deliver --all ""
    complete_words bundlewick list ""
    complete_words bundlewick send --enc
    complete_words bundlewick send --encryption a
    complete_words bundlewick send --retention w
' bash "$share/bash-completion/completions/bundlewick" 2>&1)
expected_completion=" => list|deliver|send
--v => --version
deliver|M => My\\ Tool|My\\ Lib
deliver|My\\ T => My\\ Tool
deliver|\"My T => My Tool
deliver|'Jo => Joe'\\''s \"best\"
deliver|Jo => Joe\\'s\\ \\\"best\\\"
deliver|\"My Tool\"|my => My\\ Lib
deliver|oth => Other
deliver|- => --all|--
deliver|Other|- => --
deliver|--all| => 
list| => 
send|--enc => --encryption
send|--encryption|a => aes256
send|--retention|w => week"
if [[ $out != "$expected_completion" ]]; then
    fail "completion differs:"
    diff <(echo "$expected_completion") <(echo "$out") >&2
fi

if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package $(basename "$deb") checked"
