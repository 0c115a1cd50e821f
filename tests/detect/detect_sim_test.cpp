// `zelscales detect` against the simulated scales: their recognisers find no
// command in the scan, their frames are named by the right model (or group),
// and the tool itself, run on a pseudo-terminal or TCP line, names every model
// it can identify at the speed asked, within the bound it printed, while the
// simulated scale records no command.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys.h"
#include "sim/Models.h"
#include "sim/Simulator.h"
#include "tests/detect/detect_support.h"
#include "tools/detect_plan.h"
#include "tests/skip_or_fail.h"

using namespace zelscales::detect;
using namespace detect_support;

namespace {

// The models that share a wire format with another and come out as a group
// (where they read the frame alike).
std::string ExpectedGroup(int model) {
    switch (model) {
    case 13:
    case 27: return "13/27";
    case 12: return "12/38";  // the DS2 frame reads alike on both
    // The K9's right-aligned text is no DS2 field (zero-padded); it read as
    // 0 mg on model 12 before.
    case 38: return "38";
    case 17:
    case 21: return "17/21";
    default: return std::to_string(model);
    }
}

bool Commanded(sim::Record::Kind k) {
    return k == sim::Record::Ack || k == sim::Record::Tare || k == sim::Record::Price || k == sim::Record::Zero ||
           k == sim::Record::Command;
}

sim::Display ShownDisplay() {
    sim::Display d;
    d.weight = 1.234;
    d.price = 12.5;
    d.cost = 15.43;
    d.text = "4820000000017";
    return d;
}

}  // namespace

TEST(DetectSim, NoSimulatedScaleRecognisesACommandInAnyScan) {
    const std::string serial = PlanStream(BuildPlan(DefaultBauds(), false));
    const std::string tcp = PlanStream(BuildPlan({}, true));
    for (const sim::SimModel& m : sim::AllSimModels()) {
        for (const std::string& stream : {serial + serial, tcp + tcp}) {
            SCOPED_TRACE("model " + std::to_string(m.model));
            sim::CommandMatcher matcher(m.model);
            std::vector<sim::CommandMatcher::Message> out;
            for (char c : stream) matcher.Feed(static_cast<uint8_t>(c), &out);
            matcher.Flush(&out, false);
            for (const auto& msg : out)
                EXPECT_TRUE(msg.kind == sim::CommandMatcher::Request || msg.kind == sim::CommandMatcher::Unknown)
                    << "kind " << msg.kind << " bytes " << msg.bytes.size();
        }
    }
}

// Every simulated frame, judged by the step that would carry it: its model,
// or the group it shares its format with, and nobody else.
TEST(DetectSim, EverySimulatedFrameNamesItsModelOrGroup) {
    const Plan plan = BuildPlan({9600}, false);
    for (const sim::SimModel& m : sim::AllSimModels()) {
        SCOPED_TRACE("model " + std::to_string(m.model));
        const std::string frame = sim::EncodeFrame(m.model, ShownDisplay());
        ASSERT_FALSE(frame.empty());
        const bool talks = m.mode != sim::SimModel::Polled;
        bool judged = false;
        for (const Step& step : plan.steps) {
            if (step.listen != talks) continue;
            bool carries = false;
            for (int model : step.models) carries = carries || model == m.model;
            if (!carries) continue;
            judged = true;
            const std::string bytes = talks ? frame + frame + frame : frame;
            EXPECT_EQ(GroupName(Judge(step, bytes).models), ExpectedGroup(m.model)) << zel::LineName(step.line);
        }
        // The Axis is never asked (its read is the Radwag's tare).
        EXPECT_EQ(judged, m.model != 9);
    }
}

namespace {

struct DetectRun {
    int model;
    bool tcp;
    bool json;
    bool hangsUp;  // TCP: the connection closes after each answer
    std::unique_ptr<sim::Simulator> sim;
    std::string out, err;
    int exit = -1;
    uint64_t tookMs = 0;
    int pushMs = 300;  // a pushing scale's presses, this far apart
};

void Execute(DetectRun& run, const std::string& tool, const std::string& errPath) {
    std::string args = "--bauds 9600";
    if (run.tcp) args += " --host 127.0.0.1 --tcp-port " + std::to_string(run.sim->TcpPort());
    else args += " --port '" + run.sim->DevicePath() + "'";
    if (run.json) args += " --json";
    ToolRun r = RunDetectTool(tool, args, errPath);
    run.out = r.out;
    run.err = r.err;
    run.exit = r.exit;
    run.tookMs = r.tookMs;
}

}  // namespace

