#include "platform/AudioFileReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace zelvo {

namespace {

// Codecs whose container timestamps count samples exactly from the first one, so
// a seek can be made sample-accurate from the landing frame's time stamp. Lossy
// codecs (MP3, AAC) carry priming and bit-reservoir state that makes a seek land
// only approximately; for them the reader decodes from the start and counts.
bool seeksExactly(AVCodecID id)
{
    return id == AV_CODEC_ID_FLAC || (id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT);
}

// Output frames made from one decoded frame at a time: a packet that expands
// a lot (a low rate resampled up, a long frame) is converted in pieces.
constexpr std::int64_t kPiece = 16384;

// More output frames per byte of input than any codec delivers: FLAC packs
// a silent block of 65535 frames into about 20 bytes.
constexpr std::int64_t kMostFramesPerByte = 4096;

// The frames a RIFF WAV file's data chunk states, read from the file's own
// header: FFmpeg drops a data size that reaches past the end of the file and
// estimates the length from what is there, so a cut file would look whole. 0
// when there is no such chunk, or its size is a placeholder that writers which
// cannot seek back leave (0, or 2 GB and more).
std::int64_t wavDataFrames(const std::string& path, int frameBytes)
{
    if (frameBytes <= 0)
        return 0;
    std::ifstream in(path, std::ios::binary);
    const auto le32 = [](const unsigned char* b) {
        return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    };
    unsigned char head[12];
    if (!in.read(reinterpret_cast<char*>(head), 12) || std::memcmp(head, "RIFF", 4) != 0
        || std::memcmp(head + 8, "WAVE", 4) != 0)
        return 0;
    // The chunks before the data are few and short; a header that never gets
    // there is not searched to its end.
    for (int chunk = 0; chunk < 64; ++chunk) {
        unsigned char header[8];
        if (!in.read(reinterpret_cast<char*>(header), 8))
            return 0;
        const std::uint32_t size = le32(header + 4);
        if (std::memcmp(header, "data", 4) == 0)
            return size == 0 || size >= 0x7fff0000u ? 0 : std::int64_t(size) / frameBytes;
        // Chunks are padded to an even size.
        if (!in.seekg(std::streamoff(size) + (size & 1), std::ios::cur))
            return 0;
    }
    return 0;
}

// Decoded frames the decoding thread may hold ready for the converting one.
constexpr int kAhead = 64;
// Each side sleeps until the other has moved this many frames, so the threads
// wake each other once per batch rather than once per frame.
constexpr std::size_t kBatch = kAhead / 4;
// And at most this many bytes of decoded samples, however long a file's frames
// are (a FLAC block may hold 65535 frames of 8 channels). A stereo FLAC file's
// frames reach it before the frame count does.
constexpr std::int64_t kMostQueuedBytes = 1 << 20;

// Whether this thread may run on more than one CPU: on a single one a decoding
// thread only adds switches between the two.
bool severalCpusUsable()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0)
        return true;
    return CPU_COUNT(&set) > 1;
}

// Mixes `channels` channels without known positions (2 to 64) into two, as
// recorders and multitrack exports lay them out: in pairs, the first of each
// pair to the left and the second to the right; an unpaired last channel
// reaches both sides. Each side's channels are weighted equally so that they
// sum to one: full scale on every channel stays full scale. Row-major: the
// left row, then the right, `channels` weights each.
void pairMatrix(int channels, double* matrix)
{
    const int perSide = (channels + 1) / 2;
    const double weight = 1.0 / perSide;
    for (int c = 0; c < channels; ++c) {
        const bool both = channels % 2 == 1 && c == channels - 1;
        matrix[c] = (c % 2 == 0 || both) ? weight : 0.0;
        matrix[channels + c] = (c % 2 == 1 || both) ? weight : 0.0;
    }
}

} // namespace

struct AudioFileReader::Impl {
    std::string path;
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    const AVCodec* decoder = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;

    int outRate = 0;
    // The input format the resampler is set up for.
    AVSampleFormat swrFormat = AV_SAMPLE_FMT_NONE;
    int swrRate = 0;
    AVChannelLayout swrLayout{};

    // Converted frames not yet handed out: [pendingBegin, pendingEnd).
    std::vector<float> pendingLeft, pendingRight;
    std::size_t pendingBegin = 0, pendingEnd = 0;
    // The caller's arrays during a read. While nothing is pending, a conversion
    // whose whole output fits is written there directly, sparing a copy.
    float* directLeft = nullptr;
    float* directRight = nullptr;
    std::int64_t directRoom = 0, directGot = 0;

