# A loopback relay for the end-to-end scripts: forwards one protocol (tcp or udp) from LISTEN to
# TARGET on 127.0.0.1, and with MODES plays a server the protocols allow but that is unkind
# (see start_relay in lib.sh). Prints "ready" once it listens.
# Usage: relay.py tcp|udp LISTEN TARGET [MODES]
import os, re, select, socket, sys, threading


def framed_constant(name):
    # The packet layout's names, read from the header the client and the server share.
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "..", "core", "framed_packet.h")) as header:
        return int(re.search(r"\b%s = (\w+)," % name, header.read()).group(1), 0)


proto, listen, target = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
modes = sys.argv[4].split(",") if len(sys.argv) > 4 and sys.argv[4] else []
impostor = "impostor" in modes
if proto == "udp":
    header_size = framed_constant("PACKET_HEADER_SIZE")
    front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    front.bind(("127.0.0.1", listen))
    back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    back.bind(("127.0.0.1", 0))
    fake = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    fake.bind(("127.0.0.1", 0))
    client = None
    print("ready", flush=True)
    while True:
        ready, _, _ = select.select([front, back, fake], [], [])
        for s in ready:
            data, sender = s.recvfrom(65536)
            if s is fake:
                print("impostor heard %d bytes" % len(data), flush=True)
            elif s is front:
                client = sender
                if impostor and len(data) >= header_size and data[31] == 4 and data[32] == 7:
                    body = b"evil.dll^|1^|1^|0^|0~|evil2.dll^|1^|1^|0^|0"
                    head = (bytes([0xA0]) + bytes(30) + bytes([4, 7, 0, 0, 0, 0]) +
                            (1000).to_bytes(4, "big") + len(body).to_bytes(2, "big") + bytes([0x0F]))
                    fake.sendto(bytes([3, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 7, 0x30]), sender)
                    fake.sendto(head + body, sender)
                    print("impostor answered", flush=True)
                back.sendto(data, ("127.0.0.1", target))
            elif client:
                front.sendto(data, client)
else:
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", listen))
    server.listen(8)
    print("ready", flush=True)
    def pump(a, b, transform=None):
        try:
            while True:
                data = a.recv(65536)
                if not data:
                    break
                b.sendall(transform(data) if transform else data)
        except (OSError, ValueError):
            pass
        for s in (a, b):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
    def shaper(conn):
        # Server to client, answer by answer: each ends at its NUL; a file answer's third
        # field says how many data bytes follow it.
        state = {"buf": b"", "remaining": 0}
        def transform(data):
            buf, remaining = state["buf"] + data, state["remaining"]
            out = b""
            while buf:
                if remaining > 0:
                    take = buf[:remaining]
                    out, buf, remaining = out + take, buf[len(take):], remaining - len(take)
                    continue
                nul = buf.find(b"\0")
                if nul < 0:
                    break
                answer, buf = buf[:nul + 1], buf[nul + 1:]
                if b"^|" in answer and "ctlname" in modes:
                    # The first name gets a carriage return and an escape sequence after
                    # its first character.
                    answer = answer[:10] + b"\r\x1b[2J" + answer[10:]
                out += answer
                if b"^|" in answer:
                    if "drop" in modes:
                        conn.sendall(out)
                        raise OSError("dropped after the catalogue")
                    continue
                fields = answer[9:-1].split(b"~|")
                if answer.startswith(b"#EXL: OK:") and len(fields) >= 3:
                    remaining = int(fields[2] or 0)
                    if "pad" in modes:
                        out += b"\0" * 4000
            state["buf"], state["remaining"] = buf, remaining
            return out
        return transform
    while True:
        conn, _ = server.accept()
        up = socket.create_connection(("127.0.0.1", target))
        threading.Thread(target=pump, args=(conn, up), daemon=True).start()
        threading.Thread(target=pump, args=(up, conn, shaper(conn) if modes else None),
                         daemon=True).start()
