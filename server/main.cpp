// quorvantis-vendor-server: a local stand-in for the vendor's web server.
#include "TVendorServer.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

void PrintUsage() {
    std::cout << "Usage: quorvantis-vendor-server --content DIR [--port N] [--bind ADDR] [--records FILE] [--verbose]\n"
                 "  --content DIR   folder with version2.xml, the pages and sites/ (required)\n"
                 "  --port N        port to listen on; 0 picks a free one (default 0)\n"
                 "  --bind ADDR     address to listen on (default 127.0.0.1)\n"
                 "  --records FILE  where submissions are appended (default DIR/submissions.jsonl)\n"
                 "  --request-log FILE  append one line per request (method, raw target, status) to FILE\n"
                 "  --verbose       one line per request on stderr\n";
}

} // namespace

int main(int argc, char** argv) {
    TVendorServerOptions Options;
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        auto Value = [&]() -> std::string {
            if (I + 1 >= argc) {
                std::cerr << "Missing value for " << Arg << "\n";
                std::exit(2);
            }
            return argv[++I];
        };
        if (Arg == "--content") {
            Options.ContentDir = Value();
        } else if (Arg == "--port") {
            const std::string Text = Value();
            char* End = nullptr;
            const long Port = std::strtol(Text.c_str(), &End, 10);
            if (Text.empty() || *End != '\0' || Port < 0 || Port > 65535) {
                std::cerr << "Invalid port: " << Text << "\n";
                return 2;
            }
            Options.Port = int(Port);
        } else if (Arg == "--bind") {
            Options.Bind = Value();
        } else if (Arg == "--records") {
            Options.RecordsFile = Value();
        } else if (Arg == "--request-log") {
            Options.RequestLog = Value();
        } else if (Arg == "--verbose") {
            Options.Verbose = true;
        } else if (Arg == "--help" || Arg == "-h") {
            PrintUsage();
            return 0;
        } else {
            std::cerr << "Unknown option: " << Arg << "\n";
            PrintUsage();
            return 2;
        }
    }
    if (Options.ContentDir.empty()) {
        std::cerr << "--content is required\n";
        PrintUsage();
        return 2;
    }

    // Signals are taken by one waiting thread (every thread started later inherits the mask),
    // so the orderly stop runs outside a signal handler.
    sigset_t Signals;
    sigemptyset(&Signals);
    sigaddset(&Signals, SIGTERM);
    sigaddset(&Signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TVendorServer Server(Options);
    std::string Error;
    if (!Server.Bind(Error)) {
        std::cerr << "quorvantis-vendor-server: " << Error << "\n";
        return 1;
    }
    std::atomic<bool> Signalled{false};
    std::thread SignalWaiter([&] {
        int Signal = 0;
        sigwait(&Signals, &Signal);
        Signalled = true;
        Server.Stop();
    });

    std::printf("Listening on %s\n", Server.BaseURL().c_str());
    std::fflush(stdout);
    Server.Run();

    // Run may also end without a signal; wake the waiter so it can be joined.
    if (!Signalled)
        pthread_kill(SignalWaiter.native_handle(), SIGTERM);
    SignalWaiter.join();
    return 0;
}
