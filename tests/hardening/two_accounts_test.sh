#!/usr/bin/env bash
# shellcheck disable=SC2016  # the sh -c scripts below expand their own arguments
# Two accounts that share one drop folder: a group folder (setgid, 2770) that is both accounts'
# Documents folder, as teams and shared machines set it up. Checks that the lock serves both (0 and
# 18), that a result never takes its mode from a file the other account planted, that a link the
# other account planted at Bintake.tbin never makes a private file readable through the result,
# and that a claim one account cannot look into is named, not hidden as "missing".
#
# Usage: tests/hardening/two_accounts_test.sh QUORVANE FAIL_IO_PRELOAD
# Needs root (it makes two throw-away accounts and a group, and removes them at the end); without
# it, it says so loudly and ends 77 (ctest: skipped).
set -uo pipefail

quorvane=${1:?usage: $0 QUORVANE FAIL_IO_PRELOAD}
preload=${2:?usage: $0 QUORVANE FAIL_IO_PRELOAD}
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: two accounts: making accounts needs root (the drop folder is NOT tested for two accounts here)"
  exit 77
fi

# The counts and check() that the other test parts use.
# shellcheck source-path=SCRIPTDIR source=../../scripts/test-lib.sh
. "$(dirname "$0")/../../scripts/test-lib.sh"

id=$$
group=qvshare$id
alice=qvalice$id
bob=qvbob$id
work=$(mktemp -d /var/tmp/quorvane-accounts.XXXXXX)
cleanup() {
  userdel "$alice" 2>/dev/null
  userdel "$bob" 2>/dev/null
  groupdel "$group" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
groupadd "$group" || exit 1
for user in "$alice" "$bob"; do
  useradd -M -d /nonexistent -s /usr/sbin/nologin -G "$group" "$user" || exit 1
done

# The program where both may run it (a checkout under /root is 0700), the shared Documents folder,
# and each account's own home whose user-dirs.dirs names it.
chmod 755 "$work"
mkdir -p "$work/bin" "$work/shared/Documents" "$work/marks"
cp "$quorvane" "$work/bin/quorvane"
cp "$preload" "$work/bin/fail_io.so"
chmod 755 "$work/bin" "$work/bin/quorvane" "$work/bin/fail_io.so" "$work/shared"
chmod 1777 "$work/marks"
documents=$work/shared/Documents
chgrp "$group" "$documents"
chmod 2770 "$documents"
for user in "$alice" "$bob"; do
  mkdir -p "$work/home-$user/.config"
  echo "XDG_DOCUMENTS_DIR=\"$documents\"" >"$work/home-$user/.config/user-dirs.dirs"
  chown -R "$user" "$work/home-$user"
  chmod 700 "$work/home-$user"
done
data=$documents/Brenvale/MFCQuorvane
input=$data/AutoFile/Bintake.tbin
result=$data/Result/Decyield.tbin

# as USER UMASK COMMAND...: runs COMMAND as USER in a clean environment (plus the variables in
# the array `extra`), under UMASK.
extra=()
as() {
  local user=$1 mask=$2
  shift 2
  runuser -u "$user" -- env -i HOME="$work/home-$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    "${extra[@]}" sh -c 'umask "$0"; exec "$@"' "$mask" "$@"
}
# drop USER UMASK BYTES: USER writes the input as a calling program does (another name, renamed).
drop() {
  as "$1" "$2" sh -c 'printf "$1" >"$2.new" && mv "$2.new" "$2"' sh "$3" "$input"
}
run() { # run USER: --batch as USER under umask 002, as a team's shared folder has it
  as "$1" 002 "$work/bin/quorvane" --batch 2>"$work/stderr-$1"
}

# 1. The first run makes the tree, which both accounts may then use.
as "$alice" 002 mkdir -p "$data/AutoFile"
drop "$alice" 002 '101\r\n'
run "$alice"
check "alice converts" "$?" 0
check "alice's result" "$(od -An -c "$result" | tr -d ' ')" '5\r\n'

# 2. One lock for both: bob's copy started while alice's reads the input ends 18 and touches
#    nothing (without the lock it would convert the same input beside alice's copy).
drop "$alice" 002 '11\n'
extra=("LD_PRELOAD=$work/bin/fail_io.so" QUORVANE_SLOW_READ=/Bintake.tbin
  QUORVANE_SLOW_READ_MS=2000 "QUORVANE_SLOW_READ_STARTED=$work/marks/reading")
run "$alice" &
working=$!
extra=()
for _ in $(seq 200); do [ -e "$work/marks/reading" ] && break; sleep 0.05; done
check "alice's copy is at work" "$([ -e "$work/marks/reading" ] && echo yes)" yes
run "$bob"
check "bob's copy meanwhile" "$?" 18
wait "$working"
check "alice's copy ends" "$?" 0
check "the result of alice's input" "$(od -An -c "$result" | tr -d ' ')" '3\r\n'
check "nothing left in AutoFile" "$(ls -A "$data/AutoFile")" ""

# 3. A result bob planted, readable by all, does not decide who reads alice's results: the umask
#    does, less what alice's input (0640) grants nobody.
as "$bob" 000 sh -c 'rm -f "$1" && printf "9\r\n" >"$1" && chmod 666 "$1"' sh "$result"
drop "$alice" 027 '110\n'
run "$alice"
check "alice converts over bob's plant" "$?" 0
check "the result's owner and mode" "$(stat -c '%U %a' "$result")" "$alice 660"

# 4. A link bob planted at Bintake.tbin, to a file only alice may read: alice's run converts it
#    (it is hers to read), but the result is hers alone, and the link goes, not the file.
private=$documents/alice-private.txt
as "$alice" 077 sh -c 'printf "111\n" >"$1"' sh "$private"
as "$bob" 002 ln -s "$private" "$input"
run "$alice"
check "alice converts through bob's link" "$?" 0
# The mode of alice's last result (660), less the group's read that her private file lacks.
check "the result's mode" "$(stat -c '%a' "$result")" 620
as "$bob" 002 cat "$result" >/dev/null 2>&1
check "bob cannot read it" "$?" 1
check "the link is gone" "$([ -e "$input" ] || [ -L "$input" ] || echo gone)" gone
check "alice's file stays" "$(cat "$private") $(stat -c '%a' "$private")" "111 600"

# 5. A claim bob cannot look into (alice's killed run's, 0600) is named to bob with 17, never
#    "missing"; alice's next start puts it back and converts it.
claim=$input.k1ll3d.claim
as "$alice" 077 sh -c 'printf "1001\n" >"$1"' sh "$claim"
run "$bob"
check "bob's start beside alice's claim" "$?" 17
check "bob is told where the input is" "$(grep -c "k1ll3d.claim" "$work/stderr-$bob")" 1
run "$alice"
check "alice's start puts her claim back and converts it" "$?" 0
check "its result" "$(od -An -c "$result" | tr -d ' ')" '9\r\n'
check "no claim left" "$(ls -A "$data/AutoFile")" ""

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
