#include "video/FfmpegEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "video/AviFile.h"

namespace qv {

namespace {

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// FFmpeg reports failures as negative numbers: each becomes an exception naming the step.
int Check(int result, const char* step) {
    if (result < 0) throw Exception(Format("%s: %s", step, ErrorText(result).c_str()));
    return result;
}

const char* FormatName(TVideoFormat f) {
    switch (f) {
        case TVideoFormat::Mp4: return "MP4";
        case TVideoFormat::WebM: return "WebM";
        case TVideoFormat::Gif: return "GIF";
        default: return "AVI";
    }
}

const AVCodec* FindEncoder(const char* name, TVideoFormat format) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr)
        throw Exception(Format("This FFmpeg has no %s encoder, which %s files need", name, FormatName(format)));
    return codec;
}

struct TCodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TSwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct TSwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct TFifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct TGraphFree {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};

using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;

TFramePtr NewFrame() {
    TFramePtr f(av_frame_alloc());
    if (!f) throw std::bad_alloc();
    return f;
}

}  // namespace

void QualityRange(TVideoFormat format, int32_t& min, int32_t& max, int32_t& byDefault) {
    min = 0;
    switch (format) {
        case TVideoFormat::Mp4: max = 51; byDefault = 18; break;
        case TVideoFormat::WebM: max = 63; byDefault = 32; break;
        default: max = -1; byDefault = -1; break;
    }
}

struct TFfmpegEncoder::TImpl {
    TEncoderSettings S;
    AVFormatContext* Mux = nullptr;  // freed in the destructor, with its file
    bool HeaderWritten = false;
    bool TrailerTried = false;  // a second trailer would free the muxer's state twice
    bool Finished = false;
    std::unique_ptr<AVPacket, TPacketFree> Packet;

    // Video.
    TCodecPtr Video;
    AVStream* VideoStream = nullptr;
    int32_t CodedWidth = 0, CodedHeight = 0;
    TFramePtr Rgb;  // the picture, padded to the coded size
    TFramePtr Yuv;
    std::unique_ptr<SwsContext, TSwsFree> Scaler;
    std::unique_ptr<AVFilterGraph, TGraphFree> Graph;  // GIF: palette per frame
    AVFilterContext* Source = nullptr;
    AVFilterContext* Sink = nullptr;
    int64_t FramesIn = 0;

    // Sound.
    TCodecPtr Audio;
    AVStream* AudioStream = nullptr;
    std::unique_ptr<TFileStream> Wav;
    TWaveInfo Wave;
    int64_t WaveBlocksRead = 0;
    int64_t WaveBlocksWanted = 0;  // the sound is cut at the movie's end
    std::unique_ptr<SwrContext, TSwrFree> Resampler;
    std::unique_ptr<AVAudioFifo, TFifoFree> Fifo;
    int64_t SamplesOut = 0;

    ~TImpl() {
        if (Mux != nullptr) {
            // The GIF muxer holds back one packet and frees it only in its trailer: an
            // export that stops early still ends the file (which is then removed).
            if (HeaderWritten && !TrailerTried && S.Format == TVideoFormat::Gif && Mux->pb != nullptr)
                av_write_trailer(Mux);
            if (Mux->pb != nullptr) avio_closep(&Mux->pb);
            avformat_free_context(Mux);
        }
    }

    void Open(const std::string& path);
    void OpenVideo();
    void OpenGifPalette();
    void OpenAudio();
    void EncodeVideo(AVFrame* frame);
    void Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame);
    void FeedAudio(int64_t untilBlock, bool last);
    void EncodeAudioFrames(bool last);
};

void TFfmpegEncoder::TImpl::Open(const std::string& path) {
    static std::once_flag quiet;
    // The libraries' chatter (x264's statistics and the like) is not for our users.
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });

    const char* muxer = S.Format == TVideoFormat::Mp4 ? "mp4" : S.Format == TVideoFormat::WebM ? "webm" : "gif";
    Check(avformat_alloc_output_context2(&Mux, nullptr, muxer, path.c_str()), "Cannot start the movie");
    Packet.reset(av_packet_alloc());
    if (!Packet) throw std::bad_alloc();
    OpenVideo();
    if (!S.WavFileName.empty() && S.Format != TVideoFormat::Gif) OpenAudio();

    const int r = avio_open(&Mux->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) throw Exception(Format("Cannot create file \"%s\". %s", path.c_str(), ErrorText(r).c_str()));
    AVDictionary* options = nullptr;
    if (S.Format == TVideoFormat::Mp4) av_dict_set(&options, "movflags", "+faststart", 0);
    if (S.Format == TVideoFormat::Gif) av_dict_set(&options, "loop", "0", 0);  // forever
    const int w = avformat_write_header(Mux, &options);
    av_dict_free(&options);
    Check(w, "Cannot write the movie's header");
    HeaderWritten = true;
}

