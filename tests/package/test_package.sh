#!/usr/bin/env bash
# Builds the Debian package from build/ and takes it through a machine's life:
# install (dpkg -i, apt-get install -f), files and unit, CorvaneDSPrinterConfig,
# the service started the way its unit starts it (with a stand-in notify
# socket), a print through the installed client and over REST, an upgrade, a
# remove, a purge that keeps the shop's settings and one that is told to drop
# them. Needs root and changes the machine: run it on a test machine (CI).
#
# systemd is not PID 1 here. Where the maintainer scripts' dealings with a
# running systemd are checked, CORVANE_SYSTEMD_RUNTIME_DIR points at a folder
# of ours and stand-ins for systemctl and deb-systemd-invoke record the calls.
#
# Usage: tests/package/test_package.sh [PACKAGE.deb]
set -euo pipefail
cd "$(dirname "$0")/../.."

PKG=corvane-dsprinter
DIR=/opt/corvane-dsprinter
UNIT=CorvaneDSPrinterService.service
UNIT_FILE=/lib/systemd/system/$UNIT
WANTS=/etc/systemd/system/multi-user.target.wants/$UNIT
ERROR_DIR=/var/lib/CorvaneDSPrinterService
SETTINGS=(servidor.cfg SYS_INFO.INI aliases.ini)

[ "$(id -u)" -eq 0 ] || { echo "test_package.sh: needs root (it installs the package)" >&2; exit 1; }

fail() { echo "FAIL: $*" >&2; exit 1; }
ok() { echo "ok: $*"; }
has() { grep -qxF -- "$2" "$1" || fail "$1 has no line '$2'"; }

