#include "io/encode.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
}

namespace testing_support {
namespace {

void check(int rc, const char* what) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (rc < 0) throw std::runtime_error(std::string(what) + ": " + av_make_error_string(text, sizeof text, rc));
}

// An output file with one stream and its encoder, closed on destruction.
class Writer {
public:
    Writer(const std::filesystem::path& path, const std::string& muxer, AVCodecID id) {
        check(avformat_alloc_output_context2(&out_, nullptr, muxer.c_str(), path.c_str()), "muxer");
        const AVCodec* encoder = avcodec_find_encoder(id);
        if (encoder == nullptr) throw std::runtime_error("no encoder");
        stream_ = avformat_new_stream(out_, nullptr);
        codec_ = avcodec_alloc_context3(encoder);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!stream_ || !codec_ || !packet_ || !frame_) throw std::runtime_error("allocation");
        if ((out_->oformat->flags & AVFMT_GLOBALHEADER) != 0) codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        path_ = path.string();
    }
    ~Writer() {
        if (out_ != nullptr && out_->pb != nullptr) avio_closep(&out_->pb);
        avformat_free_context(out_);
        avcodec_free_context(&codec_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
    }
    AVCodecContext* codec() { return codec_; }
    AVFrame* frame() { return frame_; }

    // options: key=value pairs separated by colons.
    void open(const char* options) {
        AVDictionary* dict = nullptr;
        check(av_dict_parse_string(&dict, options, "=", ":", 0), "options");
        const int rc = avcodec_open2(codec_, codec_->codec, &dict);
        av_dict_free(&dict);
        check(rc, "encoder");
        check(avcodec_parameters_from_context(stream_->codecpar, codec_), "parameters");
        stream_->time_base = codec_->time_base;
        if ((out_->oformat->flags & AVFMT_NOFILE) == 0) check(avio_open(&out_->pb, path_.c_str(), AVIO_FLAG_WRITE), "file");
        check(avformat_write_header(out_, nullptr), "header");
    }
    // Encodes frame (null: the end) and writes the packets that come out.
    void encode(const AVFrame* frame) {
        check(avcodec_send_frame(codec_, frame), "send");
        for (;;) {
            const int rc = avcodec_receive_packet(codec_, packet_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc, "receive");
            // MP4 ends its edit list with the last packet's duration: a
            // packet without one would be marked for discarding.
            if (packet_->duration == 0 && codec_->codec_type == AVMEDIA_TYPE_VIDEO) packet_->duration = 1;
            av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            check(av_interleaved_write_frame(out_, packet_), "write");
        }
    }
    void finish() {
        encode(nullptr);
        check(av_write_trailer(out_), "trailer");
    }

private:
    std::string path_;
    AVFormatContext* out_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

}  // namespace

bool haveEncoder(AVCodecID codec) { return avcodec_find_encoder(codec) != nullptr; }

void writeClip(const std::filesystem::path& path, const ClipFormat& format, const std::vector<WideLuma>& lumas) {
    Writer writer(path, format.muxer, format.codec);
    AVCodecContext* c = writer.codec();
    c->width = format.w;
    c->height = format.h;
    c->pix_fmt = format.pixels;
    c->time_base = AVRational{1, 25};
    c->framerate = AVRational{25, 1};
    c->gop_size = 12;
    c->max_b_frames = format.maxBFrames;
    c->bit_rate = format.bitRate;
    writer.open(format.codec == AV_CODEC_ID_FFV1 ? "level=3:slicecrc=1" : "");

    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format.pixels);
    const bool rgb = (desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const uint16_t neutral = static_cast<uint16_t>(1u << (desc->comp[0].depth - 1));
    std::vector<uint16_t> row(static_cast<size_t>(format.w));
    AVFrame* f = writer.frame();
    for (size_t t = 0; t < lumas.size(); ++t) {
        av_frame_unref(f);
        f->format = format.pixels;
        f->width = format.w;
        f->height = format.h;
        check(av_frame_get_buffer(f, 0), "frame");
        // The line writer ORs samples into place.
        for (AVBufferRef* buffer : f->buf) {
            if (buffer != nullptr) std::memset(buffer->data, 0, buffer->size);
        }
        for (int comp = 0; comp < desc->nb_components; ++comp) {
            const bool chroma = !rgb && (comp == 1 || comp == 2);
            const int cw = chroma ? AV_CEIL_RSHIFT(format.w, desc->log2_chroma_w) : format.w;
            const int ch = chroma ? AV_CEIL_RSHIFT(format.h, desc->log2_chroma_h) : format.h;
            for (int y = 0; y < ch; ++y) {
                for (int x = 0; x < cw; ++x) {
                    row[static_cast<size_t>(x)] =
                        chroma ? neutral : lumas[t][static_cast<size_t>(y) * static_cast<size_t>(format.w) + x];
                }
                av_write_image_line2(row.data(), f->data, f->linesize, desc, 0, y, comp, cw, 2);
            }
        }
        f->pts = format.pts.empty() ? static_cast<int64_t>(t) : format.pts[t];
        writer.encode(f);
    }
    writer.finish();
}

void writeAudioOnly(const std::filesystem::path& path) {
    Writer writer(path, "matroska", AV_CODEC_ID_PCM_S16LE);
    AVCodecContext* c = writer.codec();
    c->sample_fmt = AV_SAMPLE_FMT_S16;
    c->sample_rate = 8000;
    c->time_base = AVRational{1, 8000};
    av_channel_layout_default(&c->ch_layout, 1);
    writer.open("");
    AVFrame* f = writer.frame();
    f->format = AV_SAMPLE_FMT_S16;
    f->nb_samples = 800;
    check(av_channel_layout_copy(&f->ch_layout, &c->ch_layout), "layout");
    check(av_frame_get_buffer(f, 0), "frame");
    for (int i = 0; i < 800; ++i) reinterpret_cast<int16_t*>(f->data[0])[i] = static_cast<int16_t>(i * 37);
    f->pts = 0;
    writer.encode(f);
    writer.finish();
}

}  // namespace testing_support
