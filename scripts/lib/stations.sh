# shellcheck shell=bash disable=SC2154 # flash-many sets downloader, options, image and logs
# scripts/flash-many --station: one orbelt-dl --station per port, shown as one live line each.
# Uses flash-many's downloader, options, image, logs and result_file.

# station_line LOG: what a station's console log shows now, in one line: the board it is at,
# its state or the stage and figure of the download under way, and the counts; once it has
# ended, its summary.
station_line()
{
    tail -c 8192 "$1" 2>/dev/null | tr '\r\b' '\n ' | awk '
        /^Board [0-9]+: .*\([0-9]+ OK, [0-9]+ NG\)/ {
            status = $0
            sub(/ +$/, "", status)
            stage = ""
            next
        }
        /^[0-9]+ boards? flashed: / { summary = $0; next }
        /^Error encountered/ && status == "" { refused = 1 }
        /^(Erase|Program|Verify) / {
            stage = $1
            if ($0 ~ /Error *$/) stage = stage " Error"
            else if ($0 ~ / Ok *$/) stage = stage " Ok"
            else if (match($0, /[0-9]+ %[ +]*$/)) stage = stage " " substr($0, RSTART, RLENGTH)
            sub(/ +$/, "", stage)
        }
        END {
            if (summary != "") { print summary; exit }
            if (status == "") { print refused ? "could not start" : "starting"; exit }
            if (stage != "") {
                counts = status
                sub(/^Board [0-9]+: .*\(/, "(", counts)
                board = status
                sub(/: .*/, "", board)
                status = board ": " stage " " counts
            }
            print status
        }'
}

# Draws one line per port; on a terminal the block is redrawn in place, otherwise a port's
# line is printed again only when more than its figure has changed.
draw_stations()
{
    local port line key
    if [ -t 1 ] && [ "$drawn" -eq 1 ]; then
        printf '\033[%dA' "$#"
    fi
    for port in "$@"; do
        line=$(station_line "$logs/orbelt-dl-COM$port.log")
        if [ -t 1 ]; then
            printf '\r\033[KCOM%-4s %s\n' "$port" "$line"
        else
            # shellcheck disable=SC2001 # a run of digits: no parameter expansion says that
            key=$(sed 's/[0-9]* %//' <<<"$line")
            if [ "$key" != "${shown[$port]:-}" ]; then
                printf 'COM%-4s %s\n' "$port" "$line"
                shown[$port]=$key
            fi
        fi
    done
    drawn=1
}

# The summary line's counts of one station, "OK NG", or nothing when it never got that far.
station_counts()
{
    sed -n 's/^[0-9]* boards\{0,1\} flashed: \([0-9]*\) OK, \([0-9]*\) NG$/\1 \2/p' \
        "$logs/orbelt-dl-COM$1.log" | tail -n 1
}

run_stations()
{
    local port pid status counts ok ng reason
    declare -gA station_pid=() shown=()
    drawn=0
    for port in "$@"; do
        "$downloader" "${options[@]}" -p "$port" "$image" </dev/null \
            >"$logs/orbelt-dl-COM$port.log" 2>"$logs/orbelt-dl-COM$port.err" &
        station_pid[$port]=$!
    done
    # Children of a script ignore SIGINT: the stop goes on as SIGTERM, which ends a station
    # the same way.
    trap 'kill -TERM "${station_pid[@]}" 2>/dev/null' INT TERM
    local running=1
    while [ "$running" -eq 1 ]; do
        running=0
        for pid in "${station_pid[@]}"; do
            kill -0 "$pid" 2>/dev/null && running=1
        done
        draw_stations "$@"
        [ "$running" -eq 0 ] || sleep 0.5
    done
    trap - INT TERM

    local passed=0 failed=0 interrupted=0 any_failed=0
    for port in "$@"; do
        wait "${station_pid[$port]}"
        status=$?
        counts=$(station_counts "$port")
        if [ -n "$counts" ]; then
            read -r ok ng <<<"$counts"
            passed=$((passed + ok))
            failed=$((failed + ng))
        fi
        if [ "$status" -gt 128 ]; then
            interrupted=1
        elif [ "$status" -ne 0 ]; then
            any_failed=1
        fi
        if [ -z "$counts" ]; then
            reason=$(tail -n 1 "$logs/orbelt-dl-COM$port.err")
            printf 'COM%-4s NG  %s\n' "$port" "${reason#orbelt-dl: }"
        fi
    done
    [ -z "$result_file" ] || echo "Results in $result_file"
    echo "$passed OK, $failed NG"
    [ "$interrupted" -eq 0 ] || return 130
    [ "$any_failed" -eq 0 ] && [ "$failed" -eq 0 ]
}