    std::int64_t inputPosition = 0; // file frames the decoder has delivered
    std::int64_t skipTo = 0;        // file frames before this one are dropped
    bool positionFromTimestamp = false;
    // A decoded frame not yet wholly converted, and its next input frame.
    bool holding = false;
    int frameNext = 0;
    bool draining = false;
    bool finished = false;

    // Demuxing and decoding run on their own thread, started at the first read,
    // while the reading thread converts what it hands over: a bounded queue of
    // decoded frames, each carried with the status that came with it (0 a frame,
    // 1 the end of the stream, < 0 a failure, after which nothing more comes).
    struct Handed {
        AVFrame* frame = nullptr;
        int status = 0;
        std::int64_t bytes = 0;
    };
    std::array<Handed, kAhead> queue{};
    std::size_t queueHead = 0, queueCount = 0;
    std::int64_t queuedBytes = 0;
    std::mutex queueLock;
    std::condition_variable queueReady, queueRoom;
    bool stopping = false;
    bool producerWaits = false, consumerWaits = false;
    std::thread decoding;
    bool started = false;
    bool decodeOnThread = false;
    bool decodeAhead = true;
    std::int64_t streamStart = AV_NOPTS_VALUE; // the stream's start when decoding began
    int failure = 0; // a failure the decoding thread handed over, given again to later reads

    ~Impl()
    {
        stopDecoding();
        for (Handed& h : queue)
            av_frame_free(&h.frame);
        swr_free(&swr);
        av_channel_layout_uninit(&swrLayout);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    // Makes the resampler from `in` to two channels; `byPairs` mixes the input
    // with `pairMatrix` rather than by the channels' positions.
    int setUpResampler(AVChannelLayout& in, AVSampleFormat sampleFormat, int rate, bool byPairs)
    {
        swr_free(&swr);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        int r = swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLTP, outRate, &in, sampleFormat, rate, 0, nullptr);
        // The default mono-to-stereo matrix is 3 dB down on each side; mono
        // material plays at full level on both channels.
        if (r >= 0 && in.nb_channels == 1) {
            const double matrix[2] = {1.0, 1.0};
            r = swr_set_matrix(swr, matrix, 1);
        } else if (r >= 0 && byPairs) {
            std::array<double, 2 * kMostChannels> matrix{};
            pairMatrix(in.nb_channels, matrix.data());
            r = swr_set_matrix(swr, matrix.data(), in.nb_channels);
        }
        if (r >= 0)
            r = swr_init(swr);
        return r;
    }

