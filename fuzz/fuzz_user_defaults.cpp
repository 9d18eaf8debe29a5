// The user defaults file, whatever it holds: the values read are saved and
// load back equal, and a file that could not be read whole survives byte for
// byte beside the new one.
#include "FuzzSupport.h"

#include "platform/UserDefaults.h"

#include <QDir>
#include <cstring>

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

namespace {

const QString kProbe = QStringLiteral("fuzz.probe");

bool sameBits(std::optional<double> a, std::optional<double> b)
{
    return a.has_value() == b.has_value() && (!a || std::memcmp(&*a, &*b, sizeof(double)) == 0);
}

bool sameValue(const UserDefaults& a, const UserDefaults& b, const QString& key)
{
    return a.type(key) == b.type(key) && a.integer(key) == b.integer(key) && sameBits(a.real(key), b.real(key))
        && a.boolean(key) == b.boolean(key) && a.string(key) == b.string(key)
        && a.stringList(key) == b.stringList(key) && a.data(key) == b.data(key) && a.json(key) == b.json(key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString folder = fuzz::scratchFile(QStringLiteral("config"));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/defaults.json");
    const QByteArray input = fuzz::bytesOf(data, size).toByteArray();
    fuzz::writeFile(path, input);

    UserDefaults first(path);
    // A change writes the file, moving a damaged one aside first.
    fuzz::require(first.setInteger(kProbe, first.integer(kProbe) == 1 ? 2 : 1), "the defaults were not saved");

    const QStringList aside = QDir(folder).entryList({QStringLiteral("defaults.json.corrupt-*")}, QDir::Files);
    fuzz::require(aside.size() <= 1, "more than one copy of the damaged defaults");
    if (!aside.isEmpty())
        fuzz::require(fuzz::readFile(folder + QLatin1Char('/') + aside[0]) == input,
                      "the damaged defaults were not kept byte for byte");

    const UserDefaults second(path);
    fuzz::require(second.keys() == first.keys(), "the saved defaults load back with other keys");
    for (const QString& key : first.keys())
        fuzz::require(sameValue(first, second, key), "a saved default loads back changed");
    return 0;
}
