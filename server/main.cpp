// zeza-dataserver: serves the control file, the three feeds and the site's pages
// from a data folder, for the program, its tests and demonstrations.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <pthread.h>

#include "server/DataServer.h"
#include "server/IniFile.h"

namespace {

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: zeza-dataserver [--port N] [--host ADDR] [--data DIR] [--live] [--live-interval S]\n"
                 "  --port N           port to listen on (default 8419; 0 picks a free one)\n"
                 "  --host ADDR        address to listen on (default 127.0.0.1)\n"
                 "  --data DIR         data folder (default: the sample data of the source tree)\n"
                 "  --live             move the estimates every 120 s, as during trading hours\n"
                 "  --live-interval S  seconds between estimate moves (implies --live)\n");
}

}  // namespace

int main(int argc, char** argv) {
    zeza::server::DataServer::Options options;
    options.dataDir = zeza::server::SampleDataDir();
    bool live = false;
    int liveInterval = 120;

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

    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.Stop();
    return 0;
}
