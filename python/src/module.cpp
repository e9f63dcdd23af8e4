// The Python extension nrvq._nrvq: the library's Analysis and analyzeFile for
// NumPy arrays. Frames are analysed with the interpreter lock released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "nrvq/nrvq.h"

namespace py = pybind11;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string shapeText(const py::array& a) {
    std::string text = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(a.shape(i));
    }
    return text + (a.ndim() == 1 ? ",)" : ")");
}

// A dict of names[i] = values[i], in order.
template <size_t N, typename... Values>
py::dict dictOf(const char* const (&names)[N], const Values&... values) {
    static_assert(N == sizeof...(Values), "one name per value");
    py::dict out;
    size_t i = 0;
    ((out[names[i++]] = values), ...);
    return out;
}

// One frame's values as a dict: "frame", then every key (NaN where the
// value was not measured).
py::dict frameDict(int64_t index, const std::array<double, nrvq::indicatorCount>& values) {
    py::dict out;
    out["frame"] = index;
    const auto keys = nrvq::indicatorKeys();
    for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
        out[py::str(keys[c].data(), keys[c].size())] = values[c];
    }
    return out;
}

// A video fed frame by frame from Python.
class PyAnalyzer {
public:
    PyAnalyzer(int32_t width, int32_t height, double fps, bool reference)
        : analysis_(width, height, fps, {.threads = 1, .reference = reference}),
          packed_(static_cast<size_t>(width) * static_cast<size_t>(height)) {}

    py::dict push(const py::handle& object) {
        if (!py::isinstance<py::array>(object)) {
            throw py::type_error("luma must be a 2-D NumPy array of uint8, not " +
                                 std::string(py::str(py::type::handle_of(object).attr("__name__"))));
        }
        const auto luma = py::reinterpret_borrow<py::array>(object);
        if (!luma.dtype().is(py::dtype::of<uint8_t>())) {
            throw py::type_error("luma must have dtype uint8, not " + std::string(py::str(luma.dtype())));
        }
        if (luma.ndim() != 2) {
            throw py::value_error("luma must be 2-D (height, width), not " + std::to_string(luma.ndim()) +
                                  "-D with shape " + shapeText(luma));
        }
        const int32_t w = analysis_.width(), h = analysis_.height();
        if (luma.shape(0) != h || luma.shape(1) != w) {
            throw py::value_error("luma has shape " + shapeText(luma) + "; this analyzer takes (" +
                                  std::to_string(h) + ", " + std::to_string(w) + ")");
        }
        const auto* data = static_cast<const uint8_t*>(luma.data());
        const ptrdiff_t rowStride = luma.strides(0);
        const ptrdiff_t columnStride = luma.strides(1);

        int64_t index = 0;
        std::array<double, nrvq::indicatorCount> values{};
        {
            const py::gil_scoped_release unlocked;
            const std::lock_guard<std::mutex> lock(mutex_);
            const uint8_t* plane = data;
            ptrdiff_t stride = rowStride;
            if (columnStride != 1 && w > 1) {
                // Samples not next to each other: gathered into the
                // analyser's own plane first.
                for (int32_t y = 0; y < h; ++y) {
                    const uint8_t* row = data + y * rowStride;
                    uint8_t* out = packed_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
                    for (int32_t x = 0; x < w; ++x) {
                        out[x] = row[x * columnStride];
                    }
                }
                plane = packed_.data();
                stride = w;
            }
            // The result is valid until the next push: copied out under the lock.
            const nrvq::FrameResult result = analysis_.push(plane, stride);
            index = result.index();
            for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
                values[c] = result.measured(c) ? result[c] : kNaN;
            }
        }
        return frameDict(index, values);
    }

    int32_t width() const { return analysis_.width(); }
    int32_t height() const { return analysis_.height(); }
    double fps() const { return analysis_.fps(); }
    int64_t frames() const { return analysis_.frames(); }

private:
    nrvq::Analysis analysis_;
    std::vector<uint8_t> packed_;  // for planes whose samples are not contiguous
    std::mutex mutex_;             // one push at a time
};

// A frame rate given as a number or as text ("25", "30000/1001").
using Rate = std::variant<double, std::string>;

