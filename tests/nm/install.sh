#!/usr/bin/env bash
# Installs what the NetworkManager rig needs without starting anything on this
# machine and without leaving a trace beyond the packages themselves:
# - a policy-rc.d that refuses every service start exists during the install
#   (removed afterwards when we created it);
# - device-node modes and owners are recorded before and restored after
#   (udev's install script changes some of them);
# - /etc/resolv.conf is kept byte for byte.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(network-manager dnsmasq-base openvpn network-manager-openvpn iputils-ping iproute2 dbus-daemon libnm-dev
          pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  echo "nm rig: packages present"
  exit 0
fi
[[ $(id -u) -eq 0 ]] || { echo "nm rig: installing ${missing[*]} needs root" >&2; exit 1; }

work=$(mktemp -d /tmp/quor-nm-install.XXXXXX)
created_policy=0
restore() {
  # Device nodes: put back every mode and owner that changed.
  find /dev \( -type c -o -type b \) -printf '%m %U %G %p\n' 2>/dev/null | sort -k4 >"$work/nodes.after" || true
  join -1 4 -2 4 -o 1.1,1.2,1.3,1.4,2.1,2.2,2.3 "$work/nodes.before" "$work/nodes.after" |
    while read -r m u g path m2 u2 g2; do
      if [[ "$m $u $g" != "$m2 $u2 $g2" ]]; then
        chown "$u:$g" "$path" && chmod "$m" "$path"
        echo "nm rig: restored $path to $m $u:$g (the install had made it $m2 $u2:$g2)"
      fi
    done
  if ! cmp -s "$work/resolv.conf" /etc/resolv.conf; then
    cat "$work/resolv.conf" >/etc/resolv.conf
    echo "nm rig: restored /etc/resolv.conf"
  fi
  if [[ $created_policy -eq 1 ]]; then rm -f /usr/sbin/policy-rc.d; fi
  rm -rf "$work"
}
find /dev \( -type c -o -type b \) -printf '%m %U %G %p\n' 2>/dev/null | sort -k4 >"$work/nodes.before"
cp /etc/resolv.conf "$work/resolv.conf"
trap restore EXIT
if [[ ! -e /usr/sbin/policy-rc.d ]]; then
  printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
  created_policy=1
fi
echo "nm rig: installing ${missing[*]}"
bash "$(dirname "$0")/../../.ci/apt-update.sh"
apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$work/apt.log" 2>&1 || {
  tail -20 "$work/apt.log" >&2
  exit 1
}
# Nothing the packages brought may be running on this machine.
for name in NetworkManager dnsmasq openvpn systemd-udevd nm-openvpn-serv; do
  for c in /proc/[0-9]*/comm; do
    if [[ "$(cat "$c" 2>/dev/null)" == "$name" ]]; then
      echo "nm rig: the install started $name on this machine (${c%/comm})" >&2
      exit 1
    fi
  done
done
