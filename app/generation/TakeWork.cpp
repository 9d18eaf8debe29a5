#include "generation/TakeWork.h"

#include "library/AudioFileError.h"
#include "library/AudioFileIO.h"
#include "library/TrackAnalyzer.h"
#include "platform/NoReplaceRename.h"
#include "platform/TextFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace zelvo::TakeWork {

namespace {

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(path.toStdString());
}

// Positions of the grapheme boundaries after each character of `text`.
std::vector<qsizetype> characterEnds(const QString& text)
{
    std::vector<qsizetype> ends;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toStart();
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        ends.push_back(at);
    return ends;
}

// How many numbered names a write tries when files keep appearing under them.
constexpr int kNameAttempts = 1000;

} // namespace

Spliced splice(const QString& generatedPath, const TrackBuffer& prefix, double segmentStart, const ForkPlan& plan,
               std::optional<double> generatedOrigin)
{
    const TrackBufferRef generated = AudioFileIO::decode(fsPath(generatedPath), prefix.sampleRate);
    Spliced out;
    out.buffer = OutpaintComposer::splice(prefix, segmentStart, *generated, plan, generatedOrigin, kSpliceCrossfade,
                                          [&out](const OutpaintComposer::SpliceReport& r) { out.report = r; });
    const std::vector<float> samples = OutpaintComposer::mono(*out.buffer);
    out.waveform = std::make_shared<const WaveformData>(
        TrackAnalyzer::computeWaveform(samples, prefix.sampleRate, kWaveformPoints));
    return out;
}

QString stamp(const QDateTime& date)
{
    const QDateTime local = date.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    return formatText("%02d%02d%02d-%02d%02d%02d", d.year() % 100, d.month(), d.day(), t.hour(), t.minute(),
                      t.second());
}

QString base(const QString& title)
{
    QString text = title;
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    text.replace(QChar(0), QLatin1Char('-'));
    const std::vector<qsizetype> ends = characterEnds(text);
    if (ends.size() > std::size_t(kTitleCharacters))
        text.truncate(ends[std::size_t(kTitleCharacters) - 1]);
    return text;
}

QString fileName(const QString& base, const QString& kind, const QString& stamp, int number)
{
    QString tail = kind + stamp;
    if (number > 1)
        tail += QLatin1Char(' ') + QString::number(number);
    tail += QStringLiteral(".wav");
    const qsizetype tailBytes = tail.toUtf8().size();
    QString kept = base;
    if (kept.toUtf8().size() + tailBytes > kNameBytes) {
        const std::vector<qsizetype> ends = characterEnds(base);
        kept.clear();
        for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
            const QString candidate = base.left(*it);
            if (candidate.toUtf8().size() + tailBytes <= kNameBytes) {
                kept = candidate;
                break;
            }
        }
    }
    return kept + tail;
}

QString TakeName::path() const
{
    return QDir(folder).filePath(fileName(base, kind, stamp, number));
}

void TakeName::skipTaken(const std::function<bool(const QString& path)>& taken)
{
    while (taken && taken(path()))
        ++number;
}

QString write(const TrackBuffer& buffer, const QString& path, TakeName fallback)
{
    const QString temporary = QFileInfo(path).absoluteDir().filePath(
        QStringLiteral(".take-%1.wav.part").arg(QUuid::createUuid().toString(QUuid::Id128)));
    try {
        AudioFileIO::writeWAV(fsPath(temporary), buffer, std::nullopt, 32);
    } catch (...) {
        QFile::remove(temporary);
        throw;
    }
    QString candidate = path;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        QString error;
        switch (renameWithoutReplacing(temporary, candidate, &error)) {
        case RenameOutcome::renamed:
            return candidate;
        case RenameOutcome::nameTaken:
            candidate = fallback.path();
            ++fallback.number;
            continue;
        case RenameOutcome::failed:
            QFile::remove(temporary);
            throw AudioFileError::os("rename to " + QFileInfo(candidate).fileName().toStdString() + " ("
                                         + error.toStdString() + ")",
                                     EIO);
        }
    }
    QFile::remove(temporary);
    throw AudioFileError::os("rename to " + QFileInfo(path).fileName().toStdString(), EEXIST);
}

std::vector<TrackRecord> takesOf(const std::vector<TrackRecord>& library, const std::optional<QUuid>& source)
{
    std::vector<const TrackRecord*> found;
    if (!source)
        return {};
    for (const TrackRecord& record : library) {
        if (record.outpaint && record.outpaint->sourceID == source && !record.outpaint->segmentOf)
            found.push_back(&record);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const TrackRecord* a, const TrackRecord* b) { return a->added < b->added; });
    std::vector<TrackRecord> takes;
    takes.reserve(found.size());
    for (const TrackRecord* record : found)
        takes.push_back(*record);
    return takes;
}

} // namespace zelvo::TakeWork
