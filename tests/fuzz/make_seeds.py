#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

The seeds are small valid (and a few damaged) inputs from which the fuzzer
starts; the structured ones follow the layout that each target reads (see
the target's source). Inputs kept after a fixed finding are named regress-*
and are not written here. Run from anywhere; rewrites only the seed-* files.
"""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, "seed-" + name), "wb") as out:
        out.write(data)


def text(value, limit=255):
    """One length byte and the bytes, as ByteReader.Text reads them."""
    if isinstance(value, str):
        value = value.encode("latin-1")
    value = value[:limit]
    return bytes([len(value)]) + value


def crlf(*lines):
    return "".join(line + "\r\n" for line in lines)


# --- data_file: the host list file
put("data_file", "example", crlf("<H>", "<CHK>T</CHK>", "<HIP>10.0.0.5</HIP>", "<PI>30</PI>",
                                 "<GTIM>1250</GTIM>", "<LTIM>1666</LTIM>", "<YTIM>2500</YTIM>",
                                 "<OTIM>5000</OTIM>", "</H>"))
put("data_file", "two-hosts", crlf(
    "<H>", "<HIP>198.18.3.2</HIP>", "<HN>web1</HN>", "<HDS>front door</HDS>", "<CHS>2</CHS>",
    "<DOW>62</DOW>", "<TOD>-1</TOD>", "<NOR>3</NOR>", "<TO>300</TO>", "<BSTR>300</BSTR>",
    "<GTIM>0</GTIM>", "<PBIP>F</PBIP>", "<DFLT>T</DFLT>", "<WIA>T</WIA>", "<WRC>0</WRC>",
    "<WISE>T</WISE>", "<WEA>ops@example.test</WEA>", "<WSBJ>%HostName% is back</WSBJ>",
    "</H>", "junk between", "<H>", "<CHK>t</CHK>", "<HIP>10.0.0.6</HIP>", "<PI> 30</PI>",
    "<DIA>T</DIA>", "<DRC>2</DRC>", "<DRTR>T</DRTR>", "<DMB>Down: %StatusStr%", "next line</DMB>",
    "</H>"))
put("data_file", "damaged", "<H>\r\n<HIP>1.2.3.4</HIP>\r\n<HN>a</HN\r\n</H></H><H><HIP>x\0y</HIP>")

# --- registry_file: the registry export text
put("registry_file", "options", crlf(
    "REGEDIT4", "", "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]",
    '"PathToData"="/home/op/.local/share/Sentrel"', '"Port"="25"', '"From"="Sentrel <s@x.test>"',
    '"Quote"="a \\"b\\" c\\\\"', "", "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\MainForm]",
    '"isPinging"="1"', '"Top"=dword:0000012c', "@=\"default\"", "",
    "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel]", '"Password"=hex(1):00,9f,00,7a,00'))
put("registry_file", "windows5", "\xef\xbb\xbf" + crlf(
    "Windows Registry Editor Version 5.00", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]",
    '"x"="y"', "[HKCU\\Software\\Sentrel\\Blob]", '"Data"=hex:01,02,03,04,05,06,07,08,09,0a,\\',
    "  0b,0c", '"Big"=hex(7):61,00,62,00,00,00', '"Gone"=-', "[-HKEY_CURRENT_USER\\Software\\Old]"))
put("registry_file", "damaged", "REGEDIT\r\n[HKEY_CURRENT_USER\\A\r\n\"n\"=dword:xyz\r\n\"m\"=hex(1):4\r\n")

# --- language_file: INI text in UTF-8 and in 8-bit code pages
with open(os.path.join(HERE, "..", "..", "resources", "lang", "English.lng"), "rb") as f:
    english = f.read()
put("language_file", "english-head", english[:900])
put("language_file", "cp1251", b"[Language]\r\nCodePage=1251\r\n[MainForm]\r\nPingItem=\xcf\xe8\xed\xe3\r\n"
    b"StopItem='\xd1\xf2\xee\xef'\r\n[mainform]\r\nPingItem=ignored\r\n")
put("language_file", "bom-damaged", b"\xef\xbb\xbf[HostForm]\r\nHostIP=Adr\xe9sse\r\n ; note\r\n"
    b"[Buttons\r\nOk = \"OK\" \r\n=x\r\nHelp=\xc3\xa9\xc3\r")

# --- smtp_client: flags, from, to, subject, body, [user, password], then the server's stream
def smtp(flags, script, user=b"tim", password=b"tanstaaftanstaaf",
         body=b"Down: 10.0.0.5 failed\r\n.\r\n..two dots"):
    head = bytes([flags]) + text("Sentrel <s@monitor.test>") + text("ops@example.test; b@x.test")
    head += text("web1 lost") + text(body)
    if flags & 1:
        head += text(user) + text(password)
    return head + script


ok = crlf("220 peer.test ESMTP", "250-peer.test", "250-SIZE 1000000", "250 HELP",
          "250 OK", "250 OK", "250 OK", "354 go ahead", "250 accepted", "221 bye")
put("smtp_client", "plain", smtp(2, ok.encode()))
put("smtp_client", "auth-login", smtp(3, crlf(
    "220 peer.test", "250-peer.test", "250-AUTH LOGIN", "250 SIZE", "334 VXNlcm5hbWU6",
    "334 UGFzc3dvcmQ6", "235 ok", "250 OK", "250 OK", "550 no such user", "221 bye").encode()))
put("smtp_client", "cram-md5", smtp(3, crlf(
    "220 peer.test", "250-peer.test", "250 AUTH=CRAM-MD5 LOGIN",
    "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+", "535 no",
    "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok", "250 OK", "250 OK", "250 OK",
    "354 go", "451 later", "221 bye").encode()))
put("smtp_client", "helo-fallback", smtp(2, crlf(
    "220-peer.test hello", "220 more", "502 no EHLO", "250 peer.test", "250 OK", "250 OK",
    "250 OK", "354 go", "250 ok").encode()))

# --- icmp_receive: setup, port, send error, ttl, tos, address, payload size, arrivals
def icmp(setup, arrivals, port=0x1234, ttl=64, address=bytes([198, 18, 3, 2]), send_error=0):
    out = bytes([setup]) + struct.pack(">H", port) + bytes([send_error, ttl, 0]) + address
    out += bytes([32])
    for arrival in arrivals:
        head, data, source, origin, typ, code, err, offset_us = arrival[:8]
        send = arrival[8] if len(arrival) > 8 else 0
        out += bytes([head, send]) + struct.pack(">i", offset_us) + source
        out += bytes([origin, typ, code, err]) + struct.pack(">H", len(data)) + data
    return out


def ip_header(source, destination=bytes([198, 18, 1, 2]), length=5):
    header = bytes([0x40 | length, 0, 0, 0, 0, 0, 0, 0, 64, 1, 0, 0]) + source + destination
    return header + bytes(4 * (length - 5))


router = bytes([198, 18, 2, 2])
target = bytes([198, 18, 3, 2])
echo_reply = bytes([0, 0, 0, 0, 0, 0, 0, 0]) + bytes(32)
quoted_request = ip_header(bytes([198, 18, 1, 2]), target) + bytes([8, 0, 0, 0, 0, 0, 0, 0])
time_exceeded = bytes([11, 0, 0, 0, 0, 0, 0, 0]) + quoted_request
DATA, ERROR, PENDING = 0, 1, 2
STAMP_REPLY, STAMP_QUOTED, STAMP_TARGET, TIMESTAMP, LATE, DROPS = 4, 8, 16, 0x20, 0x40, 0x80
EHOSTUNREACH, EMSGSIZE, ECONNREFUSED = 113, 90, 111
put("icmp_receive", "raw-reply", icmp(1, [
    (DATA | STAMP_QUOTED, ip_header(target) + echo_reply, target, 0, 0, 0, 0, 100),
    (DATA | STAMP_REPLY | TIMESTAMP, ip_header(target) + echo_reply, target, 0, 0, 0, 0, 250)]))
put("icmp_receive", "raw-error", icmp(1, [
    (DATA | STAMP_QUOTED, ip_header(router) + time_exceeded, router, 0, 0, 0, 0, 0),
    (DATA | STAMP_QUOTED | STAMP_TARGET, ip_header(router, length=6) + time_exceeded, router,
     0, 0, 0, 0, 0)]))
put("icmp_receive", "datagram-reply", icmp(0, [
    (DATA, echo_reply, target, 0, 0, 0, 0, 0),
    (DATA | STAMP_REPLY | TIMESTAMP, echo_reply, target, 0, 0, 0, 0, -5)]))
put("icmp_receive", "datagram-errors", icmp(2, [
    (PENDING, b"", target, 0, 0, 0, EHOSTUNREACH, 0),
    (ERROR | STAMP_QUOTED, bytes([8, 0, 0, 0, 0x12, 0x34, 0, 0]), router, 2, 3, 1, 113, 0),
    (ERROR, bytes([8, 0, 0, 0, 0x12, 0x34, 0, 9]), router, 2, 11, 0, 0, 0),
    (ERROR | STAMP_QUOTED, bytes([8, 0, 0, 0]) * 3, target, 1, 0, 0, EMSGSIZE, 0)]))
# Our own stack refuses the request after the send (too big for the route):
# no answer, the status of the refusal.
put("icmp_receive", "datagram-local-error", icmp(0, [
    (ERROR | STAMP_QUOTED | TIMESTAMP, bytes([8, 0, 0, 0, 0, 0, 0, 0]) + bytes(32), target, 1,
     0, 0, EMSGSIZE, 20)]))
# A foreign reply, then a pending error that cuts the batch; the answer comes
# only while the engine waits.
put("icmp_receive", "datagram-late", icmp(0, [
    (DATA, echo_reply, router, 0, 0, 0, 0, 0),
    (PENDING, b"", target, 0, 0, 0, ECONNREFUSED, 0),
    (DATA | LATE | STAMP_REPLY | TIMESTAMP, echo_reply, target, 0, 0, 0, 0, 40)]))
# The socket overflows while the engine waits: the request goes out again,
# and the answer that comes names the first send.
put("icmp_receive", "raw-resend", icmp(1, [
    (DATA, ip_header(router) + echo_reply, router, 0, 0, 0, 0, 0),
    (DATA | LATE | DROPS, ip_header(router) + echo_reply, router, 0, 0, 0, 0, 0),
    (DATA | LATE | STAMP_REPLY, ip_header(target) + echo_reply, target, 0, 0, 0, 0, 0, 1)]))
put("icmp_receive", "datagram-resend", icmp(0, [
    (DATA | LATE | DROPS, echo_reply, router, 0, 0, 0, 0, 0),
    (ERROR | LATE | STAMP_QUOTED, bytes([8, 0, 0, 0, 0, 0, 0, 0]), router, 2, 3, 3, 0, 0, 1)]))
# Only answers to others: the engine reads them all, then times out.
put("icmp_receive", "raw-foreign", icmp(1, [
    (DATA | STAMP_TARGET, ip_header(router) + time_exceeded, router, 0, 0, 0, 0, 0),
    (DATA | LATE | STAMP_QUOTED, ip_header(router) + time_exceeded, router, 0, 0, 0, 0, 0)]))
# Sends refused: TTL 0 by the kernel, a route error for good, and stale
# errors of other requests that a datagram socket reports to the next send.
put("icmp_receive", "refused-ttl", icmp(0, [], ttl=0))
put("icmp_receive", "refused-route", icmp(1 | 2, [], send_error=101))
put("icmp_receive", "datagram-stale-errors", icmp(3 << 1, [
    (ERROR | STAMP_QUOTED, bytes([8, 0, 0, 0, 0, 0, 0, 0]), router, 2, 11, 0, 0, 0)],
    send_error=EHOSTUNREACH))

# --- base64
put("base64", "text", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw")
put("base64", "padding", "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+QQ==")
put("base64", "damaged", "QR=A=\r\n")

# --- lenient_int
put("lenient_int", "numbers", "-2147483649")
put("lenient_int", "wide", "+18446744073709551617 tail")
put("lenient_int", "stops", "30s")

# --- alarm_template: format, address, name, status, 4+4 bytes of time, subject, body
def template(address, name, status, subject, body, choice=1):
    return (bytes([choice]) + text(address) + text(name) + text(status) +
            struct.pack(">II", 45296, 739000) + text(subject) + body.encode())


put("alarm_template", "defaults", template("10.0.0.5", "web1",
                                           "12/7/26 10:00 10.0.0.5 (web1) is failed.\r\n", "", ""))
put("alarm_template", "every-placeholder", template(
    "10.0.0.5", "%HostName%web1", " %HostIP% up\r\n",
    "%HostName% down at %Time% on %Date%", "Down: %StatusStr%\r\n.\r\n%HostIP%%%Date%%"))
put("alarm_template", "line-breaks", template("a\r\nBcc: x@y", "n\ra", "s\n", "###", "x\ry"))

print("seeds written")
