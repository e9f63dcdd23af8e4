// Finds and opens the decoder module on first need.
#include "io/decoder.h"

#include "io/module.h"

namespace nrvq {
namespace {

#ifndef NRVQ_DECODER_BUILTIN
constexpr const char* kModuleFile = "nrvq-decoder.so";

struct Loaded {
    const DecoderModule* module = nullptr;
    std::string why;
};

Loaded load() {
    Loaded loaded;
    using Entry = const DecoderModule* (*)();
    const auto entry = reinterpret_cast<Entry>(
        openModuleEntry(kModuleFile, "nrvq_decoder_module", "the decoder module", &loaded.why));
    if (entry == nullptr) return loaded;
    const DecoderModule* module = entry();
    if (module == nullptr || module->abi != kDecoderModuleAbi || module->optionsSize != sizeof(DecoderOptions) ||
        module->infoSize != sizeof(SourceInfo)) {
        loaded.why = std::string("the decoder module ") + kModuleFile + " belongs to another build of nrvq";
        return loaded;
    }
    loaded.module = module;
    return loaded;
}
#endif

}  // namespace

const DecoderModule* decoderModule(std::string* why) {
#ifdef NRVQ_DECODER_BUILTIN
    (void)why;
    return nrvq_decoder_module();
#else
    static const Loaded loaded = load();
    if (why != nullptr) *why = loaded.why;
    return loaded.module;
#endif
}

std::unique_ptr<DecoderSource> openDecoderSource(const std::string& path, const DecoderOptions& options) {
    std::string why;
    const DecoderModule* module = decoderModule(&why);
    if (module == nullptr) throw SourceError("cannot decode " + path + ": " + why);
    return module->open(path, options);
}

bool looksLikeContainer(const std::string& path) {
    const DecoderModule* module = decoderModule();
    return module != nullptr && module->looksLikeContainer(path);
}

}  // namespace nrvq
