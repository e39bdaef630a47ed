#!/usr/bin/env bash
# Attacks by a second local user. A throw-away attacker prepares what the
# victim, a second throw-away user, will use before the victim runs quor:
# - the default state folder (/tmp/quor-ras-<uid>, used when XDG_RUNTIME_DIR is
#   unset), open to all with a planted lock link, or the attacker's own (0755)
#   with a fake connection record: the victim refuses it, says so, and dials in
#   a private folder under its home instead;
# - /tmp/.config/quor with planted entries and a credentials link, for a victim
#   without HOME: the victim's folder comes from the password database;
# - a configuration folder of the attacker's named by XDG_CONFIG_HOME: refused;
# - in a folder both may write to, a held lock, a lock link and a named pipe
#   in place of a phonebook: each refused at once with a clear error.
# Nothing may hang (every command is bounded by timeout) or be made through a
# link. Then, with the state folder gone, the victim makes its own 0700 folder
# and dials. Needs root (useradd); skipped with the reason otherwise. Both
# users and every file are removed afterwards. About twenty seconds.
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
  [[ -n "${planted_config:-}" ]] && rm -rf /tmp/.config
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

# Dials for two seconds and hangs up by SIGTERM, bounded; prints what it printed.
dial_briefly() {
  as "$victim" timeout 20 sh -c "'$work/bin/quor' dial Office 2>&1 & pid=\$!; sleep 2; kill -TERM \$pid; wait \$pid"
}
fallback="$work/home-v/.cache/quor-ras"

# 1. A folder open to all, with the lock planted as a link into the victim's home.
as "$attacker" sh -c "mkdir -m 0777 '$state' && chmod 0777 '$state' && ln -s '$work/home-v/owned' '$state/registry.lock'"
out=$(dial_briefly) || true
[[ $out == *"state folder refused: $state: belongs to another user"*"; using $fallback"* ]] ||
  fail "dial in an open folder named no reason: $out"
[[ $out == *Connected* ]] || fail "the victim could not dial beside an open folder: $out"
[[ ! -e "$work/home-v/owned" ]] || fail "a file was made through the planted link"
[[ $(stat -c '%U %a' "$fallback") == "$victim 700" ]] || fail "the fallback folder is $(stat -c '%U %a' "$fallback")"
rm -rf "$state" "$fallback"

# 2. A folder of the attacker's own (0755) with a fake connection record.
as "$attacker" sh -c "mkdir -m 0755 '$state' && printf '[connection]\nHandle=4096\nEntry=Fake\nOwnerPid=1\nState=8192\n' > '$state/conn-00001000'"
out=$(dial_briefly) || true
[[ $out == *"state folder refused: $state: belongs to another user"* && $out == *Connected* ]] ||
  fail "dial beside the attacker's folder: $out"
set +e
out=$(victim_quor connections 2>&1)
set -e
[[ $out != *Fake* ]] || fail "the attacker's fake connection is listed: $out"
rm -rf "$state" "$fallback"

# 4. No HOME: /tmp/.config/quor, prepared by the attacker, is not the victim's folder.
if [[ -e /tmp/.config ]]; then
  echo "other-user: /tmp/.config exists already: the cases without HOME are skipped"
else
  planted_config=1
  as "$attacker" sh -c "mkdir -p -m 0777 /tmp/.config/quor && printf '[Planted]\nPhoneNumber=1\n' > /tmp/.config/quor/rasphone.pbk && ln -s '$work/home-v/owned' /tmp/.config/quor/credentials.dat"
  bare() { runuser -u "$victim" -- env -i PATH=/usr/bin:/bin QUOR_RAS_DIALOG=none "$@"; }
  set +e
  out=$(bare timeout 20 "$work/bin/quor" entries 2>&1)
  code=$?
  set -e
  [[ $code -ne 124 && $out != *Planted* ]] || fail "without HOME: exit $code: $out"
  printf 'secret\n' | bare timeout 20 "$work/bin/quor" params set Planted --user joe --password-stdin >/dev/null 2>&1 || true
  [[ ! -e "$work/home-v/owned" ]] || fail "without HOME the credentials were written through the planted link"
  # 5. A configuration folder of the attacker's, named by XDG_CONFIG_HOME.
  set +e
  out=$(bare XDG_CONFIG_HOME=/tmp/.config timeout 20 "$work/bin/quor" entries 2>&1)
  code=$?
  set -e
  [[ $code -ne 0 && $code -ne 124 && $out == *"configuration folder /tmp/.config/quor is refused: belongs to another user"* ]] ||
    fail "the attacker's configuration folder: exit $code: $out"
  rm -rf /tmp/.config
fi

# 6-8. In a folder both may write to: a held lock, a lock link, a named pipe.
shared="$work/shared"
mkdir -m 0777 "$shared"
chmod 0777 "$shared"
as "$victim" sh -c "printf '[Office]\nPhoneNumber=1\n' > '$shared/held.pbk' && cp '$shared/held.pbk' '$shared/linked.pbk'"
as "$attacker" sh -c "ln -s '$work/home-v/owned' '$shared/linked.pbk.lock' && mkfifo '$shared/pipe.pbk'"
# The attacker holds a lock file of its own, open to the victim, longer than the victim waits (5 s).
as "$attacker" sh -c "touch '$shared/held.pbk.lock' && chmod 0666 '$shared/held.pbk.lock'"
as "$attacker" flock "$shared/held.pbk.lock" sleep 9 &
holder=$!
for _ in $(seq 50); do as "$attacker" flock -n "$shared/held.pbk.lock" true || break; sleep 0.1; done
shared_quor() {
  local pb=$1
  shift
  runuser -u "$victim" -- env -i PATH=/usr/bin:/bin HOME="$work/home-v" QUOR_RAS_PHONEBOOK="$shared/$pb" \
    QUOR_RAS_DIALOG=none timeout 20 "$work/bin/quor" "$@" 2>&1
}
for c in "held.pbk|entry rename Office Home|held by another process" \
  "linked.pbk|entry rename Office Home|is a symbolic link" \
  "pipe.pbk|entries|is not a regular file"; do
  IFS='|' read -r pb cmd reason <<<"$c"
  set +e
  # shellcheck disable=SC2086 # the command's words
  out=$(shared_quor "$pb" $cmd)
  code=$?
  set -e
  [[ $code -ne 0 && $code -ne 124 && $out == *"$reason"* ]] || fail "$pb: $cmd: exit $code (124: it hung): $out"
done
wait "$holder" || true
[[ ! -e "$work/home-v/owned" ]] || fail "a file was made through the planted lock link"
grep -q Office "$shared/held.pbk" || fail "the held phonebook changed"

# 3. No folder: the victim makes its own, private, and dials (hung up by SIGTERM).
as "$victim" sh -c "'$work/bin/quor' dial Office > '$work/home-v/dial.log' 2>&1 & pid=\$!; sleep 2; kill -TERM \$pid; wait \$pid"
grep -q Connected "$work/home-v/dial.log" || fail "the victim could not dial in its own folder: $(cat "$work/home-v/dial.log")"
[[ $(stat -c '%U %a' "$state") == "$victim 700" ]] || fail "the victim's folder is $(stat -c '%U %a' "$state")"
echo "other-user: every prepared folder, lock, link and pipe is refused with its reason, nothing hangs or is made through a link, the victim's own folders are 0700"
