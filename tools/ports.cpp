#include "tools/ports.h"

#include <algorithm>
#include <cstdio>

#include "tools/commands.h"
#include "tools/json.h"

using namespace zelscales;

namespace {

const char kPortsUsage[] =
    "usage: zelscales ports [--json]\n"
    "\n"
    "Lists the serial ports of this machine: the name to give as --port, what kind of port it\n"
    "is (uart, usb, acm; com on Windows), whether it is free, busy (held by another program)\n"
    "or denied (this user may not open it), and what the system tells of the device: its\n"
    "name, maker, USB vendor:product id, serial number, driver and stable names\n"
    "(/dev/serial/by-id/...). Each port is opened for a moment; nothing is sent to it.\n"
    "--json prints one JSON object per port, one a line.\n"
#ifndef _WIN32
    "--root DIR looks for sys/ and dev/ under DIR instead of / (a copy of another machine's).\n"
#endif
    ;

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

std::string JsonPort(const platform::SerialPortInfo& p) {
    json::Object o;
    o.String("name", p.name).String("kind", p.kind).String("access", platform::PortAccessName(p.access));
    if (!p.accessDetail.empty()) o.String("detail", p.accessDetail);
    if (!p.description.empty()) o.String("description", p.description);
    if (!p.driver.empty()) o.String("driver", p.driver);
    if (!p.device.empty()) o.String("device", p.device);
    o.Set("aliases", json::Value(p.aliases));
    if (!p.vendorId.empty()) {
        json::Object usb;
        usb.String("vendor_id", p.vendorId).String("product_id", p.productId);
        if (!p.manufacturer.empty()) usb.String("manufacturer", p.manufacturer);
        if (!p.product.empty()) usb.String("product", p.product);
        if (!p.serialNumber.empty()) usb.String("serial", p.serialNumber);
        o.Set("usb", usb.value());
    } else if (!p.manufacturer.empty()) {
        o.String("manufacturer", p.manufacturer);
    }
    return o.Text();
}

}  // namespace

namespace zelscales {

std::string FormatPorts(const std::vector<platform::SerialPortInfo>& ports, bool asJson) {
    std::string out;
    if (asJson) {
        for (const platform::SerialPortInfo& p : ports) out += JsonPort(p) + "\n";
        return out;
    }
    if (ports.empty()) return "no serial ports found\n";
    size_t width = 4;
    for (const platform::SerialPortInfo& p : ports) width = std::max(width, p.name.size());
    const std::string indent(width + 2, ' ');
    for (const platform::SerialPortInfo& p : ports) {
        std::string state = platform::PortAccessName(p.access);
        if (!p.accessDetail.empty()) state += ": " + p.accessDetail;
        char head[64];
        std::snprintf(head, sizeof head, "%-4s  ", p.kind.c_str());
        out += p.name + std::string(width - p.name.size() + 2, ' ') + head + state + "\n";
        std::string usb;
        if (!p.vendorId.empty()) usb = "(" + p.vendorId + ":" + p.productId + ")";
        const std::string what = Join({p.description, p.manufacturer, p.product, usb}, " ");
        const std::string details = Join({what, p.serialNumber.empty() ? "" : "serial " + p.serialNumber,
                                          p.driver.empty() ? "" : "driver " + p.driver},
                                         ", ");
        if (!details.empty()) out += indent + details + "\n";
        for (const std::string& alias : p.aliases) out += indent + alias + "\n";
    }
    return out;
}

const char* PortsUsage() { return kPortsUsage; }

int RunPorts(const Options& o) {
    const bool asJson = o.json;
#ifndef _WIN32
    const std::vector<platform::SerialPortInfo> ports = platform::ListSerialPortsUnder(o.root);
#else
    const std::vector<platform::SerialPortInfo> ports = platform::ListSerialPorts();
#endif
    const std::string text = FormatPorts(ports, asJson);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitOk;
}

}  // namespace zelscales
