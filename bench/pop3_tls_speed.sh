#!/usr/bin/env bash
# The header pass of `kelvane-cli check` over TLS next to the same pass in
# plain text: one private Dovecot on loopback with a pop3s listener and a
# certificate from a test authority, one mailbox of MESSAGES messages, read
# through slot 1 (plain), slot 2 (TLS from the first byte) and slot 3 (STLS),
# taking turns, several times each. Goal: TLS within 1.5 times plain, with our
# CPU per message still small.
#
#   bench/pop3_tls_speed.sh [-n MESSAGES] [-r REPETITIONS]
#
# Needs root, dovecot-pop3d, openssl and python3 (scripts/setup.sh installs
# them) and a built build/kelvane-cli, or KELVANE_CLI=path.
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
[ -x "$cli" ] || { echo "$cli is not built" >&2; exit 1; }
user=bench
password=pw-bench

source scripts/dovecot-private.sh

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
  dovecot_private_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$work/server" "$work/program" "$work/config"
dovecot_private_start "$work/server" "$user" "$password" tls
echo "Dovecot on 127.0.0.1:$DOVECOT_PORT, pop3s on $DOVECOT_TLS_PORT (pid $DOVECOT_PID)"

python3 - "$DOVECOT_MAILDIR/new" "$count" <<'EOF'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for n in range(count):
    headers = [
        f"Return-Path: <sender{n}@example.org>",
        f"Received: from mx{n % 7}.example.org by pop.example.com; Mon, 4 Mar 2024 10:00:00 +0100",
        f"From: Sender {n} <sender{n}@example.org>",
        "To: bench@example.com",
        f"Subject: Benchmark message number {n}",
        f"Date: Mon, 4 Mar 2024 10:{n % 60:02d}:00 +0100",
        f"Message-ID: <bench.{n}@example.org>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=us-ascii",
        "X-Mailer: bench-generator 1.0",
    ]
    body = "".join(f"Body line {i} of message {n}, some words.\n" for i in range(5 + n % 20))
    with open(os.path.join(folder, f"1700000000.M{n:07d}P1.bench"), "w") as f:
        f.write("\n".join(headers) + "\n\n" + body)
EOF
chown -R nobody:nogroup "$DOVECOT_MAILDIR"
echo "Delivered $count messages"

export XDG_CONFIG_HOME=$work/config SSL_CERT_FILE=$DOVECOT_CA_FILE
for slot in "1 $DOVECOT_PORT none" "2 $DOVECOT_TLS_PORT tls" "3 $DOVECOT_PORT starttls"; do
  set -- $slot
  echo "$password" | "$cli" --dir "$work/program" mailbox set "$1" --server "127.0.0.1:$2" \
    --user "$user" --password-stdin --security "$3"
done

python3 - "$reps" "$count" "$cli" "$work/program" <<'EOF'
import resource, statistics, subprocess, sys, time

reps, count, cli, program = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
names = {1: "plain", 2: "TLS", 3: "STLS"}

def check(slot):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run([cli, "--dir", program, "check", "--mailbox", str(slot)],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        sys.exit(f"check of slot {slot} failed: {proc.stderr.decode(errors='replace')}")
    lines = proc.stdout.count(b"\n")
    if lines != count:
        sys.exit(f"check of slot {slot} listed {lines} lines, not {count}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu

check(1)  # the first session moves the files to cur/ and builds the index
walls = {s: [] for s in names}
cpus = {s: [] for s in names}
for rep in range(1, reps + 1):
    line = f"run {rep}:"
    for slot, name in names.items():
        wall, cpu = check(slot)
        walls[slot].append(wall)
        cpus[slot].append(cpu)
        line += f"  {name} {wall * 1000:7.1f} ms (cpu {cpu * 1000:.0f})"
    print(line, flush=True)

print()
print(f"messages: {count}")
plain = statistics.median(walls[1])
for slot, name in names.items():
    wall, cpu = statistics.median(walls[slot]), statistics.median(cpus[slot])
    print(f"{name:6} median {wall * 1000:7.1f} ms, {wall / count * 1e6:6.1f} us per message; "
          f"our CPU {cpu * 1000:.0f} ms ({cpu / count * 1e6:.1f} us per message, "
          f"{cpu / wall * 100:.0f}% of the time); ratio to plain {wall / plain:.2f}")
EOF