    int configureResampler(AVSampleFormat sampleFormat, int rate, const AVChannelLayout& layout)
    {
        if (layout.nb_channels <= 0 || rate <= 0 || sampleFormat == AV_SAMPLE_FMT_NONE)
            return AVERROR(EINVAL);
        AVChannelLayout in{};
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&layout) == 0)
            av_channel_layout_default(&in, layout.nb_channels);
        else if (int r = av_channel_layout_copy(&in, &layout); r < 0)
            return r;

        // Channels in an order the resampler knows are mixed by its own rules;
        // any others (more than a known layout holds, or positions it cannot
        // place) by pairs.
        int r = setUpResampler(in, sampleFormat, rate, in.order == AV_CHANNEL_ORDER_UNSPEC);
        if (r == AVERROR(EINVAL) && in.order != AV_CHANNEL_ORDER_UNSPEC && in.nb_channels > 1)
            r = setUpResampler(in, sampleFormat, rate, true);
        av_channel_layout_uninit(&swrLayout);
        if (r >= 0) {
            swrFormat = sampleFormat;
            swrRate = rate;
            r = av_channel_layout_copy(&swrLayout, &layout);
        }
        av_channel_layout_uninit(&in);
        if (r < 0) {
            swr_free(&swr);
            swrFormat = AV_SAMPLE_FMT_NONE;
        }
        return r;
    }

    // Runs the resampler over `frames` input frames (or flushes it when `in` is
    // null) and appends its output to the pending frames.
    int convert(const std::uint8_t** in, int frames)
    {
        if (!swr)
            return 0;
        const int room = swr_get_out_samples(swr, frames);
        if (room < 0)
            return room;
        if (pendingBegin == pendingEnd)
            pendingBegin = pendingEnd = 0;
        // Room for every frame the resampler can give keeps its output exactly as
        // the pending path would have it.
        if (pendingBegin == pendingEnd && directLeft && room <= directRoom - directGot) {
            std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(directLeft + directGot),
                                    reinterpret_cast<std::uint8_t*>(directRight + directGot)};
            const int got = swr_convert(swr, out, room, in, frames);
            if (got < 0)
                return got;
            directGot += got;
            return 0;
        }
        const std::size_t need = pendingEnd + std::size_t(room);
        if (pendingLeft.size() < need) {
            pendingLeft.resize(need);
            pendingRight.resize(need);
        }
        std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(pendingLeft.data() + pendingEnd),
                                reinterpret_cast<std::uint8_t*>(pendingRight.data() + pendingEnd)};
        const int got = swr_convert(swr, out, room, in, frames);
        if (got < 0)
            return got;
        pendingEnd += std::size_t(got);
        return 0;
    }

    // Takes a decoded frame: finds where it lies, drops what comes before the
    // seek target and sets the resampler up for it. Its samples are converted
    // piece by piece from `frameNext` on while `holding`.
    int takeFrame(AVFrame* f)
    {
        if (f->sample_rate < kLowestRate || f->sample_rate > kHighestRate || f->ch_layout.nb_channels <= 0
            || f->ch_layout.nb_channels > kMostChannels)
            return kFormatOutOfRange;
        if (positionFromTimestamp) {
            positionFromTimestamp = false;
            const std::int64_t ts = f->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE)
                return AVERROR(EINVAL);
            // The demuxer may still fill in the stream's start while it reads, so
            // with decoding on its own thread the start read before it began counts.
            const std::int64_t start = decodeOnThread ? streamStart : stream->start_time;
            const std::int64_t origin = start == AV_NOPTS_VALUE ? 0 : start;
            inputPosition = av_rescale_q(ts - origin, stream->time_base, AVRational{1, f->sample_rate});
        }
        const std::int64_t begin = inputPosition;
        inputPosition += f->nb_samples;
        if (inputPosition <= skipTo)
            return 0;
        const int offset = begin < skipTo ? int(skipTo - begin) : 0;

        if (f->format != swrFormat || f->sample_rate != swrRate
            || av_channel_layout_compare(&f->ch_layout, &swrLayout) != 0) {
            if (int r = configureResampler(AVSampleFormat(f->format), f->sample_rate, f->ch_layout); r < 0)
                return r;
        }
        frameNext = offset;
        holding = true;
        return 0;
    }

    // Converts the held frame's next piece: as many input frames as make at
    // most kPiece output frames.
    int convertPiece()
    {
        const auto sampleFormat = AVSampleFormat(frame->format);
        const int bytes = av_get_bytes_per_sample(sampleFormat);
        const int channels = frame->ch_layout.nb_channels;
        const auto most = std::max<std::int64_t>(1, kPiece * std::int64_t(frame->sample_rate) / std::max(outRate, 1));
        const int n = int(std::min<std::int64_t>(frame->nb_samples - frameNext, most));
        const std::uint8_t* in[kMostChannels];
        if (av_sample_fmt_is_planar(sampleFormat)) {
            for (int c = 0; c < channels; ++c)
                in[c] = frame->extended_data[c] + std::size_t(frameNext) * std::size_t(bytes);
        } else {
            in[0] = frame->extended_data[0] + std::size_t(frameNext) * std::size_t(bytes) * std::size_t(channels);
        }
        frameNext += n;
        if (frameNext >= frame->nb_samples) {
            holding = false;
            const int r = convert(in, n);
            av_frame_unref(frame);
            return r;
        }
        return convert(in, n);
    }

    // Gives the decoder its next packet of our stream, or starts draining it at
    // the end of the input.
    int feed()
    {
        int r = av_read_frame(format, packet);
        if (r < 0) {
            // A file cut short ends where its data ends.
            if (r != AVERROR_EOF && !(format->pb && avio_feof(format->pb)))
                return r;
            draining = true;
            return avcodec_send_packet(codec, nullptr);
        }
        if (packet->stream_index != stream->index) {
            av_packet_unref(packet);
            return 0;
        }
        r = avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
        // A damaged packet is skipped; the frames around it still play.
        return r == AVERROR_INVALIDDATA ? 0 : r;
    }

    void stopDecoding()
    {
        if (!decoding.joinable())
            return;
        {
            std::lock_guard<std::mutex> hold(queueLock);
            stopping = true;
        }
        queueRoom.notify_all();
        decoding.join();
    }

    // Waits for room and hands `f` (moved, may be null) and `status` over; false
    // when the reader is closing.
    bool queueFull() const { return queueCount == queue.size() || queuedBytes >= kMostQueuedBytes; }
    // Room for another batch once the queue was full.
    bool queueRoomAgain() const
    {
        return queueCount + kBatch <= queue.size() && queuedBytes < kMostQueuedBytes / 2;
    }

    bool handOver(AVFrame* f, int status)
    {
        std::unique_lock<std::mutex> hold(queueLock);
        if (queueFull()) {
            producerWaits = true;
            // A reader waiting for a whole batch takes what there is instead.
            if (consumerWaits)
                queueReady.notify_one();
            queueRoom.wait(hold, [this] { return stopping || queueRoomAgain(); });
            producerWaits = false;
        }
        if (stopping)
            return false;
        Handed& slot = queue[(queueHead + queueCount) % queue.size()];
        slot.bytes = 0;
        if (f) {
            slot.bytes = std::int64_t(f->nb_samples) * std::max(f->ch_layout.nb_channels, 1)
                * std::max(av_get_bytes_per_sample(AVSampleFormat(f->format)), 1);
            av_frame_move_ref(slot.frame, f);
        }
        slot.status = status;
        ++queueCount;
        queuedBytes += slot.bytes;
        // The reader is woken for a batch, or for the last item.
        const bool wake = consumerWaits && (queueCount >= kBatch || status != 0);
        hold.unlock();
        if (wake)
            queueReady.notify_one();
        return true;
    }

    // The decoding thread: the same steps as the single-threaded `fill`, with
    // every frame handed over instead of converted here.
    void decodeAll(AVFrame* work)
    {
        for (;;) {
            int r = avcodec_receive_frame(codec, work);
            if (r == 0) {
                if (!handOver(work, 0))
                    break;
                continue;
            }
            if (r == AVERROR(EAGAIN) && !draining)
                r = feed();
            else if (r == AVERROR_EOF || r == AVERROR(EAGAIN)) {
                handOver(nullptr, 1);
                break;
            } else if (r == AVERROR_INVALIDDATA)
                r = 0;
            if (r < 0) {
                handOver(nullptr, r);
                break;
            }
        }
        av_frame_free(&work);
    }

    // Starts the decoding thread; false when it cannot run (the reader then
    // decodes on the reading thread).
    bool startDecoding()
    {
        for (Handed& h : queue)
            if (!h.frame && !(h.frame = av_frame_alloc()))
                return false;
        AVFrame* work = av_frame_alloc();
        if (!work)
            return false;
        streamStart = stream->start_time;
        try {
            decoding = std::thread([this, work] { decodeAll(work); });
        } catch (const std::system_error&) {
            AVFrame* unused = work;
            av_frame_free(&unused);
            return false;
        }
        return true;
    }

    // Takes the next handed-over item into `frame`; returns its status.
    int takeHanded()
    {
        std::unique_lock<std::mutex> hold(queueLock);
        if (queueCount == 0) {
            consumerWaits = true;
            // A batch, or whatever there is once the stream has ended or failed or
            // the decoding thread waits for room.
            queueReady.wait(hold, [this] {
                return queueCount >= kBatch
                    || (queueCount > 0
                        && (producerWaits || queue[(queueHead + queueCount - 1) % queue.size()].status != 0));
            });
            consumerWaits = false;
        }
        Handed& slot = queue[queueHead];
        const int status = slot.status;
        if (status == 0)
            av_frame_move_ref(frame, slot.frame);
        queuedBytes -= slot.bytes;
        queueHead = (queueHead + 1) % queue.size();
        --queueCount;
        const bool wake = producerWaits && queueRoomAgain();
        hold.unlock();
        if (wake)
            queueRoom.notify_one();
        return status;
    }

    // Makes sure pending or directly written frames exist from the decoding
    // thread's frames: > 0 when they do, 0 at the end, < 0 on failure.
    int fillHanded()
    {
        while (pendingBegin == pendingEnd && directGot == 0) {
            if (holding) {
                if (int r = convertPiece(); r < 0)
                    return r;
                continue;
            }
            if (failure < 0)
                return failure;
            if (finished)
                return 0;
            int r = takeHanded();
            if (r == 0) {
                r = takeFrame(frame);
                if (!holding)
                    av_frame_unref(frame);
            } else if (r == 1) {
                finished = true;
                r = convert(nullptr, 0); // the resampler's held-back tail
            } else {
                failure = r;
            }
            if (r < 0)
                return r;
        }
        return 1;
    }

    // Makes sure pending or directly written frames exist: > 0 when they do, 0
    // at the end, < 0 on failure.
    int fill()
    {
        if (!started) {
            started = true;
            decodeOnThread = decodeAhead && severalCpusUsable() && startDecoding();
        }
        if (decodeOnThread)
            return fillHanded();
        while (pendingBegin == pendingEnd && directGot == 0) {
            if (holding) {
                if (int r = convertPiece(); r < 0)
                    return r;
                continue;
            }
            if (finished)
                return 0;
            int r = avcodec_receive_frame(codec, frame);
            if (r == 0) {
                r = takeFrame(frame);
                if (!holding)
                    av_frame_unref(frame);
            } else if (r == AVERROR(EAGAIN) && !draining) {
                r = feed();
            } else if (r == AVERROR_EOF || r == AVERROR(EAGAIN)) {
                finished = true;
                r = convert(nullptr, 0); // the resampler's held-back tail
            } else if (r == AVERROR_INVALIDDATA) {
                r = 0;
            }
            if (r < 0)
                return r;
        }
        return 1;
    }
};

