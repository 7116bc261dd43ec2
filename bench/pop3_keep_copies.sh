#!/usr/bin/env bash
# What keeping a copy of every deleted message costs: `kelvane-cli check
# --delete` deleting the spam of a mailbox behind the delay proxy, with
# KeepDeleted 1 and KeepDeleted 0 taking turns in one run against one
# private Dovecot. The deletion session (login to QUIT) is timed on its own
# from the proxy's session log; the ratio of the medians is printed.
#
#   bench/pop3_keep_copies.sh [-n MESSAGES] [-k SPAM] [-r REPS] [-d MS]
#
#   -n  messages in the mailbox (default 1000)
#   -k  of them deleted (default 100)
#   -r  repetitions of each kind (default 3; medians are shown)
#   -d  delay each way in ms (default 25, so a 50 ms round trip)
#
# Needs root, dovecot-pop3d and python3, and a built build/kelvane-cli (or
# KELVANE_CLI=path).
set -euo pipefail
cd "$(dirname "$0")/.."

messages=1000
spam=100
reps=3
delay=25
while getopts "n:k:r:d:h" opt; do
  case $opt in
    n) messages=$OPTARG ;;
    k) spam=$OPTARG ;;
    r) reps=$OPTARG ;;
    d) delay=$OPTARG ;;
    *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
cli=$(realpath "${KELVANE_CLI:-build/kelvane-cli}")
user=bench
password=pw-bench
[ -x "$cli" ] || { echo "$cli is not built" >&2; exit 1; }

source scripts/dovecot-private.sh

work=$(mktemp -d)
chmod 755 "$work"
proxy_pid=
cleanup() {
  [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null
  dovecot_private_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$work/server" "$work/program" "$work/config"
dovecot_private_start "$work/server" "$user" "$password"
python3 bench/delay_proxy.py "$DOVECOT_PORT" "$delay" "$work/proxy.port" "$work/sessions" &
proxy_pid=$!
for _ in $(seq 50); do [ -s "$work/proxy.port" ] && break; sleep 0.1; done
proxy_port=$(cat "$work/proxy.port")
echo "Dovecot on 127.0.0.1:$DOVECOT_PORT, proxy ($delay ms each way) on 127.0.0.1:$proxy_port"

export XDG_CONFIG_HOME="$work/config"
echo "$password" | "$cli" --dir "$work/program" mailbox set 1 \
  --server "127.0.0.1:$proxy_port" --user "$user" --password-stdin
printf '6,3\r\n1,1,Contains\r\n2,1,WIN A PRIZE\r\n3,1,No\r\n4,1,Yes\r\n5,1,0\r\n' \
  >"$work/program/subj.lst"

python3 - "$cli" "$work" "$DOVECOT_PORT" "$user" "$password" "$DOVECOT_MAILDIR" \
  "$messages" "$spam" "$reps" <<'EOF'
import os, poplib, statistics, subprocess, sys, time

cli, work, direct, user, password, maildir = sys.argv[1:7]
messages, spam, reps = int(sys.argv[7]), int(sys.argv[8]), int(sys.argv[9])
direct = int(direct)
serial = [0]

def deliver(count, spam_every):
    for _ in range(count):
        n = serial[0]
        serial[0] += 1
        is_spam = n % spam_every == 0
        subject = f"WIN A PRIZE {n}" if is_spam else f"Benchmark message number {n}"
        text = (f"Return-Path: <sender{n}@example.org>\n"
                f"From: Sender {n} <sender{n}@example.org>\nTo: bench@example.com\n"
                f"Subject: {subject}\nDate: Mon, 4 Mar 2024 10:{n % 60:02d}:00 +0100\n"
                f"Message-ID: <bench.{n}@example.org>\nMIME-Version: 1.0\n\n"
                + "".join(f"Body line {i} of message {n}, some words to fill it.\n"
                          for i in range(40 + n % 80)))
        path = os.path.join(maildir, "new", f"1700000000.M{n:07d}P1.bench")
        with open(path, "w") as f:
            f.write(text)
        os.chown(path, 65534, 65534)

def settle():
    # Moves new/ to cur/ and builds Dovecot's index, untimed.
    p = poplib.POP3("127.0.0.1", direct, timeout=600)
    p.user(user); p.pass_(password); p.stat(); p.quit()

def cli_run(*args):
    return subprocess.run([cli, "--dir", os.path.join(work, "program"), *args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)

def deletion(keep):
    cli_run("settings", "set", "General", "KeepDeleted", "1" if keep else "0")
    time.sleep(0.3)  # earlier sessions are logged once both sides closed
    open(os.path.join(work, "sessions"), "w").close()
    proc = cli_run("check", "--delete")
    if proc.returncode != 0:
        sys.exit(f"kelvane-cli check --delete failed: {proc.stderr.decode(errors='replace')}")
    if f"There were {spam} messages deleted".encode() not in proc.stdout:
        sys.exit("the deletion did not delete every spam message")
    time.sleep(0.3)
    with open(os.path.join(work, "sessions")) as f:
        logged = [float(x) for x in f.read().split()]
    if len(logged) != 3:
        sys.exit(f"expected three sessions, the proxy saw {len(logged)}")
    deliver(spam, 1)  # the mailbox as it was, for the next run
    settle()
    return logged[1]

deliver(messages, messages // spam)
settle()
times = {True: [], False: []}
for _ in range(reps):
    for keep in (False, True):
        times[keep].append(deletion(keep))
kept = os.path.join(work, "program", "Deleted", "cur")
copies = len(os.listdir(kept))
if copies != spam * reps:
    sys.exit(f"{copies} copies kept, expected {spam * reps}")
without, with_ = statistics.median(times[False]), statistics.median(times[True])
print(f"\nDeleting {spam} of {messages} behind the proxy, deletion session (login to QUIT), "
      f"medians of {reps}:")
print(f"  without copies (KeepDeleted 0)  {without * 1000:9.1f} ms")
print(f"  with copies (KeepDeleted 1)     {with_ * 1000:9.1f} ms")
print(f"  ratio with / without            {with_ / without:9.2f}  (target at most 1.5)")
EOF
