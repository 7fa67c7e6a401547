// vorlent-unitsim: serves a simulated bus of units on a pseudo-terminal.
//
//   vorlent-unitsim [--baud RATE [--bursts]] [--twin MS[:PATTERN]] [--log] BUSFILE
//
// The first line of the output is the path of the device to open; the bus is
// served until SIGINT or SIGTERM, or until a disconnect fault takes the line
// away. --baud paces the answers at that rate, in 16-byte pieces as a UART
// hands them on; --bursts delivers them every 16 ms instead, as a USB
// adapter does. --twin adds a second unit behind every address that answers
// (the requests containing PATTERN) MS milliseconds after the first. --log
// writes each request to stderr.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"
#include "unitsim/SimConfig.h"

namespace {

void Usage(std::FILE* to)
{
    std::fprintf(to, "usage: vorlent-unitsim [--baud RATE [--bursts]] [--twin MS[:PATTERN]] [--log] BUSFILE\n");
}

// The request as readable text: control bytes as \xNN.
std::string Printable(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    int baud = 0;
    bool bLog = false;
    bool bBursts = false;
    std::string busFile;
    std::vector<unitsim::SimFault> twins;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--baud" && i + 1 < argc) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v <= 0 || v > 4000000) {
                std::fprintf(stderr, "vorlent-unitsim: --baud wants a positive rate, not '%s'\n", argv[i]);
                return 1;
            }
            baud = static_cast<int>(v);
        } else if (arg == "--twin" && i + 1 < argc) {
            const std::string value = argv[++i];
            const std::size_t colon = value.find(':');
            char* end = nullptr;
            const long ms = std::strtol(value.substr(0, colon).c_str(), &end, 10);
            if (colon == 0 || *end != '\0' || ms < 0 || ms > 600000) {
                std::fprintf(stderr, "vorlent-unitsim: --twin wants milliseconds and an optional :PATTERN, not '%s'\n",
                             value.c_str());
                return 1;
            }
            unitsim::SimFault twin;
            twin.kind = unitsim::FaultKind::Twin;
            twin.delayMs = static_cast<int>(ms);
            twin.pattern = colon == std::string::npos ? std::string() : value.substr(colon + 1);
            twins.push_back(twin);
        } else if (arg == "--log") {
            bLog = true;
        } else if (arg == "--bursts") {
            bBursts = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "vorlent-unitsim: unknown option '%s'\n", arg.c_str());
            Usage(stderr);
            return 1;
        } else if (busFile.empty()) {
            busFile = arg;
        } else {
            Usage(stderr);
            return 1;
        }
    }
    if (busFile.empty()) {
        Usage(stderr);
        return 1;
    }
    if (bBursts && baud == 0) {
        std::fprintf(stderr, "vorlent-unitsim: --bursts needs --baud: bursts carry what the wire has carried\n");
        return 1;
    }

    unitsim::SimBus bus;
    std::string error;
    if (!unitsim::LoadBusFile(busFile, bus, error)) {
        std::fprintf(stderr, "vorlent-unitsim: %s\n", error.c_str());
        return 1;
    }
    for (const unitsim::SimFault& twin : twins)
        bus.AddFault(twin);
    if (bLog) {
        bus.SetRequestObserver([](const unitsim::SimRequest& r) {
            std::fprintf(stderr, "%c %02d %s%s\n", r.bHex ? 'g' : 'G', r.address, Printable(r.text).c_str(),
                         r.bChecksumOk ? "" : "  (bad checksum)");
        });
    }

    // The signals are taken synchronously below; blocked before the server
    // thread exists, so that it inherits the mask and never gets them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    unitsim::PtyServer server(bus);
    if (!server.Start(baud, bBursts ? unitsim::PtyServer::Delivery::Bursts : unitsim::PtyServer::Delivery::Paced)) {
        std::fprintf(stderr, "vorlent-unitsim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("%s\n", server.SlavePath().c_str());
    std::fflush(stdout);

    const timespec step{0, 200 * 1000 * 1000};
    while (server.Serving()) {
        // The log is only for tests in the library; a long-running program
        // keeps no history.
        bus.ClearRequests();
        const int sig = sigtimedwait(&stopSignals, nullptr, &step);
        if (sig == SIGINT || sig == SIGTERM)
            break;
    }
    const bool bUnplugged = !server.Serving();
    server.Stop();
    if (bUnplugged)
        std::fprintf(stderr, "vorlent-unitsim: the line went away after %d requests\n", server.RequestCount());
    return 0;
}
