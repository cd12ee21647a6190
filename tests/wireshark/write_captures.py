#!/usr/bin/env python3
"""Writes hand-made captures of the packet protocol of machine types 3 and 4 for the
Wireshark dissector's test: TCP conversations between a host and a machine, every packet a
raw IPv4 packet with a TCP header whose sequence and acknowledgement numbers add up
(handshake, data, close), so that Wireshark's TCP reassembly treats them as it treats a
real trace.

The frames are built here from the byte layout alone, and a few are written out as literal
bytes, so that the dissector is checked against more than its own reading of the format.

    write_captures.py DIR     writes DIR/exchanges.pcapng, DIR/segments.pcapng and
                              DIR/faults.pcap
"""

import random
import struct
import sys
from pathlib import Path

HOST = bytes([192, 0, 2, 10])  # addresses reserved for documentation (RFC 5737)
MACHINE = bytes([192, 0, 2, 20])
TYPE3_PORT = 9101
TYPE4_PORT = 9500
FIRMWARE_PORT = 9100
MSS = 1460

LINKTYPE_RAW = 101  # raw IP, classic pcap's usual choice
LINKTYPE_IPV4 = 228  # raw IPv4 only


# --- Frames -------------------------------------------------------------------------------


def check_byte(frame_without_check):
    """The check byte makes the whole frame sum to 0xFF."""
    return (0xFF - sum(frame_without_check)) & 0xFF


def packet_frame(command, data=b"", with_data_sum=None, data_sum=None, check=None):
    """A frame from the host: 80, L, command, data, [data-sum], check byte."""
    if with_data_sum is None:
        with_data_sum = command not in (b"\x00\x01", b"\x00\x02", b"\x00\x03", b"\x00\x07")
    body = command + data
    if with_data_sum:
        body += bytes([(sum(data) + 1) & 0xFF if data_sum is None else data_sum])
    frame = bytes([0x80]) + struct.pack(">H", len(body)) + body
    return frame + bytes([check_byte(frame) if check is None else check])


def reply_frame(body, check=None, lead=0x80):
    """A frame from the machine: lead, L, body, check byte."""
    frame = bytes([lead]) + struct.pack(">H", len(body)) + body
    return frame + bytes([check_byte(frame) if check is None else check])


