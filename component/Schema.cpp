// The parameter form, assembled from the model table: the model list is the
// table's captions in order, the rest of the form is fixed text. Line ends
// are CR LF; the text is UTF-8 until it is handed out.
#include <cstdio>
#include <string>
#include <vector>

#include "component/AddInNative.h"
#include "devices/ModelTable.h"
#include "platform/utf8.h"

namespace {

// Element text: quotes stay as they are.
std::string EscapeText(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += *p;
        }
    }
    return out;
}

std::string EscapeAttribute(const char* text) {
    std::string out;
    for (char c : EscapeText(text)) out += c == '"' ? std::string("&quot;") : std::string(1, c);
    return out;
}

struct Choice {
    std::string value, text;
};

void Parameter(std::string& out, const char* name, const char* caption, const char* type, const char* initial,
               const Choice* choices = nullptr, size_t count = 0) {
    out += "      <Parameter Name=\"" + EscapeAttribute(name) + "\" Caption=\"" + EscapeAttribute(caption) +
           "\" TypeValue=\"" + EscapeAttribute(type) + "\" DefaultValue=\"" + EscapeAttribute(initial) + "\"";
    if (count == 0) {
        out += "/>\r\n";
        return;
    }
    out += ">\r\n        <ChoiceList>\r\n";
    for (size_t i = 0; i < count; ++i)
        out += "          <Item Value=\"" + EscapeAttribute(choices[i].value.c_str()) + "\">" +
               EscapeText(choices[i].text.c_str()) + "</Item>\r\n";
    out += "        </ChoiceList>\r\n      </Parameter>\r\n";
}

std::string Document() {
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    std::vector<Choice> models;
    for (size_t i = 0; i < count; ++i) {
        char value[16];
        std::snprintf(value, sizeof value, "%02d", rows[i].number);
        models.push_back(Choice{value, rows[i].caption});
    }
    static const int kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 56000, 57600, 115200, 256000};
    std::vector<Choice> bauds;
    for (int b : kBaudRates) bauds.push_back(Choice{std::to_string(b), std::to_string(b)});
    // "СОМ" in the connection choice and the group caption is Cyrillic, the
    // group's final "a" Latin.
    const Choice connections[] = {{"0", "\u0421\u041e\u041c-порт"}, {"1", "Ethernet"}};

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Settings>\r\n  <Page Caption=\"Параметры\">\r\n";
    out += "    <Group Caption=\"Параметры подключения\">\r\n";
    Parameter(out, "model", "Модель весов", "Number", "20", models.data(), models.size());
    Parameter(out, "conntype", "Тип подключения", "Number", "0", connections, 2);
    Parameter(out, "conleave", "Не разрывать соединение", "Boolean", "false");
    Parameter(out, "coeff", "Коэффициент корректировки веса", "String", "1.000");
    out += "    </Group>\r\n";
    out += "    <Group Caption=\"Параметры \u0421\u041e\u041c-порт\u0061\">\r\n";
    Parameter(out, "cport", "COM-порт", "String", "\\\\.\\COM1");
    Parameter(out, "cbaudrate", "Скорость", "Number", "4800", bauds.data(), bauds.size());
    out += "    </Group>\r\n";
    out += "    <Group Caption=\"Параметры Ethernet\">\r\n";
    Parameter(out, "ehost", "IP (Host)", "String", "192.168.1.100");
    Parameter(out, "eport", "TCP порт", "Number", "20108");
    out += "    </Group>\r\n  </Page>\r\n</Settings>\r\n";
    return out;
}

}  // namespace

std::u16string ParameterSchema() {
    static const std::string utf8 = Document();
    return platform::Utf8ToUtf16(utf8.data(), utf8.size());
}
