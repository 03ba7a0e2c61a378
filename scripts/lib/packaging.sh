# shellcheck shell=bash
# The packages: a .deb of the Linux build, a .zip of the Windows build. Needs common.sh.

# dpkg-shlibdeps (dpkg-dev) and file, which CPack's Debian generator runs to find the
# libraries the programs need; lintian, Debian's own checks of a package; groff, which checks
# the man pages. The .zip is written by CPack itself.
install_packaging_dependencies()
{
    local missing=()
    command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
    command -v file >/dev/null || missing+=(file)
    command -v lintian >/dev/null || missing+=(lintian)
    command -v groff >/dev/null || missing+=(groff-base)
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

# cpack_setting BUILD_DIR NAME: a value from the CPack configuration of a build.
cpack_setting()
{
    sed -n "s/^set($2 \"\\(.*\\)\")\$/\\1/p" "$1/CPackConfig.cmake"
}

# expect_listing WHAT EXPECTED LISTED: complains about WHAT unless the two listings match.
expect_listing()
{
    [ "$2" = "$3" ] && return 0
    echo "package: $1 does not hold what it should:" >&2
    diff -u --label expected --label "$(basename "$1")" <(echo "$2") <(echo "$3") >&2
    return 1
}

# check_deb DEB VERSION: the files the .deb holds; unpacked into a directory of its own (the
# running system is left alone), its orbelt-dl answers --version; lintian finds no error.
check_deb()
{
    local deb=$1 version=$2 failed=0
    if ! dpkg-deb -f "$deb" Depends | grep -q 'libc6'; then
        echo "package: $deb names no library dependencies" >&2
        failed=1
    fi
    local expected="" program
    for program in orbelt-board orbelt-dl orbelt-scramble; do
        expected+="./usr/bin/$program"$'\n'
        expected+="./usr/share/bash-completion/completions/$program"$'\n'
        expected+="./usr/share/man/man1/$program.1.gz"$'\n'
    done
    expected+="./usr/share/doc/orbelt-dl/changelog.gz"$'\n'
    expected+="./usr/share/doc/orbelt-dl/copyright"
    expect_listing "$deb" "$(sort <<<"$expected")" \
        "$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)" || failed=1

    local root answer
    root=$(mktemp -d "${TMPDIR:-/tmp}/orbelt-deb.XXXXXX")
    dpkg -x "$deb" "$root"
    answer=$("$root/usr/bin/orbelt-dl" --version) || failed=1
    if [ "$answer" != "orbelt-dl $version" ]; then
        echo "package: orbelt-dl --version from the package printed '$answer'" >&2
        failed=1
    fi
    rm -rf "$root"

    # Errors fail the check; warnings and the notes lintian prints are shown.
    local report status=0
    report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
    report=$(grep -v '^running with root privileges' <<<"$report" || true)
    if [ -n "$report" ]; then
        echo "lintian $(basename "$deb"):"
        echo "$report"
    fi
    if [ "$status" -ne 0 ]; then
        echo "package: lintian finds errors in $deb" >&2
        failed=1
    fi
    return $failed
}

# check_zip ZIP: the Windows programs, README.txt, and their manuals as plain text.
check_zip()
{
    local zip=$1 top
    top=$(basename "$zip" .zip)
    local expected listed
    expected=$(printf '%s\n' "$top/README.txt" "$top/orbelt-board.txt" "$top/orbelt-dl.exe" \
        "$top/orbelt-dl.txt" "$top/orbelt-scramble.exe" "$top/orbelt-scramble.txt")
    # Each .txt entry is listed with " not plain text" behind it when it holds anything but
    # printable ASCII lines (a bold or underline left in by the renderer, say).
    listed=$(python3 - "$zip" <<'PYTHON'
import re, sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
for name in sorted(archive.namelist()):
    text = archive.read(name)
    plain = not name.endswith(".txt") or (text and re.fullmatch(rb"[\x20-\x7e\n]*", text))
    print(name if plain else name + " not plain text")
PYTHON
    )
    expect_listing "$zip" "$expected" "$listed"
}

# check_packages LINUX_BUILD WINDOWS_BUILD: builds both packages and checks them.
check_packages()
{
    local build=$1 windows=$2 failed=0
    local dir log
    for dir in "$build" "$windows"; do
        # CPack talks on standard error even when all is well: shown only when it fails.
        if ! log=$(cmake --build "$dir" --target package 2>&1); then
            echo "$log" >&2
            return 1
        fi
    done
    local version deb zip
    version=$(cpack_setting "$build" CPACK_PACKAGE_VERSION)
    deb="$build/orbelt-dl_${version}_$(dpkg --print-architecture).deb"
    zip="$windows/$(cpack_setting "$windows" CPACK_PACKAGE_FILE_NAME).zip"
    check_deb "$deb" "$version" || failed=1
    check_zip "$zip" || failed=1
    if [ "$failed" -eq 0 ]; then
        echo "Packages: $(basename "$deb") unpacked, answered 'orbelt-dl $version', lintian" \
            "without errors; $(basename "$zip") complete"
    fi
    return $failed
}
