# Sourced, not run: a private Dovecot POP3 server on a free loopback port,
# set up like the C++ test harness (tests/support/dovecot.cpp). Needs root
# (mail processes run as nobody) and python3.
#
#   source scripts/dovecot-private.sh
#   dovecot_private_start DIR USER PASSWORD [tls]
#       # sets DOVECOT_PORT, DOVECOT_PID, DOVECOT_MAILDIR; with "tls" also
#       # DOVECOT_TLS_PORT (pop3s; STLS works on DOVECOT_PORT) and
#       # DOVECOT_CA_FILE, the test authority to trust (SSL_CERT_FILE)
#   ... deliver files into "$DOVECOT_MAILDIR/new" (owned by nobody) ...
#   dovecot_private_stop
#
# DIR must be an empty folder; the caller removes it afterwards.

dovecot_private_binary() {
  command -v dovecot 2>/dev/null || { [ -x /usr/sbin/dovecot ] && echo /usr/sbin/dovecot; }
}

dovecot_private_start() {
  local dir=$1 user=$2 password=$3 tls=${4:-}
  local bin
  bin=$(dovecot_private_binary) || true
  if [ -z "$bin" ]; then
    echo "dovecot is not installed (scripts/setup.sh installs dovecot-pop3d)" >&2
    return 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "dovecot_private_start needs root: mail processes run as nobody" >&2
    return 1
  fi
  # Mail processes run as nobody and must reach the homes.
  chmod 755 "$dir"
  mkdir -p "$dir/run" "$dir/state" "$dir/home/$user/Maildir/"{new,cur,tmp}
  chown -R nobody:nogroup "$dir/home"
  printf '%s:{PLAIN}%s\n' "$user" "$password" >"$dir/passwd"
  local ssl="ssl = no" pop3s=""
  if [ "$tls" = tls ]; then
    dovecot_private_certificates "$dir" || return 1
    DOVECOT_CA_FILE=$dir/ca.pem
    ssl="ssl = yes
ssl_cert = <$dir/server.pem
ssl_key = <$dir/server.key
ssl_min_protocol = TLSv1.2"
  fi

  local attempt
  for attempt in 1 2 3 4 5; do
    # A port free now; should another process take it first, the server
    # exits and the next attempt picks another.
    DOVECOT_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    if [ "$tls" = tls ]; then
      DOVECOT_TLS_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
      pop3s="  inet_listener pop3s {
    port = $DOVECOT_TLS_PORT
    ssl = yes
  }"
    fi
    cat >"$dir/dovecot.conf" <<EOF
instance_name = kelvane-bench-$$-$DOVECOT_PORT
base_dir = $dir/run
state_dir = $dir/state
protocols = pop3
listen = 127.0.0.1
log_path = $dir/dovecot.log
login_greeting = kelvane-test ready.
$ssl
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_username_format = %u
auth_failure_delay = 0
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=$dir/home/%u
}
mail_location = maildir:~/Maildir
service pop3-login {
  inet_listener pop3 {
    port = $DOVECOT_PORT
  }
$pop3s
}
EOF
    "$bin" -F -c "$dir/dovecot.conf" </dev/null >>"$dir/stdout.log" 2>>"$dir/stderr.log" &
    DOVECOT_PID=$!
    if python3 - "$DOVECOT_PORT" "$DOVECOT_PID" <<'EOF'; then
import os, socket, sys, time
port, pid = int(sys.argv[1]), int(sys.argv[2])
deadline = time.monotonic() + 10
while time.monotonic() < deadline:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        sys.exit(1)
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
            sys.exit(0 if s.makefile("rb").readline().startswith(b"+OK kelvane-test") else 1)
    except OSError:
        time.sleep(0.02)
sys.exit(1)
EOF
      DOVECOT_MAILDIR=$dir/home/$user/Maildir
      return 0
    fi
    dovecot_private_stop
  done
  echo "dovecot did not start; its log:" >&2
  cat "$dir/dovecot.log" "$dir/stderr.log" >&2 2>/dev/null
  return 1
}

# A test authority and a server certificate for 127.0.0.1 it signed.
dovecot_private_certificates() {
  local dir=$1
  local ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
  (
    cd "$dir" &&
      echo "subjectAltName=IP:127.0.0.1,DNS:localhost" >server.ext &&
      openssl req -x509 $ec -keyout ca.key -out ca.pem -days 2 -subj '/CN=Kelvane Bench CA' &&
      openssl req $ec -keyout server.key -out server.csr -subj '/CN=127.0.0.1' &&
      openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile server.ext -out server.pem
  ) 2>>"$dir/openssl.log" || {
    echo "openssl failed:" >&2
    cat "$dir/openssl.log" >&2
    return 1
  }
}

dovecot_private_stop() {
  [ -n "${DOVECOT_PID:-}" ] || return 0
  kill -TERM "$DOVECOT_PID" 2>/dev/null || true
  wait "$DOVECOT_PID" 2>/dev/null || true
  DOVECOT_PID=
}
