#!/usr/bin/env python3
"""Writes the seed corpus of the request stream fuzz target into corpus/ (next to this file).

Each seed is two control bytes (see request_stream.h: flags, then the chunking seed or table
size) followed by the bytes a client sends on its incoming connection: int32 length frames.
Run it again after changing a seed; the replay test checks what each seed reaches.
"""
import os
import struct

REQUEST_SIZE = 2351
DAY = 46000.0


def short_string(text, capacity):
    data = text.encode("latin-1")[:capacity]
    return bytes([len(data)]) + data + bytes(capacity - len(data))


def request(code, subcode=0, index2=0, date=DAY, mark=0.0, days=0, flag=0, parts=b"\0" * 5,
            slot_id=0, slot_flag=0, slot_time="", text="", memo=b""):
    p = struct.pack("<iiidd", code, subcode, index2, date, mark)
    p += struct.pack("<HB", days, flag) + parts
    p += struct.pack("<iB", slot_id, slot_flag)
    p += short_string(slot_time, 5) + short_string(text, 255)
    p += memo[:2048] + bytes(2048 - len(memo[:2048]))
    assert len(p) == REQUEST_SIZE
    return p


def frame(payload):
    return struct.pack("<i", len(payload)) + payload


def mail(kind, addresses, sender="alice", body=b"Hello from the corpus.", long_list=None):
    p = struct.pack("<ii", 4000, kind) + bytes(24)
    p += short_string("LONG@@ADDRESS" if long_list is not None else addresses, 255)
    p += short_string(sender, 255) + bytes(512)
    assert len(p) == 1056
    if long_list is not None:
        p += struct.pack("<i", len(long_list)) + long_list
    return p + body


def seed(name, flags, second, stream):
    with open(os.path.join(os.path.dirname(__file__) or ".", "corpus", name), "wb") as out:
        out.write(bytes([flags, second]) + stream)


ALL_PARTS = b"\1" * 5
requests = [
    request(1000, 1),  # hello
    request(2, text="Planning day"),  # day title
    request(3, memo=b"Memo of the day"),
    request(4, 3, slot_time="10:00", text="Meeting"),  # slot 3
    request(40, 5, slot_time="11:00", text="Inserted"),
    request(6, 2, text="First list line"),
    request(16, 2),
    request(26, 2),
    request(1000, 6, index2=3),  # slot id
    request(1000, 3, date=DAY - 1, days=7),  # week
    request(7001, mark=12.0, flag=1),  # set a mark
    request(7002),  # poll
    request(2000, 7002),  # poll answer
    request(50, date=DAY + 1, mark=DAY, parts=ALL_PARTS),  # copy day
    request(41, 5),
    request(5000),  # network settings report
    request(1000, 5),  # fetch mail
    request(1000, 2),  # answered with nothing
    request(7001, mark=12.0, flag=0),  # clear the mark
]
# Requests cut after their text (offset 303) keep the inputs small; the handler zero-pads them.
SHORT = 303 + 16
stream = b"".join(frame(r[:SHORT]) for r in requests)
stream += frame(b"")  # an empty frame
stream += frame(b"\0\0" + request(2, text="Shifted")[:SHORT])  # two bytes late
stream += frame(struct.pack("<ii", 2, 0))  # a short request
seed("requests_short", 0x00, 0, stream)
seed("requests_random_chunks", 0x03, 77, stream)
seed("requests_full_size", 0x00, 0, frame(request(1000, 1)) + frame(
    request(4, 3, slot_time="10:00", text="Meeting")) + frame(request(1000, 3, days=7)))

pieces = [3, 1, 2351, 5, 700, 2]
table = bytes([len(pieces)]) + b"".join(struct.pack("<H", n) for n in pieces)
seed("requests_table_chunks", 0x07, table[0], table[1:] +
     frame(request(1000, 1)) + frame(request(4, 0, text="A")) + frame(request(1000, 3, days=2)))
seed("requests_bytewise", 0x01, 0, frame(request(1000, 1)) + frame(request(2, text="B")))
seed("requests_group_without_datafile", 0x08 | 0x04, 7,
     frame(request(1000, 1)) + frame(request(2, text="Not stored")) + frame(request(7002)) +
     frame(request(1000, 3, days=9)))

# Two clients, one frame per receive event in turn: alice, bob, alice, ...
turns = [
    request(7001, mark=5.0, flag=1)[:SHORT],  # alice sets a mark
    request(1000, 3, days=1)[:SHORT],  # bob reads a day and gets alice's mark
    request(7002)[:SHORT],  # alice polls
    request(2000, 7002)[:SHORT],  # bob answers: the poll is answered to alice
    mail(0, "bob"),  # alice mails bob
    request(1000, 5)[:SHORT],  # bob fetches his mail
]
table = [len(t) + 4 for t in turns]
seed("two_clients", 0x20 | 0x07, len(table),
     b"".join(struct.pack("<H", n) for n in table) + b"".join(frame(t) for t in turns))

seed("mail_stored", 0x00, 0,
     frame(mail(0, "bob,carol,nobody,,bob")) + frame(request(1000, 5)))
seed("mail_long_address", 0x02, 9,
     frame(mail(0, "", long_list=b"carol,dave\0ignored,bob", body=b"Long list")))
seed("mail_direct", 0x00, 0,
     frame(mail(10, "bob,alice,dave")) + frame(mail(11, "carol,bob", sender="bob")))

hello = request(1000, 1)
seed("misaligned_header", 0x00, 0, b"\0\0\x2f\x09" + b"\x2f\x09" + hello[:REQUEST_SIZE - 2])
seed("huge_length", 0x04, 3, struct.pack("<i", 0x7FFFFFFF) + hello[:1000])
seed("over_spool_threshold", 0x00, 0, struct.pack("<i", 524289) + hello)
seed("negative_length", 0x00, 0, struct.pack("<i", -1) + frame(hello))
seed("spooled_mail", 0x10, 0, mail(0, "bob,carol", body=b"Spooled body"))
seed("spooled_request", 0x10, 0, hello)
