#include "generation/AheadEncoding.h"

#include "generation/OutpaintComposer.h"
#include "library/CollectionJson.h"
#include "platform/ThreadPriority.h"

#include <QFileInfo>
#include <atomic>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>

namespace zelvo::ahead {
namespace {

std::atomic<int> writers{0};

} // namespace

QString scratchFile(const QString& scratchFolder, const QUuid& id)
{
    return scratchFolder + QStringLiteral("/track-") + uuidText(id).left(8) + QStringLiteral(".wav");
}

bool writeScratch(const TrackBuffer& buffer, const QString& file)
{
    namespace fs = std::filesystem;
    const fs::path target = file.toStdString();
    std::error_code ignored;
    fs::create_directories(target.parent_path(), ignored);
    // Hidden, and unique per writer.
    const QString base = QFileInfo(file).completeBaseName();
    const fs::path temporary = target.parent_path() /
        (QStringLiteral(".") + base + QStringLiteral("-") + QUuid::createUuid().toString(QUuid::Id128) +
         QStringLiteral(".wav"))
            .toStdString();
    try {
        OutpaintComposer::writeTrack(buffer, temporary);
    } catch (const std::exception&) {
        fs::remove(temporary, ignored);
        return false;
    }
    std::error_code renamed;
    fs::rename(temporary, target, renamed);
    if (renamed) {
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

void start(const std::optional<BrainHealth>& health, const QUuid& id, const TrackBufferRef& buffer,
           const QString& scratchFolder, const BrainClient& client)
{
    if (!health || !health->fastLoaded.value_or(false) || !buffer)
        return;
    QString key = BrainClient::trackKey(id, buffer->frames);
    QString file = scratchFile(scratchFolder, id);
    ++writers;
    // A thread of its own: a pooled thread would keep the lowered priority.
    std::thread([buffer, file = std::move(file), key = std::move(key), client]() {
        lowerCurrentThreadPriority();
        if (writeScratch(*buffer, file))
            client.prepare(key, file);
        --writers;
    }).detach();
}

int writersInFlight()
{
    return writers.load();
}

bool waitForWriters(std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (writers.load() != 0) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace zelvo::ahead
