#pragma once
// The body of an "outpaint" request to the model server.
#include <QByteArray>
#include <QString>
#include <optional>

namespace zelvo {

struct OutpaintRequest {
    QString context;                     // "context": absolute path of the context WAV
    double contextSeconds = 0;           // "context_seconds": length of the context
    double seconds = 0;                  // "seconds": context plus generated seconds; the
                                         // generated WAV starts at the context's first frame
    QString prompt;                      // "prompt"
    QString negativePrompt;              // "negative_prompt" (may be empty)
    qint64 steps = 0;                    // "steps": sampling steps
    double cfg = 0;                      // "cfg": guidance strength
    qint64 seed = 0;                     // "seed"
    QString out;                         // "out": absolute path of the generated WAV
    std::optional<QString> model;        // "model": model or adapter; absent = server default
    std::optional<double> loraStrength;  // "lora_strength"
    std::optional<QString> track;        // "track": key of the library track (BrainClient::trackKey)
    std::optional<double> contextStart;  // "context_start": seconds into that track

    // The compact JSON object, absent optionals left out (never null). Nothing
    // when a number is not finite, which JSON cannot carry. Any thread.
    std::optional<QByteArray> encode() const;

    bool operator==(const OutpaintRequest&) const = default;
};

} // namespace zelvo
