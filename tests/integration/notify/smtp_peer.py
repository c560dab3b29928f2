"""A real SMTP server for the mail tests, on 127.0.0.1 and a free port.

Prints "PORT <n>" once it listens. Every accepted message is stored in the
store folder as <n>.envelope (MAIL FROM, its parameters, the recipients, one
per line) and <n>.data (the message bytes as received after DATA, with the
dot transparency undone), and what Python's e-mail parser reads in it, as
UTF-8: <n>.subject (decoded), <n>.from (the sender's display name) and
<n>.body (the text of the body).
With --defer N the first N recipients get "451" (try again later).
With --no-8bitmime the server does not announce 8BITMIME. Every RCPT TO,
accepted or not, is appended to rcpt.log, every MAIL FROM to mail.log and
every successful AUTH mechanism to auth.log; <n>.to holds the To header as
the parser reads it ("name|address" per line) and <n>.tls "tls" or
"clear". With --cert and --key it speaks TLS: --tls starttls offers
STARTTLS, --tls required refuses everything but EHLO, STARTTLS and QUIT
before it, --tls smtps is TLS from the first byte. Stops when standard
input closes.

Run with Debian's /usr/bin/python3, which sees python3-aiosmtpd.
"""

import argparse
import asyncio
import hmac
import logging
import os
import sys
import warnings

from email import policy
from email.parser import BytesParser

import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USERS = {b"tim": b"tanstaaftanstaaf"}
STORE = "."


class Handler:
    def __init__(self, store, refuse, defer=0):
        self.store = store
        self.refuse = refuse
        self.defer = defer
        self.count = 0

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        with open(os.path.join(self.store, "mail.log"), "a") as log:
            log.write(address + "\n")
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        with open(os.path.join(self.store, "rcpt.log"), "a") as log:
            log.write(address + "\n")
        if self.refuse and address.startswith(self.refuse):
            return "550 5.1.1 No such user here"
        if self.defer > 0:
            self.defer -= 1
            return "451 4.3.0 Try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.store, str(self.count))
        with open(base + ".data", "wb") as data:
            data.write(envelope.original_content)
        message = BytesParser(policy=policy.default).parsebytes(envelope.original_content)
        for part, text in (("subject", str(message.get("subject", ""))),
                           ("from", message["from"].addresses[0].display_name),
                           ("body", message.get_content())):
            with open(base + "." + part, "w", encoding="utf-8", newline="") as parsed:
                parsed.write(text)
        with open(base + ".to", "w", encoding="utf-8") as to:
            for address in message["to"].addresses:
                to.write(address.display_name + "|" + address.addr_spec + "\n")
        with open(base + ".tls", "w") as tls:
            smtps = server.transport.get_extra_info("ssl_object") is not None
            tls.write("tls" if session.ssl or smtps else "clear")
        with open(base + ".envelope", "w") as env:
            env.write(envelope.mail_from + "\n")
            env.write(" ".join(envelope.mail_options) + "\n")
            for rcpt in envelope.rcpt_tos:
                env.write(rcpt + "\n")
        return "250 Message accepted for delivery"

    async def auth_CRAM__MD5(self, server, args):
        challenge = b"<1896.697170952@sentrel.test>"
        response = await server.challenge_auth(challenge)
        if not isinstance(response, bytes) or b" " not in response:
            return AuthResult(success=False, handled=False)
        user, digest = response.split(b" ", 1)
        password = USERS.get(user)
        ok = password is not None and hmac.compare_digest(
            hmac.new(password, challenge, "md5").hexdigest().encode(), digest)
        return AuthResult(success=ok, handled=False, auth_data=LoginPassword(user, b""))


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = mechanism == "CRAM-MD5" or (isinstance(auth_data, LoginPassword)
                                     and USERS.get(auth_data.login) == auth_data.password)
    if ok:
        with open(os.path.join(STORE, "auth.log"), "a") as log:
            log.write(mechanism + "\n")
    return AuthResult(success=ok, handled=False)


async def main():
    # Clear-text AUTH is what these tests are about; keep the output quiet.
    warnings.simplefilter("ignore")
    logging.disable(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--store", required=True)
    parser.add_argument("--mechanisms", default="LOGIN,CRAM-MD5")
    parser.add_argument("--auth-required", action="store_true")
    parser.add_argument("--refuse", default="")
    parser.add_argument("--listen", default="127.0.0.1")
    parser.add_argument("--no-8bitmime", action="store_true")
    parser.add_argument("--defer", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--tls", choices=("starttls", "required", "smtps"))
    options = parser.parse_args()
    global STORE
    STORE = options.store

    context = None
    if options.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(options.cert, options.key)
    starttls = context if options.tls in ("starttls", "required") else None

    allowed = set(filter(None, options.mechanisms.split(",")))
    excluded = [m for m in ("PLAIN", "LOGIN", "CRAM-MD5") if m not in allowed]
    handler = Handler(options.store, options.refuse, options.defer)

    def factory():
        return SMTP(handler, hostname="peer.test", authenticator=authenticator,
                    auth_require_tls=False, auth_required=options.auth_required,
                    auth_exclude_mechanism=excluded, data_size_limit=1000000,
                    decode_data=options.no_8bitmime, tls_context=starttls,
                    require_starttls=options.tls == "required")

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, options.listen, 0,
                                      ssl=context if options.tls == "smtps" else None)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)

    stop = loop.create_future()
    loop.add_reader(sys.stdin.fileno(),
                    lambda: stop.done() or (sys.stdin.buffer.read1(4096) or stop.set_result(None)))
    await stop
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
