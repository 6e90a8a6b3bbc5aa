// Round trips of whole commands (ENQ/NAK, frame/ACK, answer/ACK) against a scripted register:
// over a pseudo-terminal and over TCP loopback. Prints commands per second and the median and
// 99th-percentile round trip. Usage: bench_link [commands]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "transport/LinkPeers.h"  // the tests' scripted peers
#include "transport/ComPort.h"
#include "transport/ComProtocol.h"
#include "transport/SocketProtocol.h"

namespace {

using namespace fr;
using namespace fr::testing;

// Plays the register for N commands: NAK to ENQ, ACK to the frame, then a 16-byte answer.
void Serve(TPeer& p, int n) {
    TBytes answer{0x10, 0x00};
    for (int i = 0; i < 14; ++i) answer.push_back(static_cast<std::uint8_t>(i));
    const TBytes frame = Frame(answer);
    for (int i = 0; i < n; ++i) {
        if (!p.Expect({0x05})) return;
        p.Send({0x15});
        const TBytes head = p.Read(2);
        if (head.size() != 2) return;
        p.Read(std::size_t{head[1]} + 1);
        p.Send({0x06});
        p.Send(frame);
        if (!p.Expect({0x06})) return;
    }
}

void Report(const char* name, std::vector<double>& us, double totalSeconds, int failures) {
    std::sort(us.begin(), us.end());
    const double median = us[us.size() / 2];
    const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    std::printf("%-6s %6zu commands  %8.0f commands/s  median %7.1f us  p99 %7.1f us  failures %d\n", name,
                us.size(), static_cast<double>(us.size()) / totalSeconds, median, p99, failures);
}

template <class Run>
void Measure(const char* name, int n, TPeer& peer, Run run) {
    std::thread server([&] { Serve(peer, n); });
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(n));
    int failures = 0;
    const auto start = TClock::now();
    for (int i = 0; i < n; ++i) {
        const auto t0 = TClock::now();
        if (run() != 0) ++failures;
        us.push_back(std::chrono::duration<double, std::micro>(TClock::now() - t0).count());
    }
    const double total = std::chrono::duration<double>(TClock::now() - start).count();
    server.join();
    for (const auto& f : peer.Failures()) std::fprintf(stderr, "%s register: %s\n", name, f.c_str());
    Report(name, us, total, failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const TBytes pwd{0x1E, 0x00, 0x00, 0x00}, cmd{0x10}, data{0x01, 0x02, 0x03};
    TBytes response;

    {
        TPtyLink link;
        if (!link.Ready()) {
            std::fprintf(stderr, "no pseudo-terminal\n");
            return 1;
        }
        TComPort port;
        port.SetPortNumber(link.PortNumber());
        if (!port.Open()) {
            std::fprintf(stderr, "%s\n", port.ExtResultDescription().c_str());
            return 1;
        }
        TCOMProtocol protocol(&port);
        TPeer peer(link.Master());
        Measure("pty", n, peer, [&] { return protocol.RunCommand(response, pwd, cmd, data, 0, true, true); });
    }
    {
        TTcpListener listener;
        TSocketProtocol protocol;
        if (!listener.Ready() || protocol.OpenConnection("127.0.0.1", listener.Port()) != 0) {
            std::fprintf(stderr, "no loopback connection\n");
            return 1;
        }
        UniqueFd conn = listener.Accept();
        TPeer peer(conn.Get());
        Measure("tcp", n, peer, [&] { return protocol.RunCommand(response, pwd, cmd, data, 0, true, true); });
    }
    return 0;
}
