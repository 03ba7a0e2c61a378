#!/usr/bin/env bash
# StagesTest.sh SCRIPTS_TEST: scripts/test --list names the stages one per line; an unknown
# stage, or two names in one argument, is an error that names them all and starts no stage;
# --help prints the usage.
set -u
test=$1
passed=0
failed=0
# check NAME, right after the test command: PASS or FAIL by that command's status.
check()
{
    if [ $? -eq 0 ]; then
        echo "PASS $1"
        passed=$((passed + 1))
    else
        echo "FAIL $1"
        failed=$((failed + 1))
    fi
}

list=$(timeout 30 bash "$test" --list)
status=$?
[ "$status" -eq 0 ]
check "--list succeeds"
! grep -qvx "[a-z]\+" <<<"$list"
check "--list prints one stage name a line"
for stage in unit windows linux packages vm sanitizers fuzz lint; do
    grep -qx "$stage" <<<"$list"
    check "--list names $stage"
done

errors=$(mktemp)
output=$(timeout 30 bash "$test" linux no-such-stage 2>"$errors")
status=$?
error=$(cat "$errors")
rm -f "$errors"
unnamed=""
for stage in $list; do
    grep -qw -- "$stage" <<<"$error" || unnamed+=" $stage"
done
[ "$status" -eq 2 ]
check "an unknown stage fails with status 2"
[ -z "$output" ]
check "an unknown stage starts nothing"
[[ $error == *no-such-stage* ]]
check "the error names the unknown stage"
[ -z "$unnamed" ]
check "the error names every stage"
for help in --help -h; do
    [[ $(timeout 30 bash "$test" "$help") == *"usage: scripts/test"* ]]
    check "$help prints the usage and succeeds"
done
output=$(timeout 30 bash "$test" "sanitizers fuzz" 2>/dev/null)
[ $? -eq 2 ] && [ -z "$output" ]
check "two names in one argument are no stage"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
