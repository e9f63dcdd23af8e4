// A run stopped from outside: by SIGINT or SIGTERM, by a reader of the rows
// that goes away, or by an input that fails or is cut short while it is
// read. The log must hold whole rows, the same ones printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clips/clip.h"
#include "testing.h"

namespace {

using namespace testing_support;

// count frames cycling through the first 7 of a moving texture.
void writeClip(const std::filesystem::path& path, int32_t w, int32_t h, int count) {
    const std::vector<clips::Plane> planes = textureFrames(w, h, 7);
    std::vector<clips::Plane> frames;
    for (int t = 0; t < count; ++t) frames.push_back(planes[static_cast<size_t>(t) % planes.size()]);
    writeRawClip(path, frames);
}

void expectSameRows(const std::vector<std::string>& printed, const std::vector<std::string>& logged) {
    ASSERT_EQ(printed.size(), logged.size());
    for (size_t i = 0; i < printed.size(); ++i) {
        EXPECT_EQ(splitFields(printed[i]), splitFields(logged[i])) << "row " << i;
    }
}

TEST(Signals, InterruptedRunReportsTheFramesItExamined) {
    TempDir dir;
    writeClip(dir / "clip.yuv", 640, 480, 300);
    for (const auto& [name, status] : std::vector<std::pair<std::string, int>>{{"INT", 130}, {"TERM", 143}}) {
        // The signal arrives once the log holds a few rows.
        const std::string script = "rm -f metricsResultsCSV.csv; " + std::string(NRVQ_BINARY) +
                                   " clip.yuv 640 480 --reference --threads 1 >out.txt 2>err.txt & pid=$!; "
                                   "for i in $(seq 400); do "
                                   "[ $(cat metricsResultsCSV.csv 2>/dev/null | wc -l) -ge 3 ] && break; sleep 0.05; done; "
                                   "kill -" + name + " $pid; wait $pid";
        SCOPED_TRACE(name);
        EXPECT_EQ(shell(dir.path(), script), status);
        const std::string out = readFile(dir / "out.txt");
        const std::vector<std::string> printed = frameRows(out);
        ASSERT_GE(printed.size(), 2u);
        EXPECT_LT(printed.size(), 300u);
        expectSameRows(printed, frameRows(readFile(dir / "metricsResultsCSV.csv")));
        EXPECT_NE(out.find("Calculation time: "), std::string::npos);
        EXPECT_NE(out.find("File stream closed"), std::string::npos);
        EXPECT_EQ(readFile(dir / "err.txt"), "");
    }
}

// A pipe that stalls in the middle of a frame: the signal still ends the run
// (within the few seconds the script waits, and before the pipe's writer is
// gone), with the five whole frames before in the rows and the log.
TEST(Signals, AStalledPipeEndsOnSignal) {
    TempDir dir;
    writeClip(dir / "clip.yuv", 32, 16, 5);
    for (const auto& [name, status] : std::vector<std::pair<std::string, int>>{{"INT", 130}, {"TERM", 143}}) {
        const std::string script =
            "rm -f metricsResultsCSV.csv fifo; mkfifo fifo; { cat clip.yuv; head -c 100 clip.yuv; exec sleep 60; } "
            ">fifo & feeder=$!; " NRVQ_BINARY " fifo 32 16 >out.txt 2>err.txt & pid=$!; "
            "for i in $(seq 400); do [ $(cat metricsResultsCSV.csv 2>/dev/null | wc -l) -ge 6 ] && break; sleep 0.05; "
            "done; kill -" + name + " $pid; gone=0; for i in $(seq 100); do kill -0 $pid 2>/dev/null || { gone=1; "
            "break; }; sleep 0.05; done; kill $feeder; wait $pid; status=$?; [ $gone = 1 ] && exit $status; exit 99";
        SCOPED_TRACE(name);
        EXPECT_EQ(shell(dir.path(), script), status);
        const std::string out = readFile(dir / "out.txt");
        EXPECT_EQ(frameRows(out).size(), 5u);
        expectSameRows(frameRows(out), frameRows(readFile(dir / "metricsResultsCSV.csv")));
        EXPECT_NE(out.find("File stream closed"), std::string::npos);
        EXPECT_EQ(readFile(dir / "err.txt"), "");
    }
}

// Whatever goes to standard output (the rows, CSV, JSON), a reader that goes
// away stops the run quietly, with whole rows in the log.
TEST(Signals, ClosedOutputStopsQuietlyWithWholeRowsInTheLog) {
    TempDir dir;
    writeClip(dir / "clip.yuv", 8, 8, 3000);
    ASSERT_EQ(shell(dir.path(), std::string(NRVQ_BINARY) + " clip.yuv 8 8 --log full.log >/dev/null"), 0);
    const std::string full = readFile(dir / "full.log");
    for (const std::string output : {"", "--csv -", "--json -"}) {
        SCOPED_TRACE(output);
        const std::string script = std::string(NRVQ_BINARY) + " clip.yuv 8 8 " + output +
                                   " 2>err.txt | head -c 20000 >/dev/null; exit ${PIPESTATUS[0]}";
        EXPECT_EQ(shell(dir.path(), script), 141);
        EXPECT_EQ(readFile(dir / "err.txt"), "");
        const std::string log = readFile(dir / "metricsResultsCSV.csv");
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), '\n');
        EXPECT_EQ(full.substr(0, log.size()), log);  // whole rows, the first ones
    }
}

