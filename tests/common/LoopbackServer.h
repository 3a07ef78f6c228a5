#pragma once

#include "TestSupport.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <httplib.h>
#include <mutex>
#include <thread>

// A cpp-httplib server on 127.0.0.1 that the test owns. Handlers may hold their
// answer until Release(); the destructor releases them, stops the server and joins
// its thread, so a failed ASSERT that leaves the test early cannot leave it behind.
// Handlers capture the server, never the test body's locals.
class TLoopbackServer final {
public:
    httplib::Server Svr;
    std::atomic<int> Taken{0}; // requests that reached Hold()

    TLoopbackServer() = default;
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;
    ~TLoopbackServer() {
        Release();
        Svr.stop();
        if (FThread.joinable())
            FThread.join();
    }

    // Routes are added before Start: they cannot change while the server runs.
    void Start() { FPort = StartLoopbackServer(Svr, FThread); }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }

    void Release() {
        {
            std::lock_guard<std::mutex> Lock(FMutex);
            FReleased = true;
        }
        FChanged.notify_all();
    }
    // Counts the request and holds the calling handler until Release, at most MaxMs.
    void Hold(int MaxMs = 60000) {
        ++Taken;
        std::unique_lock<std::mutex> Lock(FMutex);
        FChanged.wait_for(Lock, std::chrono::milliseconds(MaxMs), [this] { return FReleased; });
    }

private:
    int FPort = 0;
    std::thread FThread;
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FReleased = false;
};
