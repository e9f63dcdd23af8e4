#include "cli/compare.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/analyzer.h"
#include "io/events_output.h"
#include "io/input.h"
#include "io/report.h"
#include "io/results.h"

namespace nrvq::cli {

namespace {

std::unique_ptr<FrameSource> openCompared(const Options& o, const std::string& path) {
    // No size, rate or layout: the input says them. A stream that ends or
    // fails ends its part of the comparison.
    InputRequest request{.path = path, .width = {}, .height = {}, .fps = {}, .start = o.start, .frames = o.frames,
                         .pixFmt = {}, .stream = o.stream, .inputOptions = o.inputOptions, .once = true};
    try {
        return openInput(request);
    } catch (const InputError& e) {
        if (e.kind() != InputError::NeedsSize || !o.width || !o.height) {
            throw;
        }
    }
    // Raw video: the main input's size, rate and layout.
    request.width = o.width;
    request.height = o.height;
    request.fps = o.fps;
    request.pixFmt = o.pixFmt;
    return openInput(request);
}

}  // namespace

ComparedInputs::ComparedInputs() = default;
ComparedInputs::~ComparedInputs() = default;

bool ComparedInputs::analyse(const Options& o, const std::atomic<bool>* stop) {
    for (const std::string& path : o.compare) {
        const auto failed = [&path](const std::string& why) {
            std::fflush(stdout);
            std::fprintf(stderr, "--compare %s: %s\n", path.c_str(), why.c_str());
            return false;
        };
        std::unique_ptr<FrameSource> source;
        try {
            source = openCompared(o, path);
        } catch (const InputError& e) {
            return failed(e.what());
        }
        Run run{std::make_unique<EventLog>(o.rules), std::make_unique<ResultTable>(o.indicators)};
        run.table->setEvents(run.events.get());
        const SourceInfo info = source->info();
        run.events->begin(info);
        run.table->begin(info);
        AnalyzerOptions analysis;
        analysis.threads = o.threads;
        analysis.reference = o.reference;
        analysis.indicators = static_cast<uint32_t>(o.indicators.to_ulong());
        const RunOutcome outcome = runAnalysis(
            *source, analysis,
            [&run](const FrameRecord& record) {
                run.events->frame(record);
                run.table->frame(record);
                return true;
            },
            stop);
        if (stop != nullptr && stop->load()) {
            return false;
        }
        if (outcome.end.status == ReadStatus::Error) {
            return failed(!outcome.end.message.empty()
                              ? outcome.end.message
                              : "cannot read frame " + std::to_string(info.startFrame + outcome.examined) + ": " +
                                    std::strerror(outcome.end.error));
        }
        // What the main input's run would say of its opening and end, on
        // standard error.
        std::fputs((openingNotes(*source) + endOfInputNotes(*source)).c_str(), stderr);
        runs_.push_back(std::move(run));
    }
    return true;
}

void ComparedInputs::addTo(HtmlReport* report) const {
    for (const Run& run : runs_) {
        if (report != nullptr) {
            report->compare(*run.table);
        }
    }
}

}  // namespace nrvq::cli
