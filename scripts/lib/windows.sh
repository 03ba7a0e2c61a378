# shellcheck shell=bash
# The Windows build: MinGW-w64 cross builds and their tests under Wine. Needs common.sh.

WINDOWS_SYSTEM_DLLS="kernel32.dll msvcrt.dll user32.dll advapi32.dll ntdll.dll"

# MinGW-w64 for 32-bit and 64-bit Windows, and groff for the manuals in the .zip.
install_cross_compilers()
{
    local missing=()
    command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
    command -v groff >/dev/null || missing+=(groff-base)
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

# The cross compilers, and Wine with both loaders.
install_windows_dependencies()
{
    install_cross_compilers
    local missing=()
    [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
    [ -x /usr/lib/wine/wine ] || missing+=(wine wine32:i386)
    if [ ${#missing[@]} -gt 0 ]; then
        if [[ " ${missing[*]} " == *" wine32:i386 "* ]] &&
            ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
        fi
        apt_install "${missing[@]}"
    fi
}

# The 32-bit Wine loader is a 32-bit Linux program: kernels built or booted without 32-bit
# support refuse to start it ("Exec format error").
wine32_runs()
{
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# check_windows_programs DIR MACHINE: the programs are console programs for MACHINE (objdump's
# name, e.g. pei-i386) that load no DLL but Windows' own.
check_windows_programs()
{
    local dir=$1 machine=$2 program dll failed=0
    for program in app/orbelt-dl.exe tools/orbelt-scramble.exe tests/unit/orbelt_unit_tests.exe; do
        local header
        header=$(objdump -p "$dir/$program")
        if ! grep -q "file format $machine\$" <<<"$header" ||
            ! grep -q "^Subsystem.*(Windows CUI)" <<<"$header"; then
            echo "$dir/$program is no $machine console program" >&2
            failed=1
        fi
        for dll in $(sed -n 's/^\tDLL Name: //p' <<<"$header" | tr '[:upper:]' '[:lower:]'); do
            if [[ " $WINDOWS_SYSTEM_DLLS " != *" $dll "* ]]; then
                echo "$dir/$program needs $dll" >&2
                failed=1
            fi
        done
    done
    return $failed
}

# run_wine_ctest DIR [ctest options...]: the cross build's tests under Wine, in a prefix of
# their own made before the first test, so that parallel tests never race to make it.
run_wine_ctest()
{
    local dir=$1
    shift
    local loader prefix status=0
    loader=$(sed -n 's/^ORBELT_WINE_LOADER:FILEPATH=//p' "$dir/CMakeCache.txt")
    prefix=$(mktemp -d)
    sh tests/wine/WinePrefix.sh create "$prefix" "$loader" &&
        WINEPREFIX=$prefix ctest --test-dir "$dir" --output-on-failure "$@" || status=$?
    sh tests/wine/WinePrefix.sh remove "$prefix"
    return $status
}