double frameRate(const Rate& rate) {
    if (const double* number = std::get_if<double>(&rate)) {
        return *number;
    }
    const std::string& text = std::get<std::string>(rate);
    const std::optional<double> parsed = nrvq::parseFrameRate(text);
    if (!parsed) {
        throw py::value_error("invalid frame rate \"" + text +
                              "\": expected a positive finite number or a fraction N/D");
    }
    return *parsed;
}

// A whole file: "frame" (int64), "time" (seconds) and every key (float64,
// NaN where not measured), then the opinion scores, as arrays, with what the
// input said about itself and the events.
py::dict analyzeFile(const std::string& path, std::optional<int32_t> width, std::optional<int32_t> height,
                     std::optional<Rate> fps, int32_t start, std::optional<int32_t> frames,
                     std::optional<unsigned> threads, bool reference, std::optional<std::string> pixFmt,
                     std::optional<int32_t> stream, std::optional<std::string> simd, const std::string& only,
                     const std::string& skip, std::vector<std::string> rules, std::optional<std::string> rulesFile,
                     std::optional<std::string> failOn) {
    nrvq::FileOptions options;
    options.width = width;
    options.height = height;
    if (fps) {
        options.fps = frameRate(*fps);
    }
    options.start = start;
    options.frames = frames;
    options.threads = threads.value_or(0);
    options.reference = reference;
    options.pixFmt = pixFmt.value_or("");
    options.stream = stream;
    options.simd = simd.value_or("best");
    options.indicators = nrvq::selectIndicators(only, skip);
    options.rules = std::move(rules);
    options.rulesFile = rulesFile.value_or("");
    options.failOn = failOn.value_or("");
    nrvq::FileResults results;
    {
        const py::gil_scoped_release unlocked;
        results = nrvq::analyzeFile(path, options);
    }
    const auto n = static_cast<py::ssize_t>(results.size());
    py::array_t<int64_t> index(n);
    py::array_t<double> time(n);
    auto indexView = index.mutable_unchecked<1>();
    auto timeView = time.mutable_unchecked<1>();
    for (py::ssize_t i = 0; i < n; ++i) {
        indexView(i) = results[static_cast<size_t>(i)].index();
        timeView(i) = results[static_cast<size_t>(i)].seconds();
    }
    py::dict columns;
    columns["frame"] = index;
    columns["time"] = time;
    const auto keys = nrvq::indicatorKeys();
    const auto column = [&results, n](size_t c, double (*map)(double)) {
        py::array_t<double> values(n);
        auto view = values.mutable_unchecked<1>();
        for (py::ssize_t i = 0; i < n; ++i) {
            const nrvq::FrameResult r = results[static_cast<size_t>(i)];
            view(i) = map(r.measured(c) ? r[c] : kNaN);
        }
        return values;
    };
    const auto same = [](double v) { return v; };
    for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
        columns[py::str(keys[c].data(), keys[c].size())] = column(c, same);
    }
    columns["blockiness_mos"] = column(nrvq::indicatorIndex("blockiness"), &nrvq::blockinessMos);
    columns["blur_mos"] = column(nrvq::indicatorIndex("blur"), &nrvq::blurMos);
    py::list events;
    for (const nrvq::EventResult& e : results.events()) {
        events.append(dictOf({"indicator", "severity", "first", "last", "start", "end", "peak", "rule"},
                             e.indicator, e.severity, e.first, e.last, e.start, e.end, e.peak, e.rule));
    }
    py::dict info;
    info["path"] = path;
    info["width"] = results.width();
    info["height"] = results.height();
    info["fps"] = results.fps();
    info["start"] = results.startFrame();
    info["notes"] = results.notes();
    // The processor time of each indicator and of the whole run.
    py::dict times;
    const auto seconds = results.indicatorSeconds();
    for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
        times[py::str(keys[c].data(), keys[c].size())] = seconds[c];
    }
    info["times"] = times;
    info["process_seconds"] = results.processSeconds();
    // The pooled statistics per key and the spans of the flags.
    py::dict summary;
    py::dict spans;
    for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
        const nrvq::IndicatorSummary st = results.summary(c);
        const py::str key(keys[c].data(), keys[c].size());
        summary[key] = dictOf({"count", "left_out", "mean", "min", "max", "p5", "p50", "p95", "stddev"}, st.count,
                              st.leftOut, st.mean, st.min, st.max, st.p5, st.p50, st.p95, st.stddev);
        if (nrvq::indicatorDescriptions()[c].type == "flag") {
            py::list list;
            for (const nrvq::FlagSpan& span : results.spans(keys[c])) {
                list.append(py::make_tuple(span.first, span.last));
            }
            spans[key] = list;
        }
    }
    info["fatal"] = results.fatal();
    py::dict out;
    out["columns"] = columns;
    out["events"] = events;
    out["summary"] = summary;
    out["spans"] = spans;
    out["info"] = info;
    return out;
}

