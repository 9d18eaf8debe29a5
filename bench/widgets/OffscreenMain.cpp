// The entry point of the benchmarks that draw widgets: a QApplication on the
// offscreen platform unless another is named. KIT_BENCH_POOL_THREADS caps Qt's
// global thread pool, to which the raster engine hands tall fills; on a loaded
// machine the hand-over dominates, and 1 measures the drawing itself.
#include <QApplication>
#include <QThreadPool>
#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("KIT_BENCH_POOL_THREADS"))
        QThreadPool::globalInstance()->setMaxThreadCount(qEnvironmentVariableIntValue("KIT_BENCH_POOL_THREADS"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
