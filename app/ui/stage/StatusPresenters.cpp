#include "ui/stage/StatusPresenters.h"

#include "generation/ContentService.h"
#include "ui/kit/Palette.h"

#include <cmath>
#include <cstdint>

namespace zelvo::stage {

using namespace kit;

namespace {

// A non-finite reading counts as 0, so a broken cell never reaches a format.
double finite(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

QString number(std::int64_t value)
{
    return QString::number(value);
}

} // namespace

BadgeFace badgeFace(const std::vector<MIDIHub::Player>& players, const std::optional<MIDIHub::Connection>& connected,
                    ControllerKind layout)
{
    if (!players.empty()) {
        const QString count =
            players.size() == 1 ? QString() : number(std::int64_t(players.size())) + QStringLiteral(" × ");
        QString model = QStringLiteral("CDJ-3000");
        if (players.front().model == PlayerModel::cdj3000x)
            model += QLatin1Char('X');
        return {true, count + model.toLower() + QStringLiteral(" linked"), withAlpha(Palette::bone(), 0.85)};
    }
    if (connected) {
        const QString kind = connected->kind == ControllerKind::flx10 ? QStringLiteral("flx10") : QStringLiteral("flx4");
        return {true, QStringLiteral("ddj-") + kind + QStringLiteral(" linked"), withAlpha(Palette::bone(), 0.85)};
    }
    const QString kind = layout == ControllerKind::flx10 ? QStringLiteral("flx10") : QStringLiteral("flx4");
    return {false, kind + QStringLiteral(" layout · no controller"), Palette::ash()};
}

bool brainLampLit(BrainStatus::Kind status, double t)
{
    using K = BrainStatus::Kind;
    switch (status) {
    case K::ready: return true;
    case K::installing:
    case K::loading:
    case K::starting:
    case K::rendering: {
        // Beyond ±2^62 thirds of a second the phase has no integer meaning;
        // such a clock (or a non-finite one) leaves the lamp dark.
        const double thirds = std::floor(t * 3.0);
        if (!std::isfinite(thirds) || std::fabs(thirds) > 4.0e18)
            return false;
        return std::int64_t(thirds) % 2 == 0;
    }
    case K::failed:
    case K::checking:
    case K::notInstalled:
    case K::offline: return false;
    }
    return false;
}

bool brainLampBlinks(BrainStatus::Kind status)
{
    using K = BrainStatus::Kind;
    return status == K::installing || status == K::loading || status == K::starting || status == K::rendering;
}

std::vector<StatusItem> statusItems(const std::optional<OutputReading>& output)
{
    std::vector<StatusItem> items;
    if (output && output->masterBpm > 0 && std::isfinite(output->masterBpm))
        items.push_back({QStringLiteral("tempo"), QString::asprintf("%.1f bpm", output->masterBpm), 9.5, Stage::bone()});
    items.push_back({QStringLiteral("device"), output ? output->deviceName : QStringLiteral("no output"), 9,
                     Stage::ash()});
    const double latency = output ? finite(output->latency) : 0.0;
    items.push_back({QStringLiteral("latency"), QString::asprintf("%.0f ms", latency * 1000.0), 9, Stage::ash()});
    const double load = output ? finite(output->dspLoad) * 100.0 : 0.0;
    items.push_back({QStringLiteral("load"), QString::asprintf("dsp %.0f%%", load), 9,
                     load > 70.0 ? Stage::ghostRed() : Stage::ash()});
    return items;
}

QString vendorSite()
{
    return QStringLiteral("kavri.example");
}

std::optional<UpdateNotice> updateNotice(const StatusLink::Update& update)
{
    const QString& v = update.version;
    switch (update.kind) {
    case StatusLink::Update::Kind::ready:
        return UpdateNotice{v + QStringLiteral(" ready · restart to update"),
                            QStringLiteral("kavri zelvo ") + v +
                                QStringLiteral(" is downloaded and checked. Restart now, or it goes in when you quit.")};
    case StatusLink::Update::Kind::manual:
        return UpdateNotice{QStringLiteral("update · ") + v + QStringLiteral(" ready"),
                            QStringLiteral("kavri zelvo ") + v + QStringLiteral(" is out — download it from ") +
                                vendorSite()};
    case StatusLink::Update::Kind::idle: break;
    }
    return std::nullopt;
}

KeyFace browseKeyFace(bool browseOpen)
{
    return browseOpen ? KeyFace{QStringLiteral("▾ decks"), Stage::paper()}
                      : KeyFace{QStringLiteral("▴ browse"), Stage::bone()};
}

KeyFace recordKeyFace(bool recording)
{
    return recording ? KeyFace{QStringLiteral("● recording"), Stage::ghostRed()}
                     : KeyFace{QStringLiteral("rec"), Stage::bone()};
}

std::vector<PickerRow> outputRows(const std::vector<AudioDevice>& devices)
{
    std::vector<PickerRow> rows;
    rows.reserve(devices.size());
    for (const AudioDevice& d : devices) {
        // The rate is shown as a whole number of hertz; an unreadable one as 0.
        const double rate = std::trunc(finite(d.nominalSampleRate));
        const QString hz = std::fabs(rate) < 1e15 ? number(std::int64_t(rate)) : QStringLiteral("0");
        rows.push_back({QString::fromStdString(d.name) + QStringLiteral(" · ") + number(d.outputChannels) +
                            QStringLiteral(" ch · ") + hz + QStringLiteral(" Hz"),
                        QString::fromStdString(d.uid), 0});
    }
    return rows;
}

std::vector<PickerRow> bufferRows(std::optional<double> rate)
{
    const double r = rate && std::isfinite(*rate) && *rate > 0 ? *rate : 48000.0;
    std::vector<PickerRow> rows;
    for (int n : kBufferSizes)
        rows.push_back({number(n) + QStringLiteral(" frames · ") + QString::asprintf("%.1f", n / r * 1000.0) +
                            QStringLiteral(" ms"),
                        {}, n});
    return rows;
}

QString pairText(int first)
{
    return QStringLiteral("Ch ") + number(std::int64_t(first) + 1) + QLatin1Char('/') + number(std::int64_t(first) + 2);
}

std::vector<PickerRow> masterRows(const AudioDevice& device)
{
    std::vector<PickerRow> rows;
    for (int p : device.channelPairs())
        rows.push_back({pairText(p), {}, p});
    return rows;
}

std::vector<PickerRow> cueRows(const AudioDevice& device, std::int64_t masterPair)
{
    std::vector<PickerRow> rows{{QStringLiteral("Off"), {}, -1}};
    for (int p : device.channelPairs())
        if (p != masterPair)
            rows.push_back({pairText(p), {}, p});
    return rows;
}

bool cueNeedsNote(const AudioDevice& device)
{
    return device.outputChannels <= 3;
}

QString cueNoteText()
{
    return QStringLiteral("Headphone cue needs a 4+ channel interface (or an aggregate device).");
}

std::vector<PickerRow> surfaceRows()
{
    using S = StatusLink::SurfaceChoice;
    std::vector<PickerRow> rows;
    for (S choice : {S::automatic, S::flx4, S::flx10})
        rows.push_back({choice == S::automatic ? QStringLiteral("Follow the controller")
                                               : QStringLiteral("Always ") + ControllerModel::rawValue(choice),
                        {}, std::int64_t(choice)});
    return rows;
}

int rowIndex(const std::vector<PickerRow>& rows, std::int64_t tag)
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].tag == tag)
            return int(i);
    return -1;
}

