#include "platform/AudioTags.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace zelvo {

namespace {

void collect(const AVDictionary* dictionary, AudioTags& tags)
{
    const AVDictionaryEntry* entry = nullptr;
    // Every entry in stored order; keys compare without regard to case, as
    // FFmpeg's own look-ups do.
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        const QByteArray key = QByteArray(entry->key).toLower();
        std::optional<QString>* field = nullptr;
        if (key == "title")
            field = &tags.title;
        else if (key == "artist")
            field = &tags.artist;
        else if (key == "album")
            field = &tags.album;
        if (field && entry->value)
            *field = QString::fromUtf8(entry->value);
    }
}

} // namespace

AudioTags readTags(const QString& path)
{
    AudioTags tags;
    AVFormatContext* context = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (avformat_open_input(&context, name.constData(), nullptr, nullptr) < 0)
        return tags;
    collect(context->metadata, tags);
    int stream = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0 && avformat_find_stream_info(context, nullptr) >= 0)
        stream = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream >= 0)
        collect(context->streams[stream]->metadata, tags);
    avformat_close_input(&context);
    return tags;
}

} // namespace zelvo