void TFfmpegEncoder::TImpl::OpenVideo() {
    const bool gif = S.Format == TVideoFormat::Gif;
    const AVCodec* codec =
        FindEncoder(S.Format == TVideoFormat::Mp4 ? "libx264" : S.Format == TVideoFormat::WebM ? "libvpx-vp9" : "gif",
                    S.Format);
    Video.reset(avcodec_alloc_context3(codec));
    if (!Video) throw std::bad_alloc();
    // 4:2:0 colour covers 2 x 2 pixels per sample: odd sides grow by a repeated edge.
    CodedWidth = gif ? S.Width : S.Width + (S.Width & 1);
    CodedHeight = gif ? S.Height : S.Height + (S.Height & 1);
    AVCodecContext& v = *Video;
    v.width = CodedWidth;
    v.height = CodedHeight;
    v.sample_aspect_ratio = AVRational{1, 1};
    // GIF delays are counted in hundredths of a second.
    v.time_base = gif ? AVRational{1, 100} : AVRational{1, S.Fps};
    v.framerate = AVRational{S.Fps, 1};
    v.pix_fmt = gif ? AV_PIX_FMT_PAL8 : AV_PIX_FMT_YUV420P;
    v.thread_count = 0;  // as many as the machine has
    if (!gif) {
        // What the scaler below produces: BT.601 colours in the limited range.
        v.color_range = AVCOL_RANGE_MPEG;
        v.colorspace = AVCOL_SPC_SMPTE170M;
        v.color_primaries = AVCOL_PRI_SMPTE170M;
        v.color_trc = AVCOL_TRC_SMPTE170M;
        v.gop_size = 10 * S.Fps;  // a key frame every 10 s keeps seeking quick
    }
    if ((Mux->oformat->flags & AVFMT_GLOBALHEADER) != 0) v.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    int32_t qmin = 0, qmax = 0, qdefault = 0;
    QualityRange(S.Format, qmin, qmax, qdefault);
    const int32_t crf = S.Quality < 0 ? qdefault : S.Quality;
    AVDictionary* options = nullptr;
    if (S.Format == TVideoFormat::Mp4) {
        av_dict_set_int(&options, "crf", crf, 0);
    } else if (S.Format == TVideoFormat::WebM) {
        av_dict_set_int(&options, "crf", crf, 0);
        v.bit_rate = 0;  // constant quality, no bit rate target
        // libvpx's default speed takes seconds per HD frame; 4 is its usual trade-off.
        av_dict_set(&options, "cpu-used", "4", 0);
        av_dict_set(&options, "row-mt", "1", 0);
    }
    const int r = avcodec_open2(&v, codec, &options);
    av_dict_free(&options);
    Check(r, Format("Cannot open the %s encoder", codec->name).c_str());

    VideoStream = avformat_new_stream(Mux, nullptr);
    if (VideoStream == nullptr) throw std::bad_alloc();
    Check(avcodec_parameters_from_context(VideoStream->codecpar, &v), "Cannot describe the video stream");
    VideoStream->time_base = v.time_base;
    VideoStream->avg_frame_rate = v.framerate;

    Rgb = NewFrame();
    Rgb->format = AV_PIX_FMT_BGR0;
    Rgb->width = CodedWidth;
    Rgb->height = CodedHeight;
    Check(av_frame_get_buffer(Rgb.get(), 0), "Cannot allocate a frame");
    if (gif) {
        OpenGifPalette();
    } else {
        Yuv = NewFrame();
        Yuv->format = AV_PIX_FMT_YUV420P;
        Yuv->width = CodedWidth;
        Yuv->height = CodedHeight;
        Check(av_frame_get_buffer(Yuv.get(), 0), "Cannot allocate a frame");
        Scaler.reset(sws_getContext(CodedWidth, CodedHeight, AV_PIX_FMT_BGR0, CodedWidth, CodedHeight,
                                    AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
        if (!Scaler) throw Exception("Cannot convert the pictures' colours");
    }
}

void TFfmpegEncoder::TImpl::OpenGifPalette() {
    // Each frame gets its own 256-colour palette, chosen from that frame's colours, and is
    // dithered against it: a cross-dissolve moves through colours no single palette holds.
    Graph.reset(avfilter_graph_alloc());
    if (!Graph) throw std::bad_alloc();
    const std::string args =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=1/100:pixel_aspect=1/1", CodedWidth, CodedHeight,
               int(AV_PIX_FMT_BGR0));
    Check(avfilter_graph_create_filter(&Source, avfilter_get_by_name("buffer"), "in", args.c_str(), nullptr,
                                       Graph.get()),
          "Cannot set up the GIF palette");
    Check(avfilter_graph_create_filter(&Sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                       Graph.get()),
          "Cannot set up the GIF palette");
    const AVPixelFormat pal8[] = {AV_PIX_FMT_PAL8, AV_PIX_FMT_NONE};
    Check(av_opt_set_int_list(Sink, "pix_fmts", pal8, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN),
          "Cannot set up the GIF palette");

    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (outputs == nullptr || inputs == nullptr) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        throw std::bad_alloc();
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = Source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = Sink;
    const int r = avfilter_graph_parse_ptr(Graph.get(),
                                           "split[a][b];[a]palettegen=stats_mode=single:reserve_transparent=0[p];"
                                           "[b][p]paletteuse=new=1:dither=sierra2_4a",
                                           &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    Check(r, "Cannot set up the GIF palette");
    Check(avfilter_graph_config(Graph.get(), nullptr), "Cannot set up the GIF palette");
}

void TFfmpegEncoder::TImpl::OpenAudio() {
    Wav = std::make_unique<TFileStream>(S.WavFileName, fmOpenRead | fmShareDenyNone);
    if (ReadWaveInfo(*Wav, Wave) != AVIERR_OK)
        throw Exception(Format("The sound file \"%s\" is not a PCM WAV file", S.WavFileName.c_str()));
    if (Wave.Channels > 8)
        throw Exception(Format("The sound file \"%s\" has %d channels; at most 8 can be used",
                               S.WavFileName.c_str(), int(Wave.Channels)));

    const bool mp4 = S.Format == TVideoFormat::Mp4;
    const AVCodec* codec = FindEncoder(mp4 ? "aac" : "libopus", S.Format);
    Audio.reset(avcodec_alloc_context3(codec));
    if (!Audio) throw std::bad_alloc();
    AVCodecContext& a = *Audio;
    a.sample_fmt = mp4 ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
    // Opus runs at 48 kHz; AAC takes the file's rate when it is one of its own.
    int rate = 48000;
    if (mp4 && codec->supported_samplerates != nullptr)
        for (const int* r = codec->supported_samplerates; *r != 0; ++r)
            if (uint32_t(*r) == Wave.SamplesPerSec) rate = *r;
    a.sample_rate = rate;
    av_channel_layout_default(&a.ch_layout, std::min<int>(Wave.Channels, 2));
    a.bit_rate = mp4 ? 192000 : 128000;
    a.time_base = AVRational{1, rate};
    if ((Mux->oformat->flags & AVFMT_GLOBALHEADER) != 0) a.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(&a, codec, nullptr), Format("Cannot open the %s encoder", codec->name).c_str());

    AudioStream = avformat_new_stream(Mux, nullptr);
    if (AudioStream == nullptr) throw std::bad_alloc();
    Check(avcodec_parameters_from_context(AudioStream->codecpar, &a), "Cannot describe the sound stream");
    AudioStream->time_base = a.time_base;

    AVChannelLayout in{};
    av_channel_layout_default(&in, Wave.Channels);
    SwrContext* swr = nullptr;
    const int r = swr_alloc_set_opts2(&swr, &a.ch_layout, a.sample_fmt, a.sample_rate, &in, AV_SAMPLE_FMT_FLT,
                                      int(Wave.SamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&in);
    Resampler.reset(swr);
    Check(r, "Cannot convert the sound");
    Check(swr_init(swr), "Cannot convert the sound");
    Fifo.reset(av_audio_fifo_alloc(a.sample_fmt, a.ch_layout.nb_channels, std::max(a.frame_size, 1024)));
    if (!Fifo) throw std::bad_alloc();

    const int64_t blocks = Wave.DataSize / Wave.BlockAlign;
    WaveBlocksWanted = std::min<int64_t>(blocks, int64_t(S.FrameCount) * Wave.SamplesPerSec / S.Fps);
}

// Reads the WAV's blocks up to untilBlock, converts them to the encoder's format and
// encodes every whole encoder frame they give; last also drains the resampler and sends
// what is left as a short final frame.
void TFfmpegEncoder::TImpl::FeedAudio(int64_t untilBlock, bool last) {
    if (!Audio) return;
    untilBlock = std::min(untilBlock, WaveBlocksWanted);
    constexpr int64_t kBlocks = 4096;
    std::vector<uint8_t> raw;
    std::vector<float> samples;
    const int channels = Wave.Channels;
    const int bytes = (Wave.BitsPerSample + 7) / 8;
    while (WaveBlocksRead < untilBlock) {
        const int64_t n = std::min(kBlocks, untilBlock - WaveBlocksRead);
        raw.resize(size_t(n * Wave.BlockAlign));
        Wav->SetPosition(Wave.DataOffset + WaveBlocksRead * Wave.BlockAlign);
        Wav->ReadBuffer(raw.data(), int64_t(raw.size()));
        samples.resize(size_t(n * channels));
        // PCM: 8-bit samples are unsigned, wider ones signed little-endian, left-aligned
        // in whole bytes.
        for (int64_t k = 0; k < n * channels; ++k) {
            const uint8_t* p = raw.data() + k * bytes;
            float v = 0;
            if (bytes == 1) {
                v = (float(p[0]) - 128.0f) / 128.0f;
            } else {
                uint32_t u = 0;
                for (int b = 0; b < bytes; ++b) u |= uint32_t(p[b]) << (8 * (4 - bytes + b));
                v = float(int32_t(u)) / 2147483648.0f;
            }
            samples[size_t(k)] = v;
        }
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples.data())};
        const int capacity = swr_get_out_samples(Resampler.get(), int(n));
        Check(av_audio_fifo_realloc(Fifo.get(), av_audio_fifo_size(Fifo.get()) + capacity), "Cannot convert the sound");
        TFramePtr out = NewFrame();
        out->format = Audio->sample_fmt;
        out->nb_samples = std::max(capacity, 1);
        Check(av_channel_layout_copy(&out->ch_layout, &Audio->ch_layout), "Cannot convert the sound");
        Check(av_frame_get_buffer(out.get(), 0), "Cannot convert the sound");
        const int got = Check(swr_convert(Resampler.get(), out->data, capacity, in, int(n)), "Cannot convert the sound");
        Check(av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(out->data), got), "Cannot convert the sound");
        WaveBlocksRead += n;
    }
    if (last) {
        const int capacity = swr_get_out_samples(Resampler.get(), 0);
        if (capacity > 0) {
            TFramePtr out = NewFrame();
            out->format = Audio->sample_fmt;
            out->nb_samples = capacity;
            Check(av_channel_layout_copy(&out->ch_layout, &Audio->ch_layout), "Cannot convert the sound");
            Check(av_frame_get_buffer(out.get(), 0), "Cannot convert the sound");
            const int got =
                Check(swr_convert(Resampler.get(), out->data, capacity, nullptr, 0), "Cannot convert the sound");
            Check(av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(out->data), got),
                  "Cannot convert the sound");
        }
    }
    EncodeAudioFrames(last);
}

