#!/usr/bin/env bash
# CompletionTest.sh SCRIPT ORBELT_DL ORBELT_SCRAMBLE: the bash completion SCRIPT, loaded as
# bash-completion loads it, completes the real programs' options, file names and port numbers.
set -u
script=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$(realpath "$2")" "$work/bin/orbelt-dl"
ln -s "$(realpath "$3")" "$work/bin/orbelt-scramble"
touch "$work/firmware.img" "$work/firmware.hex"
PATH=$work/bin:$PATH
# A mapping that --list-ports reports under number 7 whether the device exists or not.
export ORBELT_COM7=/dev/orbelt-no-such-device

# shellcheck source=/dev/null
if ! source "$script" || ! cd "$work" ||
    [[ $(complete -p orbelt-dl orbelt-scramble) != *"-F _orbelt"*"-F _orbelt"* ]]; then
    echo "FAIL load: $script registers no completion for orbelt-dl and orbelt-scramble"
    echo "0 passed, 1 failed"
    exit 1
fi

# The words typed (the last one is being completed) | how the completions must match:
# "= WORDS" exactly these, "+ WORDS" these among others.
cases=(
    "orbelt-dl --st|+ --stream"
    "orbelt-dl --str|= --stream"
    "orbelt-dl -p |+ 7"
    "orbelt-dl --read fir|= firmware.hex firmware.img"
    "orbelt-dl --size |= "
    "orbelt-dl -v fir|= firmware.hex firmware.img"
    "orbelt-dl --serial-f|= --serial-file --serial-format"
    "orbelt-dl --serial-file fir|= firmware.hex firmware.img"
    "orbelt-dl --serial-format be|= be16 be32 be64"
    "orbelt-dl --serial-format dec1|= dec1 dec10 dec11 dec12 dec13 dec14 dec15 dec16 dec17 dec18 dec19"
    "orbelt-scramble --fi|= --fill"
    "orbelt-scramble --fill |= "
    "orbelt-scramble firmware.hex firmware.i|= firmware.img"
)
passed=0
failed=0
for case in "${cases[@]}"; do
    typed=${case%%|*} expectation=${case#*|}
    read -ra COMP_WORDS <<<"$typed"
    [[ $typed == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _orbelt
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    want=${expectation#? }
    if [[ $expectation == "= "* && $got == "$want" ]] ||
        [[ $expectation == "+ "* && " $got " == *" $want "* ]]; then
        echo "PASS $typed"
        passed=$((passed + 1))
    else
        echo "FAIL $typed: completed to '$got', expected ${expectation%% *} '$want'"
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
