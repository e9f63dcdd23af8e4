// The report's thumbnails as PNG files, through FFmpeg's PNG encoder, which
// lives in the decoder module: a run that draws no report loads no FFmpeg
// library.
#include <memory>
#include <string>

#include "io/decoder.h"
#include "io/sink.h"
#include "io/thumbnails.h"

namespace nrvq {

namespace {

class ModulePng : public ThumbnailEncoder {
public:
    std::string png(const uint8_t* gray, int width, int height) override {
        std::string why;
        const DecoderModule* module = decoderModule(&why);
        if (module == nullptr) {
            throw OutputError("Cannot draw the report's thumbnails: " + why);
        }
        return module->encodePng(gray, width, height);
    }
};

}  // namespace

std::unique_ptr<ThumbnailEncoder> makePngEncoder() { return std::make_unique<ModulePng>(); }

}  // namespace nrvq