// Every simulated model at once (each run waits on its line far more than
// it computes), one scan of one speed each.
TEST(DetectSim, TheToolNamesEveryModelAtItsSpeedWithoutCommandingIt) {
    const char* tool = std::getenv("ZELSCALES");
    if (!tool || !*tool) ZEL_SKIP_OR_FAIL("ZELSCALES (the zelscales tool) not set");

    std::vector<std::unique_ptr<DetectRun>> runs;
    for (const sim::SimModel& m : sim::AllSimModels()) {
        runs.emplace_back(new DetectRun{m.model, false, false, false, nullptr, "", "", -1, 0});
    }
    // TCP for a polled, a streaming and a pushing scale; JSON once.
    runs.emplace_back(new DetectRun{35, true, false, false, nullptr, "", "", -1, 0});
    runs.emplace_back(new DetectRun{19, true, false, false, nullptr, "", "", -1, 0});
    runs.emplace_back(new DetectRun{22, true, false, false, nullptr, "", "", -1, 0});
    // An operator pressing the send key every 2 s.
    runs.emplace_back(new DetectRun{22, true, false, false, nullptr, "", "", -1, 0, 2000});
    runs.emplace_back(new DetectRun{15, false, false, false, nullptr, "", "", -1, 0, 2000});
    runs.emplace_back(new DetectRun{14, false, true, false, nullptr, "", "", -1, 0});
    // A converter that hangs up after every answer: the scan opens the line
    // again for the next request.
    runs.emplace_back(new DetectRun{14, true, false, true, nullptr, "", "", -1, 0});

    char dirTemplate[] = "/tmp/zel_detect_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;

    auto startSim = [](DetectRun& run) {
        run.sim.reset(new sim::Simulator(run.model));
        sim::Simulator& s = *run.sim;
        const sim::Display d = ShownDisplay();
        s.SetWeight(d.weight);
        s.SetPrice(d.price);
        s.SetText(d.text);
        if (sim::ModelPushes(run.model)) s.SetPushPeriodMs(run.pushMs);
        s.SetCloseAfterReply(run.hangsUp);
        return run.tcp ? s.StartTcp() : s.StartPty();
    };
    // What a scan recorded at the scale: never a command.
    auto checkNotCommanded = [](DetectRun& run) {
        for (const sim::Record& r : run.sim->Log())
            EXPECT_FALSE(Commanded(r.kind)) << "model " << run.model << ": the scale recorded "
                                            << sim::RecordKindName(r.kind);
        run.sim->Stop();
    };
    for (auto& run : runs) ASSERT_TRUE(startSim(*run)) << run->model;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < runs.size(); ++i) {
        DetectRun* run = runs[i].get();
        const std::string errPath = dir + "/err" + std::to_string(i);
        threads.emplace_back([run, tool, errPath] { Execute(*run, tool, errPath); });
    }
    for (std::thread& t : threads) t.join();
    // Dozens of scans and simulators share a loaded (perhaps sanitized)
    // machine, and a probe waits only a scale's usual reply time (150 ms to
    // the first byte): a scan that found nothing goes again on its own, up
    // to twice, before it counts as lost.
    for (size_t i = 0; i < runs.size(); ++i) {
        DetectRun& run = *runs[i];
        for (int again = 0; again < 2 && run.exit != 0 && run.model != 9; ++again) {
            checkNotCommanded(run);
            std::fprintf(stderr, "model %d%s: nothing found %s, scanning again alone\n", run.model,
                         run.tcp ? " tcp" : "", again == 0 ? "among the others" : "alone");
            ASSERT_TRUE(startSim(run)) << run.model;
            Execute(run, tool, dir + "/err" + std::to_string(i));
        }
    }

    for (auto& run : runs) {
        SCOPED_TRACE("model " + std::to_string(run->model) + (run->tcp ? " tcp" : " pty") + "\n" + run->out + run->err);
        checkNotCommanded(*run);
        const int bound = PrintedBoundSeconds(run->err);
        EXPECT_GT(bound, 0);
        // The scan ends within the bound it printed; the process around it
        // (started with dozens of others, perhaps sanitized) not much later.
        const double scanned = ReportedSeconds(run->err);
        EXPECT_GE(scanned, 0.0);
        EXPECT_LE(scanned, bound);
        EXPECT_LE(run->tookMs, static_cast<uint64_t>(bound) * 1000 + 15000);
        if (run->model == 9) {
            // Its request is the Radwag's tare: never asked.
            EXPECT_EQ(run->exit, 1);
            EXPECT_NE(run->err.find("nothing answered"), std::string::npos);
            continue;
        }
        EXPECT_EQ(run->exit, 0);
        const std::string group = ExpectedGroup(run->model);
        const bool single = group.find('/') == std::string::npos;
        if (run->json) {
            EXPECT_NE(run->out.find(",\"model\":" + group + ","), std::string::npos);
            EXPECT_EQ(run->out.rfind("{\"time\":\"", 0), 0u);
            EXPECT_NE(run->out.find("\"baud\":9600,\"line\":\"8N1\""), std::string::npos);
            EXPECT_NE(run->out.find("\"weight\":"), std::string::npos);
            // The settings to enter, by the setup form's keys, and the weigh command.
            EXPECT_NE(run->out.find("\"settings\":{\"model\":" + group + ",\"sameAs\":[],\"conntype\":0,\"cport\":"),
                      std::string::npos);
            EXPECT_NE(run->out.find("\"command\":\"zelscales weigh --port "), std::string::npos);
            continue;
        }
        const std::string where = run->tcp ? " at TCP " : " at 9600 baud ";
        EXPECT_NE(run->out.find(std::string("found ") + (single ? "model " : "group ") + group + where),
                  std::string::npos);
        // The settings to enter and a command line that weighs with them.
        const std::string first = group.substr(0, group.find('/'));
        EXPECT_NE(run->out.find("  settings: model " + first), std::string::npos);
        const bool pushes = sim::ModelPushes(run->model);
        EXPECT_NE(run->out.find(std::string("  zelscales ") + (pushes ? "listen" : "weigh") + " --" +
                                (run->tcp ? "host 127.0.0.1" : "port ") ),
                  std::string::npos);
        EXPECT_NE(run->out.find(" --model " + first + (run->tcp ? " --coeff " : " --baud 9600 --coeff ")),
                  std::string::npos);
        // Only that model (or group) was found.
        size_t founds = 0;
        for (size_t at = run->out.find("found "); at != std::string::npos; at = run->out.find("found ", at + 1))
            ++founds;
        EXPECT_EQ(founds, 1u);
    }
    std::remove((dir + "/err0").c_str());
    for (size_t i = 0; i < runs.size(); ++i) std::remove((dir + "/err" + std::to_string(i)).c_str());
    rmdir(dir.c_str());
}

TEST(DetectSim, ExitCodes) {
    const char* tool = std::getenv("ZELSCALES");
    if (!tool || !*tool) ZEL_SKIP_OR_FAIL("ZELSCALES (the zelscales tool) not set");
    struct Case {
        const char* args;
        int exit;
    };
    const Case cases[] = {
        {"", 2},                                       // no line
        {"--port /dev/a --host 127.0.0.1", 2},        // two lines
        {"--port /dev/a --bauds 96x0", 2},
        {"--port /dev/a --bauds 9600,", 2},
        {"--host 127.0.0.1 --tcp-port 70000", 2},
        {"--port /dev/a --frobnicate", 2},
        {"--help", 0},
        {"--port /nonexistent/zel-detect-line --bauds 9600", 1},  // cannot open
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string cmd = "'" + std::string(tool) + "' detect " + c.args + " >/dev/null 2>&1";
        const int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.exit);
    }
}
