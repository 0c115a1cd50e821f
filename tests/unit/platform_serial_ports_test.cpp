// The serial-port listing: the name order on every system, and on Linux the
// enumeration over a made-up sysfs and /dev, with a real pseudo-terminal
// standing in for a USB adapter so that a held line shows as busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/serial.h"
#include "platform/serial_ports.h"
#ifndef _WIN32
#include <sys/stat.h>

#include "platform/pty.h"
#endif

namespace {

TEST(SerialPortNames, DigitRunsCompareAsNumbers) {
    struct Case {
        const char* a;
        const char* b;
        bool less;
    };
    const Case cases[] = {
        {"COM2", "COM10", true},          {"COM10", "COM2", false},        {"COM3", "COM3", false},
        {"/dev/ttyS9", "/dev/ttyS10", true}, {"/dev/ttyACM0", "/dev/ttyS0", true},
        {"/dev/ttyUSB10", "/dev/ttyUSB2", false}, {"COM02", "COM3", true},  {"COM1", "COM1a", true},
        {"COM99999999999999999999", "COM100000000000000000000", true},  // beyond any integer type
        {"", "COM1", true},               {"COM1", "", false},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::PortNameLess(c.a, c.b), c.less) << c.a << " < " << c.b;
    // A strict order: never both ways.
    for (const Case& c : cases)
        EXPECT_FALSE(platform::PortNameLess(c.a, c.b) && platform::PortNameLess(c.b, c.a)) << c.a << ", " << c.b;
}

#ifndef _WIN32

namespace fs = std::filesystem;

// A machine's /sys and /dev, made up in a temporary folder.
class FakeTree {
public:
    FakeTree() : root_(platform::MakePrivateTempDir("zel-ports-")) {}
    ~FakeTree() {
        std::error_code ec;
        fs::permissions(root_ + "/dev/ttyACM0", fs::perms::owner_all, ec);
        fs::remove_all(root_, ec);
    }
    const std::string& root() const { return root_; }

