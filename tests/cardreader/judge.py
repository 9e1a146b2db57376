#!/usr/bin/python3
"""An independent judge of a SIM in a card reader: reads EF_ADN (with EF_EXT1) and
EF_SMS record by record through pyscard and decodes them from TS 51.011 / 31.102 and
TS 23.038 / 23.040 on its own. Prints one line a used record:
    adn N NAME NUMBER
    sms N STATUS ADDRESS TEXT
Usage: judge.py READER"""
import sys

from smartcard.System import readers

GSM = ("@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ\x1bÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
       "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà")
GSM_EXT = {0x0A: "\f", 0x14: "^", 0x28: "{", 0x29: "}", 0x2F: "\\", 0x3C: "[", 0x3D: "~", 0x3E: "]",
           0x40: "|", 0x65: "€"}
DIGITS = "0123456789*#,?;"  # BCD: A is *, B #, C a pause (,), D a wild digit, E the rest


class Card:
    def __init__(self, name):
        reader = next(r for r in readers() if str(r) == name)
        self.conn = reader.createConnection()
        self.conn.connect()
        self.cla = 0x00
        data, sw = self.send([0x00, 0xA4, 0x00, 0x04, 0x02, 0x3F, 0x00])
        if sw in (0x6E00, 0x6D00):
            self.cla = 0xA0

    def send(self, apdu):
        data, sw1, sw2 = self.conn.transmit(apdu)
        while sw1 in (0x61, 0x9F):
            more, sw1, sw2 = self.conn.transmit([0xA0 if sw1 == 0x9F else 0x00, 0xC0, 0x00, 0x00, sw2])
            data += more
        if sw1 == 0x6C:
            data, sw1, sw2 = self.conn.transmit(apdu[:4] + [sw2])
        return data, sw1 << 8 | sw2

    def select(self, path):
        header = []
        for fid in path:
            p2 = 0x00 if self.cla == 0xA0 else 0x04
            header, sw = self.send([self.cla, 0xA4, 0x00, p2, 0x02, fid >> 8, fid & 0xFF])
            if sw != 0x9000:
                return None
        if self.cla == 0xA0:  # the GSM response: size in bytes 3-4, record length in 15
            return header[14], (header[2] << 8 | header[3]) // header[14]
        at = 2
        while at < len(header):  # the FCP's file descriptor, tag 82
            tag, size = header[at], header[at + 1]
            if tag == 0x82:
                return header[at + 4] << 8 | header[at + 5], header[at + 6]
            at += 2 + size
        return None

    def records(self, path):
        shape = self.select(path)
        if not shape:
            return []
        length, count = shape
        out = []
        for n in range(1, count + 1):
            data, sw = self.send([self.cla, 0xB2, n, 0x04, length])
            out.append(bytes(data) if sw == 0x9000 else b"")
        return out


def gsm_text(septets):
    out, escape = "", False
    for s in septets:
        if escape:
            out += GSM_EXT.get(s, " ")
            escape = False
        elif s == 0x1B:
            escape = True
        else:
            out += GSM[s]
    return out


def alpha(field):
    if not field or field[0] == 0xFF:
        return ""
    if field[0] == 0x80:
        units = [field[i] << 8 | field[i + 1] for i in range(1, len(field) - 1, 2)]
        return "".join(chr(u) for u in units if u != 0xFFFF)
    if field[0] in (0x81, 0x82):
        count = field[1]
        base = field[2] << 7 if field[0] == 0x81 else field[2] << 8 | field[3]
        body = field[3:] if field[0] == 0x81 else field[4:]
        return "".join(GSM[b] if b < 0x80 else chr(base + (b & 0x7F)) for b in body[:count])
    return gsm_text([b for b in field if b != 0xFF])


def bcd(octets):
    out = ""
    for b in octets:
        for nibble in (b & 0x0F, b >> 4):
            if nibble == 0xF:
                return out
            out += DIGITS[nibble]
    return out


def unpack7(octets, count, skip_bits=0):
    bits = int.from_bytes(bytes(octets), "little")
    return [(bits >> (skip_bits + 7 * i)) & 0x7F for i in range(count)]


def address(octets, at):
    digits, toa = octets[at], octets[at + 1]
    size = (digits + 1) // 2
    body = octets[at + 2:at + 2 + size]
    if toa & 0x70 == 0x50:
        text = gsm_text(unpack7(body, digits * 4 // 7))
    else:
        text = ("+" if toa & 0x70 == 0x10 else "") + bcd(body)
    return text, at + 2 + size


def sms(record):
    pdu = record[1:]
    at = 1 + pdu[0]  # the service centre's address
    first = pdu[at]
    at += 1
    if first & 0x03 == 0x01:
        at += 1  # the message reference
    who, at = address(pdu, at)
    dcs = pdu[at + 1]
    at += 2
    if first & 0x03 == 0x00:
        at += 7  # the time stamp
    else:
        at += {0x10: 1, 0x08: 7, 0x18: 7}.get(first & 0x18, 0)
    length, ud = pdu[at], pdu[at + 1:]
    header = ud[0] + 1 if first & 0x40 else 0
    if dcs & 0x0C == 0x08:
        body = ud[header:length]
        text = "".join(chr(body[i] << 8 | body[i + 1]) for i in range(0, len(body) - 1, 2))
    elif dcs & 0x0C == 0x04:
        text = bytes(ud[header:length]).decode("latin-1")
    else:
        skip = (header * 8 + 6) // 7
        text = gsm_text(unpack7(ud, length)[skip:])
    return who, text


def main():
    card = Card(sys.argv[1])
    telecom = [0x3F00, 0x7F10]
    ext = card.records(telecom + [0x6F4A])
    for n, record in enumerate(card.records(telecom + [0x6F3A]), 1):
        if not record or all(b == 0xFF for b in record):
            continue
        name, tail = alpha(record[:-14]), record[-14:]
        number = ""
        if tail[0] not in (0x00, 0xFF):
            number = ("+" if tail[1] & 0x70 == 0x10 else "") + bcd(tail[2:2 + tail[0] - 1])
            link, seen = tail[13], set()
            while link != 0xFF and 0 < link <= len(ext) and link not in seen:
                seen.add(link)
                chained = ext[link - 1]
                if chained[0] == 0x02:
                    number += bcd(chained[2:2 + chained[1]])
                link = chained[12]
        print("adn", n, name, number)
    for n, record in enumerate(card.records(telecom + [0x6F3C]), 1):
        if record and record[0] & 0x01:
            who, text = sms(record)
            print("sms", n, record[0], who, text)


if __name__ == "__main__":
    main()
