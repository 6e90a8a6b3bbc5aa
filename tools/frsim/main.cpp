// frsim: serves a simulated register over TCP or a pseudo-terminal until stopped. Control
// commands come on standard input (see "help"); SIGINT/SIGTERM or "quit" stop it. The tape is
// printed on exit, and the state saved when --state names a file.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "core/Simulator.h"
#include "platform/Errors.h"

namespace {

void Say(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// Reads control lines from standard input until "quit", a signal, or (with no input left) a
// signal alone.
void ControlLoop(fr::sim::TSimulator& sim, int sigFd) {
    std::string buffer;
    bool input = true;
    for (;;) {
        pollfd p[2] = {{sigFd, POLLIN, 0}, {input ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[0].revents) return;
        if (!p[1].revents) continue;
        char chunk[4096];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input = false;  // no more commands: serve until a signal comes
            continue;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t eol; (eol = buffer.find('\n')) != std::string::npos;) {
            std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line == "quit" || line == "exit") return;
            Say(sim.Control(line));
        }
        if (buffer.size() > 65536) buffer.clear();  // no line is that long
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"frsim: a simulated cash register with a fiscal storage"};
    int tcpPort = -1;
    bool pty = false;
    int com = 0;
    bool fiscal = false, shiftOpen = false, noPaper = false, freeze = false, noTape = false;
    bool resendAtEnq = false, loseOnReconnect = false;
    int lineWidth = -1, paperAfter = -1, printMs = -1;
    long long password = -1;
    std::string clock, state;
    std::vector<std::string> faults;
    auto* tcpOpt = app.add_option("--tcp", tcpPort, "serve TCP on 127.0.0.1:PORT (0 picks a port)")->check(CLI::Range(0, 65535));
    auto* ptyOpt = app.add_flag("--pty", pty, "serve a pseudo-terminal; its path is printed");
    app.add_option("--com", com, "with --pty: link <data folder>fr_tarvikonline1c83/COM<N> to it")
        ->check(CLI::Range(1, 256))
        ->needs(ptyOpt);
    tcpOpt->excludes(ptyOpt);
    app.add_option("--state", state, "JSON state file: loaded when it exists, saved on exit");
    app.add_flag("--fiscal", fiscal, "register the fiscal storage with default data");
    app.add_flag("--shift-open", shiftOpen, "open a shift (implies --fiscal)");
    app.add_option("--line-width", lineWidth, "characters per line (table 9, field 3)")->check(CLI::Range(0, 255));
    app.add_option("--clock", clock, "the register's clock, YYYY-MM-DDTHH:MM:SS");
    app.add_flag("--freeze-clock", freeze, "the clock stands still unless set or advanced");
    app.add_flag("--no-paper", noPaper, "start without paper");
    app.add_option("--paper-out-after", paperAfter, "paper runs out after N printed lines")->check(CLI::Range(0, 1000000));
    app.add_option("--print-ms", printMs, "printing time of each document in ms (submode 5)")->check(CLI::Range(0, 600000));
    app.add_option("--password", password, "connection password (default 30)")->check(CLI::Range(0LL, 4294967295LL));
    app.add_option("--fault", faults, "a fault KIND[:CMD][xCOUNT][=ARG]; repeatable (see 'help' on stdin)");
    app.add_flag("--no-tape", noTape, "do not print the tape on exit");
    app.add_flag("--resend-at-enq", resendAtEnq, "a NAKed answer is resent only at the next ENQ");
    app.add_flag("--lose-answer-on-reconnect", loseOnReconnect,
                 "an uncollected answer is lost when a new TCP host connects");
    app.footer(fr::sim::TSimulator::ControlHelp());
    CLI11_PARSE(app, argc, argv);
    if (tcpPort < 0 && !pty) {
        std::cerr << "frsim: give --tcp PORT or --pty\n" << app.help();
        return 2;
    }

    fr::sim::TSimulator sim;
    try {
        if (!state.empty() && std::filesystem::exists(state)) sim.LoadFile(state);
        if (password >= 0) sim.SetPassword(static_cast<std::uint32_t>(password));
        if (!clock.empty() && sim.Control("clock " + clock) != "ok\n") {
            std::cerr << "frsim: bad --clock " << clock << "\n";
            return 2;
        }
        if (freeze) sim.SetClockRunning(false);
        if (fiscal || shiftOpen) sim.SetFiscal(true);
        if (shiftOpen && !sim.Status().ShiftOpen) sim.OpenShift();
        if (lineWidth >= 0) sim.SetLineWidth(lineWidth);
        if (noPaper) sim.SetPaper(false);
        if (paperAfter >= 0) sim.SetPaperOutAfter(paperAfter);
        if (printMs >= 0) sim.SetPrintMillis(printMs);
        sim.SetLinkBehaviour({!resendAtEnq, !loseOnReconnect});
        for (const std::string& f : faults) {
            auto parsed = fr::sim::TSimulator::ParseFault(f);
            if (!parsed) {
                std::cerr << "frsim: bad --fault " << f << "\n";
                return 2;
            }
            sim.AddFault(*parsed);
        }

        // Signals are taken through a descriptor; the link thread inherits the mask.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        int sigFd = ::signalfd(-1, &set, SFD_CLOEXEC);
        if (sigFd < 0) throw fr::EOSError("signalfd", errno);

        if (pty) {
            std::string slave = sim.StartPty(com);
            Say("pty " + slave + "\n");
            if (com) Say("com " + sim.ComLinkPath() + "\n");
        } else {
            Say("tcp 127.0.0.1:" + std::to_string(sim.StartTcp(static_cast<std::uint16_t>(tcpPort))) + "\n");
        }
        ControlLoop(sim, sigFd);
        ::close(sigFd);
        sim.Stop();
        if (!noTape) Say(sim.TapeText());
        if (!state.empty()) sim.SaveFile(state);
    } catch (const fr::EFrError& e) {
        std::cerr << "frsim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
