# The one loopback port allocator of the scripts (./run and tests/e2e/lib.sh source it).
# Sourced only.

# free_port [AVOID...]: prints a 127.0.0.1 port that is free for TCP and UDP alike (the
# framed protocol uses both on one number), chosen by the system and none of AVOID.
free_port() {
    python3 - "$@" <<'PY'
import socket, sys
avoid = {int(a) for a in sys.argv[1:] if a}
for _ in range(200):
    t = socket.socket(); t.bind(("127.0.0.1", 0)); p = t.getsockname()[1]
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        u.bind(("127.0.0.1", p))
    except OSError:
        t.close(); u.close(); continue
    t.close(); u.close()
    if p not in avoid:
        print(p); break
else:
    sys.exit(1)
PY
}
