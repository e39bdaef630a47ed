#!/usr/bin/env bash
# A real NetworkManager, isolated from this machine, for the backend's suites.
#
#   tests/nm/rig.sh run COMMAND [ARG...]
#
# Makes new PID, mount, network, UTS and IPC namespaces; inside them a private
# /run, a read-only sysfs, private /etc/NetworkManager, /var/lib/NetworkManager
# and /etc/resolv.conf, a private system bus and NetworkManager; a peer network
# namespace ("peer") on the far end of a veth pair (veth0 here, 10.77.0.1 there)
# with a DHCP server (dnsmasq) and an OpenVPN server (static key, udp 1194).
# COMMAND then runs inside with QUOR_NM_RIG=1 and QUOR_NM_RIG_CTL naming the
# control script (rig-ctl.sh). Everything started inside dies with the PID
# namespace when COMMAND ends. The host's interfaces, routes, resolv.conf,
# device-node modes and daemons are compared before and after; a difference fails
# the run. Exit status: COMMAND's, 1 on a rig failure or a host difference, 77
# (with a SKIP line) when namespaces cannot be made here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

snapshot() {
  {
    ip -o link show | sed -E 's/^[0-9]+: //; s/ qlen [0-9]+//'
    ip -o addr show
    ip route show table all
    ip -6 route show table all 2>/dev/null || true
    sha256sum /etc/resolv.conf
    stat -c '%n %a %U:%G' /dev/net/tun /dev/fuse /dev/loop-control 2>/dev/null || true
    # Daemons of the kinds the rig starts, in this machine's own network namespace.
    local ownnet
    ownnet=$(readlink /proc/self/ns/net)
    for c in /proc/[0-9]*/comm; do
      case "$(cat "$c" 2>/dev/null)" in
      NetworkManager | dbus-daemon | dnsmasq | openvpn | nm-openvpn-serv | systemd-udevd)
        if [[ "$(readlink "${c%/comm}/ns/net" 2>/dev/null)" == "$ownnet" ]]; then echo "daemon ${c%/comm}"; fi
        ;;
      esac
    done | sort
  } 2>/dev/null
}

skip() {
  echo "SKIP: NetworkManager rig: $*"
  exit 77
}

[[ "${1:-}" == run && $# -ge 2 ]] || { echo "usage: $0 run COMMAND [ARG...]" >&2; exit 2; }
shift
[[ $(id -u) -eq 0 ]] || skip "needs root to make namespaces"
for tool in NetworkManager nmcli dbus-daemon dnsmasq openvpn unshare ip; do
  command -v "$tool" >/dev/null || [[ -x /usr/sbin/$tool ]] || skip "$tool is not installed (tests/nm/install.sh)"
done
unshare --pid --fork --net --mount true 2>/dev/null || skip "this kernel or container refuses new namespaces"

work=$(mktemp -d /tmp/quor-nm-rig.XXXXXX)
chmod 755 "$work"
before="$work/host.before"
snapshot >"$before"
set +e
unshare --pid --fork --mount-proc --net --mount --uts --ipc --propagation private --kill-child \
  env RIG_WORK="$work" RIG_HERE="$here" bash "$here/rig-inner.sh" "$@"
status=$?
set -e
after="$work/host.after"
snapshot >"$after"
if ! diff -u "$before" "$after" >"$work/host.diff"; then
  echo "nm rig: the host changed during the run:" >&2
  cat "$work/host.diff" >&2
  status=1
fi
if [[ $status -ne 0 && -n "${QUOR_NM_RIG_KEEP_LOGS:-}" ]]; then
  mkdir -p "$QUOR_NM_RIG_KEEP_LOGS" && cp "$work"/*.log "$QUOR_NM_RIG_KEEP_LOGS"/ 2>/dev/null || true
fi
rm -rf "$work"
exit $status
