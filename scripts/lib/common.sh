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
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

# The QEMU guest of scripts/vm-test: emulator, a kernel with its modules, a static busybox.
install_vm_dependencies()
{
    local missing=()
    command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
    compgen -G "/boot/vmlinuz-*" >/dev/null || missing+=(linux-image-amd64)
    command -v busybox >/dev/null && ! ldd "$(command -v busybox)" >/dev/null 2>&1 ||
        missing+=(busybox-static)
    command -v cpio >/dev/null || missing+=(cpio)
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

# configure_and_build DIR [cmake options...]
configure_and_build()
{
    local dir=$1
    shift
    # Tests always on: a cache left by hand with them off must not make a run test nothing.
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
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
