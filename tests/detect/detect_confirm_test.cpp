// A find takes two replies: a line that answers a model's request once, and
// then stays silent or answers otherwise, names no scale.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "devices/ModelTable.h"
#include "sim/Frames.h"
#include "tests/detect/detect_support.h"
#include "tests/skip_or_fail.h"

using namespace detect_support;

namespace {

// A TCP peer that answers `model`'s read request with its frame `answers`
// times, then with `after` (nothing when empty), across every connection.
class OneShotScale {
public:
    OneShotScale(int model, int answers, std::string after) : answers_(answers), after_(std::move(after)) {
        const zel::exchange::PolledProtocol* p = zel::devices::PolledProtocolOf(model);
        request_.assign(reinterpret_cast<const char*>(p->request), static_cast<size_t>(p->requestLength));
        sim::Display d;
        d.weight = 1.234;
        frame_ = sim::EncodeFrame(model, d);
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 4) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~OneShotScale() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        close(listener_);
    }
    int Port() const { return port_; }
    int Answered() const { return answered_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int c = accept(listener_, nullptr, nullptr);
            if (c < 0) continue;
            std::string heard;
            while (!stop_) {
                pollfd q{c, POLLIN, 0};
                if (poll(&q, 1, 50) <= 0) continue;
                char buf[256];
                const ssize_t n = read(c, buf, sizeof buf);
                if (n <= 0) break;
                heard.append(buf, static_cast<size_t>(n));
                for (size_t at; (at = heard.find(request_)) != std::string::npos;) {
                    heard.erase(0, at + request_.size());
                    const std::string& reply = answered_ < answers_ ? frame_ : after_;
                    if (answered_ < answers_) ++answered_;
                    if (!reply.empty() && write(c, reply.data(), reply.size()) < 0) break;
                }
            }
            close(c);
        }
    }

    const int answers_;
    const std::string after_;
    std::string request_, frame_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

}  // namespace

TEST(DetectConfirm, OneReplyNamesNoScale) {
    const char* tool = std::getenv("ZELSCALES");
    if (!tool || !*tool) ZEL_SKIP_OR_FAIL("ZELSCALES (the zelscales tool) not set");
    struct Case {
        const char* name;
        int answers;
        std::string after;
        bool found;
    };
    const Case cases[] = {
        {"answers once, then silence", 1, "", false},
        {"answers once, then noise", 1, "\x15\x15\x15", false},
        {"answers every time", 1000, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneShotScale scale(14, c.answers, c.after);
        ASSERT_GT(scale.Port(), 0);
        char errPath[] = "/tmp/zel_detect_confirm_XXXXXX";
        const int fd = mkstemp(errPath);
        ASSERT_GE(fd, 0);
        close(fd);
        const ToolRun run =
            RunDetectTool(tool, "--host 127.0.0.1 --tcp-port " + std::to_string(scale.Port()), errPath);
        SCOPED_TRACE(run.out + run.err);
        EXPECT_GE(scale.Answered(), 1);
        EXPECT_EQ(run.exit, c.found ? 0 : 1);
        EXPECT_EQ(run.out.find("found model 14 at TCP") != std::string::npos, c.found);
        EXPECT_EQ(run.err.find("nothing answered") != std::string::npos, !c.found);
    }
}
