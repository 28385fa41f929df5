"""The command-link frame and an HF identify reply, written here from the wire format alone."""
import struct


def crc16_arc(data: bytes) -> int:
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(letter: str, payload: bytes) -> bytes:
    head = b"*" + letter.encode() + struct.pack("<H", len(payload)) + payload
    return head + struct.pack("<H", crc16_arc(head))


def identify_payload(unit: int = 1234) -> bytes:
    p = bytearray(43)
    p[0:2] = struct.pack("<H", unit)
    p[2:8] = b"v2.1.0"
    p[10:23] = b"Hydrophone HF"
    p[28] = 5
    p[32] = 3
    p[42] = 3
    return bytes(p)


def split_frames(buf: bytes):
    """Whole frames at the front of buf, and what is left."""
    frames = []
    while len(buf) >= 6:
        n = struct.unpack("<H", buf[2:4])[0]
        if len(buf) < n + 6:
            break
        frames.append(buf[: n + 6])
        buf = buf[n + 6:]
    return frames, buf


class Checks:
    """Prints each check; failures counts the ones that did not hold."""

    def __init__(self) -> None:
        self.failures = 0

    def __call__(self, ok: bool, what: str) -> None:
        print(("ok   " if ok else "FAIL ") + what)
        self.failures += 0 if ok else 1


def json_or_empty(text: str) -> dict:
    import json
    try:
        return json.loads(text)
    except ValueError:
        return {}
