// The report's thumbnails as PNG files, through FFmpeg's PNG encoder. Kept
// apart from the rest of the report so that the image library it takes is
// behind one small interface.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <memory>

#include "io/sink.h"
#include "io/thumbnails.h"

namespace nrvq {

namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

class FfmpegPng : public ThumbnailEncoder {
public:
    std::string png(const uint8_t* gray, int width, int height) override {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
        if (codec == nullptr) {
            throw OutputError("Cannot draw the report's thumbnails: FFmpeg has no PNG encoder");
        }
        std::unique_ptr<AVCodecContext, CodecContextFree> context(avcodec_alloc_context3(codec));
        std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
        std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
        if (!context || !frame || !packet) {
            throw std::bad_alloc();
        }
        context->width = width;
        context->height = height;
        context->pix_fmt = AV_PIX_FMT_GRAY8;
        context->time_base = AVRational{1, 25};
        frame->format = AV_PIX_FMT_GRAY8;
        frame->width = width;
        frame->height = height;
        if (avcodec_open2(context.get(), codec, nullptr) < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
            throw OutputError("Cannot draw the report's thumbnails: the PNG encoder does not start");
        }
        for (int y = 0; y < height; ++y) {
            std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0],
                        gray + static_cast<ptrdiff_t>(y) * width, static_cast<size_t>(width));
        }
        std::string file;
        if (avcodec_send_frame(context.get(), frame.get()) < 0 || avcodec_send_frame(context.get(), nullptr) < 0) {
            throw OutputError("Cannot draw the report's thumbnails: the PNG encoder refused a picture");
        }
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            file.append(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
            av_packet_unref(packet.get());
        }
        if (file.empty()) {
            throw OutputError("Cannot draw the report's thumbnails: the PNG encoder gave nothing");
        }
        return file;
    }
};

}  // namespace

std::unique_ptr<ThumbnailEncoder> makePngEncoder() { return std::make_unique<FfmpegPng>(); }

}  // namespace nrvq
