#!/usr/bin/env bash
# The Windows window program from its zip, under wine and Xvfb, used as an operator would:
# the package (zip unpacked into a folder with a non-ASCII name, plus the demo update) is
# opened with apply-update.exe, the main window must appear with its title; the password is
# typed, Apply pressed, the readme confirmed, and the host emulator on the Linux side must
# end up with the update's save file byte for byte. Screenshots of the window as it opened
# and after the run are kept.
#
#   tests/windows/window_smoke.sh ZIP SCREENSHOT_FOLDER [WORK_FOLDER]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
zip=${1:?usage: window_smoke.sh ZIP SCREENSHOT_FOLDER [WORK_FOLDER]}
shots=${2:?usage: window_smoke.sh ZIP SCREENSHOT_FOLDER [WORK_FOLDER]}
work=${3:-$(mktemp -d)}
python=/usr/bin/python3
user=DEMO
password='Wine-Pa55word'
update=KDX0042
main_title="Apply Update: $update"
readme_title="Important Information About This Update"

if [ "${WINDOW_SMOKE_UNDER_XVFB:-}" != 1 ]; then
    mkdir -p "$shots"
    WINDOW_SMOKE_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$zip" \
        "$(realpath "$shots")" "$work"
fi

source "$root/scripts/wine-env.sh"
# Only what the zip carries: no DLL or plugin from the build's folders.
unset WINEPATH QT_PLUGIN_PATH

rm -rf "$work"
package="$work/更新 Mises à jour"
mkdir -p "$package"
"$python" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$zip" "$package"
cp "$root/demo/Readme.txt" "$package/Readme.txt"
"$python" "$root/demo/make_save_file.py" W_CHKLCKSF 4 "$package/W_CHKLCKSF.SVF"
"$python" "$root/demo/make_save_file.py" "$update" 96 "$package/$update.SVF"

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wine_stop
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

host=$work/host
mkdir -p "$host"
exec {out}< <(exec "$python" -B "$root/tools/host_emulator.py" --port 0 \
    --user "$user" --password "$password" --library-root "$host/libraries" \
    --library KDXPROD --record "$host/commands.jsonl" 2>"$host/emulator.log")
pids+=("$!")
port=""
read -r -t 20 -u "$out" port || true
if ! [[ "$port" =~ ^[0-9]+$ ]]; then
    echo "the host emulator did not start:" >&2
    cat "$host/emulator.log" >&2
    exit 1
fi
sed -e "s/@PORT@/$port/" -e "s/@USER@/$user/" "$root/demo/update.Ini.template" |
    sed 's/$/\r/' >"$package/update.Ini"

find_window() { # find_window TITLE: the id of the visible window of that title (waits 60 s)
    local id
    for _ in $(seq 1 240); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.25
    done
    echo "window_smoke: the window \"$1\" did not appear" >&2
    return 1
}
click() { # click WINDOW X Y
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.5
}
capture() { # capture FILE: the whole screen (wine's windows have no frame of their own here)
    xdotool mousemove 0 0
    sleep 1
    import -window root "$1"
    echo "  screenshot: $1"
}

wine_start
echo "== apply-update.exe from \"$(wine_path_of "$package")\""
(cd "$package" && exec wine "$(wine_path_of "$package/apply-update.exe")") \
    >"$work/window.out" 2>&1 &
pids+=("$!")
window=$(find_window "$main_title")
echo "  the main window \"$main_title\" appeared"
sleep 1
capture "$shots/window-under-wine.png"

# The password field, then Apply (the window's layout under wine's Tahoma).
xdotool windowfocus "$window" 2>/dev/null || true
click "$window" "${PASSWORD_X:-212}" "${PASSWORD_Y:-144}"
xdotool type --delay 40 "$password"
capture "$shots/typed-under-wine.png"
click "$window" "${APPLY_X:-42}" "${APPLY_Y:-398}"
readme=$(find_window "$readme_title")
echo "  the readme appeared; confirming it"
sleep 0.5
capture "$shots/readme-under-wine.png"
click "$readme" "${OK_X:-228}" "${OK_Y:-324}" # OK
for _ in $(seq 1 240); do
    grep -qi '"command": "QUIT' "$host/commands.jsonl" 2>/dev/null && break
    sleep 0.25
done
sleep 2
capture "$shots/applied-under-wine.png"

status=0
if grep -qi '"command": "QUIT' "$host/commands.jsonl" 2>/dev/null &&
    [ -f "$host/libraries/KDXSUPPT/$update" ] &&
    cmp -s "$package/$update.SVF" "$host/libraries/KDXSUPPT/$update"; then
    echo "  ok    the host stored the update's save file byte for byte and was logged off"
else
    echo "  FAIL  the host did not receive the update (its log: $host/emulator.log)"
    status=1
fi
exit "$status"
