#!/usr/bin/python3
"""Prints what a mail reader sees in a stored message, as JSON: header names, decoded
subject, sender, recipients, text body, and each attachment's name, type and SHA-256."""
import email
import hashlib
import json
import sys
from email import policy

with open(sys.argv[1], "rb") as f:
    message = email.message_from_binary_file(f, policy=policy.default)
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
}))
