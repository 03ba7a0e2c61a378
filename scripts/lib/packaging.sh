# The packages: a .deb of the Linux build, a .zip of the Windows build. Needs common.sh.

# dpkg-shlibdeps (dpkg-dev) and file, which CPack's Debian generator runs to find the
# libraries the programs need. The .zip is written by CPack itself.
install_packaging_dependencies()
{
    local missing=()
    command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
    command -v file >/dev/null || missing+=(file)
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

# cpack_setting BUILD_DIR NAME: a value from the CPack configuration of a build.
cpack_setting()
{
    sed -n "s/^set($2 \"\\(.*\\)\")\$/\\1/p" "$1/CPackConfig.cmake"
}

# check_packages LINUX_BUILD WINDOWS_BUILD: builds both packages; installs the .deb, runs
# orbelt-dl --version from it and removes it again; checks what the .zip holds.
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

    if ! dpkg-deb -f "$deb" Depends | grep -q 'libc6'; then
        echo "package: $deb names no library dependencies" >&2
        failed=1
    fi
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo dpkg -i "$deb" >/dev/null
    local answer page
    answer=$(/usr/bin/orbelt-dl --version) || failed=1
    if [ "$answer" != "orbelt-dl $version" ]; then
        echo "package: /usr/bin/orbelt-dl --version printed '$answer'" >&2
        failed=1
    fi
    for page in orbelt-dl orbelt-board orbelt-scramble; do
        if [ ! -x "/usr/bin/$page" ] || [ ! -f "/usr/share/man/man1/$page.1" ]; then
            echo "package: $page or its man page is not installed" >&2
            failed=1
        fi
    done
    $sudo dpkg -r orbelt-dl >/dev/null
    if [ -e /usr/bin/orbelt-dl ]; then
        echo "package: dpkg -r left /usr/bin/orbelt-dl behind" >&2
        failed=1
    fi

    local top expected listed
    top=$(basename "$zip" .zip)
    expected=$(printf '%s\n' "$top/README.txt" "$top/orbelt-dl.exe" "$top/orbelt-scramble.exe")
    listed=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
    if [ "$listed" != "$expected" ]; then
        echo "package: $zip holds:" >&2
        echo "$listed" >&2
        failed=1
    fi
    if [ "$failed" -eq 0 ]; then
        echo "Packages: $(basename "$deb") installed, answered '$answer', removed; $(basename "$zip") complete"
    fi
    return $failed
}
