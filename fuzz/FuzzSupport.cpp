#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

namespace zelvo::fuzz {

void initialize(int* argc, char*** argv)
{
    if (!QCoreApplication::instance())
        new QCoreApplication(*argc, *argv);
    // FFmpeg describes every damaged header it meets; at fuzzing speed that is
    // most of the run's time.
    av_log_set_level(AV_LOG_QUIET);
}

const QString& scratch()
{
    static QTemporaryDir dir;
    static const QString path = dir.path();
    return path;
}

QString scratchFile(const QString& name)
{
    return scratch() + QLatin1Char('/') + name;
}

void writeFile(const QString& path, QByteArrayView bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes.data(), bytes.size()) != bytes.size())
        require(false, "cannot write the scratch file");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

} // namespace zelvo::fuzz
