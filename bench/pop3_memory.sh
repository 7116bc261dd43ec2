#!/usr/bin/env bash
# The peak memory of `kelvane-cli check` against a server that sends huge
# header blocks: a scripted POP3 server on loopback offers COUNT messages,
# each with a header block of MB megabytes (under the 16 MiB a block may
# hold: a long X-Pad field after the usual ones), and answers UIDL. The check
# runs pipelined and command by command; the peak resident size of each run
# is printed, next to the header bytes the server sent. A check keeps at most
# the first MiB of a block, and 32 MiB over all blocks, so its peak should
# stay far below what the server sends.
#
#   bench/pop3_memory.sh [-n COUNT] [-m MB]
#
# Needs python3 and a built build/kelvane-cli, or KELVANE_CLI=path.
set -euo pipefail
cd "$(dirname "$0")/.."

count=12
mb=15
while getopts "n:m:h" opt; do
  case $opt in
    n) count=$OPTARG ;;
    m) mb=$OPTARG ;;
    *) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
cli=${KELVANE_CLI:-build/kelvane-cli}
[ -x "$cli" ] || { echo "$cli is not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$cli" "$work" "$count" "$mb" <<'EOF'
import os, resource, socket, subprocess, sys, threading

cli, work, count, mb = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def header(n):
    pad = b"X-Pad: " + b"x" * (mb * 1000 * 1000 - 200) + b"\r\n"
    return (b"From: Sender %d <s%d@example.org>\r\nSubject: Padded message %d\r\n"
            b"Message-ID: <pad.%d@example.org>\r\n" % (n, n, n, n)) + pad

# The header blocks are built once and shared by both runs.
blocks = [header(n) + b"\r\nbody\r\n.\r\n" for n in range(1, count + 1)]

def serve(conn):
    f = conn.makefile("rb")
    conn.sendall(b"+OK ready\r\n")
    for raw in f:
        cmd = raw.decode().strip().split()
        if not cmd:
            continue
        word = cmd[0].upper()
        if word == "CAPA":
            out = b"+OK\r\nUSER\r\nTOP\r\nUIDL\r\nPIPELINING\r\n.\r\n"
        elif word in ("USER", "PASS"):
            out = b"+OK\r\n"
        elif word == "STAT":
            out = b"+OK %d %d\r\n" % (count, sum(len(b) for b in blocks))
        elif word == "UIDL":
            out = b"+OK\r\n" + b"".join(b"%d uid-%d\r\n" % (n, n) for n in range(1, count + 1))
            out += b".\r\n"
        elif word == "LIST":
            n = int(cmd[1])
            out = b"+OK %d %d\r\n" % (n, len(blocks[n - 1]))
        elif word == "TOP":
            out = b"+OK\r\n" + blocks[int(cmd[1]) - 1]
        elif word == "QUIT":
            conn.sendall(b"+OK bye\r\n")
            break
        else:
            out = b"-ERR unknown\r\n"
        conn.sendall(out)
    conn.close()

listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(4)
port = listener.getsockname()[1]

def accept_forever():
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()

threading.Thread(target=accept_forever, daemon=True).start()

env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
program = os.path.join(work, "program")
os.makedirs(program, exist_ok=True)
subprocess.run([cli, "--dir", program, "mailbox", "set", "1", "--server", f"127.0.0.1:{port}",
                "--user", "bench", "--password-stdin"], input=b"pw\n", env=env, check=True)

sent = sum(len(b) for b in blocks) / 1e6
print(f"{count} messages, header blocks of {mb} MB: the server sends {sent:.0f} MB of headers")
for label, extra in (("pipelined", []), ("command by command", ["--no-pipelining"])):
    # ru_maxrss of the children is the largest of any child so far: each
    # run is measured in a process of its own.
    probe = ("import resource, subprocess, sys;"
             "p = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE);"
             "sys.stderr.write(p.stderr.decode()) if p.returncode else None;"
             "print(p.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", probe, cli, "--dir", program, "check",
                          "--mailbox", "1", *extra], env=env, capture_output=True, text=True)
    rc, peak_kib = out.stdout.split()
    if rc != "0":
        sys.exit(f"kelvane-cli check failed ({rc}): {out.stderr.strip()}")
    print(f"  {label:20s} peak resident size {int(peak_kib) / 1024:6.1f} MiB")
EOF