int rowIndex(const std::vector<PickerRow>& rows, const QString& uid)
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].uid == uid)
            return int(i);
    return -1;
}

QString controllerLine(const std::optional<MIDIHub::Connection>& connected, bool anyPlayer)
{
    if (connected)
        return (connected->kind == ControllerKind::flx10 ? QStringLiteral("DDJ-FLX10") : QStringLiteral("DDJ-FLX4")) +
               QStringLiteral(" connected — its sound card is the output, headphones on 3/4.");
    if (!anyPlayer)
        return QStringLiteral("No DDJ-FLX4, DDJ-FLX10 or CDJ-3000X on USB.");
    return QStringLiteral("CDJs in software control — each plays its deck out of its own outputs into your DJM.");
}

KeyFormFace keyFormFace(const KeyFormInputs& in)
{
    using K = KavriAccount::Check::Kind;
    KeyFormFace face;
    face.placeholder = in.key.isEmpty() ? QStringLiteral("sk_kavri_…") : in.masked;
    face.saveEnabled = !in.draft.isEmpty();
    face.forget = !in.key.isEmpty();
    switch (in.check.kind()) {
    case K::ok:
        face.checkText = QStringLiteral("✓ Key works — ") + number(in.check.files()) + QStringLiteral(" files, ") +
                         QString::asprintf("%.1f", finite(in.check.gigabytes())) + QStringLiteral(" GB ready on the CDN.");
        face.checkStyle = KeyFormFace::Style::primary;
        break;
    case K::none:
        face.checkText = QStringLiteral("No key yet.");
        face.checkStyle = KeyFormFace::Style::secondary;
        break;
    case K::checking:
        face.checkText = QStringLiteral("Checking with ") + ContentService::host() + QStringLiteral("…");
        face.checkStyle = KeyFormFace::Style::busy;
        break;
    case K::bad:
        face.checkText = in.check.text();
        face.checkStyle = KeyFormFace::Style::error;
        break;
    }
    if (in.status == BrainStatus::Kind::installing) {
        face.install = KeyFormFace::Install::progress;
        const double f = finite(in.fraction);
        face.fraction = f < 0 ? 0.0 : f > 1 ? 1.0 : f;
        face.progressText = QStringLiteral("Downloading zelvo-0 — ") + in.downloadDetail;
    } else if (in.check.isOk() && (in.status == BrainStatus::Kind::notInstalled || in.shortfall)) {
        face.install = KeyFormFace::Install::key;
        face.shortfall = in.shortfall.value_or(QString());
    }
    return face;
}

