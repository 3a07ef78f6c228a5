#pragma once

#include "TestSupport.h"
#include "uTProgram.h"
#include "ufrmQuorvantis.h"

#include <QCoreApplication>
#include <functional>
#include <optional>

// The main window once its start (the catalogue request included) has ended.
inline bool WaitStarted(TfrmQuorvantis& Main, int TimeoutMs = 30000) {
    return WaitUntil([&] { return Main.IsStarted(); }, TimeoutMs);
}

// A catalogue refresh run to its end; usError when it did not end in time.
inline UpdateState RefreshNow(TProgram& Program, bool Force, int TimeoutMs = 30000) {
    std::optional<UpdateState> State;
    Program.RefreshCatalogue(Force, [&](UpdateState S) { State = S; });
    if (!WaitUntil([&] { return State.has_value(); }, TimeoutMs))
        return usError;
    return *State;
}

// A program update download run to its end.
inline std::optional<TUpdateResult> DownloadNow(TProgram& Program, int TimeoutMs = 30000) {
    std::optional<TUpdateResult> Result;
    const QMetaObject::Connection Connection =
        QObject::connect(&Program, &TProgram::DownloadFinished, [&](const TUpdateResult& R) { Result = R; });
    if (Program.DownloadUpdate())
        WaitUntil([&] { return Result.has_value(); }, TimeoutMs);
    QObject::disconnect(Connection);
    return Result;
}
