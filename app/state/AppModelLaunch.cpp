// The launch arguments ("--import", "--mute", "--fx", "--demo", "--load",
// "--play") and the state dump ("--dump-state").
#include "state/AppModel.h"

#include "state/LaunchOptions.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QSet>
#include <algorithm>

namespace zelvo {
namespace {

QString tempoRangeText(TempoRange range)
{
    switch (range) {
    case TempoRange::six: return QStringLiteral("\u00B16");
    case TempoRange::ten: return QStringLiteral("\u00B110");
    case TempoRange::sixteen: return QStringLiteral("\u00B116");
    case TempoRange::wide: return QStringLiteral("WIDE");
    }
    return {};
}

} // namespace

void AppModel::handleLaunchArguments()
{
    const QStringList& arguments = arguments_;
    dumpStateLater(arguments);

    // "--import": runs here, synchronously. The library answers with every
    // audio file it found, known ones too; only records it did not hold before
    // count as added.
    std::vector<TrackRecord> added;
    if (arguments.contains(QStringLiteral("--import"))) {
        QStringList paths;
        for (const QString& operand : launch::importOperands(arguments))
            paths.append(QDir::current().absoluteFilePath(operand));
        if (!paths.isEmpty()) {
            QSet<QUuid> known;
            for (const TrackRecord& record : library_->tracks())
                known.insert(record.id);
            for (TrackRecord& record : library_->importItems(paths))
                if (!known.contains(record.id))
                    added.push_back(std::move(record));
        }
    }

    if (arguments.contains(QStringLiteral("--mute"))) {
        mixer_->setMaster(0.0);
        binder_->setMuteDirect(true);
    }

    if (arguments.contains(QStringLiteral("--fx")))
        setPerformPage(PerformPage::fx);

    if (arguments.contains(QStringLiteral("--demo")))
        stageDemo(arguments.contains(QStringLiteral("--play")), arguments.contains(QStringLiteral("--demo-fork")),
                  arguments.contains(QStringLiteral("--demo-extend")));

    if (arguments.contains(QStringLiteral("--load")) && !added.empty()) {
        const TrackRecord record = added.front();
        const bool play = arguments.contains(QStringLiteral("--play"));
        const QPointer<AppModel> self(this);
        scheduler_.runAfter(kLoadDelay, [self, record, play] {
            if (self)
                self->loadWhenOutputUp(record, play, kOutputPolls);
        });
    }
}

void AppModel::loadWhenOutputUp(const TrackRecord& record, bool play, int pollsLeft)
{
    const QPointer<AppModel> self(this);
    if (!audio_->io() && pollsLeft > 0) {
        scheduler_.runAfter(kOutputPoll, [self, record, play, pollsLeft] {
            if (self)
                self->loadWhenOutputUp(record, play, pollsLeft - 1);
        });
        return;
    }
    // Without an output the deck's own load decides what happens.
    deck(0).load(record, [self, play] {
        if (self && play)
            self->deck(0).playPause();
    });
}

void AppModel::dumpStateLater(const QStringList& arguments)
{
    const std::optional<launch::DumpRequest> request = launch::dumpRequest(arguments);
    if (!request)
        return;
    const QPointer<AppModel> self(this);
    const QString path = request->path;
    scheduler_.runAfter(request->delay, [self, path] {
        if (self)
            self->writeDump(path);
    });
}

void AppModel::writeDump(const QString& path)
{
    const QByteArray bytes = QJsonDocument(stateSnapshot()).toJson(QJsonDocument::Indented);
    QFile file(path);
    // A failed write is not reported: the program quits either way.
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    file.close();
    if (terminate_)
        terminate_();
}

QJsonObject AppModel::stateSnapshot() const
{
    const std::shared_ptr<AudioIO>& io = audio_->io();

    QJsonArray decks;
    for (int i = 0; i < kDecks; ++i) {
        const DeckModel& d = deck(i);
        int hotCues = 0;
        for (const double cue : d.live().hotCues)
            hotCues += cue >= 0.0 ? 1 : 0;
        const std::shared_ptr<DeckVoice> voice = d.voice();
        QJsonObject object;
        object[QStringLiteral("deck")] = i + 1;
        object[QStringLiteral("track")] = d.track() ? d.track()->title : QString();
        object[QStringLiteral("playing")] = d.live().playing;
        object[QStringLiteral("tempoPercent")] = (d.tempoRatio() - 1.0) * 100.0;
        object[QStringLiteral("tempoRange")] = tempoRangeText(d.tempoRange());
        object[QStringLiteral("keyShift")] = d.keyShift();
        object[QStringLiteral("loopActive")] = d.live().loopActive;
        object[QStringLiteral("loopBeats")] = d.autoLoopBeats();
        object[QStringLiteral("hotCues")] = hotCues;
        object[QStringLiteral("sync")] = mixer_->channel(i).sync();
        object[QStringLiteral("vinyl")] = d.vinyl();
        object[QStringLiteral("position")] = voice ? QJsonValue(voice->state().position.load()) : QJsonValue(0);
        decks.append(object);
    }

    QJsonArray output;
    QJsonArray peaks;
    bool engineDirect = false;
    if (io) {
        output = {QString::fromStdString(io->device().name), QString::fromStdString(io->device().uid),
                  io->device().outputChannels, io->masterPair(), io->cuePair().value_or(-1)};
        const MixerState& state = *io->engine().state();
        for (std::size_t channel = 0; channel < 2; ++channel)
            peaks.append(channel < state.channelCount() ? state.channelPeak[channel].load() : 0.0);
        engineDirect = io->engine().params()->directOuts.load();
    } else {
        output = {QString(), QString(), 0, -1, -1};
        peaks = {0, 0};
    }

    QStringList routes;
    for (const auto& [deckIndex, route] : audio_->rigRoutes())
        routes.append(QStringLiteral("deck %1 \u2192 %2").arg(deckIndex + 1).arg(route));
    std::sort(routes.begin(), routes.end());

    QJsonObject snapshot;
    snapshot[QStringLiteral("decks")] = decks;
    snapshot[QStringLiteral("master")] = engineLive_.masterDeck + 1;
    snapshot[QStringLiteral("aiStep")] = aiStepTitle();
    snapshot[QStringLiteral("players")] = controller_->playerCount();
    snapshot[QStringLiteral("directOuts")] = audio_->directOuts();
    snapshot[QStringLiteral("output")] = output;
    snapshot[QStringLiteral("engineDirect")] = engineDirect;
    snapshot[QStringLiteral("peaks")] = peaks;
    snapshot[QStringLiteral("routes")] = QJsonArray::fromStringList(routes);
    snapshot[QStringLiteral("echo")] = controller_->echo().value_or(QString());
    return snapshot;
}

} // namespace zelvo