QString keyExplanation()
{
    return QStringLiteral("The model downloads from the kavri CDN with your free kavri key — the same `sk_kavri_…` key "
                          "the plug-in uses. It brings zelvo-0.");
}

QString logText(const QStringList& log)
{
    const qsizetype from = log.size() > kLogLines ? log.size() - kLogLines : 0;
    return log.mid(from).join(QLatin1Char('\n'));
}

QString runtimePath(const QString& home)
{
    QString path = home;
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + QStringLiteral("zelvo-0/optimized/mlx");
}

QString portText(std::int64_t port)
{
    // The magnitude in unsigned arithmetic, so the most negative id prints too.
    const std::uint64_t magnitude = port < 0 ? std::uint64_t(0) - std::uint64_t(port) : std::uint64_t(port);
    return (port < 0 ? QStringLiteral("-") : QString()) + QString::number(quint64(magnitude), 16).toUpper();
}

std::vector<PlayerRow> playerRows(const std::vector<MIDIHub::Player>& players,
                                  const std::map<std::int64_t, int>& playerDecks,
                                  const std::map<int, QString>& routes)
{
    std::vector<PlayerRow> rows;
    for (const MIDIHub::Player& p : players) {
        PlayerRow row;
        row.player = (p.model == PlayerModel::cdj3000x ? QStringLiteral("CDJ-3000X") : QStringLiteral("CDJ-3000")) +
                     QStringLiteral(" · USB ") + portText(p.port);
        const auto deck = playerDecks.find(p.port);
        if (deck == playerDecks.end()) {
            row.deck = QStringLiteral("—");
        } else {
            const int d = deck->second;
            row.deck = d == 1 ? QStringLiteral("deck 2 · zelvo-0") : QStringLiteral("deck ") + number(std::int64_t(d) + 1);
            const auto route = routes.find(d);
            if (route != routes.end())
                row.route = QStringLiteral("→ ") + route->second;
        }
        rows.push_back(row);
    }
    return rows;
}

bool swapKeyShown(std::size_t players)
{
    return players >= 2;
}

QString routingNote(bool directOuts)
{
    return directOuts ? QStringLiteral("Direct outs: each deck on its player, the DJM mixing.")
                      : QStringLiteral("Plays the mix through the player's outputs.");
}

} // namespace zelvo::stage
