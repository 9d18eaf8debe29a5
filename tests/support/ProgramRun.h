#pragma once
// Starting a built program the way a user would, for the whole-program tests:
// offscreen, in a temporary home, with the model server and the content
// service aimed at closed loopback ports.
#include "support/TempHome.h"

#include <QString>
#include <QStringList>

namespace zelvo::test {

// A loopback port nobody listens on.
int closedPort();

// How one run went.
struct ProgramRun {
    bool started = false;
    // Within the time given; a run still going then is killed.
    bool finished = false;
    bool crashed = true;
    int exitCode = -1;
    // What it wrote to standard error.
    QString errors;
    // Where a still render was asked for (`runSnapshot`).
    QString snapshot;

    // Started, finished in time and exited of itself (whatever its code).
    bool ended() const { return started && finished && !crashed; }
};

// Runs `program` with `arguments` in `home` (its working folder; HOME and the
// XDG folders are the temporary home's, set in this process), the model
// server's home inside it. `extraEnvironment` holds "NAME=value" entries.
// Waits `seconds` at most.
ProgramRun runProgram(const QString& program, const TempHome& home, const QStringList& arguments, double seconds,
                      const QStringList& extraEnvironment = {});

// A still render: runs `program` with `arguments`, then "--snapshot" and the
// build folder's file `name`, where it stays for review (an older one is
// removed first).
ProgramRun runSnapshot(const QString& program, const TempHome& home, const QString& name,
                       const QStringList& arguments, double seconds);

} // namespace zelvo::test
