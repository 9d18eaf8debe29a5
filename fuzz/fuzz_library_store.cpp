// The library store opening whatever the collection file holds. A file it can
// read is saved and loads back equal; a file it cannot read leaves an empty
// library and survives byte for byte beside the new collection.
#include "FuzzSupport.h"

#include "library/AnalysisWorker.h"
#include "library/LibraryStore.h"
#include "platform/Scheduler.h"

#include <QDir>

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

namespace {

// Analysis never runs here: the store's reading and writing is what is tried.
class IdleWorker final : public AnalysisWorker {
public:
    void start(std::function<void()>, std::function<void()>) override {}
};

std::unique_ptr<LibraryStore> open(ManualScheduler& clock, const QString& support)
{
    LibraryStore::Options options;
    options.supportDirectory = support;
    options.outpaintDirectory = support + QStringLiteral("/takes");
    options.worker = std::make_unique<IdleWorker>();
    options.analyzer = [](const QString&) { return LibraryStore::AnalysisOutcome{}; };
    return std::make_unique<LibraryStore>(clock, std::move(options));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString support = fuzz::scratchFile(QStringLiteral("support"));
    QDir(support).removeRecursively();
    QDir().mkpath(support);
    const QByteArray input = fuzz::bytesOf(data, size).toByteArray();
    fuzz::writeFile(support + QStringLiteral("/collection.json"), input);

    ManualScheduler clock;
    auto store = open(clock, support);
    const std::vector<TrackRecord> loaded = store->tracks();
    store->scheduleSave();
    fuzz::require(store->flush(), "the collection was not saved");
    store.reset();

    const QStringList aside = QDir(support).entryList({QStringLiteral("collection.json.unreadable-*")}, QDir::Files);
    if (!aside.isEmpty()) {
        fuzz::require(aside.size() == 1, "more than one copy of the unreadable collection");
        fuzz::require(loaded.empty(), "an unreadable collection loaded records");
        fuzz::require(fuzz::readFile(support + QLatin1Char('/') + aside[0]) == input,
                      "the unreadable collection was not kept byte for byte");
    }
    auto reopened = open(clock, support);
    fuzz::require(reopened->tracks() == loaded, "the saved library does not load back equal");
    return 0;
}