# A report of a few lines as a machine writes it (CR LF line ends), 4,713 bytes long.
REPORT = b"".join(
    b"Line %03d  Total counter %010d  Fuser 185 C  Error log clear\r\n" % (n, n * 7919)
    for n in range(1, 74)
)[:4713]
# A parameter half: varied values, runs of zeros, 0x00 and 0xFF blocks.
PARAM_HALF_1 = bytes((i * 7 + i // 256) & 0xFF for i in range(32768))
PARAM_HALF_2 = bytes(0 if i % 1024 < 100 else 0xFF if i % 1024 > 1000 else i & 0x7F
                     for i in range(32768))


# --- IPv4 and TCP -------------------------------------------------------------------------

FIN, SYN, PSH, ACK = 0x01, 0x02, 0x08, 0x10


def internet_checksum(data):
    if len(data) % 2:
        data += b"\x00"
    total = sum(struct.unpack(">%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4_tcp_packet(src, dst, sport, dport, seq, ack, flags, payload, ident):
    tcp = struct.pack(">HHIIBBHHH", sport, dport, seq, ack, 5 << 4, flags, 65535, 0, 0)
    pseudo = src + dst + struct.pack(">BBH", 0, 6, len(tcp) + len(payload))
    tcp_sum = internet_checksum(pseudo + tcp + payload)
    tcp = tcp[:16] + struct.pack(">H", tcp_sum) + tcp[18:]
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp) + len(payload), ident, 0x4000,
                     64, 6, 0, src, dst)
    ip = ip[:10] + struct.pack(">H", internet_checksum(ip)) + ip[12:]
    return ip + tcp + payload


class Capture:
    """Packets with their times, in the order they were sent."""

    def __init__(self):
        self.packets = []
        self.clock = 1_700_000_000_000_000  # microseconds
        self.ident = 1
        self.next_client_port = 40001

    def add(self, packet):
        self.clock += 1000
        self.packets.append((self.clock, packet))

    def connect(self, machine_port):
        connection = Connection(self, self.next_client_port, machine_port)
        self.next_client_port += 1
        return connection

    def write_pcapng(self, path, linktype=LINKTYPE_IPV4):
        def block(kind, body):
            body += b"\x00" * (-len(body) % 4)
            length = 12 + len(body)
            return struct.pack("<II", kind, length) + body + struct.pack("<I", length)

        out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
        out += block(1, struct.pack("<HHI", linktype, 0, 0))
        for micros, packet in self.packets:
            out += block(6, struct.pack("<IIIII", 0, micros >> 32, micros & 0xFFFFFFFF,
                                        len(packet), len(packet)) + packet)
        Path(path).write_bytes(out)

    def write_pcap(self, path, linktype=LINKTYPE_RAW):
        out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype)
        for micros, packet in self.packets:
            out += struct.pack("<IIII", micros // 1_000_000, micros % 1_000_000, len(packet),
                               len(packet)) + packet
        Path(path).write_bytes(out)


class Connection:
    """One TCP connection from the host to a port of the machine."""

    def __init__(self, capture, client_port, machine_port):
        self.capture = capture
        self.ends = {
            "host": [HOST, client_port, 1000],
            "machine": [MACHINE, machine_port, 5000],
        }
        self._segment("host", SYN, b"")
        self._segment("machine", SYN | ACK, b"")
        self._segment("host", ACK, b"")

    def _segment(self, side, flags, payload):
        other = "machine" if side == "host" else "host"
        address, port, seq = self.ends[side]
        peer_address, peer_port, peer_seq = self.ends[other]
        ack = peer_seq if flags & ACK else 0
        self.capture.add(ipv4_tcp_packet(address, peer_address, port, peer_port, seq, ack,
                                         flags, payload, self.capture.ident))
        self.capture.ident += 1
        self.ends[side][2] = (seq + len(payload) + (1 if flags & (SYN | FIN) else 0)) & 0xFFFFFFFF

    def send(self, side, data, pieces=None):
        """Sends the bytes as segments of the given sizes, or of at most MSS bytes each,
        and lets the other side acknowledge them."""
        sizes = pieces or [MSS] * (len(data) // MSS + 1)
        offset = 0
        for size in sizes:
            piece = data[offset:offset + size]
            if piece:
                self._segment(side, PSH | ACK, piece)
            offset += size
        assert offset >= len(data), "pieces do not cover the data"
        self._segment("machine" if side == "host" else "host", ACK, b"")

    def request(self, data, pieces=None):
        self.send("host", data, pieces)

    def reply(self, data, pieces=None):
        self.send("machine", data, pieces)

    def close(self):
        self._segment("host", FIN | ACK, b"")
        self._segment("machine", FIN | ACK, b"")
        self._segment("host", ACK, b"")


# --- The captures -------------------------------------------------------------------------


def exchanges():
    """Every request a host sends and the machine's replies, on both machine ports, and a
    firmware image on 9100."""
    capture = Capture()
    for port in (TYPE3_PORT, TYPE4_PORT):
        c = capture.connect(port)  # Get Report
        c.request(bytes.fromhex("80 00 02 00 01 7C"))
        c.reply(reply_frame(REPORT))
        c.close()
        for command, half in ((b"\x00\x02", PARAM_HALF_1), (b"\x00\x03", PARAM_HALF_2)):
            c = capture.connect(port)  # Get Parameters, one connection per half
            c.request(packet_frame(command))
            c.reply(reply_frame(half))
            c.close()
        for command, half in ((b"\x00\x05", PARAM_HALF_2), (b"\x00\x04", PARAM_HALF_1)):
            c = capture.connect(port)  # Put Parameters, second half first
            c.request(packet_frame(command, half))
            c.reply(reply_frame(b"OK"))
            c.close()
        c = capture.connect(port)  # the closing command of Put Parameters
        c.request(packet_frame(b"\x00\x06", b"rs\n"))
        c.close()
    c = capture.connect(TYPE3_PORT)
    c.request(bytes.fromhex("80 00 05 00 06 41 42 84 6D"))  # command text "AB"
    c.request(packet_frame(b"\x00\x07", b"\x01\x02"))  # carries no data-sum
    c.request(packet_frame(b"\x01\x01", b"\x10"))  # a command the system never sends
    c.reply(bytes.fromhex("80 00 03 41 42 43 B6"))
    c.reply(bytes.fromhex("80 00 00 7F"))  # an empty reply
    c.close()
    c = capture.connect(FIRMWARE_PORT)  # the raw image is not framed
    c.request(bytes([0x80, 0x00, 0x02]) + bytes(range(256)) * 8)
    c.close()
    return capture


def segments():
    """Frames cut across segments and packed into one."""
    capture = Capture()
    c = capture.connect(TYPE4_PORT)
    report_request = packet_frame(b"\x00\x01")
    c.request(report_request, pieces=[1, 3, 2])  # a frame over three segments
    c.reply(reply_frame(b"Counter 12\r\n"), pieces=[2, 9, 5])
    c.close()
    c = capture.connect(TYPE3_PORT)
    c.request(packet_frame(b"\x00\x06", b"rs\n") + packet_frame(b"\x00\x01"))  # two in one
    # The first reply's tail and the second reply whole in one segment.
    first, second = reply_frame(b"first reply"), reply_frame(b"second")
    c.reply(first + second, pieces=[5, len(first) - 5 + len(second)])
    c.close()
    return capture


def faults():
    """Frames that break the rules, and bytes that are no frame at all."""
    capture = Capture()
    c = capture.connect(TYPE3_PORT)
    c.request(b"GET / HTTP/1.0\r\n\r\n")  # garbage
    c.close()
    c = capture.connect(TYPE3_PORT)
    c.request(packet_frame(b"\x00\x01"))
    c.reply(reply_frame(REPORT[:100], check=check_byte(reply_frame(REPORT[:100])[:-1]) + 1))
    c.close()
    c = capture.connect(TYPE4_PORT)
    c.request(packet_frame(b"\x00\x06", b"rs\n", data_sum=0x00))  # data-sum wrong
    c.request(packet_frame(b"\x00\x06", b"rs\n", check=0x00))  # check byte wrong
    c.request(packet_frame(b"\x00\x05", with_data_sum=False))  # no data-sum
    c.request(packet_frame(b"\x00\x01", b"\x55"))  # data after a report request
    c.request(bytes.fromhex("80 00 01 06 78"))  # too short for a command
    c.reply(reply_frame(b"OK", lead=0x7F))  # not a frame: wrong lead
    c.close()
    c = capture.connect(TYPE4_PORT)
    c.request(b"\x00")  # a single stray byte
    c.close()
    return capture


def random_message(rng):
    """Random bytes, a frame of random content, or the start of one that never ends."""
    def some(limit):
        return bytes(rng.randrange(256) for _ in range(rng.randint(0, limit)))

    kind = rng.randrange(5)
    if kind == 0:
        return some(60) or b"\x00"
    if kind == 1:
        command = bytes([rng.choice((0x00, 0x01, 0x80, 0xFF)), rng.randrange(9)])
        return packet_frame(command, some(40), with_data_sum=rng.choice((None, True, False)),
                            check=rng.choice((None, rng.randrange(256))))
    if kind == 2:
        return reply_frame(some(300), check=rng.choice((None, rng.randrange(256))))
    if kind == 3:
        return bytes([0x80]) + some(2)  # a header cut short
    return bytes([0x80, rng.randrange(256), rng.randrange(256)]) + some(20)


def noise(seed=19, connections=40):
    """Random traffic cut at random places, on both machine ports and in both directions."""
    rng = random.Random(seed)
    capture = Capture()
    for _ in range(connections):
        c = capture.connect(rng.choice((TYPE3_PORT, TYPE4_PORT)))
        for _ in range(rng.randint(1, 6)):
            data = b"".join(random_message(rng) for _ in range(rng.randint(1, 3)))
            cuts = sorted(rng.sample(range(1, len(data)), min(len(data) - 1, rng.randint(0, 3))))
            pieces = [b - a for a, b in zip([0] + cuts, cuts + [len(data)])]
            c.send(rng.choice(("host", "machine")), data, pieces)
        c.close()
    return capture


def write_all(directory):
    directory = Path(directory)
    exchanges().write_pcapng(directory / "exchanges.pcapng")
    segments().write_pcapng(directory / "segments.pcapng")
    faults().write_pcap(directory / "faults.pcap")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: write_captures.py DIR")
    write_all(sys.argv[1])
