// The updater's digest of a downloaded image: SHA-256 of a 64 MiB file that
// sits in the page cache, as bytes per second.
#include "state/AppUpdate.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

constexpr qint64 kBytes = 64LL * 1024 * 1024;

void BM_Update_Sha256(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("update.dmg"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the image");
            return;
        }
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        std::uint32_t seed = 7;
        for (qint64 written = 0; written < kBytes; written += block.size()) {
            for (char& c : block) {
                seed = seed * 1664525u + 1013904223u;
                c = char(seed >> 24);
            }
            file.write(block);
        }
    }
    // One read outside the timed loop brings the file into the page cache.
    benchmark::DoNotOptimize(zelvo::AppUpdate::sha256(path));
    for (auto _ : state) {
        const zelvo::FileDigest digest = zelvo::AppUpdate::sha256(path);
        if (!digest.ok()) {
            state.SkipWithError("the digest failed");
            return;
        }
        benchmark::DoNotOptimize(digest.hex);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Update_Sha256)->Unit(benchmark::kMillisecond);

} // namespace
