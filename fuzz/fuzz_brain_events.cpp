// The model server's event stream: the lines a stream splits into do not
// depend on how the bytes arrive, and every line parses or is refused cleanly.
// The first byte sets the size of the reads.
#include "FuzzSupport.h"

#include "generation/BrainClient.h"
#include "generation/LineSplitter.h"

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArrayView stream = fuzz::bytesOf(data + 1, size - 1);
    const qsizetype step = 1 + data[0] % 16;

    LineSplitter whole;
    QList<QByteArray> once = whole.feed(stream);
    once += whole.finish();

    LineSplitter pieces;
    QList<QByteArray> chunked;
    for (qsizetype at = 0; at < stream.size(); at += step)
        chunked += pieces.feed(stream.sliced(at, std::min(step, stream.size() - at)));
    chunked += pieces.finish();
    fuzz::require(chunked == once, "a chunked line split differs from a one-shot split");

    for (const QByteArray& line : once) {
        fuzz::require(!line.contains('\n') && !line.contains('\r'), "a line kept its ending");
        (void)BrainClient::parse(line);
    }
    return 0;
}
