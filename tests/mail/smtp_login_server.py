#!/usr/bin/python3
"""Mail server for the tests that need encryption and a login.

Listens on 127.0.0.1 on two ports chosen by the system: one requires STARTTLS, the other
speaks TLS from the first byte. Both require a login (AUTH PLAIN or LOGIN) as the one user
given, refuse recipients whose address starts with "refused" (550), and store what they take
in a Maildir. Writes "STARTTLS_PORT TLS_PORT" to --ports-file once both listen.
"""
import argparse
import asyncio
import os
import ssl

from aiosmtpd.handlers import Mailbox
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Handler(Mailbox):
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().startswith("refused"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--maildir", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--ports-file", required=True)
    args = parser.parse_args()

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    handler = Handler(args.maildir)
    user, password = args.user.encode(), args.password.encode()

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user
              and auth_data.password == password)
        return AuthResult(success=ok, handled=False)

    def starttls_server():
        return SMTP(handler, hostname="localhost", tls_context=context, require_starttls=True,
                    auth_required=True, authenticator=authenticate)

    def tls_server():
        # The connection is encrypted from the start; there is no STARTTLS to wait for.
        return SMTP(handler, hostname="localhost", auth_required=True, auth_require_tls=False,
                    authenticator=authenticate)

    async def serve():
        loop = asyncio.get_running_loop()
        plain = await loop.create_server(starttls_server, "127.0.0.1", 0)
        wrapped = await loop.create_server(tls_server, "127.0.0.1", 0, ssl=context)
        ports = [s.sockets[0].getsockname()[1] for s in (plain, wrapped)]
        temporary = args.ports_file + ".tmp"
        with open(temporary, "w") as f:
            f.write("%d %d\n" % tuple(ports))
        os.replace(temporary, args.ports_file)
        await asyncio.Event().wait()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
