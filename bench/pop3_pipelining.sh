#!/usr/bin/env bash
# Pipelined against strict POP3, on loopback and behind a delay proxy.
# `kelvane-cli check` (pipelined, and with --no-pipelining) is timed side by
# side with python3's poplib sending the same LIST n / TOP n 1 commands
# strictly and pipelined, and with mpop doing a header-only pass (a filter
# that keeps every message), all against one private Dovecot. Then a
# deletion of the marked messages behind the delay proxy, its deletion
# session (login to QUIT) timed on its own.
#
#   bench/pop3_pipelining.sh [-n DELAYED] [-l LOOPBACK] [-r REPS] [-d MS] [-s]
#
#   -n  messages for the runs behind the proxy (default 1000, one in ten spam)
#   -l  messages for the loopback runs (default 2000)
#   -r  repetitions of each fast run (default 3; medians are shown)
#   -d  delay each way in ms (default 25, so a 50 ms round trip)
#   -s  also time the strict runs behind the proxy (once; about 100 s each
#       for 1,000 messages)
#
# Needs root, dovecot-pop3d, python3 and mpop, and a built build/kelvane-cli
# (or KELVANE_CLI=path).
set -euo pipefail
cd "$(dirname "$0")/.."

delayed=1000
loopback=2000
reps=3
delay=25
slow=no
while getopts "n:l:r:d:sh" opt; do
  case $opt in
    n) delayed=$OPTARG ;;
    l) loopback=$OPTARG ;;
    r) reps=$OPTARG ;;
    d) delay=$OPTARG ;;
    s) slow=yes ;;
    *) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
cli=$(realpath "${KELVANE_CLI:-build/kelvane-cli}")
user=bench
password=pw-bench
[ -x "$cli" ] || { echo "$cli is not built" >&2; exit 1; }
command -v mpop >/dev/null || { echo "mpop is not installed" >&2; exit 1; }

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

mkdir "$work/server" "$work/program" "$work/config" "$work/mpop"
dovecot_private_start "$work/server" "$user" "$password"
python3 bench/delay_proxy.py "$DOVECOT_PORT" "$delay" "$work/proxy.port" "$work/sessions" &
proxy_pid=$!
for _ in $(seq 50); do [ -s "$work/proxy.port" ] && break; sleep 0.1; done
proxy_port=$(cat "$work/proxy.port")
echo "Dovecot on 127.0.0.1:$DOVECOT_PORT, proxy ($delay ms each way) on 127.0.0.1:$proxy_port"

export XDG_CONFIG_HOME="$work/config"
for slot in 1 2; do
  port=$([ $slot = 1 ] && echo "$DOVECOT_PORT" || echo "$proxy_port")
  echo "$password" | "$cli" --dir "$work/program" mailbox set $slot \
    --server "127.0.0.1:$port" --user "$user" --password-stdin
done
# One subject rule with a check mark: the spam of the mailbox is deleted.
printf '6,3\r\n1,1,Contains\r\n2,1,WIN A PRIZE\r\n3,1,No\r\n4,1,Yes\r\n5,1,0\r\n' \
  >"$work/program/subj.lst"

python3 - "$cli" "$work" "$DOVECOT_PORT" "$proxy_port" "$user" "$password" "$DOVECOT_MAILDIR" \
  "$delayed" "$loopback" "$reps" "$slow" <<'EOF'
import os, poplib, statistics, subprocess, sys, time

cli, work, direct, proxied, user, password, maildir = sys.argv[1:8]
delayed, loopback, reps = int(sys.argv[8]), int(sys.argv[9]), int(sys.argv[10])
slow = sys.argv[11] == "yes"
direct, proxied = int(direct), int(proxied)
serial = [0]

def deliver(count, spam_every=0):
    for _ in range(count):
        n = serial[0]
        serial[0] += 1
        spam = spam_every and n % spam_every == 0
        subject = f"WIN A PRIZE {n}" if spam else f"Benchmark message number {n}"
        text = (f"Return-Path: <sender{n}@example.org>\n"
                f"Received: from mx{n % 7}.example.org by pop.example.com; Mon, 4 Mar 2024 10:00:00 +0100\n"
                f"From: Sender {n} <sender{n}@example.org>\nTo: bench@example.com\n"
                f"Subject: {subject}\nDate: Mon, 4 Mar 2024 10:{n % 60:02d}:00 +0100\n"
                f"Message-ID: <bench.{n}@example.org>\nMIME-Version: 1.0\n"
                f"Content-Type: text/plain; charset=us-ascii\nX-Mailer: bench-generator 1.0\n\n"
                + "".join(f"Body line {i} of message {n}, some words.\n" for i in range(5 + n % 20)))
        path = os.path.join(maildir, "new", f"1700000000.M{n:07d}P1.bench")
        with open(path, "w") as f:
            f.write(text)
        os.chown(path, 65534, 65534)

def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start

