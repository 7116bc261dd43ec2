#!/usr/bin/env bash
# How fast `kelvane-cli check` reads a large mailbox from a real POP3 server,
# next to a reference client (python3's poplib) that sends the same commands
# the same way: USER, PASS, STAT, then LIST n and TOP n 1 for each message one
# after the other, QUIT. Both run against one private Dovecot on loopback,
# taking turns, several times each. The check runs with --no-pipelining, so
# both send the same way; bench/pop3_pipelining.sh times the pipelined pass.
#
#   bench/pop3_speed.sh [-n MESSAGES] [-r REPETITIONS]
#
# Needs root, dovecot-pop3d and python3 (scripts/setup.sh installs them) and a
# built build/kelvane-cli (scripts/build.sh), or KELVANE_CLI=path.
set -euo pipefail
cd "$(dirname "$0")/.."

count=2000
reps=5
while getopts "n:r:h" opt; do
  case $opt in
    n) count=$OPTARG ;;
    r) reps=$OPTARG ;;
    *) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
cli=${KELVANE_CLI:-build/kelvane-cli}
user=bench
password=pw-bench

source scripts/dovecot-private.sh

work=$(mktemp -d)
chmod 755 "$work"  # the server's mail processes (nobody) must pass through
cleanup() {
  dovecot_private_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$work/server" "$work/program" "$work/config"
dovecot_private_start "$work/server" "$user" "$password"
echo "Dovecot on 127.0.0.1:$DOVECOT_PORT (pid $DOVECOT_PID)"

# Messages of fifteen header lines and a short body, delivered in name order.
python3 - "$DOVECOT_MAILDIR/new" "$count" <<'EOF'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for n in range(count):
    text = (
        f"Return-Path: <sender{n}@example.org>\n"
        f"Received: from mx{n % 7}.example.org (mx{n % 7}.example.org [192.0.2.{n % 250 + 1}])\n"
        f"\tby pop.example.com with ESMTP id {n:08x}; Mon, 4 Mar 2024 10:00:00 +0100\n"
        f"Received: from localhost by mx{n % 7}.example.org; Mon, 4 Mar 2024 09:59:58 +0100\n"
        f"From: Sender {n} <sender{n}@example.org>\n"
        f"Reply-To: <reply{n}@example.org>\n"
        f"To: bench@example.com\n"
        f"Subject: Benchmark message number {n}\n"
        f"Date: Mon, 4 Mar 2024 10:{n % 60:02d}:00 +0100\n"
        f"Message-ID: <bench.{n}@example.org>\n"
        f"MIME-Version: 1.0\n"
        f"Content-Type: text/plain; charset=us-ascii\n"
        f"Content-Transfer-Encoding: 7bit\n"
        f"X-Mailer: bench-generator 1.0\n"
        f"X-Priority: 3\n"
        f"\n"
        + "".join(f"Body line {i} of message {n}, some words to make it look real.\n"
                  for i in range(5 + n % 20))
    )
    with open(os.path.join(folder, f"1700000000.M{n:07d}P1.bench"), "w") as f:
        f.write(text)
EOF
chown -R nobody:nogroup "$DOVECOT_MAILDIR"
echo "Delivered $count messages"

have_check=yes
if [ ! -x "$cli" ]; then
  echo "NOTE: $cli is not built (scripts/build.sh): timing the reference client only"
  have_check=no
elif ! "$cli" check --help >/dev/null 2>&1; then
  echo "NOTE: $cli has no 'check' command yet: timing the reference client only"
  have_check=no
fi
if [ $have_check = yes ]; then
  echo "$password" | XDG_CONFIG_HOME="$work/config" "$cli" --dir "$work/program" \
    mailbox set 1 --server "127.0.0.1:$DOVECOT_PORT" --user "$user" --password-stdin
fi

python3 - "$reps" "$count" "$have_check" "$cli" "$work" "$DOVECOT_PORT" "$user" "$password" \
  "$DOVECOT_MAILDIR" <<'EOF'
import os, poplib, resource, statistics, subprocess, sys, time

reps, count = int(sys.argv[1]), int(sys.argv[2])
have_check, cli, work, port, user, password, maildir = sys.argv[3:10]
have_check = have_check == "yes"
port = int(port)

def reference():
    before = resource.getrusage(resource.RUSAGE_SELF)
    start = time.perf_counter()
    p = poplib.POP3("127.0.0.1", port, timeout=60)
    p.user(user)
    p.pass_(password)
    n, _ = p.stat()
    for i in range(1, n + 1):
        p.list(i)
        p.top(i, 1)
    p.quit()
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_SELF)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, n, cpu

