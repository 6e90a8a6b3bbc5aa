// The link reader: whatever byte stream a register (or line noise) sends back, over the serial
// link (a pseudo-terminal behind a COM link) and over the stream socket of the TCP link. A peer
// thread plays the register: it sends the pieces of the fuzz input, some at once, some after
// the driver has written something; then it hangs up.
//
// Input: a selector byte (even: serial, odd: TCP), a command byte, then pieces: a control byte
// (bit 0: wait for the driver's bytes first), a length byte and the bytes.
// Properties: every command returns 0 or a link code; a 0 comes with the body of a well-formed
// frame that the peer really sent (the reader never makes up an answer).

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "FuzzSupport.h"
#include "framework/Log.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"
#include "transport/ComProtocol.h"
#include "transport/LinkTimings.h"
#include "transport/SocketProtocol.h"

namespace {

using namespace fr;

constexpr int kComNumber = 5;

struct TPiece {
    bool AfterHost = false;
    TBytes Bytes;
};

// Plays the register on AFd until the pieces run out, then closes it.
void Peer(UniqueFd AFd, std::vector<TPiece> APieces) {
    const int fd = AFd.Get();
    auto drain = [fd](int ATimeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ATimeoutMs) <= 0 || !(p.revents & POLLIN)) return false;
        std::uint8_t buf[512];
        return ::read(fd, buf, sizeof buf) > 0;
    };
    for (const TPiece& piece : APieces) {
        // The driver answers within its (shortened) time-outs; a quiet driver ends the play.
        if (piece.AfterHost && !drain(50)) break;
        std::size_t done = 0;
        while (done < piece.Bytes.size()) {
            // No SIGPIPE from the peer's side when the driver has already hung up.
            ssize_t n = ::send(fd, piece.Bytes.data() + done, piece.Bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == ENOTSOCK) n = ::write(fd, piece.Bytes.data() + done, piece.Bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
    // Time for the driver to take the last bytes, then the line goes dead.
    drain(10);
}

class TAdoptedSocket : public TSocketProtocol {
public:
    void Adopt(UniqueFd AFd) { FSocket.Adopt(AFd.Release()); }
};

void Setup() {
    TLog::SetLogLevel(0);
    fuzz::PrivateDataFolder();
    std::filesystem::create_directories(CommonAppDataDir() + kModuleBaseName);
    TLinkTimings t;
    t.HandshakeTimeoutMs = 5;
    t.InterByteTimeoutMs = 2;
    t.PerByteTotalTimeoutMs = 5;
    t.WriteTimeoutMs = 50;
    t.ReceiveTimeoutMs = 5;
    // The inquiry after a quiet register and the wait for a resent answer are the long ones: at
    // their production values every input that ends in silence costs seconds.
    t.InquiryBudgetMs = 20;
    t.ResendWaitMs = 5;
    t.CommandTimeoutCapMs = 5;
    SetLinkTimings(t);
}

// A good frame in the stream whose answer body is AResponse.
bool SentAsFrame(const TBytes& AStream, const TBytes& AResponse) {
    for (std::size_t i = 0; i + 2 < AStream.size(); ++i) {
        if (AStream[i] != link::STX) continue;
        const std::size_t end = i + 3 + AStream[i + 1];
        if (end > AStream.size()) continue;
        TBytes frame(AStream.begin() + static_cast<std::ptrdiff_t>(i), AStream.begin() + static_cast<std::ptrdiff_t>(end));
        if (link::CheckFrame(frame) != link::TFrameCheck::Good) continue;
        if (link::CutToAnswerBody(frame) && frame == AResponse) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool ready = (Setup(), true);
    (void)ready;
    fuzz::TInput in(AData, ASize);
    const bool tcp = in.Byte() & 1;
    const TBytes cmd{in.Byte()};
    std::vector<TPiece> pieces;
    TBytes stream;
    while (!in.Empty() && pieces.size() < 64) {
        TPiece p;
        p.AfterHost = in.Byte() & 1;
        p.Bytes = in.Piece();
        stream.insert(stream.end(), p.Bytes.begin(), p.Bytes.end());
        pieces.push_back(std::move(p));
    }

    TBytes response;
    int r = 0;
    if (tcp) {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
        TAdoptedSocket link;
        link.Adopt(UniqueFd(sv[0]));
        std::thread peer(Peer, UniqueFd(sv[1]), pieces);
        r = link.RunCommand(response, TBytes{30, 0, 0, 0}, cmd, TBytes{1, 2}, 0, true, true);
        link.CloseConnection();
        peer.join();
    } else {
        int master = -1, slave = -1;
        char name[128];
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) std::abort();
        ::close(slave);  // the driver opens the terminal by its path, as a serial port
        const std::string comLink = CommonAppDataDir() + kModuleBaseName + "/COM" + std::to_string(kComNumber);
        std::filesystem::remove(comLink);
        std::filesystem::create_symlink(name, comLink);
        TComPort port;
        port.SetPortNumber(kComNumber);
        port.SetBaudRateAsInt(115200);
        if (!port.Open()) std::abort();
        std::thread peer(Peer, UniqueFd(master), pieces);
        {
            TCOMProtocol link(&port);
            r = link.RunCommand(response, TBytes{30, 0, 0, 0}, cmd, TBytes{1, 2}, 0, true, true);
        }
        port.Close();
        peer.join();
    }
    FR_FUZZ_CHECK(r == 0 || r == 1007 || r == 1014 || (r >= 600 && r <= 606), "link answered %d", r);
    if (r == 0) FR_FUZZ_CHECK(SentAsFrame(stream, response), "an answer of %zu bytes that was never sent", response.size());
    return 0;
}
