#include "App/AheadEncoding.h"

#include "generation/OutpaintComposer.h"
#include "library/CollectionJson.h"

#include <QFileInfo>
#include <exception>
#include <filesystem>
#include <system_error>

namespace zelvo::ahead {

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

} // namespace zelvo::ahead
