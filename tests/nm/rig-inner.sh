#!/usr/bin/env bash
# Runs as PID 1 of the rig's namespaces (started by rig.sh): builds the private
# world, starts the daemons, runs the command, and leaves; the kernel ends every
# process of the PID namespace with it.
set -euo pipefail
w=$RIG_WORK
log() { echo "nm rig: $*" >&2; }
fail() {
  log "$*"
  for f in "$w"/nm.log "$w"/bus.log "$w"/dnsmasq.log "$w"/openvpn-server.log; do
    [[ -s $f ]] && { echo "---- $f (last lines)" >&2; tail -15 "$f" >&2; }
  done
  exit 1
}
# Waits up to $1 tenths of a second for the command after it to succeed.
until_ok() {
  local n=$1
  shift
  while ((n-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Private filesystem view: nothing below is seen outside this mount namespace.
mount -t tmpfs -o mode=755 rig-run /run
mkdir -p /run/dbus /run/NetworkManager /run/netns /run/lock
# Read-only sysfs: NetworkManager then runs without udev instead of waiting for it.
mount -t sysfs -o ro sysfs /sys
mkdir -p "$w/etc-nm/system-connections" "$w/etc-nm/conf.d" "$w/var-nm"
touch "$w/resolv.conf"
mount --bind "$w/etc-nm" /etc/NetworkManager
mount --bind "$w/var-nm" /var/lib/NetworkManager
mount --bind "$w/resolv.conf" /etc/resolv.conf
ip link set lo up

cat >"$w/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <includedir>/usr/share/dbus-1/system.d</includedir>
  <includedir>/etc/dbus-1/system.d</includedir>
  <policy user="root">
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
  <!-- Other users may connect (what they may ask NetworkManager is NetworkManager's call). -->
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="org.freedesktop.DBus"/>
    <allow send_type="signal"/>
    <allow send_type="method_return" send_requested_reply="true"/>
    <allow send_type="error" send_requested_reply="true"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return" receive_requested_reply="true"/>
    <allow receive_type="error" receive_requested_reply="true"/>
    <allow receive_type="signal"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$w/bus.conf" --nofork --nopidfile >"$w/bus.log" 2>&1 &
echo $! >"$w/bus.pid"
until_ok 50 test -S /run/dbus/system_bus_socket || fail "the private system bus did not start"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket

# The peer: the far end of the wire, with its DHCP and OpenVPN servers.
ip netns add peer
ip link add veth0 type veth peer name veth1 netns peer
ip -n peer link set lo up
ip -n peer addr add 10.77.0.1/24 dev veth1
ip -n peer link set veth1 up
openvpn --genkey secret "$w/static.key" >/dev/null 2>&1 || fail "openvpn could not make a static key"
chmod 600 "$w/static.key"
RIG_WORK=$w bash "$RIG_HERE/rig-ctl.sh" dhcp-start
RIG_WORK=$w bash "$RIG_HERE/rig-ctl.sh" vpn-server-start

cat >"$w/NetworkManager.conf" <<CONF
[main]
plugins=keyfile
no-auto-default=*
dns=none
rc-manager=unmanaged
hostname-mode=none
# No polkit here: root may do everything, any other user nothing (the refusal the suites check).
auth-polkit=root-only

[keyfile]
path=/etc/NetworkManager/system-connections
unmanaged-devices=except:interface-name:veth0

[connectivity]
enabled=false

[logging]
level=INFO
CONF
RIG_WORK=$w bash "$RIG_HERE/rig-ctl.sh" nm-start
until_ok 100 bash -c '[[ "$(nmcli -t -f RUNNING general 2>/dev/null)" == running ]]' ||
  fail "NetworkManager did not start"
until_ok 100 bash -c 'nmcli -t -f DEVICE,STATE device | grep -qx "veth0:disconnected"' ||
  fail "NetworkManager did not take veth0"

# The profiles every suite may use.
nmcli connection add type ethernet ifname veth0 con-name Office ipv4.method auto ipv6.method disabled \
  connection.autoconnect no >/dev/null || fail "could not add the Office profile"
vpn_data="connection-type=static-key, remote=10.77.0.1, port=1194, static-key=$w/static.key"
vpn_data+=", local-ip=10.8.0.2, remote-ip=10.8.0.1, dev=tun7, dev-type=tun, cipher=AES-256-CBC, ping=1, ping-exit=4"
nmcli connection add type vpn vpn-type openvpn con-name "Office VPN" connection.autoconnect no ipv6.method disabled \
  vpn.data "$vpn_data" >/dev/null || fail "could not add the Office VPN profile"

export QUOR_NM_RIG=1 QUOR_NM_RIG_CTL="$RIG_HERE/rig-ctl.sh" RIG_WORK="$w"
set +e
"$@"
status=$?
set -e
if [[ $status -ne 0 && $status -ne 77 ]]; then
  log "the command failed ($status); last lines of NetworkManager's log:"
  tail -25 "$w/nm.log" >&2
fi
# Stop the daemons in order (each by the pid the rig recorded); anything left
# ends with this PID namespace.
for name in nm dnsmasq openvpn-server bus; do
  [[ -s $w/$name.pid ]] && kill "$(cat "$w/$name.pid")" 2>/dev/null || true
done
until_ok 30 bash -c "! kill -0 $(cat "$w/nm.pid") 2>/dev/null" || true
exit $status
