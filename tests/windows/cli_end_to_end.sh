#!/usr/bin/env bash
# The Windows command line from its zip, under wine, against the IBM i host emulator on the
# Linux side: unpacks the zip into a package folder with a non-ASCII name, adds the demo
# update, and applies it in plain FTP and over TLS (explicit and implicit), checking the
# exit status, the status log on standard output, the stored save files byte for byte
# (SHA-256) and that the password appears in no output. A wrong password must end in exit 3.
#
#   tests/windows/cli_end_to_end.sh ZIP [WORK_FOLDER]
#
# Prints what it checks and the host's command record of the plain run.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
zip=${1:?usage: cli_end_to_end.sh ZIP [WORK_FOLDER]}
work=${2:-$(mktemp -d)}
python=/usr/bin/python3
user=DEMO
password='Wine-Pa55word'
update=KDX0042

source "$root/scripts/wine-env.sh"
# Only what the zip carries: no DLL or plugin from the build's folders.
unset WINEPATH QT_PLUGIN_PATH

rm -rf "$work"
mkdir -p "$work"
package="$work/更新 Mises à jour"
mkdir -p "$package"
"$python" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$zip" "$package"
cp "$root/demo/Readme.txt" "$package/Readme.txt"
"$python" "$root/demo/make_save_file.py" W_CHKLCKSF 4 "$package/W_CHKLCKSF.SVF"
"$python" "$root/demo/make_save_file.py" "$update" 96 "$package/$update.SVF"
sh "$root/tests/support/make_test_certificates.sh" "$work/tls" >/dev/null 2>&1

emulator_pid=
stop_emulator() {
    if [ -n "$emulator_pid" ]; then
        kill "$emulator_pid" 2>/dev/null || true
        wait "$emulator_pid" 2>/dev/null || true
        emulator_pid=
    fi
}
cleanup() {
    stop_emulator
    wine_stop
}
trap cleanup EXIT

# start_emulator DIR [OPTION...]: a host with its libraries and command record in DIR; sets
# $port.
start_emulator() {
    local dir=$1 out
    shift
    mkdir -p "$dir"
    exec {out}< <(exec "$python" -B "$root/tools/host_emulator.py" --port 0 \
        --user "$user" --password "$password" --library-root "$dir/libraries" \
        --library KDXPROD --record "$dir/commands.jsonl" "$@" 2>"$dir/emulator.log")
    emulator_pid=$!
    port=""
    read -r -t 20 -u "$out" port || true
    if ! [[ "$port" =~ ^[0-9]+$ ]]; then
        echo "the host emulator did not start:" >&2
        cat "$dir/emulator.log" >&2
        exit 1
    fi
}

write_descriptor() { # write_descriptor PORT [SECURITY]
    sed -e "s/@PORT@/$1/" -e "s/@USER@/$user/" "$root/demo/update.Ini.template" |
        sed 's/$/\r/' >"$package/update.Ini"
    [ -z "${2:-}" ] || printf 'Security=%s\r\n' "$2" >>"$package/update.Ini"
}

failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then
        echo "  ok    $1"
    else
        echo "  FAIL  $1"
        failures=$((failures + 1))
    fi
}
same_file() { [ "$(sha256sum <"$1" | cut -c1-64)" = "$(sha256sum <"$2" | cut -c1-64)" ]; }
contains() { grep -qF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }

cli=$(wine_path_of "$package/apply-update-cli.exe")
wine_start

echo "== apply-update-cli.exe --version"
version_out=$(wine "$cli" --version | tr -d '\r')
echo "  $version_out"
check "it names itself and its version" [ "$version_out" = "apply-update-cli $(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" ]

# run_case NAME EXPECTED_STATUS SECURITY [CLI OPTION...]: starts a fresh host (TLS when
# SECURITY is set), applies the package with the password from the environment.
run_case() {
    local name=$1 expected=$2 security=$3
    shift 3
    local dir="$work/$name" emulator_options=() status=0
    case "$security" in
    TLS) emulator_options=(--tls explicit --cert "$work/tls/host.pem" --key "$work/tls/host.key") ;;
    ImplicitTLS) emulator_options=(--tls implicit --cert "$work/tls/host.pem" --key "$work/tls/host.key") ;;
    esac
    start_emulator "$dir" "${emulator_options[@]}"
    write_descriptor "$port" "$security"
    echo "== $name: apply-update-cli.exe --package \"$(wine_path_of "$package")\" --readme-read $*"
    APPLY_UPDATE_PASSWORD=${typed_password:-$password} wine "$cli" --package "$(wine_path_of "$package")" \
        --readme-read "$@" >"$dir/stdout" 2>"$dir/stderr" || status=$?
    stop_emulator
    sed 's/^/  | /' "$dir/stdout"
    [ ! -s "$dir/stderr" ] || sed 's/^/  ! /' "$dir/stderr"
    check "exit status $expected (was $status)" [ "$status" = "$expected" ]
    check "the password is in no output" lacks "$dir/stdout" "${typed_password:-$password}"
    check "... nor on standard error" lacks "$dir/stderr" "${typed_password:-$password}"
}

run_case plain 0 ""
check "the status log reaches standard output" contains "$work/plain/stdout" "Update $update successfully applied."
check "the update's save file is stored byte for byte" \
    same_file "$package/$update.SVF" "$work/plain/libraries/KDXSUPPT/$update"
check "the lock-check save file likewise" \
    same_file "$package/W_CHKLCKSF.SVF" "$work/plain/libraries/KDXSUPPT/W_CHKLCKSF"
check "a run without TLS says so on standard error" contains "$work/plain/stderr" "not secured"

run_case tls 0 TLS --ca-file "$(wine_path_of "$work/tls/ca.pem")"
check "the run was secured" contains "$work/tls/stdout" "Secured with TLS"
check "the update's save file is stored byte for byte over TLS" \
    same_file "$package/$update.SVF" "$work/tls/libraries/KDXSUPPT/$update"

run_case implicit-tls 0 ImplicitTLS --ca-file "$(wine_path_of "$work/tls/ca.pem")"
check "the update's save file is stored byte for byte over implicit TLS" \
    same_file "$package/$update.SVF" "$work/implicit-tls/libraries/KDXSUPPT/$update"

typed_password='Wrong-Pa55word' run_case wrong-password 3 ""

echo "== The command record of the plain run (the password hidden)"
"$python" -c 'import json, sys
for line in open(sys.argv[1]):
    command = json.loads(line)["command"]
    print("  " + ("PASS ********" if command.upper().startswith("PASS ") else command))' \
    "$work/plain/commands.jsonl"

if [ "$failures" -ne 0 ]; then
    echo "cli_end_to_end: $failures check(s) failed (work folder: $work)"
    exit 1
fi
echo "cli_end_to_end: every check passed"