void TFfmpegEncoder::TImpl::EncodeAudioFrames(bool last) {
    const int frameSize = Audio->frame_size > 0 ? Audio->frame_size : 1024;
    while (av_audio_fifo_size(Fifo.get()) >= frameSize || (last && av_audio_fifo_size(Fifo.get()) > 0)) {
        const int n = std::min(frameSize, av_audio_fifo_size(Fifo.get()));
        TFramePtr frame = NewFrame();
        frame->format = Audio->sample_fmt;
        frame->nb_samples = n;
        frame->sample_rate = Audio->sample_rate;
        Check(av_channel_layout_copy(&frame->ch_layout, &Audio->ch_layout), "Cannot encode the sound");
        Check(av_frame_get_buffer(frame.get(), 0), "Cannot encode the sound");
        if (av_audio_fifo_read(Fifo.get(), reinterpret_cast<void**>(frame->data), n) != n)
            throw Exception("Cannot encode the sound");
        frame->pts = SamplesOut;
        SamplesOut += n;
        Encode(Audio.get(), AudioStream, frame.get());
    }
    if (last) Encode(Audio.get(), AudioStream, nullptr);
}

void TFfmpegEncoder::TImpl::Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
    Check(avcodec_send_frame(codec, frame), "Cannot encode the movie");
    for (;;) {
        const int r = avcodec_receive_packet(codec, Packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
        Check(r, "Cannot encode the movie");
        av_packet_rescale_ts(Packet.get(), codec->time_base, stream->time_base);
        Packet->stream_index = stream->index;
        const int w = av_interleaved_write_frame(Mux, Packet.get());  // takes the packet
        Check(w, "Cannot write the movie");
    }
}

