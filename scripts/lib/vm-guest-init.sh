#!/bin/busybox sh
# The init of scripts/vm-test's QEMU guest: runs orbelt-dl on the guest's serial ports and
# reports "PASS name" / "FAIL name: why" on its console, which the host reads.
# shellcheck shell=dash
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /run/lock /tmp
echo "VMTEST start"

pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; }
# has FILE TEXT: TEXT (printf escapes) occurs in one line of FILE.
# shellcheck disable=SC2059 # the escapes are the point
has() { grep -qF "$(printf "$2")" "$1"; }
# wait_text FILE TEXT [COUNT]: waits up to 30 s for TEXT to appear in COUNT lines of FILE.
wait_text() {
    for _ in $(seq 300); do
        # shellcheck disable=SC2059 # as in has
        [ "$(grep -cF "$(printf "$2")" "$1")" -ge "${3:-1}" ] && return 0
        sleep 0.1
    done
    return 1
}
# monitor COMMAND, board_d COMMAND: the host hands COMMAND to QEMU's monitor or to the board
# behind the second adapter.
monitor() { echo "VMTEST monitor: $* :end"; }
board_d() { echo "VMTEST board-d: $* :end"; }
# The second adapter is plugged in again with a new board behind it.
replug() {
    board_d on --erase-ms 300
    monitor device_add usb-serial,bus=xhci.0,port=2,chardev=ftdi2,id=unplugged
}
centiseconds() { sed 's/ .*//; s/\.//' /proc/uptime; }
ok_banner() { has "$1" 'OOOOOO       K    K' && has "$1" 'Firmware upgraded, press any key to continue'; }
ng_banner() { has "$1" 'N    N       GGGGGGG' && has "$1" 'Error encountered, press any key to continue'; }
downloaded() {
    ok_banner "$1" && has "$1" 'Erase               ' && has "$1" '\b\b\b Ok' &&
        grep -q '^Program .*100 %$' "$1" && grep -q '^Verify .*100 %$' "$1" && ! grep -q Error "$1"
}
verified() { ok_banner "$1" && grep -q '^Verify .*100 %$' "$1" && ! grep -q Error "$1"; }
# run NAME ARGS...: orbelt-dl in the background, console output in /tmp/NAME.out.
run() {
    local name=$1
    shift
    timeout 90 orbelt-dl "$@" </dev/null >"/tmp/$name.out" 2>"/tmp/$name.err" &
}
report() { if "$2" "/tmp/$1.out"; then pass "$1"; else fail "$1" "$(tr '\b\n' '~|' <"/tmp/$1.out")"; fi; }

loaded=yes
while read -r module; do
    insmod "/modules/$module.ko" || loaded="no: $module"
done </modules/order
if [ "$loaded" = yes ]; then pass modules-loaded; else fail modules-loaded "$loaded"; fi
for _ in $(seq 300); do
    [ -e /sys/bus/usb-serial/devices/ttyUSB1 ] && break
    sleep 0.1
done
# The adapter on xHCI port 1 has board b behind it, the one on port 2 board d.
for device in /sys/bus/usb-serial/devices/ttyUSB*; do
    case $(readlink -f "$device") in
    *-1:1.0/*) usb_b=${device##*/} ;;
    *-2:1.0/*) usb_d=${device##*/} ;;
    esac
done
if [ -n "$usb_b" ] && [ -n "$usb_d" ]; then
    pass usb-adapters-found
else
    fail usb-adapters-found "$(ls /sys/bus/usb-serial/devices)"
fi

# 16550: -p 2 is /dev/ttyS1 by default; a second program on the same port must not get in.
run ttyS1-download -v -p 2 /img/a.img
pid=$!
if wait_text /tmp/ttyS1-download.out Erase; then
    ORBELT_COM3=/dev/ttyS1 timeout 30 orbelt-dl -p 3 /img/a.img </dev/null >/tmp/port-in-use.out 2>&1
    if grep -qx "Can't open COM3" /tmp/port-in-use.out && ng_banner /tmp/port-in-use.out; then
        pass port-in-use
    else
        fail port-in-use "$(tr '\n' '|' </tmp/port-in-use.out)"
    fi
