// Loading library tracks onto the decks, importing music and model adapters,
// recording the master output and the model server's head start on every
// loaded track.
#include "state/AppModel.h"

#include "generation/AheadEncoding.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "generation/Adapters.h"
#include "library/AudioFileError.h"
#include "library/CollectionJson.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFileInfo>
#include <exception>
#include <filesystem>

namespace zelvo {
namespace {

constexpr double kNoticeSeconds = 4.0;

} // namespace

void AppModel::load(const std::optional<QUuid>& id, int deckIndex)
{
    if (!id || deckIndex < 0 || deckIndex >= kDecks)
        return;
    const std::optional<TrackRecord> record = library_->track(*id);
    if (!record)
        return;
    if (browseOpen_)
        setBrowseOpen(false);
    // The deck shows its own loading state and error; a newer load supersedes this one.
    deck(deckIndex).load(*record);
}

void AppModel::importPanel()
{
    // Without a window (a headless run) there is nothing to ask with.
    if (!importChooser_)
        return;
    const QStringList chosen = importChooser_(Folders::music());
    if (!chosen.isEmpty())
        importItems(chosen);
}

void AppModel::importItems(const QStringList& paths)
{
    QStringList adapters;
    QStringList others;
    for (const QString& path : paths)
        (Adapters::isAdapter(path) ? adapters : others).append(path);
    installAdapters(adapters);
    if (!others.isEmpty())
        library_->importItems(others);
}

void AppModel::installAdapters(const QStringList& paths)
{
    const QString folder = brainPaths_->models();
    WorkflowLink& workflow = *outpaint_;
    const auto show = [&](const QString& text) {
        workflow.setNotice(text.toUpper());
        workflow.setNoticeUntil(scheduler_.now().addMSecs(qint64(kNoticeSeconds * 1000)));
    };
    std::optional<QString> installed;
    for (const QString& path : paths) {
        try {
            installed = Adapters::install(path, folder);
        } catch (const Adapters::InstallError& error) {
            show(error.description());
        } catch (const std::filesystem::filesystem_error& error) {
            show(QString::fromStdString(error.code().message()));
        }
    }
    if (!installed)
        return;
    ForkSettings settings = workflow.settings();
    settings.model = *installed;
    workflow.setSettings(settings);
    show(QStringLiteral("ADAPTER IN \u00B7 ") + *installed);
}

QString AppModel::recordingsFolder() const
{
    return QFileInfo(library_->outpaintDirectory()).dir().filePath(QStringLiteral("recordings"));
}

void AppModel::toggleRecording()
{
    const std::shared_ptr<AudioIO>& io = audio_->io();
    if (!io)
        return;
    MixEngine& engine = io->engine();
    if (engine.state()->recording.load()) {
        engine.stopRecording();
        return;
    }
    const QString stamp = dateText(scheduler_.now()).remove(QLatin1Char(':'));
    const QString folder = recordingsFolder();
    QDir().mkpath(folder);
    // Whole seconds name the file: a second start within the same second gets a
    // number instead of replacing the first recording.
    const QString stem = QDir(folder).filePath(QStringLiteral("kavri zelvo set ") + stamp);
    QString file = stem + QStringLiteral(".wav");
    for (int n = 2; QFileInfo::exists(file); ++n)
        file = stem + QStringLiteral(" %1.wav").arg(n);
    try {
        engine.startRecording(std::filesystem::path(file.toStdString()));
    } catch (const AudioFileError& error) {
        brain_->note(QStringLiteral("record: ") + QString::fromStdString(error.description()));
    } catch (const std::exception& error) {
        brain_->note(QStringLiteral("record: ") + QString::fromUtf8(error.what()));
    }
    if (recordingURL_ != file) {
        recordingURL_ = file;
        emit recordingURLChanged();
    }
}

void AppModel::checkRecording()
{
    const std::shared_ptr<AudioIO>& io = audio_->io();
    if (!io)
        return;
    MixEngine& engine = io->engine();
    const MixerState& state = *engine.state();
    if (!state.recording.load() || !state.recordingFailed.load())
        return;
    const std::string step = engine.recordingStatus().step;
    engine.stopRecording();
    brain_->note(QStringLiteral("record: ") +
                 (step.empty() ? QStringLiteral("recording failed") : QString::fromStdString(step)));
}

int AppModel::aheadWritesInFlight()
{
    return ahead::writersInFlight();
}

void AppModel::encodeAhead(const TrackRecord& record, const TrackBufferRef& buffer)
{
    ahead::start(brain_->health(), record.id, buffer, brainPaths_->scratch(), brain_->client());
}

} // namespace zelvo