def poplib_strict(port):
    p = poplib.POP3("127.0.0.1", port, timeout=600)
    p.user(user); p.pass_(password)
    n, _ = p.stat()
    for i in range(1, n + 1):
        p.list(i); p.top(i, 1)
    p.quit()

def poplib_pipelined(port, window=1024):
    p = poplib.POP3("127.0.0.1", port, timeout=600)
    p.user(user); p.pass_(password)
    n, _ = p.stat()
    sent = 0
    def send_more(upto):
        nonlocal sent
        batch = b""
        while sent < min(n, upto):
            sent += 1
            batch += b"LIST %d\r\nTOP %d 1\r\n" % (sent, sent)
        if batch:
            p.sock.sendall(batch)
    send_more(window)
    for i in range(1, n + 1):
        p._getresp(); p._getlongresp()
        send_more(i + window)
    p.quit()

def kelvane(slot, *extra, expect=None):
    proc = subprocess.run([cli, "--dir", os.path.join(work, "program"), "check",
                           "--mailbox", str(slot), *extra],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if proc.returncode != 0:
        sys.exit(f"kelvane-cli check failed: {proc.stderr.decode(errors='replace')}")
    listed = proc.stdout.count(b"\n")
    if expect is not None and listed < expect:
        sys.exit(f"kelvane-cli listed {listed} of {expect}")
    return proc.stdout

def mpop(port, *extra):
    mdir = os.path.join(work, "mpop")
    for name in ("uidls", "verdicts"):
        try: os.remove(os.path.join(mdir, name))
        except FileNotFoundError: pass
    rc = os.path.join(mdir, "rc")
    with open(rc, "w") as f:
        f.write(f"defaults\ntls off\nauth user\nonly_new off\nkeep on\ntimeout 600\n"
                f"uidls_file {mdir}/uidls\ndelivery mbox {mdir}/mbox\n"
                f"account pb\nhost 127.0.0.1\nport {port}\nuser {user}\npassword {password}\n")
    os.chmod(rc, 0o600)
    subprocess.run(["mpop", "-C", rc, "-q", *extra,
                    f"--filter=grep -i '^Subject:.*WIN A PRIZE' >> {mdir}/verdicts; exit 2",
                    "pb"], check=True)

def median(fn, n=reps):
    return statistics.median(timed(fn) for _ in range(n))

def line(label, seconds, base=None):
    ratio = f"  {seconds / base:6.2f}x kelvane" if base else ""
    print(f"  {label:34s} {seconds * 1000:9.1f} ms{ratio}", flush=True)

results = {}

# ---- behind the proxy
deliver(delayed, spam_every=10)
poplib_pipelined(direct)  # moves new/ to cur/ and builds the index, untimed
print(f"\n{delayed} messages behind the delay proxy (medians of {reps}):")
ours = median(lambda: kelvane(2, expect=delayed))
line("kelvane-cli check", ours)
line("poplib pipelined", median(lambda: poplib_pipelined(proxied)), ours)
mp = median(lambda: mpop(proxied))
line("mpop (pipelining auto)", mp, ours)
if slow:
    line("kelvane-cli check --no-pipelining", timed(lambda: kelvane(2, "--no-pipelining")), ours)
    line("poplib strict", timed(lambda: poplib_strict(proxied)), ours)
print(f"  mpop / kelvane: {mp / ours:.1f}x")

# ---- deletion behind the proxy: check, deletion session, refill session
spam = delayed // 10
print(f"\nDeleting {spam} of {delayed} behind the delay proxy (medians of {reps}):")
sessions, wholes = [], []
for _ in range(reps):
    time.sleep(0.3)  # earlier sessions are logged once both sides closed
    open(os.path.join(work, "sessions"), "w").close()
    wholes.append(timed(lambda: kelvane(2, "--delete")))
    time.sleep(0.3)
    with open(os.path.join(work, "sessions")) as f:
        logged = [float(x) for x in f.read().split()]
    if len(logged) != 3:
        sys.exit(f"expected three sessions, the proxy saw {len(logged)}")
    sessions.append(logged[1])
    deliver(spam, spam_every=1)  # the mailbox as it was, for the next run
    poplib_pipelined(direct)
line("deletion session (login to QUIT)", statistics.median(sessions))
line("whole check --delete (3 sessions)", statistics.median(wholes))

# ---- loopback
deliver(max(0, loopback - delayed))
poplib_pipelined(direct)
print(f"\n{loopback} messages on loopback (medians of {reps}):")
ours = median(lambda: kelvane(1, expect=loopback))
line("kelvane-cli check", ours)
pipe = median(lambda: poplib_pipelined(direct))
line("poplib pipelined", pipe, ours)
line("kelvane-cli check --no-pipelining", median(lambda: kelvane(1, "--no-pipelining")), ours)
line("poplib strict", median(lambda: poplib_strict(direct)), ours)
line("mpop (pipelining auto), once", timed(lambda: mpop(direct)), ours)
print(f"  kelvane / poplib pipelined: {ours / pipe:.2f}")
EOF
