// Finds and opens the decoder module on first need.
#include "io/decoder.h"

#include "io/module.h"

namespace nrvq {
namespace {

#ifndef NRVQ_DECODER_BUILTIN
LoadedModule<DecoderModule> load() {
    return loadModule<DecoderModule>("nrvq-decoder.so", "nrvq_decoder_module", "the decoder module",
                                     [](const DecoderModule& module) {
                                         return module.abi == kDecoderModuleAbi &&
                                                module.optionsSize == sizeof(DecoderOptions) &&
                                                module.infoSize == sizeof(SourceInfo);
                                     });
}
#endif

}  // namespace

const DecoderModule* decoderModule(std::string* why) {
#ifdef NRVQ_DECODER_BUILTIN
    (void)why;
    return nrvq_decoder_module();
#else
    static const LoadedModule<DecoderModule> loaded = load();
    if (why != nullptr) *why = loaded.why;
    return loaded.table;
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
