// Models 40 (KELI D12) and 41 (BST106), through the loaded library, against
// a real Modbus RTU slave: libmodbus serving the master side of a
// pseudo-terminal, the driver on its slave side. The slave checks the CRC of
// every request (a bad one is dropped unanswered), answers from its holding
// registers and keeps what a write puts there.
#include <gtest/gtest.h>
#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/Component.h"
#include "platform/pty.h"
#include "platform/sys.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Slave 1 with holding registers 0..15, served on its own thread.
class ModbusSlave {
public:
    static const int kRegisters = 16;

    ModbusSlave() {
        master_ = platform::PtyOpenMaster(&path_);
        if (master_ == platform::kNoHandle) return;
        // The device name is never opened: the context serves the pty master.
        ctx_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
        map_ = modbus_mapping_new(0, 0, kRegisters, 0);
        if (!ctx_ || !map_) return;
        modbus_set_slave(ctx_, 1);
        modbus_set_socket(ctx_, master_);
        // A receive gives up after 100 ms without a request, so the loop
        // sees the stop flag.
        modbus_set_indication_timeout(ctx_, 0, 100000);
        thread_ = std::thread([this] { Serve(); });
    }

    ~ModbusSlave() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (ctx_) {
            // Closing the context would set terminal attributes on the master
            // and close it: detach it first.
            modbus_set_socket(ctx_, -1);
            modbus_free(ctx_);
        }
        if (map_) modbus_mapping_free(map_);
        if (master_ != platform::kNoHandle) platform::IoClose(master_);
    }

    bool Ready() const { return thread_.joinable(); }
    const std::string& Path() const { return path_; }

    // Registers 2..4: the count (i32 big-endian), then the status byte
    // (bit 5 stable) and a spare byte.
    void ShowBst106(int32_t count, bool stable) {
        const uint32_t u = static_cast<uint32_t>(count);
        std::lock_guard<std::mutex> lock(mu_);
        map_->tab_registers[2] = static_cast<uint16_t>(u >> 16);
        map_->tab_registers[3] = static_cast<uint16_t>(u & 0xFFFF);
        map_->tab_registers[4] = stable ? 0x2000 : 0x0000;
    }
    // Registers 3..6: seven weight characters, then the decimals digit.
    void ShowD12(const char* text, char decimals) {
        const uint8_t b[8] = {static_cast<uint8_t>(text[0]), static_cast<uint8_t>(text[1]),
                              static_cast<uint8_t>(text[2]), static_cast<uint8_t>(text[3]),
                              static_cast<uint8_t>(text[4]), static_cast<uint8_t>(text[5]),
                              static_cast<uint8_t>(text[6]), static_cast<uint8_t>(decimals)};
        std::lock_guard<std::mutex> lock(mu_);
        for (int i = 0; i < 4; ++i) map_->tab_registers[3 + i] = static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
    }
    uint16_t Register(int index) {
        std::lock_guard<std::mutex> lock(mu_);
        return map_->tab_registers[index];
    }
    // Busy: every request gets the exception reply "slave busy" (function
    // with bit 7 set).
    void SetBusy(bool busy) { busy_ = busy; }
    // A command register that clears itself once carried out: a write to it
    // is answered with its value after the write, 0.
    void SetSelfClearing(int reg) { selfClearing_ = reg; }

    // Requests that passed the CRC check, as they arrived (CRC included).
    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> lock(mu_);
        return requests_;
    }
    int BadCrcs() const { return badCrcs_; }