AudioFileReader::AudioFileReader() : d_(std::make_unique<Impl>()) {}
AudioFileReader::~AudioFileReader() = default;

int AudioFileReader::open(const std::string& path)
{
    d_->path = path;
    return avformat_open_input(&d_->format, path.c_str(), nullptr, nullptr);
}

int AudioFileReader::readFormat()
{
    if (!d_->format)
        return AVERROR(EINVAL);
    if (int r = avformat_find_stream_info(d_->format, nullptr); r < 0)
        return r;
    const int index = av_find_best_stream(d_->format, AVMEDIA_TYPE_AUDIO, -1, -1, &d_->decoder, 0);
    if (index == AVERROR_STREAM_NOT_FOUND)
        return kNoAudio;
    if (index < 0)
        return index;
    d_->stream = d_->format->streams[index];
    // Only our stream is demuxed (cover art and other tracks are skipped).
    for (unsigned i = 0; i < d_->format->nb_streams; ++i) {
        if (int(i) != index)
            d_->format->streams[i]->discard = AVDISCARD_ALL;
    }
    return 0;
}

double AudioFileReader::fileRate() const
{
    return d_->stream ? double(d_->stream->codecpar->sample_rate) : 0.0;
}

int AudioFileReader::channels() const
{
    return d_->stream ? d_->stream->codecpar->ch_layout.nb_channels : 0;
}

