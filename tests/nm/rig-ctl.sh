#!/usr/bin/env bash
# Control of the rig's peer, for the suites that run inside it (rig.sh), by the
# pids the rig recorded:
#   dhcp-start | dhcp-freeze | dhcp-thaw | vpn-server-start | vpn-server-kill
#   link-down | link-up | link-delete | link-restore | tun-present NAME | nm-start | nm-stop | nm-freeze | nm-thaw
set -euo pipefail
w=${RIG_WORK:?runs only inside the NetworkManager rig}
[[ ${QUOR_NM_RIG:-1} == 1 ]] || exit 2
pidof_file() { cat "$w/$1.pid" 2>/dev/null || true; }

case "${1:-}" in
dhcp-start)
  ip netns exec peer dnsmasq --no-daemon --no-ping --conf-file=/dev/null --port=0 --interface=veth1 \
    --bind-interfaces --dhcp-range=10.77.0.10,10.77.0.50,255.255.255.0,10m --dhcp-authoritative \
    --dhcp-leasefile="$w/leases" --user=root --group=root >>"$w/dnsmasq.log" 2>&1 &
  echo $! >"$w/dnsmasq.pid"
  ;;
dhcp-freeze) kill -STOP "$(pidof_file dnsmasq)" ;;
dhcp-thaw) kill -CONT "$(pidof_file dnsmasq)" ;;
vpn-server-start)
  ip netns exec peer openvpn --dev tunsrv --dev-type tun --proto udp --local 10.77.0.1 --lport 1194 \
    --ifconfig 10.8.0.1 10.8.0.2 --secret "$w/static.key" --cipher AES-256-CBC --ping 1 --verb 3 \
    >>"$w/openvpn-server.log" 2>&1 &
  echo $! >"$w/openvpn-server.pid"
  ;;
vpn-server-kill)
  pid=$(pidof_file openvpn-server)
  kill -KILL "$pid"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  ;;
link-down) ip -n peer link set veth1 down ;;
link-up) ip -n peer link set veth1 up ;;
link-delete) ip -n peer link del veth1 ;;
link-restore)
  ip link add veth0 type veth peer name veth1 netns peer
  ip -n peer addr add 10.77.0.1/24 dev veth1
  ip -n peer link set veth1 up
  # The servers bound to the old link: start them afresh.
  for name in dnsmasq openvpn-server; do
    pid=$(pidof_file $name)
    [[ -n $pid ]] && kill -KILL "$pid" 2>/dev/null || true
  done
  sleep 0.2
  bash "$0" dhcp-start
  bash "$0" vpn-server-start
  ;;
tun-present) ip link show "$2" >/dev/null 2>&1 ;;
nm-start)
  NetworkManager --debug --config="$w/NetworkManager.conf" --state-file="$w/var-nm/NetworkManager.state" \
    >>"$w/nm.log" 2>&1 &
  echo $! >"$w/nm.pid"
  ;;
nm-freeze) kill -STOP "$(pidof_file nm)" ;;
nm-thaw) kill -CONT "$(pidof_file nm)" ;;
nm-stop)
  pid=$(pidof_file nm)
  kill -TERM "$pid"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  ;;
*)
  echo "usage: rig-ctl.sh dhcp-start|dhcp-freeze|dhcp-thaw|vpn-server-start|vpn-server-kill|" \
    "link-down|link-up|link-delete|link-restore|tun-present NAME|nm-start|nm-stop|nm-freeze|nm-thaw" >&2
  exit 2
  ;;
esac
