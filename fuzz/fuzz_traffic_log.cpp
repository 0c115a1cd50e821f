// The traffic log's formatting of one transfer: any bytes, any length and
// line settings. The block is the header and one row per 20 bytes, every row
// the same width for offsets of up to five digits.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/in_process.h"
#include "transport/Log.h"

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelfuzz::Input in(data, size);
    int direction = static_cast<int8_t>(in.U8());
    platform::LocalTime t{static_cast<int>(in.U16()), in.U8(), in.U8(), in.U8(), in.U8(), in.U8(),
                          static_cast<int>(in.U16())};
    std::string line;
    uint8_t kind = in.U8();
    std::string name = in.Bytes(in.U8() % 40);
    if (kind & 1) {
        line = zel::TrafficComLine(name.c_str(), static_cast<int32_t>(in.U32()), static_cast<int32_t>(in.U32()),
                                   static_cast<int32_t>(in.U32()), static_cast<int32_t>(in.U32()),
                                   static_cast<int>(in.U32()), static_cast<int>(in.U32()));
    } else {
        line = zel::TrafficTcpLine(name.c_str(), static_cast<int32_t>(in.U32()));
    }
    // The rest is the transfer, in a buffer of exactly its size.
    std::string rest = in.Bytes(size);
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[rest.size() + 1]);
    std::memcpy(bytes.get(), rest.data(), rest.size());
    int32_t length = static_cast<int32_t>(rest.size());

    std::string block = zel::TrafficBlock(direction, bytes.get(), length, line, t);
    std::string header = zel::TrafficBlockHeader(direction, length, line, t);
    if (block.compare(0, header.size(), header) != 0) std::abort();
    std::string rows = block.substr(header.size());
    size_t expectedRows = (rest.size() + 19) / 20;
    if (Count(rows, "\r\n") < expectedRows) std::abort();
    // Rows are cut by position, never by their content.
    size_t at = 0;
    for (size_t r = 0; r < expectedRows; ++r) {
        int32_t count = length - static_cast<int32_t>(r * 20) < 20 ? length - static_cast<int32_t>(r * 20) : 20;
        std::string row = zel::TrafficRow(bytes.get() + r * 20, count, static_cast<int32_t>(r * 20));
        if (row.size() != 94 || rows.compare(at, row.size(), row) != 0) std::abort();
        at += row.size();
    }
    if (at != rows.size()) std::abort();
    if (zel::TrafficBlock(direction, nullptr, length, line, t) != header) std::abort();
    return 0;
}