std::int64_t AudioFileReader::lengthFrames() const
{
    if (!d_->stream)
        return 0;
    const AVRational perFrame{1, d_->stream->codecpar->sample_rate};
    if (d_->stream->duration != AV_NOPTS_VALUE && d_->stream->duration > 0)
        return av_rescale_q(d_->stream->duration, d_->stream->time_base, perFrame);
    if (d_->format->duration != AV_NOPTS_VALUE && d_->format->duration > 0)
        return av_rescale_q(d_->format->duration, AV_TIME_BASE_Q, perFrame);
    return 0;
}

std::int64_t AudioFileReader::statedFrames() const
{
    if (!d_->stream)
        return 0;
    const AVCodecParameters* codec = d_->stream->codecpar;
    const bool pcm = av_get_exact_bits_per_sample(codec->codec_id) > 0;
    const std::string_view container = d_->format->iformat->name;
    // A PCM frame's size follows from the sample format and the channels; the
    // header's block alignment is not always written right, and the decoder
    // does not read it either.
    if (container == "wav")
        return pcm ? wavDataFrames(d_->path, av_get_exact_bits_per_sample(codec->codec_id) / 8
                                                 * codec->ch_layout.nb_channels)
                   : 0;
    // The demuxer takes these from the header; a length FFmpeg estimated from
    // the bit rate or the last timestamp is not a statement of the file's.
    const bool fromHeader = (container == "flac" || (container == "aiff" && pcm))
                            && d_->format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM
                            && d_->stream->duration != AV_NOPTS_VALUE && d_->stream->duration > 0;
    return fromHeader ? av_rescale_q(d_->stream->duration, d_->stream->time_base, AVRational{1, codec->sample_rate})
                      : 0;
}

