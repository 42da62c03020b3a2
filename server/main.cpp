// zeza-dataserver: serves the control file, the three feeds and the site's pages
// from a data folder, for the program, its tests and demonstrations.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <pthread.h>

#include "server/DataServer.h"
#include "server/DataFolderIni.h"
#include "server/relay/Relay.h"
#include "server/relay/Replay.h"

namespace {

void Usage(std::FILE* to) {
    std::fprintf(
        to,
        "usage: zeza-dataserver [--port N] [--host ADDR] [--data DIR] [--live] [--live-interval S]\n"
        "       zeza-dataserver --source public [--probe] [--port N] [--host ADDR] [--data DIR]\n"
        "                       [--catalogue-url U] [--netvalue-url U] [--fundinfo-url U] [--estimate-url "
        "U]\n"
        "                       [--holdings-url U] [--position-url U] [--quote-url U] [--quote-fallback-url "
        "U]\n"
        "                       [--kline-url U] [--page-size N] [--quote-batch N]\n"
        "       zeza-dataserver --replay DIR\n"
        "  --port N           port to listen on (default 8419; 0 picks a free one)\n"
        "  --host ADDR        address to listen on (default 127.0.0.1)\n"
        "  --data DIR         data folder (default: the sample data of the source tree)\n"
        "  --live             move the estimates and indices every 120 s, as during trading hours\n"
        "  --live-interval S  seconds between those moves (implies --live)\n"
        "  --source public    relay public fund data instead of a data folder's files (data folder:\n"
        "                     $XDG_STATE_HOME/zeza-dataserver unless --data)\n"
        "  --probe            with --source public: ask each source once, print what came back, exit\n"
        "  --*-url U          the sources' addresses (for a local copy or a test)\n"
        "  --page-size N      funds per request of the net value list (default 5000)\n"
        "  --quote-batch N    share codes per quote request (default 60)\n"
        "  --replay DIR       replay the own estimate over a folder of daily history, print its\n"
        "                     errors per fund and overall, exit\n");
}

// The relay's own data folder when none is given: the user's state folder.
std::filesystem::path DefaultRelayDir() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::filesystem::path(state) / "zeza-dataserver";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "state" / "zeza-dataserver";
}

int Probe(zeza::relay::Relay& relay) {
    bool allOk = true;
    for (const auto& line : relay.Probe()) {
        std::printf("%-17s %s\n", (line.source + ":").c_str(), line.ok ? "ok" : "FAILED");
        std::printf("  url:       %s\n  status:    %ld\n  bytes:     %zu\n  rows:      %zu\n",
                    line.url.c_str(), line.status, line.bytes, line.rows);
        if (!line.firstRow.empty()) std::printf("  first row: %s\n", line.firstRow.c_str());
        if (!line.error.empty()) std::printf("  error:     %s\n", line.error.c_str());
        allOk = allOk && line.ok;
    }
    return allOk ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    zeza::server::DataServer::Options options;
    options.dataDir = zeza::server::SampleDataDir();
    bool live = false;
    int liveInterval = 120;
    bool publicSource = false, probe = false, dataGiven = false;
    zeza::relay::RelayOptions relayOptions;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zeza-dataserver: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](int min, int max) {
            const char* text = value();
            auto v = zeza::server::ParseInteger(text);
            if (!v || *v < min || *v > max) {
                std::fprintf(stderr, "zeza-dataserver: %s wants a number from %d to %d, not '%s'\n",
                             arg.c_str(), min, max, text);
                std::exit(2);
            }
            return static_cast<int>(*v);
        };
        if (arg == "--port") {
            options.port = number(0, 65535);
        } else if (arg == "--host") {
            options.host = value();
        } else if (arg == "--data") {
            options.dataDir = value();
            dataGiven = true;
        } else if (arg == "--source") {
            std::string source = value();
            if (source != "public" && source != "sample") {
                std::fprintf(stderr, "zeza-dataserver: --source is public or sample, not '%s'\n",
                             source.c_str());
                return 2;
            }
            publicSource = source == "public";
        } else if (arg == "--probe") {
            probe = true;
        } else if (arg == "--catalogue-url") {
            relayOptions.catalogueUrl = value();
        } else if (arg == "--netvalue-url") {
            relayOptions.netValueUrl = value();
        } else if (arg == "--fundinfo-url") {
            relayOptions.fundInfoUrl = value();
        } else if (arg == "--estimate-url") {
            relayOptions.estimateUrl = value();
        } else if (arg == "--holdings-url") {
            relayOptions.holdingsUrl = value();
        } else if (arg == "--position-url") {
            relayOptions.positionUrl = value();
        } else if (arg == "--quote-url") {
            relayOptions.quoteUrl = value();
        } else if (arg == "--quote-fallback-url") {
            relayOptions.quoteFallbackUrl = value();
        } else if (arg == "--kline-url") {
            relayOptions.klineUrl = value();
        } else if (arg == "--page-size") {
            relayOptions.netValuePageSize = static_cast<size_t>(number(100, 50000));
        } else if (arg == "--quote-batch") {
            relayOptions.quoteBatch = static_cast<size_t>(number(1, 500));
        } else if (arg == "--replay") {
            zeza::relay::ReplayResult result;
            std::string error;
            if (zeza::relay::RunReplay(value(), result, error) < 0) {
                std::fprintf(stderr, "zeza-dataserver: --replay: %s\n", error.c_str());
                return 1;
            }
            std::fputs(zeza::relay::ReplayReport(result).c_str(), stdout);
            return 0;
        } else if (arg == "--live") {
            live = true;
        } else if (arg == "--live-interval") {
            liveInterval = number(1, 86400);
            live = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "zeza-dataserver: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (live) options.liveIntervalSeconds = liveInterval;
    if (probe && !publicSource) {
        std::fprintf(stderr, "zeza-dataserver: --probe goes with --source public\n");
        return 2;
    }
    std::shared_ptr<zeza::relay::Relay> relay;
    if (publicSource) {
        if (!dataGiven) options.dataDir = DefaultRelayDir();
        relayOptions.dataDir = options.dataDir;
        if (probe) {
            // The probe tells what the sources answer now: no rests between its requests.
            relayOptions.fetch.backoffFirstMs = 0;
            zeza::relay::Relay prober(relayOptions);
            return Probe(prober);
        }
        relay = std::make_shared<zeza::relay::Relay>(relayOptions);
        std::string error;
        if (!relay->Open(error)) {
            std::fprintf(stderr, "zeza-dataserver: %s\n", error.c_str());
            return 1;
        }
        options.relay = relay;
    }

    // Signals are taken by sigwait below; blocked before any thread starts so that
    // none of the server's threads is interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    zeza::server::DataServer server(options);
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "zeza-dataserver: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& w : server.Warnings()) std::fprintf(stderr, "zeza-dataserver: %s\n", w.c_str());
    std::printf("zeza-dataserver listening on %s\n", server.Url().c_str());
    std::fflush(stdout);
    if (relay) {
        std::printf("zeza-dataserver: relaying public fund data, state in %s\n",
                    (options.dataDir / "relay.db").c_str());
        std::fflush(stdout);
        relay->StartSchedule();
    }

    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (relay) relay->Stop();
    server.Stop();
    return 0;
}
