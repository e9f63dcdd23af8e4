// Live network inputs on the loopback interface: FFmpeg's command-line tool
// sends a clip in real time as MPEG-TS, over UDP and over TCP. Every run is
// bounded by timeout(1); the tests are skipped without ffmpeg. And the
// metrics endpoint's failures before a run.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testing.h"

namespace {

using namespace testing_support;
using nlohmann::json;

constexpr int kFrames = 40;
// A port that is free now on 127.0.0.1, chosen by the system.
int freePort(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) ::close(fd);
    return port;
}

// A socket listening on 127.0.0.1 at a port the system chose; -1 on failure.
int listeningSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// The lines of a --jsonl output, each parsed (a line cut short fails).
std::vector<json> jsonLines(const std::filesystem::path& path) {
    std::vector<json> lines;
    for (const std::string& line : splitLines(readFile(path))) {
        if (!line.empty()) lines.push_back(json::parse(line));
    }
    return lines;
}

std::map<int64_t, json> framesOf(const std::vector<json>& lines) {
    std::map<int64_t, json> frames;
    for (json line : lines) {
        if (line.contains("frame")) {
            line.erase("time");
            frames[line["frame"].get<int64_t>()] = line;
        }
    }
    return frames;
}

class Live : public ::testing::Test {
protected:
    void SetUp() override {
        if (shell(dir.path(), "command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "ffmpeg is not installed";
        writeRawClip(dir / "clip.yuv", textureFrames(160, 128, kFrames));
        // Intra-only MPEG-2: every frame decodes alike wherever the stream is joined.
        ASSERT_EQ(shell(dir.path(), "timeout 60 ffmpeg -nostdin -loglevel error -f rawvideo -s 160x128 -r 25 -i "
                                    "clip.yuv -c:v mpeg2video -g 1 -q:v 2 -f mpegts clip.ts"),
                  0);
        ASSERT_EQ(shell(dir.path(), "timeout 60 " NRVQ_BINARY " clip.ts --no-log --quiet --jsonl file.jsonl"), 0);
        fileFrames = framesOf(jsonLines(dir / "file.jsonl"));
        ASSERT_EQ(fileFrames.size(), static_cast<size_t>(kFrames));
    }
    // Sends the clip once in real time to url.
    static std::string send(const std::string& url) {
        return "timeout 30 ffmpeg -nostdin -loglevel error -re -i clip.ts -c copy -f mpegts '" + url + "'";
    }
    TempDir dir;
    std::map<int64_t, json> fileFrames;
};

// The values of every frame received equal those of the same frame of the file.
TEST_F(Live, FramesOverUdpAndTcpEqualTheFile) {
    const int udp = freePort(SOCK_DGRAM);
    const int tcp = freePort(SOCK_STREAM);
    const std::string frames = std::to_string(kFrames);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"udp://127.0.0.1:" + std::to_string(udp), "sleep 0.5; " + send("udp://127.0.0.1:" + std::to_string(udp) +
                                                                         "?pkt_size=1316")},
        // nrvq listens; the sender tries until it is let in.
        {"tcp://127.0.0.1:" + std::to_string(tcp) + "?listen=1",
         "for i in $(seq 50); do " + send("tcp://127.0.0.1:" + std::to_string(tcp)) +
             " 2>/dev/null && break; sleep 0.1; done"}};
    for (const auto& [url, sender] : cases) {
        SCOPED_TRACE(url);
        const std::string script = "timeout -s KILL 40 " NRVQ_BINARY " '" + url + "' --once --frames " + frames +
                                   " --no-log --quiet --jsonl live.jsonl 2>err.txt & pid=$!; " + sender +
                                   "; wait $pid";
        EXPECT_EQ(shell(dir.path(), script), 0) << readFile(dir / "err.txt");
        const std::map<int64_t, json> live = framesOf(jsonLines(dir / "live.jsonl"));
        EXPECT_EQ(live.size(), static_cast<size_t>(kFrames));
        for (const auto& [index, values] : live) EXPECT_EQ(values, fileFrames.at(index)) << "frame " << index;
    }
}

