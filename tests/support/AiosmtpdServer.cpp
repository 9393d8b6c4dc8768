#include "support/AiosmtpdServer.h"

#include <sys/stat.h>

#include <stdexcept>

namespace {

constexpr const char* kServer = R"PY(
import asyncio, os, sys
from aiosmtpd.smtp import SMTP

outdir = sys.argv[1]
count = 0

class Store:
    async def handle_DATA(self, server, session, envelope):
        global count
        path = os.path.join(outdir, 'mail%d' % count)
        count += 1
        with open(path + '.tmp', 'wb') as f:
            f.write(('HELO %s\n' % session.host_name).encode())
            f.write(('FROM %s\n' % envelope.mail_from).encode())
            for r in envelope.rcpt_tos:
                f.write(('RCPT %s\n' % r).encode())
            f.write(b'DATA\n')
            f.write(envelope.original_content)
        os.rename(path + '.tmp', path)
        return '250 Message accepted for delivery'

async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(Store(), hostname='mail.test'), '127.0.0.1', 0)
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

}  // namespace

AiosmtpdServer::AiosmtpdServer() {
    writeFileBytes(dir_.file("server.py"), kServer);
    process_ = std::make_unique<SpawnedProcess>(
        std::vector<std::string>{"/usr/bin/python3", dir_.file("server.py"), dir_.path()},
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
