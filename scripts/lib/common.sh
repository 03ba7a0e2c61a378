# shellcheck shell=bash
# Shared by the scripts in scripts/: dependency installation and the standard build.

# Debian packages each build needs, checked by the command or file that proves they are there.
install_dependencies()
{
    local missing=()
    command -v cmake >/dev/null || missing+=(cmake)
    command -v g++ >/dev/null || missing+=(g++)
    command -v make >/dev/null || missing+=(make)
    [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
    [ -d /usr/src/googletest ] || missing+=(googletest)
    # The tests parse run records with Debian's own Python.
    [ -x /usr/bin/python3 ] || missing+=(python3)
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

# The QEMU guest of scripts/vm-test: emulator, a kernel with its modules, a static busybox.
install_vm_dependencies()
{
    local missing=()
    command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
    # A kernel of its own is not enough: cloud kernels come without the USB serial modules.
    grep -qs '/ftdi_sio\.ko' /lib/modules/*/modules.dep || missing+=(linux-image-amd64)
    command -v busybox >/dev/null && ! ldd "$(command -v busybox)" >/dev/null 2>&1 ||
        missing+=(busybox-static)
    command -v cpio >/dev/null || missing+=(cpio)
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

# What scripts/lint runs.
install_lint_dependencies()
{
    local missing=() tool
    for tool in clang-format clang-tidy cppcheck shellcheck; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

apt_install()
{
    echo "Installing: $*"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@" >/dev/null
}

# configure_build DIR [cmake options...]
configure_build()
{
    local dir=$1
    shift
    # Tests always on: a cache left by hand with them off must not make a run test nothing.
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" >/dev/null
}

# configure_and_build DIR [cmake options...]
configure_and_build()
{
    configure_build "$@"
    cmake --build "$1" -j "$(nproc)"
}

# build_with_progress DIR TARGET: configures DIR as configure_and_build does and builds TARGET
# only, showing how far the build has come instead of its chatter: one line redrawn on a
# terminal, a line per tenth otherwise. When the build fails, its whole output follows on
# standard error.
build_with_progress()
{
    local dir=$1 target=$2 log status=0 started=$SECONDS
    log=$(mktemp)
    echo "Configuring and building in $dir/ (a few minutes on a fresh machine) ..."
    { configure_build "$dir" && cmake --build "$dir" -j "$(nproc)" --target "$target"; } 2>&1 |
        tee "$log" | show_build_progress || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$log" >&2
    else
        echo "Built in $((SECONDS - started)) s."
    fi
    rm -f "$log"
    return $status
}

# Reads make's "[ 45%] ..." lines; parallel jobs report out of order, so the highest counts.
show_build_progress()
{
    local line percent highest=-1
    while IFS= read -r line; do
        [[ $line =~ ^\[\ *([0-9]+)%\] ]] || continue
        percent=${BASH_REMATCH[1]}
        [ "$percent" -gt "$highest" ] || continue
        if [ -t 1 ]; then
            printf '\r  %3d %% built' "$percent"
        elif [ $((percent / 10)) -gt $((highest / 10)) ] || [ "$highest" -lt 0 ]; then
            printf '  %3d %% built\n' "$percent"
        fi
        highest=$percent
    done
    if [ -t 1 ] && [ "$highest" -ge 0 ]; then
        printf '\n'
    fi
}

# Prints the first line a background program writes to FILE, waiting up to 10 s for it.
wait_for_first_line()
{
    local file=$1
    for _ in $(seq 100); do
        if [ -s "$file" ] && [ "$(wc -l <"$file")" -ge 1 ]; then
            head -n 1 "$file"
            return 0
        fi
        sleep 0.1
    done
    echo "no output in $file" >&2
    return 1
}