private:
    void Serve() {
        uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            // Between the driver's calls the slave side may be closed: the
            // master then reads as hung up.
            if (!platform::PtyPeerOpen(master_)) {
                platform::SleepMs(5);
                continue;
            }
            const int n = modbus_receive(ctx_, req);
            if (n < 0) {
                if (errno == EMBBADCRC) ++badCrcs_;
                if (errno != ETIMEDOUT) platform::SleepMs(5);
                continue;
            }
            if (n == 0) continue;  // for another slave
            std::lock_guard<std::mutex> lock(mu_);
            requests_.emplace_back(req, req + n);
            if (busy_) {
                modbus_reply_exception(ctx_, req, MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY);
            } else if (n == 8 && req[1] == 0x06 && (req[2] << 8 | req[3]) == selfClearing_) {
                const uint8_t reply[6] = {req[0], req[1], req[2], req[3], 0x00, 0x00};
                modbus_send_raw_request(ctx_, reply, sizeof reply);  // adds the CRC
            } else {
                modbus_reply(ctx_, req, n, map_);
            }
        }
    }

    std::string path_;
    int master_ = platform::kNoHandle;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    std::thread thread_;
    std::mutex mu_;
    std::vector<Bytes> requests_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> busy_{false};
    std::atomic<int> selfClearing_{-1};
    std::atomic<int> badCrcs_{0};
};

struct Weighing {
    int32_t code = -1;
    double weight = 0;
    int64_t stable = -1;
    uint64_t tookMs = 0;
};

// The driver component with one device on the slave's line.
class Driver {
public:
    Driver(int model, const std::string& path, bool keep)
        : component_(new zel::host::Component(zel::host::DefaultLibraryPath())) {
        using zel::host::Value;
        component_->SetParameter(u"model", Value::Int(model));
        component_->SetParameter(u"conleave", Value::Bool(keep));
        component_->SetParameter(u"conntype", Value::Int(0));
        component_->SetParameter(u"cport", Value::Text(zel::host::FromUtf8(path)));
        component_->SetParameter(u"cbaudrate", Value::Int(9600));
        id_ = component_->Open();
        openCode = component_->LastError();
    }

    Weighing Weigh() {
        using zel::host::Value;
        Weighing w;
        const uint64_t start = platform::MonotonicMs();
        auto r = component_->Call(u"GetWeightPriceCost", {Value::Text(id_), Value(), Value(), Value(), Value()});
        w.tookMs = platform::MonotonicMs() - start;
        w.code = component_->LastError();
        if (r.ok && r.params.size() == 5) {
            w.weight = r.params[1].number;
            w.stable = r.params[4].integer;
        }
        return w;
    }

    int32_t Tare() {
        component_->Call(u"Calibrate", {zel::host::Value::Text(id_), zel::host::Value::Double(0.0)});
        return component_->LastError();
    }

    int32_t openCode = -1;

private:
    std::unique_ptr<zel::host::Component> component_;
    std::u16string id_;
};

const Bytes kBst106Request = {0x01, 0x03, 0x00, 0x02, 0x00, 0x03, 0xA4, 0x0B};
const Bytes kBst106Tare = {0x01, 0x06, 0x00, 0x07, 0xA5, 0x0B, 0x02, 0x9C};
const Bytes kD12Request = {0x01, 0x03, 0x00, 0x03, 0x00, 0x04, 0xB4, 0x09};
const Bytes kD12Zero = {0x01, 0x06, 0x00, 0x01, 0x00, 0x17, 0x98, 0x04};

}  // namespace

TEST(ModbusSlave, Bst106WeightsFromTheSlavesRegisters) {
    ModbusSlave slave;
    ASSERT_TRUE(slave.Ready());
    Driver driver(41, slave.Path(), /*keep=*/true);
    ASSERT_EQ(driver.openCode, 0);
    struct Case {
        int32_t count;
        bool stable;
    };
    const Case cases[] = {{1234, true}, {-1234, false}, {0, true}, {2147483647, true}, {-2147483647 - 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        slave.ShowBst106(c.count, c.stable);
        Weighing w = driver.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, static_cast<double>(c.count));
        EXPECT_EQ(w.stable, c.stable ? 1 : 0);
    }
    // Each weighing took one request, and the slave found its CRC right.
    const std::vector<Bytes> requests = slave.Requests();
    EXPECT_EQ(requests.size(), 5u);
    for (const Bytes& r : requests) EXPECT_EQ(r, kBst106Request);
    EXPECT_EQ(slave.BadCrcs(), 0);
}