std::int64_t AudioFileReader::mostFileFrames() const
{
    constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::max();
    if (!d_->stream || !d_->format->pb)
        return unknown;
    const std::int64_t bytes = avio_size(d_->format->pb);
    if (bytes < 0)
        return unknown;
    const std::int64_t bits = av_get_bits_per_sample(d_->stream->codecpar->codec_id);
    const std::int64_t channels = std::max(d_->stream->codecpar->ch_layout.nb_channels, 1);
    if (bits > 0)
        return bytes * 8 / (bits * channels);
    return bytes > unknown / kMostFramesPerByte ? unknown : bytes * kMostFramesPerByte;
}

bool AudioFileReader::mostFileFramesExact() const
{
    return d_->stream && d_->format->pb && avio_size(d_->format->pb) >= 0
           && av_get_bits_per_sample(d_->stream->codecpar->codec_id) > 0;
}

int AudioFileReader::setOutputRate(double sampleRate)
{
    if (!d_->stream || !d_->decoder)
        return AVERROR(EINVAL);
    // libswresample takes whole rates.
    if (!std::isfinite(sampleRate) || sampleRate < 1.0 || sampleRate > 10'000'000.0)
        return AVERROR(EINVAL);
    d_->outRate = int(std::lround(sampleRate));

    d_->codec = avcodec_alloc_context3(d_->decoder);
    d_->packet = av_packet_alloc();
    d_->frame = av_frame_alloc();
    if (!d_->codec || !d_->packet || !d_->frame)
        return AVERROR(ENOMEM);
    if (int r = avcodec_parameters_to_context(d_->codec, d_->stream->codecpar); r < 0)
        return r;
    d_->codec->pkt_timebase = d_->stream->time_base;
    if (int r = avcodec_open2(d_->codec, d_->decoder, nullptr); r < 0)
        return r;
    // Set up the conversion now when the decoder already knows its output, so a
    // format the resampler refuses fails here rather than mid-read; a decoder
    // that learns its format from the first frame is set up then.
    if (d_->codec->sample_fmt != AV_SAMPLE_FMT_NONE && d_->codec->sample_rate > 0
        && d_->codec->ch_layout.nb_channels > 0)
        return d_->configureResampler(d_->codec->sample_fmt, d_->codec->sample_rate, d_->codec->ch_layout);
    return 0;
}

int AudioFileReader::seek(std::int64_t fileFrame)
{
    if (!d_->codec)
        return AVERROR(EINVAL);
    if (fileFrame <= 0)
        return 0;
    d_->skipTo = fileFrame;
    const int rate = d_->stream->codecpar->sample_rate;
    const bool seekable = d_->format->pb && (d_->format->pb->seekable & AVIO_SEEKABLE_NORMAL);
    // Short distances are cheaper to decode through than to seek.
    if (!seeksExactly(d_->stream->codecpar->codec_id) || !seekable || fileFrame < rate)
        return 0;
    const std::int64_t origin = d_->stream->start_time == AV_NOPTS_VALUE ? 0 : d_->stream->start_time;
    const std::int64_t ts = origin + av_rescale_q(fileFrame, AVRational{1, rate}, d_->stream->time_base);
    if (int r = av_seek_frame(d_->format, d_->stream->index, ts, AVSEEK_FLAG_BACKWARD); r < 0)
        return r;
    avcodec_flush_buffers(d_->codec);
    d_->positionFromTimestamp = true;
    return 0;
}

void AudioFileReader::setDecodeAhead(bool on)
{
    d_->decodeAhead = on;
}

std::int64_t AudioFileReader::read(float* left, float* right, std::int64_t frames)
{
    if (!d_->codec)
        return AVERROR(EINVAL);
    std::int64_t done = 0;
    while (done < frames) {
        if (d_->pendingBegin == d_->pendingEnd) {
            d_->directLeft = left + done;
            d_->directRight = right + done;
            d_->directRoom = frames - done;
            d_->directGot = 0;
            const int r = d_->fill();
            const std::int64_t direct = d_->directGot;
            d_->directLeft = d_->directRight = nullptr;
            d_->directRoom = d_->directGot = 0;
            if (r < 0)
                return r;
            if (r == 0)
                break;
            done += direct;
            continue;
        }
        const auto n = std::min<std::int64_t>(frames - done, std::int64_t(d_->pendingEnd - d_->pendingBegin));
        std::memcpy(left + done, d_->pendingLeft.data() + d_->pendingBegin, std::size_t(n) * sizeof(float));
        std::memcpy(right + done, d_->pendingRight.data() + d_->pendingBegin, std::size_t(n) * sizeof(float));
        d_->pendingBegin += std::size_t(n);
        done += n;
    }
    return done;
}

} // namespace zelvo