else
    fail port-in-use "the first program never reached the erase"
fi
wait $pid
report ttyS1-download downloaded
run ttyS1-verify-only -vo -p 2 /img/a.img
wait $!
report ttyS1-verify-only verified
run ttyS1-verify-other -vo -p 2 /img/b.img
wait $!
report ttyS1-verify-other ng_banner

# FTDI: the low-latency request must show as a 1 ms latency timer while the program runs,
# and the timer must be as before once it has ended.
latency=/sys/bus/usb-serial/devices/$usb_b/latency_timer
before=$(cat "$latency")
echo "INFO latency_timer before: $before"
start=$(centiseconds)
ORBELT_COM4=/dev/$usb_b run ttyUSB-download -v -p 4 /img/b.img
pid=$!
wait_text /tmp/ttyUSB-download.out Erase
during=$(cat "$latency")
wait $pid
echo "INFO 4 KiB -v through ftdi_sio took $(($(centiseconds) - start)) cs"
report ttyUSB-download downloaded
if [ "$during" = 1 ]; then pass latency-timer; else fail latency-timer "read $during"; fi
after=$(cat "$latency")
if [ "$after" = "$before" ]; then pass latency-restored; else fail latency-restored "read $after"; fi
ORBELT_COM4=/dev/$usb_b run ttyUSB-verify-only -vo -p 4 /img/b.img
wait $!
report ttyUSB-verify-only verified

# A board that stops answering after three frames: the erase fails.
ORBELT_COM5=/dev/ttyS2 run stops-answering -v -p 5 /img/a.img
wait $!
stopped() { ng_banner "$1" && has "$1" 'Erase               \b\b\b\b\b\b Error'; }
report stops-answering stopped

# The host removes the second adapter (device_del) once programming has begun.
ORBELT_COM6=/dev/$usb_d run unplugged -v -p 6 /img/d.img
pid=$!
wait_text /tmp/unplugged.out Program
if kill -0 $pid 2>/dev/null; then running=yes; else running=no; fi
asked=$(centiseconds)
monitor device_del unplugged
wait $pid
took=$(($(centiseconds) - asked))
echo "INFO run ended $took cs after the removal was asked for"
[ -e "/sys/bus/usb-serial/devices/$usb_d" ] && gone=no || gone=yes
cut_off() { ng_banner "$1" && has "$1" ' Error' && [ "$running$gone" = yesyes ] && [ "$took" -lt 300 ]; }
report unplugged cut_off

# A station on that adapter: it is added again with a board behind it, flashed, removed and
# added again for the second board, which is flashed through the same ttyUSB.
replug
for _ in $(seq 300); do [ -e "/dev/$usb_d" ] && break; sleep 0.1; done
ORBELT_COM8=/dev/$usb_d timeout 90 orbelt-dl --station -v --result /tmp/station.jsonl -p 8 \
    /img/s.img </dev/null >/tmp/station.out 2>/tmp/station.err &
pid=$!
wait_text /tmp/station.out 'Firmware upgraded'
monitor device_del unplugged
wait_text /tmp/station.out 'Board 2: waiting'
added=$(centiseconds)
replug
wait_text /tmp/station.out 'Board 2: started'
echo "INFO station: board 2 started $(($(centiseconds) - added)) cs after the adapter was added"
wait_text /tmp/station.out 'Firmware upgraded' 2
kill -TERM $pid
wait $pid
station_status=$?
records() { grep -c "\"device\":\"/dev/$usb_d\",\"board\":[12],.*\"result\":\"OK\"" /tmp/station.jsonl; }
two_boards() {
    [ $station_status = 0 ] && [ "$(grep -c 'Firmware upgraded' "$1")" = 2 ] &&
        grep -qx '2 boards flashed: 2 OK, 0 NG' "$1" && [ "$(records)" = 2 ]
}
report station two_boards

echo "VMTEST done"
poweroff -f