void TFfmpegEncoder::TImpl::EncodeVideo(AVFrame* frame) {
    if (!Graph) {
        Encode(Video.get(), VideoStream, frame);
        return;
    }
    Check(av_buffersrc_add_frame_flags(Source, frame, frame != nullptr ? AV_BUFFERSRC_FLAG_KEEP_REF : 0),
          "Cannot choose the GIF palette");
    for (;;) {
        TFramePtr out = NewFrame();
        const int r = av_buffersink_get_frame(Sink, out.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        Check(r, "Cannot choose the GIF palette");
        Encode(Video.get(), VideoStream, out.get());
    }
    if (frame == nullptr) Encode(Video.get(), VideoStream, nullptr);
}

TFfmpegEncoder::TFfmpegEncoder(const std::string& path, const TEncoderSettings& settings)
    : F(std::make_unique<TImpl>()) {
    if (settings.Format == TVideoFormat::Avi) throw Exception("AVI movies are written by TAviWriter");
    if (settings.Width <= 0 || settings.Height <= 0) throw Exception("Invalid bitmap");
    if (settings.Fps <= 0) throw Exception("The frame rate must be at least 1");
    F->S = settings;
    F->Open(path);
}

TFfmpegEncoder::~TFfmpegEncoder() = default;

void TFfmpegEncoder::AddFrame(const TBitmap& picture) {
    TImpl& f = *F;
    if (f.Finished) throw Exception("The movie is already complete");
    if (picture.Width() != f.S.Width || picture.Height() != f.S.Height || picture.PixelFormat() != pf32bit)
        throw Exception("A frame does not have the movie's size");
    Check(av_frame_make_writable(f.Rgb.get()), "Cannot allocate a frame");
    // Rows top down, each padded on the right (and the last repeated below) up to the
    // coded size.
    const size_t rowBytes = size_t(f.S.Width) * 4;
    for (int32_t y = 0; y < f.CodedHeight; ++y) {
        uint8_t* out = f.Rgb->data[0] + int64_t(y) * f.Rgb->linesize[0];
        const uint8_t* in = picture.ScanLine(std::min(y, f.S.Height - 1));
        std::memcpy(out, in, rowBytes);
        if (f.CodedWidth > f.S.Width) std::memcpy(out + rowBytes, in + rowBytes - 4, 4);
    }
    const int64_t index = f.FramesIn++;
    if (f.Graph) {
        f.Rgb->pts = index * 100 / f.S.Fps;
        f.EncodeVideo(f.Rgb.get());
    } else {
        Check(av_frame_make_writable(f.Yuv.get()), "Cannot allocate a frame");
        sws_scale(f.Scaler.get(), f.Rgb->data, f.Rgb->linesize, 0, f.CodedHeight, f.Yuv->data, f.Yuv->linesize);
        f.Yuv->pts = index;
        f.EncodeVideo(f.Yuv.get());
    }
    // The sound follows up to the end of this frame, so the file stays interleaved.
    if (f.Audio) f.FeedAudio((index + 1) * f.Wave.SamplesPerSec / f.S.Fps, false);
}

void TFfmpegEncoder::Finish() {
    TImpl& f = *F;
    if (f.Finished) return;
    if (f.FramesIn == 0) throw Exception("A movie needs at least one frame");
    f.EncodeVideo(nullptr);
    if (f.Audio) f.FeedAudio(f.WaveBlocksWanted, true);
    f.TrailerTried = true;
    Check(av_write_trailer(f.Mux), "Cannot complete the movie");
    // Closing writes what is still buffered: a full disk can show only here.
    const int r = avio_closep(&f.Mux->pb);
    if (r < 0 || f.Mux->pb != nullptr) Check(r < 0 ? r : AVERROR(EIO), "Cannot write the movie");
    f.Finished = true;
}

}  // namespace qv
