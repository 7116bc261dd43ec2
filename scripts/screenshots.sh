#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb: the main window with a filled
# list (all four marks), the progress window and the header viewer, against
# a small scripted POP3 server on the loopback interface; the general
# settings' mailbox page and the subject grid from their window tests.
# Needs a build (scripts/build.sh).
#   scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/docs/screenshots
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/home" "$work/run" "$out"
chmod 700 "$work/run"

# The rules: "free" deletes, "winner" is suspicious, Ann is an exception,
# spam.example is a known spammer.
printf '6,3\r\n1,1,Contains\r\n2,1,free\r\n3,1,No\r\n4,1,Yes\r\n5,1,0\r\n1,2,Contains\r\n2,2,winner\r\n3,2,No\r\n4,2,No\r\n5,2,0\r\n' >"$work/prog/subj.lst"
printf '5,2\r\n0,1,E-mail address\r\n1,1,Equals\r\n2,1,ann@friend.example\r\n3,1,No\r\n4,1,0\r\n' >"$work/prog/except.lst"
printf 'spam.example\r\n' >"$work/prog/known.lst"
printf '[Known]\r\nQMonitor=1\r\n' >"$work/prog/Kelvane.ini"

cat >"$work/pop.py" <<'PY'
import socket, sys, time
delay = float(sys.argv[2])
mails = [
    ("Ann <ann@friend.example>", "Lunch on Friday?", 2140),
    ("Deals <deals@shop.example>", "FREE cruise for two", 18211),
    ("promo@spam.example", "You were selected", 5230),
    ("Lottery <info@lotto.example>", "You are a winner", 7302),
    ("Bob <bob@work.example>", "Minutes of the meeting", 40212),
    ("news@paper.example", "Caf\xe9 des Arts: the weekly letter", 12044),
    ("Shop <sale@store.example>", "Free shipping this week", 9120),
    ("Carol <carol@home.example>", "Photos from the trip", 310482),
]
srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", int(sys.argv[1]))); srv.listen(5)
while True:
    c, _ = srv.accept(); f = c.makefile("rb")
    c.sendall(b"+OK ready\r\n")
    for line in f:
        cmd = line.decode("latin-1").strip().split()
        if not cmd: continue
        if cmd[0] == "STAT": c.sendall(b"+OK %d 1000\r\n" % len(mails))
        elif cmd[0] == "LIST": c.sendall(b"+OK %s %d\r\n" % (cmd[1].encode(), mails[int(cmd[1]) - 1][2]))
        elif cmd[0] == "TOP":
            time.sleep(delay)
            n = int(cmd[1]); frm, subj, _ = mails[n - 1]
            day = 1 + n
            h = "Message-ID: <%d@x>\r\nFrom: %s\r\nSubject: %s\r\nDate: Tue, %d Dec 2026 %02d:%02d:00 +0100\r\n" % (n, frm, subj, day, 8 + n, 7 * n % 60)
            c.sendall(b"+OK\r\n" + h.encode("latin-1") + b"\r\nbody\r\n.\r\n")
        elif cmd[0] == "QUIT": c.sendall(b"+OK bye\r\n"); break
        elif cmd[0] == "CAPA": c.sendall(b"-ERR no capabilities\r\n")
        elif cmd[0] == "UIDL": c.sendall(b"-ERR no unique ids\r\n")
        else: c.sendall(b"+OK\r\n")
    c.close()
PY

export XDG_CONFIG_HOME=$work/home XDG_RUNTIME_DIR=$work/run LC_ALL=C.UTF-8
echo secret | build/kelvane-cli mailbox set 1 --server 127.0.0.1:11110 --user ann --password-stdin >/dev/null
build/kelvane-cli settings set General Logfile "$work/log.txt" >/dev/null

shoot() {  # name delay seconds-before-shot
  python3 "$work/pop.py" 11110 "$2" &
  local pop=$!
  sleep 0.5
  xvfb-run -a -s "-screen 0 700x470x24" bash -c '
    build/kelvane --dir "'"$work"'/prog" &
    sleep 2
    w=$(xdotool search --onlyvisible --name "^Kelvane$" | head -1)
    xdotool windowfocus --sync "$w"; sleep 0.3; xdotool key --clearmodifiers alt+c
    sleep '"$3"'
    # The root window, cut to the main window: the progress window is a
    # window of its own above it.
    eval "$(xdotool getwindowgeometry --shell "$w")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "'"$out"'/'"$1"'.png"
    kill %1'
  kill $pop; wait $pop 2>/dev/null || true
}
# The header viewer over the list: the first two rows selected, then the
# Menu key and the viewer's entry ("h").
shoot_viewer() {
  python3 "$work/pop.py" 11110 0 &
  local pop=$!
  sleep 0.5
  xvfb-run -a -s "-screen 0 700x470x24" bash -c '
    build/kelvane --dir "'"$work"'/prog" &
    sleep 2
    w=$(xdotool search --onlyvisible --name "^Kelvane$" | head -1)
    xdotool windowfocus --sync "$w"; sleep 0.3; xdotool key --clearmodifiers alt+c
    sleep 3
    xdotool mousemove --window "$w" 100 150 click 1; sleep 0.3
    xdotool key --clearmodifiers Home shift+Down; sleep 0.3
    xdotool key --clearmodifiers Menu; sleep 0.5; xdotool key h
    sleep 1
    v=$(xdotool search --onlyvisible --name "^View Selected Headers$" | head -1)
    import -window "$v" "'"$out"'/header-viewer.png"
    kill %1'
  kill $pop; wait $pop 2>/dev/null || true
}

shoot main-window 0 2
shoot progress-window 0.6 2.6
shoot_viewer
# The mailbox page of the general settings, in the light and a dark palette.
KELVANE_SCREENSHOTS=$out xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb \
  build/tests/gui_general_test --gtest_filter='*Screenshots' >/dev/null
echo "Screenshots in $out"

# The spam settings' subject grid in a light and a dark palette.
xvfb-run -a -s "-screen 0 800x600x24" env QT_QPA_PLATFORM=xcb KELVANE_SCREENSHOT_DIR="$out" \
  build/tests/gui_optsmain_test --gtest_filter=SpamSettings.Screenshots >/dev/null
echo "Subject grid screenshots in $out"

# The kept copies of deleted messages, in a light and a dark palette.
xvfb-run -a -s "-screen 0 1024x700x24" env QT_QPA_PLATFORM=xcb KELVANE_SCREENSHOTS="$out" \
  build/tests/gui_deleted_test --gtest_filter='*Screenshots' >/dev/null
echo "Deleted messages screenshots in $out"
