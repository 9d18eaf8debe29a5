// The supervisor's work on the main thread: the /proc queries (each blocks the
// thread while it scans) with hundreds of processes alive, and log lines into
// memory and the log file with an observer connected.
#include "generation/BrainSupervisor.h"
#include "platform/ChildProcess.h"
#include "platform/ProcessQueries.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <csignal>
#include <memory>
#include <vector>

namespace {

using namespace zelvo;

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_Supervisor";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// 300 sleeping children of a shell, then a listener started last (so the scan
// for its socket walks past every sleeper).
struct Crowd {
    std::unique_ptr<ChildProcess> shell;
    std::unique_ptr<ChildProcess> holder;
    quint16 port = 0;

    Crowd()
    {
        application();
        shell = ChildProcess::launch({QStringLiteral("/bin/sh"),
                                      {QStringLiteral("-c"), QStringLiteral("i=0; while [ $i -lt 300 ]; do sleep 120 & "
                                                                            "i=$((i+1)); done; wait")},
                                      {QStringLiteral("PATH=/usr/bin:/bin")},
                                      false});
        test::StandInBrain::spinUntil([&] { return ProcessQueries::descendants(shell->pid()).size() >= 300; }, 30);
        port = test::StandInBrain::freePort();
        QByteArray output;
        holder = ChildProcess::launch(
            {QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"), QStringLiteral("import socket,time\ns=socket.socket()\n"
                                                   "s.bind(('127.0.0.1',%1))\ns.listen()\nprint('up',flush=True)\n"
                                                   "time.sleep(120)")
                                        .arg(port)},
             {},
             false});
        QObject::connect(holder.get(), &ChildProcess::output, [&output](const QByteArray& b) { output += b; });
        test::StandInBrain::spinUntil([&] { return output.contains("up"); }, 30);
    }
    ~Crowd()
    {
        for (const qint64 pid : ProcessQueries::descendants(shell->pid()))
            ProcessQueries::PinnedProcess(pid).sendSignal(SIGKILL);
        shell->sendSignal(SIGKILL);
        holder->sendSignal(SIGKILL);
        test::StandInBrain::spinUntil([&] { return !shell->isRunning() && !holder->isRunning(); }, 10);
    }
};

Crowd& crowd()
{
    static Crowd crowd;
    return crowd;
}

void BM_ProcQuery_PortHolder(benchmark::State& state)
{
    Crowd& c = crowd();
    for (auto _ : state) {
        const auto pid = ProcessQueries::processHoldingPort(c.port);
        if (pid != c.holder->pid())
            state.SkipWithError("wrong holder");
        benchmark::DoNotOptimize(pid);
    }
}
BENCHMARK(BM_ProcQuery_PortHolder)->Unit(benchmark::kMillisecond);

void BM_ProcQuery_Descendants(benchmark::State& state)
{
    Crowd& c = crowd();
    for (auto _ : state) {
        const QList<qint64> found = ProcessQueries::descendants(c.shell->pid());
        if (found.size() < 300)
            state.SkipWithError("children missing");
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_ProcQuery_Descendants)->Unit(benchmark::kMillisecond);

void BM_Supervisor_Log(benchmark::State& state)
{
    application();
    test::TempHome home;
    ManualScheduler clock;
    BrainSupervisor supervisor(BrainPaths(home.file(QStringLiteral("scripts")), home.file(QStringLiteral("brain"))),
                               7431, clock);
    qint64 seen = 0;
    QObject::connect(&supervisor, &BrainSupervisor::logChanged, [&] { seen += supervisor.log().size(); });
    const QString line = QStringLiteral("splice: take 3 spliced at bar 17, 4.000 s of overlap, gain -1.5 dB");
    for (auto _ : state)
        supervisor.note(line);
    benchmark::DoNotOptimize(seen);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Supervisor_Log);

} // namespace
