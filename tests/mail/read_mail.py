#!/usr/bin/python3
"""Prints what a mail reader sees in a stored message, as JSON: header names, decoded
subject, sender, recipients, text body, each attachment's name, type and SHA-256, and the
longest header line and encoded word of the message and its parts, as sent."""
import email
import hashlib
import json
import re
import sys
from email import policy

with open(sys.argv[1], "rb") as f:
    raw = f.read()
message = email.message_from_bytes(raw, policy=policy.default)

# Header lines: the message's first block, and the block after each MIME boundary line.
boundaries = [b"--" + p.get_boundary().encode() for p in message.walk() if p.is_multipart()]
header_lines, in_header = [], True
for line in raw.splitlines():
    if in_header:
        if line == b"":
            in_header = False
        else:
            header_lines.append(line)
    elif any(line == b for b in boundaries):
        in_header = True
words = [w for line in header_lines for w in re.findall(rb"=\?[^?\s]+\?[BbQq]\?[^?\s]*\?=", line)]
body = message.get_body(preferencelist=("plain",))
print(json.dumps({
    "headers": [name.lower() for name in message.keys()],
    "subject": str(message["subject"]),
    "from": str(message["from"]),
    "to": str(message["to"]),
    "body": body.get_content() if body else None,
    "attachments": [{
        "name": part.get_filename(),
        "type": part.get_content_type(),
        "sha256": hashlib.sha256(part.get_payload(decode=True)).hexdigest(),
    } for part in message.iter_attachments()],
    # libcurl writes the multipart Content-Type itself, its boundary making it 80 characters.
    "longestHeaderLine": max(len(line) for line in header_lines
                             if not line.startswith(b"Content-Type: multipart/")),
    "longestEncodedWord": max((len(w) for w in words), default=0),
}))
