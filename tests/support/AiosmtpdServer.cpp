#include "support/AiosmtpdServer.h"

#include <sys/stat.h>

#include <stdexcept>

namespace {

constexpr const char* kServer = R"PY(
import asyncio, json, os, ssl, sys
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

outdir = sys.argv[1]
opts = json.loads(sys.argv[2])
security = opts['security']
count = 0

class Store:
    async def handle_DATA(self, server, session, envelope):
        global count
        path = os.path.join(outdir, 'mail%d' % count)
        count += 1
        with open(path + '.tmp', 'wb') as f:
            f.write(('%s %s\n' % ('EHLO' if session.extended_smtp else 'HELO', session.host_name)).encode())
            if server.transport.get_extra_info('ssl_object') is not None:
                f.write(b'TLS\n')
            if session.authenticated:
                f.write(b'AUTH ' + session.auth_data.login + b'\n')
            f.write(('FROM %s\n' % envelope.mail_from).encode())
            for r in envelope.rcpt_tos:
                f.write(('RCPT %s\n' % r).encode())
            f.write(b'DATA\n')
            f.write(envelope.original_content)
        os.rename(path + '.tmp', path)
        return '250 Message accepted for delivery'

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in opts['refuse']:
            return ('550-5.1.1 The account you tried to reach does not exist.\r\n'
                    '550-5.1.1 Please check the address for typos\r\n'
                    '550 5.1.1 and try again.')
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return '250 OK'

def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == opts['user'].encode()
          and auth_data.password == opts['password'].encode())
    return AuthResult(success=ok, handled=False, auth_data=auth_data)

context = None
if security != 'none':
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(opts['cert'], opts['key'])

def session():
    kw = {'hostname': 'mail.test'}
    if opts['user']:
        # Over TLS from the first byte the server cannot tell that the connection is secure.
        kw.update(authenticator=authenticator, auth_require_tls=(security != 'tls'),
                  auth_exclude_mechanism=opts['exclude'])
    if security == 'starttls':
        kw.update(tls_context=context, require_starttls=True)
    return SMTP(Store(), **kw)

async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(session, '127.0.0.1', 0, ssl=context if security == 'tls' else None)
    port = server.sockets[0].getsockname()[1]
    with open(os.path.join(outdir, 'port.tmp'), 'w') as f:
        f.write(str(port))
    os.rename(os.path.join(outdir, 'port.tmp'), os.path.join(outdir, 'port'))
    await server.serve_forever()

asyncio.run(main())
)PY";

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A JSON text: the test's values hold no control characters.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

}  // namespace

AiosmtpdServer::AiosmtpdServer(const Options& options, const std::vector<std::string>& refusedRecipients) {
    auto list = [](const std::vector<std::string>& items) {
        std::string out;
        for (const std::string& item : items) {
            out += (out.empty() ? "" : ",") + quoted(item);
        }
        return "[" + out + "]";
    };
    const std::string json =
        "{\"security\":" + quoted(options.security) + ",\"cert\":" + quoted(options.certFile) +
        ",\"key\":" + quoted(options.keyFile) + ",\"user\":" + quoted(options.user) +
        ",\"password\":" + quoted(options.password) + ",\"exclude\":" + list(options.excludedMechanisms) +
        ",\"refuse\":" + list(refusedRecipients) + "}";
    writeFileBytes(dir_.file("server.py"), kServer);
    process_ = std::make_unique<SpawnedProcess>(
        std::vector<std::string>{"/usr/bin/python3", dir_.file("server.py"), dir_.path(), json},
        std::vector<std::string>{}, dir_.file("server.out"));
    if (!waitUntil([&] { return exists(dir_.file("port")) || !process_->alive(); }) ||
        !exists(dir_.file("port"))) {
        throw std::runtime_error("aiosmtpd did not start: " + readFileBytes(dir_.file("server.out")));
    }
    port_ = static_cast<std::uint16_t>(std::stoi(readFileBytes(dir_.file("port"))));
}

int AiosmtpdServer::delivered() const {
    int n = 0;
    while (exists(dir_.file("mail" + std::to_string(n)))) {
        ++n;
    }
    return n;
}

std::string AiosmtpdServer::mail(int n) const {
    return readFileBytes(dir_.file("mail" + std::to_string(n)));
}
