// The parameter form handed out by GetParameters, read as XML.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "tests/host/support.h"

namespace zeltest {
namespace {

size_t ModelCount() {
    size_t count = 0;
    zel::devices::AllModels(&count);
    return count;
}

class SchemaTest : public DriverTest {
protected:
    void SetUp() override {
        CallResult r = c->Call(u"ПолучитьПараметры", {Value()});
        ASSERT_TRUE(r.ok);
        ASSERT_TRUE(r.ret.boolean);
        ASSERT_EQ(r.params[0].type, abi::VT_PWSTR);
        xml = r.params[0].Utf8();
        ASSERT_TRUE(XmlReader(xml).Parse(root)) << xml.substr(0, 200);
    }
    std::string xml;
    XmlElement root;
};

TEST_F(SchemaTest, DocumentShape) {
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", 0), 0u);
    for (size_t at = xml.find('\n'); at != std::string::npos; at = xml.find('\n', at + 1))
        ASSERT_EQ(xml[at - 1], '\r') << "line ends are CR LF, at " << at;
    EXPECT_EQ(root.name, "Settings");
    ASSERT_EQ(root.children.size(), 1u);
    const XmlElement& page = root.children[0];
    EXPECT_EQ(page.name, "Page");
    EXPECT_EQ(page.Attr("Caption"), "Параметры");

    ASSERT_EQ(page.children.size(), 3u);
    // "СОМ" Cyrillic, the last "a" Latin.
    const char* const groups[] = {"Параметры подключения", "Параметры \u0421\u041e\u041c-порт\u0061",
                                  "Параметры Ethernet"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(page.children[i].name, "Group");
        EXPECT_EQ(page.children[i].Attr("Caption"), groups[i]);
    }

    struct {
        int group;
        const char* name;
        const char* caption;
        const char* type;
        const char* defaultValue;
        size_t choices;
    } const parameters[] = {
        {0, "model", "Модель весов", "Number", "20", ModelCount()},
        {0, "conntype", "Тип подключения", "Number", "0", 2},
        {0, "conleave", "Не разрывать соединение", "Boolean", "false", 0},
        {0, "coeff", "Коэффициент корректировки веса", "String", "1.000", 0},
        {1, "cport", "COM-порт", "String", "\\\\.\\COM1", 0},  // Latin "COM"
        {1, "cbaudrate", "Скорость", "Number", "4800", 10},
        {2, "ehost", "IP (Host)", "String", "192.168.1.100", 0},
        {2, "eport", "TCP порт", "Number", "20108", 0},
    };
    auto all = root.All("Parameter");
    ASSERT_EQ(all.size(), 8u);
    size_t index = 0;
    for (int g = 0; g < 3; ++g) {
        for (const XmlElement& p : page.children[g].children) {
            ASSERT_LT(index, 8u);
            const auto& want = parameters[index++];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(want.group, g);
            ASSERT_EQ(p.attributes.size(), 4u);
            const char* const order[] = {"Name", "Caption", "TypeValue", "DefaultValue"};
            for (int a = 0; a < 4; ++a) EXPECT_EQ(p.attributes[a].first, order[a]);
            EXPECT_EQ(p.Attr("Name"), want.name);
            EXPECT_EQ(p.Attr("Caption"), want.caption);
            EXPECT_EQ(p.Attr("TypeValue"), want.type);
            EXPECT_EQ(p.Attr("DefaultValue"), want.defaultValue);
            if (want.choices == 0) {
                EXPECT_TRUE(p.children.empty());
            } else {
                ASSERT_EQ(p.children.size(), 1u);
                EXPECT_EQ(p.children[0].name, "ChoiceList");
                EXPECT_EQ(p.children[0].children.size(), want.choices);
            }
        }
    }
    EXPECT_EQ(index, 8u);

    const XmlElement& conntype = *all[1];
    EXPECT_EQ(conntype.children[0].children[0].Attr("Value"), "0");
    EXPECT_EQ(conntype.children[0].children[0].text, "\u0421\u041e\u041c-порт");  // Cyrillic "СОМ"
    EXPECT_EQ(conntype.children[0].children[1].Attr("Value"), "1");
    EXPECT_EQ(conntype.children[0].children[1].text, "Ethernet");
    const char* const bauds[] = {"1200", "2400", "4800", "9600", "19200", "38400", "56000", "57600", "115200", "256000"};
    const XmlElement& baud = *all[5];
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(baud.children[0].children[i].Attr("Value"), bauds[i]);
        EXPECT_EQ(baud.children[0].children[i].text, bauds[i]);
    }
    EXPECT_EQ(Code(), 1099) << "the form leaves the result alone";
}

TEST_F(SchemaTest, ModelList) {
    const XmlElement& list = root.All("Parameter")[0]->children.at(0);
    ASSERT_EQ(list.children.size(), ModelCount());
    for (int i = 0; i < static_cast<int>(ModelCount()); ++i) {
        const XmlElement& item = list.children[i];
        char value[3] = {static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10), 0};
        EXPECT_EQ(item.name, "Item");
        EXPECT_EQ(item.Attr("Value"), value);
        // "N:" then one space for two-digit numbers, two for one-digit.
        std::string prefix = std::to_string(i) + (i < 10 ? ":  " : ": ");
        EXPECT_EQ(item.text.rfind(prefix, 0), 0u) << item.text;
        EXPECT_NE(item.text[prefix.size()], ' ') << item.text;
    }
    struct {
        int model;
        const char* caption;
    } const exact[] = {
        {0, "0:  ВТА-60 (Промприбор)"},
        {1, "1:  ВН-..-а-СI (блок \u0406Е04, Промприбор)"},
        {2, "2:  TBE  (Техноваги)"},
        {10, "10: Масса-К (МК_ТВ, МК_ТН)"},
        {13, "13: CAS (АР, AD, DB, ER, EM, SW, CS)"},
        {15, "15: BTA-60 (протокол 3) (прием по нажатию кнопки \"Х\" на весах)"},
        {20, "20: ЭМУЛЯТОР ВЕСОВ (помогает настроить работу без физического подключения весов)"},
        {22, "22: BTA-60 (протокол 4) (прием по нажатию кнопки \"Х\" на весах, + передача цены на весы)"},
        {24, "24: IQ plus 355  (www.zelscales.example)"},
        {32, "32: ВН-..- 220В, ввод Тары (1С-Cобытие, на весах кнопка отправки данных)"},
        {35, "35: WPT/4  RADWAG"},
        {41, "41: BST106 B60S(M60S)"},
    };
    for (const auto& row : exact) EXPECT_EQ(list.children[row.model].text, row.caption);
    // A placeholder reads "N: Резерв".
    for (int i = 0; i < static_cast<int>(ModelCount()); ++i)
        if (zel::devices::FindModel(i)->kind == zel::devices::ModelKind::kReserved) {
            EXPECT_EQ(list.children[i].text, std::to_string(i) + ": Резерв");
        }
    // The quoted letter in 15 and 22 is the Cyrillic "Х".
    EXPECT_NE(list.children[15].text.find("\"\u0425\""), std::string::npos);
    EXPECT_NE(list.children[22].text.find("\"\u0425\""), std::string::npos);
}

