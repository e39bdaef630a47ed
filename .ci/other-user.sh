#!/usr/bin/env bash
# The shared-folder attack by a second local user. A throw-away attacker
# prepares the victim's default state folder (/tmp/quor-ras-<uid>, used when
# XDG_RUNTIME_DIR is unset) before the victim, a second throw-away user, runs
# quor: a folder open to all with a planted lock link, and a folder of the
# attacker's own (0755) with a fake connection record. The victim's dial must
# fail at once with a clear error (never hang), list nothing it did not dial,
# and create nothing through the link. Then, with the folder gone, the victim
# makes its own 0700 folder and dials. Needs root (useradd); skipped with the
# reason otherwise. Both users and every file are removed afterwards. A few
# seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/debug/bin}"
skip() {
  echo "other-user: skipped: $*"
  exit 0
}
[[ $(id -u) -eq 0 ]] || skip "needs root to create throw-away users"
command -v useradd >/dev/null && command -v runuser >/dev/null || skip "useradd or runuser missing"
[[ -x "$bin/quor" ]] || { echo "other-user: $bin/quor not built" >&2; exit 1; }

victim="quorv$$" attacker="quora$$"
work=$(mktemp -d /tmp/quor-other-user.XXXXXX)
cleanup() {
  [[ -n "${vuid:-}" ]] && rm -rf "/tmp/quor-ras-$vuid"
  userdel -r "$victim" >/dev/null 2>&1 || true
  userdel -r "$attacker" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
useradd -M -d "$work/home-v" -s /bin/sh "$victim" || skip "useradd refused"
useradd -M -d "$work/home-a" -s /bin/sh "$attacker" || skip "useradd refused"
vuid=$(id -u "$victim")
state="/tmp/quor-ras-$vuid"
[[ ! -e "$state" ]] || { echo "other-user: $state exists already" >&2; exit 1; }

# The programs, readable by both users (the build folder may not be).
mkdir -p "$work/bin" "$work/home-v" "$work/home-a"
cp "$bin/quor" "$bin/rasapi32.dll" "$bin/rnaph.dll" "$bin"/lib*.so* "$work/bin/"
chmod 0755 "$work" "$work/bin"
chmod -R a+rX "$work/bin"
chown "$victim" "$work/home-v"
chown "$attacker" "$work/home-a"
chmod 0700 "$work/home-v"
printf '[Office]\nPhoneNumber=555-0100\nQuorStepDelay=10\n' > "$work/home-v/rasphone.pbk"
chown "$victim" "$work/home-v/rasphone.pbk"

as() {
  local who=$1
  shift
  runuser -u "$who" -- env -i PATH=/usr/bin:/bin HOME="$work/home-${who:4:1}" \
    QUOR_RAS_PHONEBOOK="$work/home-v/rasphone.pbk" QUOR_RAS_DIALOG=none "$@"
}
victim_quor() { as "$victim" timeout 20 "$work/bin/quor" "$@"; }
fail() {
  echo "other-user: $*" >&2
  exit 1
}

# 1. A folder open to all, with the lock planted as a link into the victim's home.
as "$attacker" sh -c "mkdir -m 0777 '$state' && chmod 0777 '$state' && ln -s '$work/home-v/owned' '$state/registry.lock'"
set +e
out=$(victim_quor dial Office 2>&1)
code=$?
set -e
[[ $code -ne 0 && $code -ne 124 ]] || fail "dial in an open folder: exit $code (124: it hung): $out"
[[ $out == *"state folder refused"* ]] || fail "dial in an open folder named no reason: $out"
[[ ! -e "$work/home-v/owned" ]] || fail "a file was made through the planted link"
set +e
victim_quor connections >/dev/null 2>&1
code=$?
set -e
[[ $code -ne 0 && $code -ne 124 ]] || fail "connections in an open folder: exit $code"
rm -rf "$state"

# 2. A folder of the attacker's own (0755) with a fake connection record.
as "$attacker" sh -c "mkdir -m 0755 '$state' && printf '[connection]\nHandle=4096\nEntry=Fake\nOwnerPid=1\nState=8192\n' > '$state/conn-00001000'"
set +e
out=$(victim_quor dial Office 2>&1)
code=$?
set -e
[[ $code -ne 0 && $code -ne 124 ]] || fail "dial in the attacker's folder: exit $code (124: it hung): $out"
set +e
out=$(victim_quor connections 2>&1)
set -e
[[ $out != *Fake* ]] || fail "the attacker's fake connection is listed: $out"
rm -rf "$state"

# 3. No folder: the victim makes its own, private, and dials (hung up by SIGTERM).
as "$victim" sh -c "'$work/bin/quor' dial Office > '$work/home-v/dial.log' 2>&1 & pid=\$!; sleep 2; kill -TERM \$pid; wait \$pid"
grep -q Connected "$work/home-v/dial.log" || fail "the victim could not dial in its own folder: $(cat "$work/home-v/dial.log")"
[[ $(stat -c '%U %a' "$state") == "$victim 700" ]] || fail "the victim's folder is $(stat -c '%U %a' "$state")"
echo "other-user: an attacker's folder is refused, nothing made through its link, the victim's own folder is 0700"
