# shellcheck shell=bash
# Sanitizer, fuzzing and install checks, shared by scripts/test, scripts/fuzz and
# scripts/bench-reliability. Needs common.sh.

# shellcheck disable=SC2034 # read by the scripts that source this file
FUZZ_TARGETS=(fuzz_arguments fuzz_transactions fuzz_download fuzz_records)

# tmux for the terminal tests.
install_test_tools()
{
    command -v tmux >/dev/null || apt_install tmux
}

# clang with libFuzzer for the fuzz targets.
install_fuzz_dependencies()
{
    local missing=()
    command -v clang++ >/dev/null || missing+=(clang)
    if ! command -v clang++ >/dev/null ||
        [ ! -e "$(clang++ -print-runtime-dir)/libclang_rt.fuzzer-x86_64.a" ]; then
        missing+=(libclang-rt-14-dev)
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

# What the sanitized suite and the fuzz targets need.
install_hardening_dependencies()
{
    install_test_tools
    install_fuzz_dependencies
}

# run_sanitized_suite DIR [ctest options...]: the whole suite built with ASan and UBSan. The
# tests' own children (orbelt-dl, orbelt-board, orbelt-scramble) are the sanitized builds of
# the same tree. A finding ends the process with status 99 (UBSan) or SIGABRT (ASan), which
# the tests' exit status checks catch; ASan also writes each report to a log directory, and
# any report there fails the run even when no test looked at that process.
run_sanitized_suite()
{
    local dir=$1
    shift
    # -O1 and line tables only: half the compile time of -O2 -g, and still the stack traces
    # the reports need.
    configure_and_build "$dir" -DORBELT_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
    local reports
    reports=$(mktemp -d "${TMPDIR:-/tmp}/orbelt-sanitizer.XXXXXX")
    local status=0
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:exitcode=99:log_path=$reports/asan" \
        UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=99" \
        ctest --test-dir "$dir" --output-on-failure "$@" || status=$?
    if compgen -G "$reports/*" >/dev/null; then
        echo "Sanitizer reports:" >&2
        cat "$reports"/* >&2
        status=1
    fi
    rm -rf "$reports"
    return $status
}

# build_fuzz_targets DIR: the libFuzzer targets and the product code they drive, with clang.
build_fuzz_targets()
{
    local dir=$1
    CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DORBELT_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$dir" -j "$(nproc)" --target orbelt_fuzz_targets >/dev/null
}

# run_fuzz_target DIR TARGET SECONDS [NEW_INPUTS_DIR]: replays the committed corpus of TARGET,
# then fuzzes it for SECONDS starting from that corpus, which stays as it is: new inputs go to
# NEW_INPUTS_DIR (default: a temporary directory). Prints one line with the executions run
# and the crashes found; returns 1 when there was a crash. Crashing inputs are kept under
# DIR/fuzz-artifacts/TARGET.
run_fuzz_target()
{
    local dir=$1 target=$2 seconds=$3 new=${4:-}
    local binary="$dir/tests/fuzz/$target"
    local corpus="tests/fuzz/corpus/$target"
    local artifacts="$dir/fuzz-artifacts/$target"
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/orbelt-fuzz.XXXXXX")
    [ -n "$new" ] || new="$work/new"
    mkdir -p "$new" "$artifacts" "$corpus"
    local replayed
    replayed=$(find "$corpus" -type f | wc -l)
    if ! "$binary" -runs=0 -artifact_prefix="$artifacts/" "$corpus" >"$work/replay.log" 2>&1; then
        echo "$target: the committed corpus ($replayed inputs) crashes:" >&2
        tail -n 30 "$work/replay.log" >&2
        rm -rf "$work"
        return 1
    fi
    local status=0
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$new" "$corpus" >"$work/fuzz.log" 2>&1 || status=$?
    local executions crashes
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -n 1)
    crashes=$(find "$artifacts" -type f | wc -l)
    printf '%-18s %10s executions in %s s, %s crashes (corpus of %s replayed first)\n' \
        "$target" "${executions:-?}" "$seconds" "$crashes" "$replayed"
    if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ]; then
        tail -n 40 "$work/fuzz.log" >&2
        status=1
    fi
    rm -rf "$work"
    return $status
}

# check_install BUILD_DIR: installs into a staging directory and checks what arrived: the three
# programs, running, their bash completion, and a compressed man page for each that renders
# cleanly and names every option the program's own help text lists.
check_install()
{
    local build=$1
    local stage
    stage=$(mktemp -d "${TMPDIR:-/tmp}/orbelt-install.XXXXXX")
    DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >/dev/null
    local root="$stage/usr/local" failed=0 program
    for program in orbelt-dl orbelt-board orbelt-scramble; do
        local binary="$root/bin/$program" page="$root/share/man/man1/$program.1.gz"
        local completion="$root/share/bash-completion/completions/$program"
        if [ ! -x "$binary" ] || [ ! -f "$completion" ]; then
            echo "install: $binary or $completion is missing" >&2
            failed=1
        fi
        if [ ! -f "$page" ]; then
            echo "install: $page is missing" >&2
            failed=1
            continue
        fi
        local warnings
        warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -ww -z 2>&1)
        if [ -n "$warnings" ]; then
            echo "install: $page: $warnings" >&2
            failed=1
        fi
    done
    local help option
    for program in orbelt-board orbelt-scramble; do
        if ! help=$("$root/bin/$program" --help); then
            echo "install: $program --help failed" >&2
            failed=1
            continue
        fi
        while read -r option; do
            if ! zgrep -qF -- "${option//-/\\-}" "$root/share/man/man1/$program.1.gz"; then
                echo "install: $program.1 does not describe $option" >&2
                failed=1
            fi
        done < <(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
    done
    if [ "$failed" -eq 0 ]; then
        echo "Installed into $stage/usr/local: bin/, share/man/man1/, share/bash-completion/ complete"
    fi
    rm -rf "$stage"
    return $failed
}
