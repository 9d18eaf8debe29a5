#include "generation/Caption.h"

#include <QStringList>
#include <cmath>

namespace zelvo::Caption {

namespace {

const QString kDefaultGenre = QStringLiteral("Electronic");
const QString kDefaultDescription = QStringLiteral(
    "Electronic dance music recorded from a live DJ set, club sound system, driving drums and synthesizer bass");
const char* const kNoteNames[12] = {"C", "Db", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};

} // namespace

QString sentence(const QString& text)
{
    QString s = text.trimmed();
    while (!s.isEmpty() && (s.endsWith(QLatin1Char('.')) || s.endsWith(QLatin1Char(',')) || s.endsWith(QLatin1Char(';'))))
        s.chop(1);
    if (!s.isEmpty()) {
        // Only the first character changes; a character outside the basic plane
        // is two code units and is taken whole.
        const qsizetype first = s.at(0).isHighSurrogate() && s.size() > 1 ? 2 : 1;
        s = s.left(first).toUpper() + s.mid(first);
    }
    return s + QLatin1Char('.');
}

QString make(const QString& genre, const QString& description)
{
    return QLatin1String(header) + genre + QStringLiteral(". ") + sentence(description);
}

const QString& trained()
{
    static const QString caption = make(kDefaultGenre, kDefaultDescription);
    return caption;
}

QString prompt(const QString& text, const std::optional<BeatGrid>& grid, const std::optional<MusicalKey>& key)
{
    const QString trimmed = text.trimmed();
    QString base;
    if (trimmed.isEmpty())
        base = trained();
    else if (trimmed.startsWith(QLatin1String("TrackType:")))
        base = sentence(trimmed);
    else
        base = make(kDefaultGenre, trimmed);

    QStringList phrases;
    if (key) {
        const int pc = ((key->pitchClass % 12) + 12) % 12;
        phrases << QStringLiteral("in %1 %2").arg(QLatin1String(kNoteNames[pc]),
                                                  key->minor ? QStringLiteral("minor") : QStringLiteral("major"));
    }
    // A tempo that is not a positive finite number says nothing about the music.
    if (grid && std::isfinite(grid->bpm) && grid->bpm > 0 && grid->bpm < 1e6)
        phrases << QString::number(static_cast<long long>(std::round(grid->bpm))) + QStringLiteral(" BPM");
    if (phrases.isEmpty())
        return base;
    base.chop(1);
    return base + QStringLiteral(", ") + phrases.join(QStringLiteral(", ")) + QLatin1Char('.');
}

} // namespace zelvo::Caption