TEST(ModbusSlave, D12WeightsFromTheSlavesRegisters) {
    ModbusSlave slave;
    ASSERT_TRUE(slave.Ready());
    Driver driver(40, slave.Path(), /*keep=*/false);
    ASSERT_EQ(driver.openCode, 0);
    struct Case {
        const char* text;
        char decimals;
        double expected;
    };
    const Case cases[] = {
        {"0012345", '3', 12.345}, {"0012345", '0', 12345}, {"-000050", '2', -0.5},
        {"0000007", '4', 0.0007}, {"9999999", '1', 999999.9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + c.decimals);
        slave.ShowD12(c.text, c.decimals);
        Weighing w = driver.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_NEAR(w.weight, c.expected, 1e-9);
        EXPECT_EQ(w.stable, 0);
    }
    const std::vector<Bytes> requests = slave.Requests();
    EXPECT_EQ(requests.size(), 5u);
    for (const Bytes& r : requests) EXPECT_EQ(r, kD12Request);
    EXPECT_EQ(slave.BadCrcs(), 0);
}

TEST(ModbusSlave, TareAndZeroLandInTheSlavesRegisters) {
    // BST106: tare writes A50B to register 7. D12: tare is its zero, 0017 to
    // register 1. The slave's answer, the write itself, confirms it; the
    // next weighing is answered at its first request.
    struct Case {
        int model;
        int reg;
        uint16_t value;
        Bytes write;
    };
    for (const Case& c : {Case{41, 7, 0xA50B, kBst106Tare}, Case{40, 1, 0x0017, kD12Zero}}) {
        for (bool keep : {true, false}) {
            SCOPED_TRACE(testing::Message() << "model " << c.model << (keep ? ", kept" : ", released"));
            ModbusSlave slave;
            ASSERT_TRUE(slave.Ready());
            // The two layouts share registers 3 and 4: one at a time.
            if (c.model == 41)
                slave.ShowBst106(500, true);
            else
                slave.ShowD12("0000500", '3');
            Driver driver(c.model, slave.Path(), keep);
            ASSERT_EQ(driver.openCode, 0);
            ASSERT_EQ(slave.Register(c.reg), 0);

            const uint64_t start = platform::MonotonicMs();
            EXPECT_EQ(driver.Tare(), 0);
            EXPECT_GE(platform::MonotonicMs() - start, 150u - 5);  // the pause after the write
            for (int spin = 0; spin < 100 && slave.Register(c.reg) != c.value; ++spin) platform::SleepMs(10);
            EXPECT_EQ(slave.Register(c.reg), c.value);
            std::vector<Bytes> requests = slave.Requests();
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0], c.write);

            Weighing w = driver.Weigh();
            EXPECT_EQ(w.code, 0);
            EXPECT_EQ(w.weight, c.model == 41 ? 500.0 : 0.5);
            EXPECT_EQ(slave.Requests().size(), 2u);
            EXPECT_EQ(slave.BadCrcs(), 0);
        }
    }
}

TEST(ModbusSlave, ASelfClearingCommandRegisterConfirmsTheWrite) {
    // The slave answers the write with the register's value after it, 0: the
    // same address, function and register with a valid CRC confirm it.
    for (const int model : {41, 40}) {
        SCOPED_TRACE(model);
        ModbusSlave slave;
        ASSERT_TRUE(slave.Ready());
        slave.SetSelfClearing(model == 41 ? 7 : 1);
        Driver driver(model, slave.Path(), /*keep=*/true);
        ASSERT_EQ(driver.openCode, 0);
        EXPECT_EQ(driver.Tare(), 0);
        const std::vector<Bytes> requests = slave.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0], model == 41 ? kBst106Tare : kD12Zero);
    }
}