// Reads that fail, a file cut short by another program part-way through
// frame 6, or a damaged frame header there: the six rows before it are
// printed, logged and written to the CSV alike, and the run ends with the
// reason and exit status 255, in order or with frames read by several
// threads past the fault.
TEST(ReadFaults, FailedOrShortenedReadsKeepTheRowsBefore) {
    TempDir dir;
    writeClip(dir / "clip.yuv", 512, 288, 10);
    const std::string raw = readFile(dir / "clip.yuv");
    const size_t frameBytes = 512 * 288 * 3 / 2;
    std::string y4m = "YUV4MPEG2 W512 H288 F25:1 C420jpeg\n";
    const size_t y4mFrame6 = y4m.size() + 6 * (6 + frameBytes) + 6;
    for (size_t at = 0; at < raw.size(); at += frameBytes) y4m += "FRAME\n" + raw.substr(at, frameBytes);
    std::string damaged = y4m;
    damaged.replace(y4mFrame6 - 6, 5, "FRAMX");
    // The faults come past the first MiB, which the container probe reads.
    struct Case { std::string fault, file; size_t at; std::string args, message; };
    const std::vector<Case> cases = {
        {"eio", "clip.yuv", 6 * frameBytes + 1000, "clip.yuv 512 288",
         "Some error occurred when reading the 6 frame\nByte read = 1000, Frame size = 147456\n\n"
         "Error code: 5 \nError description: Input/output error \n"},
        {"shrink", "clip.yuv", 6 * frameBytes + 1000, "clip.yuv 512 288",
         "clip.yuv became shorter while it was read: frame 6 ends after 1000 of its 221184 bytes\n"},
        {"shrink", "clip.y4m", y4mFrame6 + 1000, "clip.y4m",
         "clip.y4m became shorter while it was read: frame 6 ends after 1000 of its 221184 bytes\n"},
        {"eio", "no-such-file", 0, "damaged.y4m", "damaged.y4m: frame 6: expected a FRAME header, found \"FRAMX\"\n"},
    };
    for (const Case& c : cases) for (const std::string threads : {"1", "3"}) {
        SCOPED_TRACE(c.fault + " " + c.args + " --threads " + threads);
        writeFile(dir / "clip.yuv", raw);
        writeFile(dir / "clip.y4m", y4m);
        writeFile(dir / "damaged.y4m", damaged);
        const std::string script = "export ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 LD_PRELOAD=" +
                                   std::string(NRVQ_READ_FAULTS) + " NRVQ_FAULT=" + c.fault + " NRVQ_FAULT_FILE=" +
                                   c.file + " NRVQ_FAULT_AT=" + std::to_string(c.at) + "; " + NRVQ_BINARY + " " +
                                   c.args + " --threads " + threads + " --csv out.csv >out.txt 2>err.txt";
        EXPECT_EQ(shell(dir.path(), script), 255);
        const std::string out = readFile(dir / "out.txt");
        ASSERT_EQ(frameRows(out).size(), 6u);
        expectSameRows(frameRows(out), frameRows(readFile(dir / "metricsResultsCSV.csv")));
        EXPECT_EQ(splitLines(readFile(dir / "out.csv")).size(), 7u);
        EXPECT_EQ(readFile(dir / "err.txt"), c.message);
    }
}

}  // namespace
