// Shared pieces of the boundary tests: a fixture that loads the driver
// through the host layer, and a small XML reader for the parameter form.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "host/Component.h"

namespace zeltest {

using zel::host::CallOptions;
using zel::host::CallResult;
using zel::host::Component;
using zel::host::Value;
namespace abi = zel::host::abi;

inline std::string U8(const std::u16string& s) { return zel::host::ToUtf8(s); }

class DriverTest : public ::testing::Test {
protected:
    DriverTest() : c(new Component(zel::host::DefaultLibraryPath())) {}

    // Every text the driver handed back was exact and taken back.
    void TearDown() override {
        EXPECT_EQ(c->LiveBlocks(), 0u) << "blocks from AllocMemory that never came back";
        EXPECT_EQ(c->BadStrings(), 0u) << "texts not sized (characters + 1) * 2 with a terminator";
    }

    int32_t Code() { return c->LastError(); }
    std::u16string ErrorText() {
        std::u16string text;
        c->LastError(&text);
        return text;
    }

    // Opens a device of the given model and port; returns its ID.
    std::u16string OpenModel(int32_t model, const std::u16string& port = u"") {
        EXPECT_TRUE(c->SetParameter(u"model", Value::Int(model)));
        EXPECT_TRUE(c->SetParameter(u"conntype", Value::Int(0)));
        EXPECT_TRUE(c->SetParameter(u"cport", Value::Text(port)));
        return c->Open();
    }
    std::u16string OpenEmulator() {
        std::u16string id = OpenModel(20);
        EXPECT_EQ(Code(), 0);
        return id;
    }

    std::unique_ptr<Component> c;
};

// A minimal XML reader: elements, attributes, text and the five entities.
struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<XmlElement> children;

    std::string Attr(const std::string& key) const {
        for (const auto& a : attributes)
            if (a.first == key) return a.second;
        return "<missing " + key + ">";
    }
    std::vector<const XmlElement*> All(const std::string& tag) const {
        std::vector<const XmlElement*> out;
        for (const auto& child : children) {
            if (child.name == tag) out.push_back(&child);
            auto deeper = child.All(tag);
            out.insert(out.end(), deeper.begin(), deeper.end());
        }
        return out;
    }
};

class XmlReader {
public:
    explicit XmlReader(const std::string& text) : s_(text) {}

    // Parses a declaration, then one root element. False on malformed input.
    bool Parse(XmlElement& root) {
        if (s_.compare(0, 5, "<?xml") == 0) {
            size_t end = s_.find("?>");
            if (end == std::string::npos) return false;
            pos_ = end + 2;
        }
        SkipSpace();
        if (!Element(root)) return false;
        SkipSpace();
        return pos_ == s_.size();
    }

private:
    void SkipSpace() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\r' || s_[pos_] == '\n' || s_[pos_] == '\t'))
            ++pos_;
    }
    bool Decode(const std::string& raw, std::string& out) {
        static const std::pair<const char*, char> kEntities[] = {
            {"&quot;", '"'}, {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}};
        out.clear();
        for (size_t i = 0; i < raw.size();) {
            if (raw[i] == '&') {
                bool known = false;
                for (const auto& e : kEntities) {
                    size_t n = std::char_traits<char>::length(e.first);
                    if (raw.compare(i, n, e.first) == 0) {
                        out += e.second;
                        i += n;
                        known = true;
                        break;
                    }
                }
                if (!known) return false;
            } else if (raw[i] == '<') {
                return false;
            } else {
                out += raw[i++];
            }
        }
        return true;
    }
    bool Name(std::string& out) {
        size_t start = pos_;
        while (pos_ < s_.size() && (isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
        out = s_.substr(start, pos_ - start);
        return !out.empty();
    }
    bool Element(XmlElement& e) {
        if (pos_ >= s_.size() || s_[pos_] != '<') return false;
        ++pos_;
        if (!Name(e.name)) return false;
        for (;;) {
            SkipSpace();
            if (pos_ >= s_.size()) return false;
            if (s_.compare(pos_, 2, "/>") == 0) {
                pos_ += 2;
                return true;
            }
            if (s_[pos_] == '>') {
                ++pos_;
                break;
            }
            std::string key, raw, value;
            if (!Name(key)) return false;
            if (s_.compare(pos_, 2, "=\"") != 0) return false;
            pos_ += 2;
            size_t end = s_.find('"', pos_);
            if (end == std::string::npos) return false;
            raw = s_.substr(pos_, end - pos_);
            pos_ = end + 1;
            if (!Decode(raw, value)) return false;
            e.attributes.emplace_back(key, value);
        }
        for (;;) {
            size_t lt = s_.find('<', pos_);
            if (lt == std::string::npos) return false;
            std::string text;
            if (!Decode(s_.substr(pos_, lt - pos_), text)) return false;
            e.text += text;
            pos_ = lt;
            if (s_.compare(pos_, 2, "</") == 0) {
                pos_ += 2;
                std::string closing;
                if (!Name(closing) || closing != e.name || pos_ >= s_.size() || s_[pos_] != '>') return false;
                ++pos_;
                return true;
            }
            e.children.emplace_back();
            if (!Element(e.children.back())) return false;
        }
    }

    std::string s_;
    size_t pos_ = 0;
};

}  // namespace zeltest