# The same client as a process of its own, started and timed the way ours
# is, interpreter start-up included.
REFERENCE_SCRIPT = """
import poplib, sys
p = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=60)
p.user(sys.argv[2])
p.pass_(sys.argv[3])
n, _ = p.stat()
for i in range(1, n + 1):
    p.list(i)
    p.top(i, 1)
p.quit()
"""

def reference_process():
    start = time.perf_counter()
    subprocess.run([sys.executable, "-c", REFERENCE_SCRIPT, str(port), user, password],
                   check=True)
    return time.perf_counter() - start

def ours():
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    # run() reaps the child, so its CPU time is the growth of
    # the children's usage.
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run([cli, "--dir", os.path.join(work, "program"), "check", "--mailbox", "1",
                           "--no-pipelining"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        sys.exit(f"kelvane-cli check failed ({proc.returncode}): "
                 f"{proc.stderr.decode(errors='replace')}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, proc.stdout.count(b"\n"), cpu

def on_disk():
    return sum(len(os.listdir(os.path.join(maildir, d))) for d in ("new", "cur"))

# The first session moves the files from new/ to cur/ and builds the index:
# not timed, so every timed run sees the same mailbox.
_, listed, _ = reference()
print(f"Reference client lists {listed} messages")

ref_walls, ref_cpu, ref_process, our_walls, our_cpu = [], [], [], [], []
for rep in range(1, reps + 1):
    line = f"run {rep}:"
    if have_check:
        wall, lines, cpu = ours()
        our_walls.append(wall)
        our_cpu.append(cpu)
        line += f"  kelvane-cli check {wall * 1000:8.1f} ms ({lines} lines, cpu {cpu * 1000:.0f} ms)"
        if lines != count:
            line += f"  [expected {count} lines]"
    wall, n, cpu = reference()
    ref_walls.append(wall)
    ref_cpu.append(cpu)
    line += f"  reference {wall * 1000:8.1f} ms (cpu {cpu * 1000:.0f} ms)"
    ref_process.append(reference_process())
    line += f"  as a process {ref_process[-1] * 1000:8.1f} ms"
    print(line, flush=True)

left = on_disk()
if left != count:
    print(f"WARNING: {left} of {count} messages left on the server")

ref = statistics.median(ref_walls)
print()
print(f"messages:              {count}")
print(f"reference (poplib):    median {ref * 1000:.1f} ms, "
      f"{ref / count * 1e6:.1f} us per message (in-process, no interpreter start-up)")
refp = statistics.median(ref_process)
print(f"reference as process:  median {refp * 1000:.1f} ms (interpreter start-up included)")
rcpu = statistics.median(ref_cpu)
print(f"reference CPU:         median {rcpu * 1000:.0f} ms, {rcpu / count * 1e6:.1f} us per message")
if have_check:
    wall = statistics.median(our_walls)
    cpu = statistics.median(our_cpu)
    print(f"kelvane-cli check:     median {wall * 1000:.1f} ms, "
          f"{wall / count * 1e6:.1f} us per message (whole process)")
    print(f"ratio ours/reference:  {wall / ref:.2f} (in-process), {wall / refp:.2f} (as a process)")
    print(f"our CPU (user+sys):    median {cpu * 1000:.0f} ms, {cpu / count * 1e6:.1f} us per message")
else:
    print("kelvane-cli check:     not timed (no check command)")
EOF
