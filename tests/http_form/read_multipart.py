#!/usr/bin/env python3
"""Reads a captured HTTP request with Python's own MIME parser, as a
standard server would, and prints one line per part:

    name <TAB> filename or "-" <TAB> content type <TAB> payload as hex

Exit status 1 when the body is not a well-formed multipart/form-data body
(the parser's defects are reported, not ignored)."""
import sys
from email import policy
from email.parser import BytesParser

raw = open(sys.argv[1], "rb").read()
head, sep, body = raw.partition(b"\r\n\r\n")
if not sep:
    sys.exit("no end of head")
content_type = None
for line in head.split(b"\r\n")[1:]:
    name, _, value = line.partition(b":")
    if name.strip().lower() == b"content-type":
        content_type = value.strip()
if content_type is None:
    sys.exit("no Content-Type")

message = BytesParser(policy=policy.HTTP).parsebytes(
    b"Content-Type: " + content_type + b"\r\nMIME-Version: 1.0\r\n\r\n" + body)
if not message.is_multipart() or message.get_content_type() != "multipart/form-data":
    sys.exit("not multipart/form-data: %s" % message.get_content_type())
defects = list(message.defects)
for part in message.iter_parts():
    defects += part.defects
if defects:
    sys.exit("defects: %r" % defects)
for part in message.iter_parts():
    if part.get_content_disposition() != "form-data":
        sys.exit("part without form-data disposition")
    name = part.get_param("name", header="content-disposition")
    filename = part.get_filename() or "-"
    payload = part.get_payload(decode=True)
    print("%s\t%s\t%s\t%s" % (name, filename, part.get_content_type(), payload.hex()))