    void File(const std::string& path, const std::string& content) {
        fs::create_directories(fs::path(root_ + "/" + path).parent_path());
        std::ofstream(root_ + "/" + path, std::ios::binary) << content;
    }
    void Dir(const std::string& path) { fs::create_directories(root_ + "/" + path); }
    // A link at `path` holding `target` as written (relative links keep the
    // tree movable, as sysfs's own are).
    void Link(const std::string& target, const std::string& path) {
        fs::create_directories(fs::path(root_ + "/" + path).parent_path());
        fs::create_symlink(target, root_ + "/" + path);
    }
    // sys/class/tty/NAME -> the tty's folder under its device, with the
    // device link back up (as the kernel lays them out).
    void Tty(const std::string& name, const std::string& device, const std::string& type = "") {
        const std::string ttyDir = "sys/" + device + "/tty/" + name;
        Dir(ttyDir);
        Link("../..", ttyDir + "/device");
        if (!type.empty()) File(ttyDir + "/type", type);
        Link("../../" + device + "/tty/" + name, "sys/class/tty/" + name);
    }
    void Driver(const std::string& device, const std::string& bus, const std::string& driver) {
        Dir("sys/bus/" + bus + "/drivers/" + driver);
        const int depth = static_cast<int>(std::count(device.begin(), device.end(), '/')) + 1;
        std::string up;
        for (int i = 0; i < depth; ++i) up += "../";
        Link(up + "bus/" + bus + "/drivers/" + driver, "sys/" + device + "/driver");
    }

private:
    std::string root_;
};

struct Expected {
    std::string kind, driver, vendor, productId, manufacturer, product, serial;
    std::vector<std::string> aliases;  // file names under dev/serial/by-id
    platform::PortAccess access;
};

TEST(SerialPortsLinux, MadeUpTree) {
    FakeTree t;
    ASSERT_FALSE(t.root().empty());
    std::string slave;
    const int master = platform::PtyOpenMaster(&slave);
    ASSERT_NE(master, platform::kNoHandle);

    // UARTs: one real, one without a driver, one whose UART type is unknown,
    // one whose type file holds no number (and whose node is no tty to ask).
    t.Tty("ttyS0", "devices/pnp0/00:05", "4\n");
    t.Driver("devices/pnp0/00:05", "pnp", "serial");
    t.File("dev/ttyS0", "");
    t.Tty("ttyS1", "devices/platform/serial8250", "4\n");
    t.File("dev/ttyS1", "");
    t.Tty("ttyS2", "devices/platform/serial8250b", "0\n");
    t.Driver("devices/platform/serial8250b", "platform", "serial8250");
    t.File("dev/ttyS2", "");
    t.Tty("ttyS3", "devices/platform/serial8250c", "16550A\n");
    t.Driver("devices/platform/serial8250c", "platform", "serial8250");
    t.File("dev/ttyS3", "");
    // A USB adapter: ids on the USB device two levels above the port, the
    // node a real pseudo-terminal, a stable name in by-id.
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    t.File("sys/" + usb + "/idVendor", "0403\n");
    t.File("sys/" + usb + "/idProduct", "6001\n");
    t.File("sys/" + usb + "/manufacturer", "FTDI\n");
    t.File("sys/" + usb + "/product", "FT232R USB UART\n");
    t.File("sys/" + usb + "/serial", "A50285BI\n");
    t.Tty("ttyUSB0", usb + "/1-2:1.0/ttyUSB0");
    t.Driver(usb + "/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    t.Link(slave, "dev/ttyUSB0");
    t.Link("../../ttyUSB0", "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    // An ACM device: the tty under the interface; its texts with control
    // characters and an id that is no hex; no serial number.
    const std::string acm = "devices/pci0000:00/0000:00:14.0/usb1/1-3";
    t.File("sys/" + acm + "/idVendor", "2341");
    t.File("sys/" + acm + "/idProduct", "zz43\n");
    t.File("sys/" + acm + "/product", std::string("Uno\x01R3\x7f\n", 8));
    t.Tty("ttyACM0", acm + "/1-3:1.0");
    t.Driver(acm + "/1-3:1.0", "usb", "cdc_acm");
    t.File("dev/ttyACM0", "");
    // In sysfs but without a node, and a node without sysfs; other ttys,
    // names that only look like ports, a by-id link that loops, a device
    // link that leaves the tree and a FIFO where an attribute should be.
    t.Tty("ttyUSB1", usb + "/1-2:1.1/ttyUSB1");
    t.File("dev/ttyUSB9", "");
    t.Tty("tty0", "devices/virtual/tty0");
    t.File("dev/tty0", "");
    t.File("dev/ttyS", "");
    t.File("dev/ttySx1", "");
    t.File("dev/ttyUSB1234567", "");
    t.Link("loop", "dev/serial/by-id/loop");
    t.Dir("sys/devices/elsewhere/tty/ttyACM7");
    t.Link("/", "sys/devices/elsewhere/tty/ttyACM7/device");
    t.Link("../../devices/elsewhere/tty/ttyACM7", "sys/class/tty/ttyACM7");
    t.File("dev/ttyACM7", "");
    ASSERT_EQ(mkfifo((t.root() + "/sys/" + acm + "/manufacturer").c_str(), 0600), 0);

    // The ACM node may not be opened, where this user is held to file modes.
    fs::permissions(t.root() + "/dev/ttyACM0", fs::perms::none);
    const bool modesHold = !std::ifstream(t.root() + "/dev/ttyACM0").is_open();

    const std::string byId = t.root() + "/dev/serial/by-id/";
    const std::map<std::string, Expected> expected = {
        {"ttyS0", {"uart", "serial", "", "", "", "", "", {}, platform::PortAccess::kFree}},
        {"ttyUSB0",
         {"usb", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
          {byId + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}, platform::PortAccess::kFree}},
        {"ttyACM0",
         {"acm", "cdc_acm", "2341", "", "", "Uno R3", "", {},
          modesHold ? platform::PortAccess::kDenied : platform::PortAccess::kFree}},
        {"ttyACM7", {"acm", "", "", "", "", "", "", {}, platform::PortAccess::kFree}},
        {"ttyUSB9", {"usb", "", "", "", "", "", "", {}, platform::PortAccess::kFree}},
    };

    auto check = [&](platform::PortAccess usbAccess) {
        std::vector<platform::SerialPortInfo> ports = platform::ListSerialPortsUnder(t.root());
        std::vector<std::string> names;
        for (const auto& p : ports) names.push_back(p.name.substr(t.root().size() + 5));
        EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyACM7", "ttyS0", "ttyUSB0", "ttyUSB9"}));
        for (const auto& p : ports) {
            const std::string name = p.name.substr(t.root().size() + 5);
            auto it = expected.find(name);
            if (it == expected.end()) continue;
            const Expected& e = it->second;
            EXPECT_EQ(p.kind, e.kind) << name;
            EXPECT_EQ(p.driver, e.driver) << name;
            EXPECT_EQ(p.vendorId, e.vendor) << name;
            EXPECT_EQ(p.productId, e.productId) << name;
            EXPECT_EQ(p.manufacturer, e.manufacturer) << name;
            EXPECT_EQ(p.product, e.product) << name;
            EXPECT_EQ(p.serialNumber, e.serial) << name;
            EXPECT_EQ(p.aliases, e.aliases) << name;
            const platform::PortAccess access = name == "ttyUSB0" ? usbAccess : e.access;
            EXPECT_EQ(p.access, access) << name << ": " << p.accessDetail;
            if (access != platform::PortAccess::kFree) {
                EXPECT_FALSE(p.accessDetail.empty()) << name;
            }
            if (!e.driver.empty()) {
                EXPECT_EQ(p.device.rfind("/sys/devices/", 0), 0u) << name << ": " << p.device;
            }
        }
    };
    check(platform::PortAccess::kFree);
    {
        // The driver's own open (exclusive mode and a lock) makes it busy,
        // for root too.
        platform::SerialLine held;
        ASSERT_TRUE(held.Open(slave.c_str()));
        check(platform::PortAccess::kBusy);
    }
    check(platform::PortAccess::kFree);
    platform::IoClose(master);
}

TEST(SerialPortsLinux, MissingOrEmptyTreeListsNothing) {
    EXPECT_TRUE(platform::ListSerialPortsUnder("/nonexistent/zel-ports").empty());
    const std::string empty = platform::MakePrivateTempDir("zel-ports-");
    ASSERT_FALSE(empty.empty());
    EXPECT_TRUE(platform::ListSerialPortsUnder(empty).empty());
    platform::RemovePath(empty);
}

TEST(SerialPortsLinux, ThisMachine) {
    // Whatever it has: names under /dev, a kind, and a reason for any state
    // other than free.
    for (const platform::SerialPortInfo& p : platform::ListSerialPorts()) {
        EXPECT_EQ(p.name.rfind("/dev/tty", 0), 0u) << p.name;
        EXPECT_TRUE(p.kind == "uart" || p.kind == "usb" || p.kind == "acm") << p.name;
        if (p.access != platform::PortAccess::kFree) {
            EXPECT_FALSE(p.accessDetail.empty()) << p.name;
        }
    }
}

#endif  // _WIN32

}  // namespace
