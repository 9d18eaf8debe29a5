#include "support/AudioFixtures.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace zelvo::test {

namespace {

[[noreturn]] void fail(const std::string& what, int status)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(status, text, sizeof text);
    throw std::runtime_error("audio fixture: " + what + ": " + text);
}

std::int16_t toInt16(float x)
{
    return std::int16_t(std::clamp<long>(std::lrint(double(x) * 32768.0), -32768, 32767));
}

std::int32_t toInt32(float x, int bits)
{
    const double scale = std::ldexp(1.0, bits - 1);
    const long v = std::clamp<long>(std::lrint(double(x) * scale), -long(scale), long(scale) - 1);
    return std::int32_t(v) * (1 << (32 - bits)); // left-aligned, as 32-bit containers hold it
}

void writeWithSndfile(const std::filesystem::path& path, int format, const Audio& audio, const Tags& tags)
{
    SF_INFO info{};
    info.samplerate = int(std::lround(audio.sampleRate));
    info.channels = int(audio.channels.size());
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("audio fixture: sf_open " + path.string() + ": " + sf_strerror(nullptr));
    if (!tags.title.empty())
        sf_set_string(file, SF_STR_TITLE, tags.title.c_str());
    if (!tags.artist.empty())
        sf_set_string(file, SF_STR_ARTIST, tags.artist.c_str());
    if (!tags.album.empty())
        sf_set_string(file, SF_STR_ALBUM, tags.album.c_str());
    const std::int64_t frames = audio.frames();
    const int channels = info.channels;
    const int sub = format & SF_FORMAT_SUBMASK;
    sf_count_t done = 0;
    if (sub == SF_FORMAT_FLOAT) {
        std::vector<float> interleaved(std::size_t(frames * channels));
        for (std::int64_t i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                interleaved[std::size_t(i * channels + c)] = audio.channels[std::size_t(c)][std::size_t(i)];
        done = sf_writef_float(file, interleaved.data(), frames);
    } else if (sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_ALAC_16) {
        std::vector<short> interleaved(std::size_t(frames * channels));
        for (std::int64_t i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                interleaved[std::size_t(i * channels + c)] = toInt16(audio.channels[std::size_t(c)][std::size_t(i)]);
        done = sf_writef_short(file, interleaved.data(), frames);
    } else {
        std::vector<int> interleaved(std::size_t(frames * channels));
        for (std::int64_t i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                interleaved[std::size_t(i * channels + c)] = toInt32(audio.channels[std::size_t(c)][std::size_t(i)], 24);
        done = sf_writef_int(file, interleaved.data(), frames);
    }
    sf_close(file);
    if (done != frames)
        throw std::runtime_error("audio fixture: short write to " + path.string());
}

AVSampleFormat pickFormat(const AVCodec* codec)
{
    static const AVSampleFormat preferred[] = {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S16P,
                                               AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_S32};
    for (AVSampleFormat want : preferred)
        for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == want)
                return want;
    return AV_SAMPLE_FMT_NONE;
}

void fillFrame(AVFrame* frame, const Audio& audio, std::int64_t offset)
{
    const auto format = AVSampleFormat(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    for (int c = 0; c < channels; ++c) {
        const float* in = audio.channels[std::size_t(c)].data() + offset;
        for (int i = 0; i < frame->nb_samples; ++i) {
            const int plane = planar ? c : 0;
            const int at = planar ? i : i * channels + c;
            switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float*>(frame->extended_data[plane])[at] = in[i];
                break;
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<std::int16_t*>(frame->extended_data[plane])[at] = toInt16(in[i]);
                break;
            default:
                reinterpret_cast<std::int32_t*>(frame->extended_data[plane])[at] = toInt32(in[i], 24);
                break;
            }
        }
    }
}

struct Encoder {
    AVFormatContext* out = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVStream* stream = nullptr;

    ~Encoder()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (out && out->pb)
            avio_closep(&out->pb);
        avformat_free_context(out);
    }

    void drain()
    {
        for (;;) {
            const int r = avcodec_receive_packet(codec, packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return;
            if (r < 0)
                fail("receive packet", r);
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (int w = av_interleaved_write_frame(out, packet); w < 0)
                fail("write packet", w);
        }
    }
};

void encodeWithFFmpeg(const std::filesystem::path& path, const char* encoderName, const char* muxer,
                      const Audio& audio, const Tags& tags)
{
    // The encoders' chatter (rate-control statistics) is not test output.
    av_log_set_level(AV_LOG_ERROR);
    Encoder e;
    if (int r = avformat_alloc_output_context2(&e.out, nullptr, muxer, path.c_str()); r < 0)
        fail("output context", r);
    const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
    if (!encoder)
        throw std::runtime_error(std::string("audio fixture: no encoder ") + encoderName);
    e.stream = avformat_new_stream(e.out, nullptr);
    e.codec = avcodec_alloc_context3(encoder);
    e.codec->sample_rate = int(std::lround(audio.sampleRate));
    av_channel_layout_default(&e.codec->ch_layout, int(audio.channels.size()));
    e.codec->sample_fmt = pickFormat(encoder);
    if (e.codec->sample_fmt == AV_SAMPLE_FMT_S32 || e.codec->sample_fmt == AV_SAMPLE_FMT_S32P)
        e.codec->bits_per_raw_sample = 24;
    if (!(encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && encoder->id != AV_CODEC_ID_FLAC
        && encoder->id != AV_CODEC_ID_ALAC)
        e.codec->bit_rate = 192000;
    e.codec->time_base = AVRational{1, e.codec->sample_rate};
    if (e.out->oformat->flags & AVFMT_GLOBALHEADER)
        e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int r = avcodec_open2(e.codec, encoder, nullptr); r < 0)
        fail(std::string("open encoder ") + encoderName, r);
    if (int r = avcodec_parameters_from_context(e.stream->codecpar, e.codec); r < 0)
        fail("stream parameters", r);
    e.stream->time_base = e.codec->time_base;
    if (!tags.title.empty())
        av_dict_set(&e.out->metadata, "title", tags.title.c_str(), 0);
    if (!tags.artist.empty())
        av_dict_set(&e.out->metadata, "artist", tags.artist.c_str(), 0);
    if (!tags.album.empty())
        av_dict_set(&e.out->metadata, "album", tags.album.c_str(), 0);
    if (int r = avio_open(&e.out->pb, path.c_str(), AVIO_FLAG_WRITE); r < 0)
        fail("create " + path.string(), r);
    if (int r = avformat_write_header(e.out, nullptr); r < 0)
        fail("write header", r);

    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    const int frameSize = e.codec->frame_size > 0 ? e.codec->frame_size : 4096;
    const std::int64_t frames = audio.frames();
    for (std::int64_t offset = 0; offset < frames; offset += frameSize) {
        av_frame_unref(e.frame);
        e.frame->nb_samples = int(std::min<std::int64_t>(frameSize, frames - offset));
        e.frame->format = e.codec->sample_fmt;
        e.frame->sample_rate = e.codec->sample_rate;
        av_channel_layout_copy(&e.frame->ch_layout, &e.codec->ch_layout);
        if (int r = av_frame_get_buffer(e.frame, 0); r < 0)
            fail("frame buffer", r);
        fillFrame(e.frame, audio, offset);
        e.frame->pts = offset;
        if (int r = avcodec_send_frame(e.codec, e.frame); r < 0)
            fail("encode", r);
        e.drain();
    }
    if (int r = avcodec_send_frame(e.codec, nullptr); r < 0)
        fail("flush encoder", r);
    e.drain();
    if (int r = av_write_trailer(e.out); r < 0)
        fail("write trailer", r);
}

} // namespace

Audio generate(int channels, std::int64_t frames, double sampleRate, const Generator& signal)
{
    Audio audio;
    audio.sampleRate = sampleRate;
    audio.channels.assign(std::size_t(channels), std::vector<float>(std::size_t(frames)));
    for (int c = 0; c < channels; ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            audio.channels[std::size_t(c)][std::size_t(i)] = signal(c, i);
    return audio;
}

Generator sine(double frequency, double sampleRate, float amplitude)
{
    return [=](int, std::int64_t frame) {
        return float(amplitude * std::sin(2.0 * std::numbers::pi * frequency * double(frame) / sampleRate));
    };
}

float rampValue(std::int64_t frame)
{
    return float((frame % 65536) - 32768) / 32768.0f;
}

std::int64_t rampFrame(float value)
{
    return std::int64_t(std::lround(double(value) * 32768.0)) + 32768;
}

Generator ramp()
{
    return [](int, std::int64_t frame) { return rampValue(frame); };
}

Generator impulses(std::vector<std::int64_t> frames, float amplitude)
{
    std::sort(frames.begin(), frames.end());
    return [frames = std::move(frames), amplitude](int, std::int64_t frame) {
        return std::binary_search(frames.begin(), frames.end(), frame) ? amplitude : 0.0f;
    };
}

void writeAudioFile(const std::filesystem::path& path, AudioFormat format, const Audio& audio, const Tags& tags)
{
    switch (format) {
    case AudioFormat::wav16:
        return writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, audio, tags);
    case AudioFormat::wav24:
        return writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, audio, tags);
    case AudioFormat::wavFloat:
        return writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, audio, tags);
    case AudioFormat::aiff16:
        return writeWithSndfile(path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, audio, tags);
    case AudioFormat::caf:
        return writeWithSndfile(path, SF_FORMAT_CAF | SF_FORMAT_ALAC_16, audio, tags);
    case AudioFormat::flac:
        return encodeWithFFmpeg(path, "flac", "flac", audio, tags);
    case AudioFormat::mp3:
        return encodeWithFFmpeg(path, "libmp3lame", "mp3", audio, tags);
    case AudioFormat::m4a:
        return encodeWithFFmpeg(path, "aac", "ipod", audio, tags);
    case AudioFormat::adts:
        return encodeWithFFmpeg(path, "aac", "adts", audio, tags);
    case AudioFormat::alac:
        return encodeWithFFmpeg(path, "alac", "ipod", audio, tags);
    }
    throw std::runtime_error("audio fixture: unknown format");
}