TEST(ModbusSlave, WritesTheSlaveDoesNotConfirmGiveThree) {
    // A busy slave answers the write with an exception; on a line with no
    // slave at all nothing answers. Either way 3, after the pause and the
    // read budget, where the write used to report 0.
    struct Case {
        int model;
        bool slavePresent;
        uint64_t budgetMs;
    };
    for (Case c : {Case{41, true, 300}, Case{40, true, 500}, Case{41, false, 300}, Case{40, false, 500}}) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << (c.slavePresent ? ", busy slave" : ", no slave"));
        std::unique_ptr<ModbusSlave> slave;
        std::string path;
        int master = platform::kNoHandle;
        if (c.slavePresent) {
            slave.reset(new ModbusSlave);
            ASSERT_TRUE(slave->Ready());
            slave->SetBusy(true);
            path = slave->Path();
        } else {
            master = platform::PtyOpenMaster(&path);
            ASSERT_NE(master, platform::kNoHandle);
        }
        Driver driver(c.model, path, /*keep=*/true);
        ASSERT_EQ(driver.openCode, 0);
        const uint64_t start = platform::MonotonicMs();
        EXPECT_EQ(driver.Tare(), 3);
        const uint64_t took = platform::MonotonicMs() - start;
        EXPECT_GE(took, 150 + c.budgetMs - 20);
        EXPECT_LT(took, 150 + c.budgetMs + 1000);
        if (slave) {
            EXPECT_EQ(slave->Requests().size(), 1u);
        }
        if (master != platform::kNoHandle) platform::IoClose(master);
    }
}

TEST(ModbusSlave, ExceptionRepliesAreNotAccepted) {
    // A busy slave answers every request with an exception: three attempts,
    // each spending its budget on the missing bytes, then 3.
    struct Case {
        int model;
        uint64_t budgetMs;  // attempts x budget
    };
    for (Case c : {Case{41, 3 * 300}, Case{40, 3 * 500}}) {
        SCOPED_TRACE(c.model);
        ModbusSlave slave;
        ASSERT_TRUE(slave.Ready());
        if (c.model == 41)
            slave.ShowBst106(700, true);
        else
            slave.ShowD12("0000700", '0');
        Driver driver(c.model, slave.Path(), /*keep=*/true);
        ASSERT_EQ(driver.openCode, 0);
        slave.SetBusy(true);
        Weighing w = driver.Weigh();
        EXPECT_EQ(w.code, 3);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_EQ(w.stable, 0);
        EXPECT_GE(w.tookMs, c.budgetMs - 20);
        EXPECT_LE(w.tookMs, c.budgetMs + 1500);
        EXPECT_EQ(slave.Requests().size(), 3u);
        slave.SetBusy(false);
        w = driver.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, 700.0);
    }
}

TEST(ModbusSlave, TheSlaveDropsARequestWithABadCrc) {
    // What makes the tests above worth having: the slave answers the fixed
    // request and ignores the same bytes with one CRC bit wrong.
    ModbusSlave slave;
    ASSERT_TRUE(slave.Ready());
    slave.ShowBst106(-2, true);
    int tty = platform::TtyOpen(slave.Path());
    ASSERT_NE(tty, platform::kNoHandle);
    ASSERT_TRUE(platform::TtySetRaw(tty));
    auto exchange = [&](const Bytes& request, size_t want) {
        platform::IoWrite(tty, request.data(), request.size());
        Bytes got;
        const uint64_t until = platform::MonotonicMs() + (want ? 2000 : 400);
        while (got.size() < (want ? want : 1) && platform::MonotonicMs() < until) {
            uint8_t buf[64];
            long n = platform::IoRead(tty, buf, sizeof buf);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
            else
                platform::SleepMs(5);
        }
        return got;
    };
    Bytes bad = kBst106Request;
    bad[7] ^= 0x01;
    EXPECT_TRUE(exchange(bad, 0).empty());
    for (int spin = 0; spin < 100 && slave.BadCrcs() < 1; ++spin) platform::SleepMs(10);
    EXPECT_EQ(slave.BadCrcs(), 1);
    const Bytes reply = exchange(kBst106Request, 11);
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 9), Bytes({0x01, 0x03, 0x06, 0xFF, 0xFF, 0xFF, 0xFE, 0x20, 0x00}));
    EXPECT_EQ(slave.Requests().size(), 1u);
    platform::IoClose(tty);
}