// The indicator table: key, kind, value type and the log's printf field.
py::list indicatorTable() {
    py::list rows;
    for (const nrvq::IndicatorDescription& info : nrvq::indicatorDescriptions()) {
        rows.append(dictOf({"key", "kind", "type", "log_field", "measured_on_first_frame"}, std::string(info.key),
                           std::string(info.kind), std::string(info.type), std::string(info.logField),
                           info.measuredOnFirstFrame));
    }
    return rows;
}

}  // namespace

PYBIND11_MODULE(_nrvq, m) {
    m.doc() = "No-reference video quality indicators on the luma plane (extension module; use the package nrvq)";
    py::register_exception<nrvq::InputFailure>(m, "InputError", PyExc_OSError);
    m.attr("InputError").attr("__doc__") =
        "The input cannot be opened or read (an OSError); the message is a complete sentence.";

    py::list keys;
    for (const std::string_view key : nrvq::indicatorKeys()) {
        keys.append(py::str(key.data(), key.size()));
    }
    m.attr("KEYS") = py::tuple(keys);
    py::list levels;
    for (const std::string_view level : nrvq::simdLevels()) {
        levels.append(py::str(level.data(), level.size()));
    }
    m.attr("SIMD_LEVELS") = py::tuple(levels);
    m.attr("__version__") = std::string(nrvq::version());
    m.def("indicator_table", &indicatorTable,
          "The indicator table, one dict per indicator in the columns' order: key, kind (single_frame, "
          "frame_pair, ordered_state), type (real, flag, truncated), log_field (the results log's printf "
          "conversion) and measured_on_first_frame.");
    m.def(
        "parse_frame_rate",
        [](const std::string& text) {
            return frameRate(Rate(text));
        },
        py::arg("text"),
        "A frame rate as the command line reads it: a positive decimal number (\"29.97\") or a fraction "
        "(\"30000/1001\"). Raises ValueError for anything else.");

    py::class_<PyAnalyzer>(m, "Analyzer",
                           "Frame-by-frame analysis of one video whose luma planes the caller pushes in order.")
        .def(py::init<int32_t, int32_t, double, bool>(), py::arg("width"), py::arg("height"),
             py::arg("fps") = nrvq::kDefaultFrameRate, py::arg("reference") = false,
             "An analysis of frames of width x height samples at fps frames per second (the rate sets how "
             "long a freeze must last); reference=True runs the literal indicators. Raises ValueError for a "
             "size or rate that is not positive.")
        .def("push", &PyAnalyzer::push, py::arg("luma"),
             "Analyses one luma plane, a 2-D uint8 array of shape (height, width) with any strides, and "
             "returns its values as a dict: \"frame\" (counted from 0) and every key, NaN where not "
             "measured. Raises TypeError for another type or dtype, ValueError for another shape.")
        .def_property_readonly("width", &PyAnalyzer::width, "Samples per row.")
        .def_property_readonly("height", &PyAnalyzer::height, "Rows per frame.")
        .def_property_readonly("fps", &PyAnalyzer::fps, "The frame rate.")
        .def_property_readonly("frames", &PyAnalyzer::frames, "Frames pushed so far.");

    m.def("analyze_file", &analyzeFile, py::arg("path"), py::arg("width") = py::none(),
          py::arg("height") = py::none(), py::arg("fps") = py::none(), py::arg("start") = 0,
          py::arg("frames") = py::none(), py::arg("threads") = py::none(), py::arg("reference") = false,
          py::arg("pix_fmt") = py::none(), py::arg("stream") = py::none(), py::arg("simd") = py::none(),
          py::arg("only") = "", py::arg("skip") = "", py::arg("rules") = std::vector<std::string>{},
          py::arg("rules_file") = py::none(), py::arg("fail_on") = py::none(),
          "The raw form of nrvq.analyze: a dict of columns, summary, spans, events and info (only and skip "
          "as comma-separated keys).");
}