void writeEmptyWav(const std::filesystem::path& path, double sampleRate)
{
    Audio none;
    none.sampleRate = sampleRate;
    none.channels.assign(2, {});
    writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, none, {});
}

void writeTruncatedCopy(const std::filesystem::path& from, const std::filesystem::path& to, double keepFraction)
{
    std::ifstream in(from, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw std::runtime_error("audio fixture: cannot read " + from.string());
    const auto keep = std::size_t(double(bytes.size()) * std::clamp(keepFraction, 0.0, 1.0));
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(keep));
    if (!out)
        throw std::runtime_error("audio fixture: cannot write " + to.string());
}

void writeTextFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("audio fixture: cannot write " + path.string());
}

namespace {

void putLE(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

void putBE(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

void putBody(std::string& out, std::uint64_t bytes)
{
    const std::size_t start = out.size();
    out.resize(start + bytes);
    for (std::uint64_t i = 0; i < bytes; ++i)
        out[start + i] = char((i / 2) % 64);
}

} // namespace

std::string wavBytes(std::uint32_t rate, std::uint16_t channels, std::uint64_t bodyBytes,
                     std::optional<std::uint32_t> statedBytes)
{
    const std::uint32_t blockAlign = std::uint32_t(channels) * 2;
    std::string out = "RIFF";
    putLE(out, 36 + bodyBytes, 4);
    out += "WAVEfmt ";
    putLE(out, 16, 4);
    putLE(out, 1, 2); // PCM
    putLE(out, channels, 2);
    putLE(out, rate, 4);
    putLE(out, std::uint64_t(rate) * blockAlign, 4);
    putLE(out, blockAlign, 2);
    putLE(out, 16, 2);
    out += "data";
    putLE(out, statedBytes.value_or(std::uint32_t(bodyBytes)), 4);
    putBody(out, bodyBytes);
    return out;
}

std::string cafBytes(double rate, std::uint32_t channels, std::uint64_t bodyBytes)
{
    std::string out = "caff";
    putBE(out, 1, 2);
    putBE(out, 0, 2);
    out += "desc";
    putBE(out, 32, 8);
    std::uint64_t rateBits = 0;
    std::memcpy(&rateBits, &rate, sizeof rateBits);
    putBE(out, rateBits, 8);
    out += "lpcm";
    putBE(out, 0, 4); // big-endian integer samples
    putBE(out, std::uint64_t(channels) * 2, 4);
    putBE(out, 1, 4);
    putBE(out, channels, 4);
    putBE(out, 16, 4);
    out += "data";
    putBE(out, bodyBytes + 4, 8);
    putBE(out, 0, 4); // edit count
    putBody(out, bodyBytes);
    return out;
}

double rms(const float* samples, std::int64_t frames)
{
    if (frames <= 0)
        return 0.0;
    double sum = 0.0;
    for (std::int64_t i = 0; i < frames; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return std::sqrt(sum / double(frames));
}

double correlation(const float* a, const float* b, std::int64_t frames)
{
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        ab += double(a[i]) * double(b[i]);
        aa += double(a[i]) * double(a[i]);
        bb += double(b[i]) * double(b[i]);
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

} // namespace zelvo::test
