#!/usr/bin/python3
"""Mail servers for the tests, all on 127.0.0.1 on ports the system chooses.

- plain: takes any mail, no login;
- starttls / tls: require STARTTLS, or speak TLS from the first byte, and a login (AUTH PLAIN
  or LOGIN) as any user whose name starts with the --user given, with the one --password;
- stall: greets, then never answers;
- slow: a whole SMTP talk, each reply --slow-delay seconds late;
- tempfail: offers AUTH and answers it "454 4.7.0 <b>Temporary</b> authentication failure";
- drop: offers AUTH and closes the connection when asked for it.

The first three refuse recipients whose address starts with "refused" (550) and file what they
take per recipient: Maildir ROOT/<address in lower case>/, so tests sending to addresses of
their own never see each other's mail. Writes the ports as JSON to --ports-file once all listen.
"""
import argparse
import asyncio
import json
import mailbox
import os
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class PerRecipient:
    def __init__(self, root):
        self.root = root

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().startswith("refused"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        for address in envelope.rcpt_tos:
            box = mailbox.Maildir(os.path.join(self.root, address.lower()), create=True)
            # Stored as mail readers keep files, with the line ends of this system.
            box.add(envelope.original_content.replace(b"\r\n", b"\n"))
        return "250 OK"


async def misbehave(mode, delay, reader, writer):
    async def say(line):
        if mode == "slow":
            await asyncio.sleep(delay)
        writer.write(line.encode() + b"\r\n")
        await writer.drain()

    try:
        await say("220 localhost ESMTP")
        if mode == "stall":
            await reader.read()  # until the client gives up
            return
        while line := await reader.readline():
            verb = line.split(b" ")[0].strip().upper()
            if verb in (b"EHLO", b"HELO"):
                await say("250-localhost\r\n250 AUTH PLAIN LOGIN")
            elif verb == b"AUTH" and mode == "tempfail":
                await say("454 4.7.0 <b>Temporary</b> authentication failure")
            elif verb == b"AUTH" and mode == "drop":
                return
            elif verb == b"DATA":
                await say("354 End data with <CR><LF>.<CR><LF>")
                while (data := await reader.readline()) and data != b".\r\n":
                    pass
                await say("250 OK")
            elif verb == b"QUIT":
                await say("221 Bye")
                return
            else:
                await say("250 OK")
    except (ConnectionError, asyncio.IncompleteReadError):
        pass
    finally:
        writer.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--maildir", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--slow-delay", type=float, default=0.4)
    parser.add_argument("--ports-file", required=True)
    args = parser.parse_args()

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    handler = PerRecipient(args.maildir)
    user, password = args.user.encode(), args.password.encode()

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login.startswith(user)
              and auth_data.password == password)
        return AuthResult(success=ok, handled=False)

    servers = {
        "plain": lambda: SMTP(handler, hostname="localhost"),
        "starttls": lambda: SMTP(handler, hostname="localhost", tls_context=context,
                                 require_starttls=True, auth_required=True,
                                 authenticator=authenticate),
        # The connection is encrypted from the start; there is no STARTTLS to wait for.
        "tls": lambda: SMTP(handler, hostname="localhost", auth_required=True,
                            auth_require_tls=False, authenticator=authenticate),
    }

    async def serve():
        loop = asyncio.get_running_loop()
        ports = {}
        for name, factory in servers.items():
            server = await loop.create_server(factory, "127.0.0.1", 0,
                                              ssl=context if name == "tls" else None)
            ports[name] = server.sockets[0].getsockname()[1]
        for mode in ("stall", "slow", "tempfail", "drop"):
            server = await asyncio.start_server(
                lambda r, w, mode=mode: misbehave(mode, args.slow_delay, r, w), "127.0.0.1", 0)
            ports[mode] = server.sockets[0].getsockname()[1]
        temporary = args.ports_file + ".tmp"
        with open(temporary, "w") as f:
            json.dump(ports, f)
        os.replace(temporary, args.ports_file)
        await asyncio.Event().wait()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