tmp=$(mktemp -d)
service_pid=""
listener_pid=""
cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
    [ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

# Stand-ins for a running systemd: a runtime folder and two recording
# commands. systemctl's offline work on unit files (--root=, used by
# deb-systemd-helper) is passed on to the real one.
mkdir -p "$tmp/stub" "$tmp/run-systemd"
real_systemctl=$(command -v systemctl || true)
for cmd in systemctl deb-systemd-invoke; do
    {
        echo '#!/bin/sh'
        echo "echo \"$cmd \$*\" >> \"$tmp/calls\""
        if [ "$cmd" = systemctl ] && [ -n "$real_systemctl" ]; then
            echo "case \"\$1\" in --root=*) exec \"$real_systemctl\" \"\$@\" ;; esac"
        fi
    } >"$tmp/stub/$cmd"
    chmod +x "$tmp/stub/$cmd"
done
with_systemd() {
    : >"$tmp/calls"
    CORVANE_SYSTEMD_RUNTIME_DIR="$tmp/run-systemd" PATH="$tmp/stub:$PATH" "$@"
}
called() { grep -qxF -- "$1" "$tmp/calls" || fail "no call '$1' in: $(tr '\n' ';' <"$tmp/calls")"; }
not_called() { ! grep -q -- "$1" "$tmp/calls" || fail "unexpected call '$1' in: $(tr '\n' ';' <"$tmp/calls")"; }

installed() { [ "$(dpkg-query -W -f='${Status}' "$PKG" 2>/dev/null)" = "install ok installed" ]; }

# --- the package ------------------------------------------------------------
if [ $# -ge 1 ]; then
    deb=$1
else
    deb=$(./scripts/package | tail -n 1)
fi
[ -f "$deb" ] || fail "no package built"
ok "package $deb"

# A machine that had it before: start from nothing.
if dpkg-query -W "$PKG" >/dev/null 2>&1; then
    CORVANE_PURGE_SETTINGS=1 dpkg --purge "$PKG" >/dev/null
fi
rm -rf "$DIR"

control() { dpkg-deb -f "$deb" "$1"; }
depends=$(control Depends)
for dep in libcups2 libcairo2 libpango-1.0-0 libpangocairo-1.0-0 libsystemd0 zlib1g fonts-liberation; do
    [[ "$depends" == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
done
has_desktop=no
contents=$(dpkg-deb -c "$deb")
[[ "$contents" == *"./opt/corvane-dsprinter/CorvaneDSPrinterDesktop"* ]] && has_desktop=yes
if [ $has_desktop = yes ]; then
    [[ "$depends" == *libqt6widgets6* ]] || fail "Depends lacks Qt 6: $depends"
fi
recommends=$(control Recommends)
for dep in libfbclient2 libmariadb3; do
    [[ "$recommends" == *"$dep"* ]] || fail "Recommends lacks $dep: $recommends"
    [[ "$depends" != *"$dep"* ]] || fail "$dep must not be required: $depends"
done
ok "dependencies: $depends; recommends: $recommends"

# --- install on a machine without systemd ------------------------------------
if ! dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq >>"$tmp/dpkg.log" 2>&1 || {
        cat "$tmp/dpkg.log" >&2
        fail "dpkg -i / apt-get install -f"
    }
fi
installed || fail "not installed: $(cat "$tmp/dpkg.log")"
grep -q "CorvaneDSPrinterConfig" "$tmp/dpkg.log" || fail "install does not say how to configure"
ok "installed"

programs=()
for p in CorvaneDSPrinterService CorvaneDSPrinterConfig CorvaneDSPrinterClient CorvaneDSPrinterDesktop; do
    [ -e "$DIR/$p" ] || continue
    programs+=("$p")
    [ -x "$DIR/$p" ] || fail "$DIR/$p is not executable"
    [ "$(readlink -f "/usr/bin/$p")" = "$DIR/$p" ] || fail "/usr/bin/$p does not lead to $DIR/$p"
    ! file "$DIR/$p" | grep -q "not stripped" || fail "$DIR/$p is not stripped"
done
[ -x "$DIR/CorvaneDSPrinterService" ] && [ -x "$DIR/CorvaneDSPrinterConfig" ] || fail "programs missing"
if [ $has_desktop = yes ]; then
    desktop=/usr/share/applications/CorvaneDSPrinterDesktop.desktop
    has "$desktop" "Exec=CorvaneDSPrinterDesktop"
    has "$desktop" "Icon=corvane-dsprinter"
    grep -q "<svg" /usr/share/icons/hicolor/scalable/apps/corvane-dsprinter.svg || fail "icon missing"
fi
ok "programs: ${programs[*]}"

# The unit: the settings "/INSTALL" writes, byte for byte, and enabled.
[ -f "$UNIT_FILE" ] || fail "$UNIT_FILE missing"
has "$UNIT_FILE" "ExecStart=$DIR/CorvaneDSPrinterService"
has "$UNIT_FILE" "Type=notify"
has "$UNIT_FILE" "User=root"
has "$UNIT_FILE" "WantedBy=multi-user.target"
has "$UNIT_FILE" "StateDirectory=CorvaneDSPrinterService"
mkdir -p "$tmp/units"
CORVANE_SYSTEMD_UNIT_DIR="$tmp/units" with_systemd "$DIR/CorvaneDSPrinterService" /INSTALL /SILENT ||
    fail "/INSTALL of the installed program"
cmp "$tmp/units/$UNIT" "$UNIT_FILE" || {
    diff "$tmp/units/$UNIT" "$UNIT_FILE" >&2 || true
    fail "the packaged unit differs from what /INSTALL writes"
}
if command -v systemd-analyze >/dev/null; then
    # Only the unit's own lines matter: other units of this machine may be unloadable here.
    if systemd-analyze verify "$UNIT_FILE" 2>&1 | grep -i "$UNIT" | grep -iv "not booted\|dependency" >"$tmp/verify"; then
        cat "$tmp/verify" >&2
        fail "systemd-analyze verify"
    fi
fi
[ "$(readlink "$WANTS")" = "$UNIT_FILE" ] || fail "$UNIT is not enabled ($WANTS)"
ok "unit agrees with /INSTALL and is enabled"

# --- configuration on a machine without a screen -------------------------------
read -r http_port tcp_port < <(python3 - <<'PY'
import random, socket
def free(p):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); return True
    except OSError:
        return False
    finally:
        s.close()
while True:
    p = random.randint(2000, 5535)
    if free(p) and free(int("1%d" % p)):
        print(p, "1%d" % p); break
PY
)
receipts=$tmp/receipts.txt
CorvaneDSPrinterConfig --port "$http_port" --user caixa --password demo --printer-kind receipt \
    --printer "$receipts" --model EPSON --condensed no --cut no >"$tmp/config.log" 2>&1 ||
    fail "CorvaneDSPrinterConfig: $(cat "$tmp/config.log")"
[ -s "$DIR/servidor.cfg" ] || fail "CorvaneDSPrinterConfig wrote no $DIR/servidor.cfg"
CorvaneDSPrinterConfig | grep -q "$http_port" || fail "CorvaneDSPrinterConfig does not show the port"
printf 'C:\\BASE\\DADOS.FDB\n' >"$DIR/SYS_INFO.INI"
ok "servidor.cfg written (HTTP $http_port, TCP $tcp_port)"

# --- the service started the way its unit starts it --------------------------
python3 - "$tmp/notify.sock" "$tmp/notify.log" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
with open(sys.argv[2], "a", buffering=1) as log:
    while True:
        log.write(s.recv(4096).decode(errors="replace") + "\n")
PY
listener_pid=$!
for _ in $(seq 50); do [ -S "$tmp/notify.sock" ] && break; sleep 0.1; done
[ -S "$tmp/notify.sock" ] || fail "notify listener did not start"

exec_start=$(sed -n 's/^ExecStart=//p' "$UNIT_FILE")
unit_env=()
while IFS= read -r line; do unit_env+=("$line"); done < <(sed -n 's/^Environment=//p' "$UNIT_FILE")
(cd / && exec env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    NOTIFY_SOCKET="$tmp/notify.sock" INVOCATION_ID="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')" \
    "${unit_env[@]}" "$exec_start") >"$tmp/service.out" 2>&1 &
service_pid=$!
for _ in $(seq 200); do grep -qx "READY=1" "$tmp/notify.log" 2>/dev/null && break; sleep 0.1; done
grep -qx "READY=1" "$tmp/notify.log" || fail "no READY=1 from the service: $(cat "$tmp/service.out")"
ok "service reported READY=1"

if [ -x /usr/bin/CorvaneDSPrinterClient ]; then
    CorvaneDSPrinterClient --port "$tcp_port" --user CAIXA --password DEMO "Recibo pelo cliente instalado" \
        >"$tmp/client.out" 2>&1 || fail "print through the client: $(cat "$tmp/client.out")"
    grep -q "Recibo pelo cliente instalado" "$receipts" || fail "client's receipt not printed"
    ok "printed through CorvaneDSPrinterClient"
fi
payload=$(printf 'Recibo por REST\n' | base64 -w0 | sed 's/+/%2B/g; s,/,%2F,g; s/=/%3D/g')
curl -fsS "http://localhost:$http_port/datasnap/rest/TServerMethods1/print_texto/CAIXA/DEMO/$payload" \
    >"$tmp/rest.out" || fail "REST print"
grep -q "Recibo por REST" "$receipts" || fail "REST receipt not printed: $(cat "$tmp/rest.out")"
ok "printed over REST"

kill -TERM "$service_pid"
rc=0
wait "$service_pid" || rc=$?
service_pid=""
[ $rc -eq 0 ] || fail "service ended with $rc after SIGTERM: $(cat "$tmp/service.out")"
grep -qx "STOPPING=1" "$tmp/notify.log" || fail "no STOPPING=1"
kill "$listener_pid" 2>/dev/null || true
listener_pid=""
ok "service stopped on SIGTERM"

# --- upgrade: settings kept, service restarted ----------------------------------
for f in "${SETTINGS[@]}"; do [ -e "$DIR/$f" ] && cp -p "$DIR/$f" "$tmp/saved-$f"; done
version=$(control Version)
dpkg-deb -R "$deb" "$tmp/next"
sed -i "s/^Version: .*/Version: $version+1/" "$tmp/next/DEBIAN/control"
dpkg-deb -b --root-owner-group "$tmp/next" "$tmp/next.deb" >/dev/null
with_systemd dpkg -i "$tmp/next.deb" >"$tmp/dpkg.log" 2>&1 || fail "upgrade: $(cat "$tmp/dpkg.log")"
[ "$(dpkg-query -W -f='${Version}' "$PKG")" = "$version+1" ] || fail "not upgraded"
for f in "${SETTINGS[@]}"; do
    [ -e "$tmp/saved-$f" ] || continue
    cmp "$tmp/saved-$f" "$DIR/$f" || fail "upgrade changed $f"
done
called "deb-systemd-invoke restart $UNIT"
not_called "deb-systemd-invoke stop"
[ "$(readlink "$WANTS")" = "$UNIT_FILE" ] || fail "upgrade disabled the unit"
ok "upgrade kept the settings, still enabled, restarted"

# --- remove: stopped and disabled, settings kept -------------------------------
mkdir -p "$ERROR_DIR" && echo "error" >"$ERROR_DIR/teste1_err.txt"
with_systemd dpkg -r "$PKG" >"$tmp/dpkg.log" 2>&1 || fail "remove: $(cat "$tmp/dpkg.log")"
called "deb-systemd-invoke stop $UNIT"
[ ! -e "$UNIT_FILE" ] || fail "unit left after remove"
[ ! -L "$WANTS" ] || fail "still enabled after remove"
for p in "${programs[@]}"; do
    [ ! -e "$DIR/$p" ] && [ ! -L "/usr/bin/$p" ] || fail "$p left after remove"
done
for f in servidor.cfg SYS_INFO.INI; do [ -e "$DIR/$f" ] || fail "remove deleted $f"; done
ok "removed: stopped, disabled, settings kept"

# --- purge without asking for the settings: they stay ----------------------------
with_systemd dpkg --purge "$PKG" >"$tmp/dpkg.log" 2>&1 || fail "purge: $(cat "$tmp/dpkg.log")"
dpkg-query -W "$PKG" >/dev/null 2>&1 && fail "package still known to dpkg after purge"
for f in servidor.cfg SYS_INFO.INI; do cmp "$tmp/saved-$f" "$DIR/$f" || fail "purge touched $f"; done
grep -q "CORVANE_PURGE_SETTINGS=1" "$tmp/dpkg.log" || fail "purge does not say how to drop the settings"
[ ! -e "$ERROR_DIR" ] || fail "error folder left after purge"
[ ! -e /var/lib/systemd/deb-systemd-helper-enabled/$UNIT.dsh-also ] || fail "enable record left after purge"
ok "purged, settings kept"

# --- install over kept settings starts the service; purge told to drop them -----
with_systemd dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1 || fail "reinstall: $(cat "$tmp/dpkg.log")"
called "deb-systemd-invoke start $UNIT"
[ "$(readlink "$WANTS")" = "$UNIT_FILE" ] || fail "reinstall did not enable the unit"
with_systemd dpkg -r "$PKG" >/dev/null 2>&1
CORVANE_PURGE_SETTINGS=1 with_systemd dpkg --purge "$PKG" >"$tmp/dpkg.log" 2>&1 || fail "purge: $(cat "$tmp/dpkg.log")"
[ ! -e "$DIR" ] || fail "$DIR left after a purge told to drop the settings: $(ls -A "$DIR")"
ok "reinstall started the service; CORVANE_PURGE_SETTINGS=1 purge left nothing"
echo "package test passed"