// The driver's model table and the form the library hands out list the same
// models under the same captions.
TEST_F(SchemaTest, ModelListIsTheModelTable) {
    const XmlElement& list = root.All("Parameter")[0]->children.at(0);
    size_t count = 0;
    const zel::devices::ModelInfo* models = zel::devices::AllModels(&count);
    ASSERT_EQ(list.children.size(), count);
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(list.children[i].text, models[i].caption) << i;
}

// Configurations saved by the platform were made against this exact text;
// it changes only on purpose (then the fixture is replaced with it). The
// one change a new model makes is its own: a placeholder of the model list
// ("42: Резерв") given the new caption, or a row added at the end of the
// list. Every other byte, and every caption the fixture holds that is not a
// placeholder, stays as saved.
TEST_F(SchemaTest, BytesAreTheSavedForm) {
    std::ifstream in(ZEL_HOST_DATA_DIR "/schema.xml", std::ios::binary);
    ASSERT_TRUE(in) << ZEL_HOST_DATA_DIR "/schema.xml";
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The model list: from its first item to the end of its last.
    auto list = [](const std::string& text, size_t& begin, size_t& end) {
        const size_t choices = text.find("<ChoiceList>");
        begin = text.find("<Item ", choices);
        const size_t close = text.find("</ChoiceList>", begin);
        end = text.rfind("</Item>", close) + 7;
        return choices != std::string::npos && close != std::string::npos;
    };
    size_t xb = 0, xe = 0, sb = 0, se = 0;
    ASSERT_TRUE(list(xml, xb, xe));
    ASSERT_TRUE(list(saved, sb, se));
    EXPECT_EQ(xml.substr(0, xb), saved.substr(0, sb));
    EXPECT_EQ(xml.substr(xe), saved.substr(se));
    // Item by item: the saved items are the form's first ones, a placeholder
    // excepted.
    auto items = [](const std::string& text) {
        std::vector<std::string> out;
        for (size_t at = 0; (at = text.find("<Item ", at)) != std::string::npos;) {
            const size_t end = text.find("</Item>", at) + 7;
            out.push_back(text.substr(at, end - at));
            at = end;
        }
        return out;
    };
    const std::vector<std::string> now = items(xml.substr(xb, xe - xb)), was = items(saved.substr(sb, se - sb));
    ASSERT_GE(now.size(), was.size());
    for (size_t i = 0; i < was.size(); ++i) {
        const zel::devices::ModelInfo* row = zel::devices::FindModel(static_cast<int32_t>(i));
        const bool filled = row && row->kind != zel::devices::ModelKind::kReserved;
        if (was[i].find(": Резерв</Item>") != std::string::npos && filled) continue;
        EXPECT_EQ(now[i], was[i]);
    }
    // Between the items, the saved layout (indentation, CR LF).
    const std::string gap = saved.substr(sb, se - sb).substr(was[0].size(), saved.find("<Item ", sb + 1) - sb - was[0].size());
    std::string layout;
    for (size_t i = 0; i < now.size(); ++i) layout += (i ? gap : "") + now[i];
    EXPECT_EQ(xml.substr(xb, xe - xb), layout);
}

TEST_F(SchemaTest, SameTextEveryTime) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c->Call(u"GetParameters", {Value()}).params[0].Utf8(), xml);
}

}  // namespace
}  // namespace zeltest