// A taken port refuses the run before it starts, the results log left as it
// was; a bound server stops cleanly when the output plan refuses the run. The HTTP server is a module that only a listening run opens: a copy
// of the tool without it runs as usual, and is refused with --listen,
// naming the module.
TEST(Listen, ATakenPortOrAMissingServerModuleFailsBeforeTheRun) {
    const TempDir dir;
    writeRawClip(dir / "clip.yuv", textureFrames(32, 16, 2));
    writeFile(dir / "metricsResultsCSV.csv", "rows of an earlier run\n");
    int port = 0;
    const int fd = listeningSocket(port);
    ASSERT_GE(fd, 0);
    const std::string taken = "127.0.0.1:" + std::to_string(port);
    const RunResult result = runTool(dir.path(), {"clip.yuv", "32", "16", "--listen", taken});
    ::close(fd);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err.rfind("--listen " + taken + ": cannot listen there (the port is taken", 0), 0u) << result.err;
    EXPECT_EQ(readFile(dir / "metricsResultsCSV.csv"), "rows of an earlier run\n");
    // Bound, then refused by the output plan: the server stops without
    // having served.
    const std::string open = "127.0.0.1:" + std::to_string(freePort(SOCK_STREAM));
    const RunResult refused = runTool(dir.path(), {"clip.yuv", "32", "16", "--listen", open, "--csv", "clip.yuv"});
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(refused.err.rfind("--csv clip.yuv: ", 0), 0u) << refused.err;

    std::filesystem::copy_file(NRVQ_BINARY, dir / "alone");
    EXPECT_EQ(shell(dir.path(), "timeout 30 ./alone clip.yuv 32 16 --no-log --quiet"), 0);
    const std::string free = "127.0.0.1:" + std::to_string(freePort(SOCK_STREAM));
    const int status = shell(dir.path(), "timeout 30 ./alone clip.yuv 32 16 --listen " + free + " 2>err.txt");
    if (status == 0) GTEST_SKIP() << "a metrics module is installed on this machine";
    EXPECT_EQ(status, 255);
    EXPECT_EQ(readFile(dir / "err.txt").rfind("--listen " + free + ": the metrics module nrvq-metrics.so is not "
                                              "installed; looked for:\n  " + (dir / "nrvq-metrics.so").string(), 0),
              0u)
        << readFile(dir / "err.txt");
    EXPECT_EQ(readFile(dir / "metricsResultsCSV.csv"), "rows of an earlier run\n");
}

// The sender stops and starts again: the run goes on with the signal lost
// and back between, /metrics answers while it plays, and SIGINT ends it
// with status 130 and whole lines. A loaded machine may open the port
// late, so the request is tried again for up to 10 s.
TEST_F(Live, RunSurvivesTheSenderAndStopsOnSigint) {
    const std::string port = std::to_string(freePort(SOCK_DGRAM));
    const std::string http = std::to_string(freePort(SOCK_STREAM));
    const std::string url = "udp://127.0.0.1:" + port + "?pkt_size=1316";
    const std::string script =
        "timeout -s KILL 60 " NRVQ_BINARY " udp://127.0.0.1:" + port + " --listen 127.0.0.1:" + http +
        " --window 1s --no-log --quiet --jsonl live.jsonl 2>err.txt & pid=$!; sleep 0.5; " + send(url) +
        " & sender=$!; sleep 1; for try in $(seq 40); do (exec 3<>/dev/tcp/127.0.0.1/" + http +
        " && printf 'GET /metrics HTTP/1.0\\r\\n\\r\\n' >&3 && timeout 5 cat <&3 >metrics.txt) 2>/dev/null && break; "
        "sleep 0.25; done; wait $sender; "
        "sleep 3; " + send(url) + "; sleep 0.5; kill -INT $pid; wait $pid";
    EXPECT_EQ(shell(dir.path(), script), 130) << readFile(dir / "err.txt");

    const std::string metrics = readFile(dir / "metrics.txt");
    EXPECT_NE(metrics.find("HTTP/1.1 200"), std::string::npos) << metrics;
    for (const char* series : {"\nnrvq_frames_total ", "\nnrvq_blur{stat=\"last\"} ", "\nnrvq_blur{stat=\"window_mean\"} ",
                               "\nnrvq_events_total{indicator=\"signal\",severity=\"warning\"} 0",
                               "\nnrvq_input_up{input=\"udp://127.0.0.1:", "\nnrvq_reconnects_total 0"}) {
        EXPECT_NE(metrics.find(series), std::string::npos) << series;
    }

    const std::vector<json> lines = jsonLines(dir / "live.jsonl");  // each line whole
    std::vector<std::string> signal;
    int64_t lastFrame = -1;
    bool window = false;
    for (const json& line : lines) {
        if (line.value("event", "") == "signal") {
            signal.push_back(line["state"].get<std::string>() + "@" + std::to_string(lastFrame));
            if (line["state"] == "back") {
                EXPECT_GT(line["duration"].get<double>(), 1.0);
            }
        }
        if (line.contains("frame")) lastFrame = line["frame"].get<int64_t>();
        window = window || line.contains("window");
    }
    EXPECT_TRUE(window);
    // Lost once the first sending is over, back before the second one's
    // frames; the last few may still wait in the demuxer and the decoder
    // for the packets after them when the run stops.
    ASSERT_EQ(signal.size(), 2u);
    EXPECT_EQ(signal[0].rfind("lost@", 0), 0u) << signal[0];
    EXPECT_EQ(signal[1], "back@" + std::to_string(kFrames - 1));
    EXPECT_GE(lastFrame, 2 * kFrames - 5);
}

}  // namespace
