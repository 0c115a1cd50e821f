#!/usr/bin/env python3
"""Writes component/Schema.inc: the parameter form's XML, as the Base64 text of
its UTF-8 bytes with CR LF line ends. Run it after changing the form:

    python3 tools/make_schema.py [output]
"""
import base64
import os
import sys

# Maker's web domain, shown beside model 24.
DOMAIN = "zelscales.example"
# Default TCP host of the form.
DEFAULT_HOST = "192.168.1.100"

# Model list: the value is always two digits. Some captions mix Cyrillic and
# Latin letters that look alike; keep the bytes as they are.
MODELS = [
    ('00', '0:  ВТА-60 (Промприбор)'),
    ('01', '1:  ВН-..-а-СI (блок ІЕ04, Промприбор)'),
    ('02', '2:  TBE  (Техноваги)'),
    ('03', '3:  TB1, TB4  (Техноваги)'),
    ('04', '4:  ВН-..- 220В (Блок ІЕ03, v1100, по запросу, Промприбор)'),
    ('05', '5:  ВН-..- 220В (Блок ІЕ03, v1100, событие, на весах кнопка отправки данных)'),
    ('06', '6:  ВН-..-а-CI  (Блок ІЕ04, + сканер штрих кодов)'),
    ('07', '7:  А9, DS3M1  (Мирвесов)'),
    ('08', '8:  А12 (Мирвесов)'),
    ('09', '9:  BDU, BTU, BD, 4BDU, SE01, SE02 (Axis)'),
    ('10', '10: Масса-К (МК_ТВ, МК_ТН)'),
    ('11', '11: Rinstrum R320,R420'),
    ('12', '12: DS2 (Мирвесов)'),
    ('13', '13: CAS (АР, AD, DB, ER, EM, SW, CS)'),
    ('14', '14: CAS-LP (v1.6)'),
    ('15', '15: BTA-60 (протокол 3) (прием по нажатию кнопки "Х" на весах)'),
    ('16', '16: KELI'),
    ('17', '17: Camry'),
    ('18', '18: OCS, ВК ЗЕВС III с радиоканалом'),
    ('19', '19: JADEVER SNUG II'),
    ('20', '20: ЭМУЛЯТОР ВЕСОВ (помогает настроить работу без физического подключения весов)'),
    ('21', '21: JADEVER JPL, JPL-N'),
    ('22', '22: BTA-60 (протокол 4) (прием по нажатию кнопки "Х" на весах, + передача цены на весы)'),
    ('23', '23: DIGI DS-788, 781, 782'),
    ('24', '24: IQ plus 355  (www.' + DOMAIN + ')'),
    ('25', '25: CERTUS CBA'),
    ('26', '26: HBM WE2110'),
    ('27', '27: BTHE (протокол CAS, SDL-07)'),
    ('28', '28: BTHE (протокол UNS-02)'),
    ('29', '29: T7E'),
    ('30', '30: ICS NT'),
    ('31', '31: A12EH (и некоторые модели BDU)'),
    ('32', '32: ВН-..- 220В, ввод Тары (1С-Cобытие, на весах кнопка отправки данных)'),
    ('33', '33: SMART'),
    ('34', '34: А9 (непрерывный режим передачи)'),
    ('35', '35: WPT/4  RADWAG'),
    ('36', '36: ESIT Smart2'),
    ('37', '37: ESIT ECI STATIC'),
    ('38', '38: KELI: K9'),
    ('39', '39: ВИС HL318L'),
    ('40', '40: KELI D12'),
    ('41', '41: BST106 B60S(M60S)'),
    ('42', '42: Резерв'),
    ('43', '43: Резерв'),
    ('44', '44: Резерв'),
    ('45', '45: Резерв'),
]

BAUD_RATES = [1200, 2400, 4800, 9600, 19200, 38400, 56000, 57600, 115200, 256000]


def esc_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def esc(text):
    """For attribute values; element text keeps its quotes as they are."""
    return esc_text(text).replace('"', "&quot;")


def parameter(lines, name, caption, type_value, default, choices=None):
    head = '      <Parameter Name="%s" Caption="%s" TypeValue="%s" DefaultValue="%s"' % (
        esc(name), esc(caption), esc(type_value), esc(default))
    if not choices:
        lines.append(head + "/>")
        return
    lines.append(head + ">")
    lines.append("        <ChoiceList>")
    for value, text in choices:
        lines.append('          <Item Value="%s">%s</Item>' % (esc(value), esc_text(text)))
    lines.append("        </ChoiceList>")
    lines.append("      </Parameter>")


def document():
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<Settings>", '  <Page Caption="Параметры">']
    # "СОМ" below is Cyrillic and the final "a" Latin.
    lines.append('    <Group Caption="Параметры подключения">')
    parameter(lines, "model", "Модель весов", "Number", "20", MODELS)
    parameter(lines, "conntype", "Тип подключения", "Number", "0",
              [("0", "\u0421\u041e\u041c-порт"), ("1", "Ethernet")])
    parameter(lines, "conleave", "Не разрывать соединение", "Boolean", "false")
    parameter(lines, "coeff", "Коэффициент корректировки веса", "String", "1.000")
    lines.append("    </Group>")
    lines.append('    <Group Caption="Параметры \u0421\u041e\u041c-порт\u0061">')
    parameter(lines, "cport", "COM-порт", "String", "\\\\.\\COM1")
    parameter(lines, "cbaudrate", "Скорость", "Number", "4800", [(str(b), str(b)) for b in BAUD_RATES])
    lines.append("    </Group>")
    lines.append('    <Group Caption="Параметры Ethernet">')
    parameter(lines, "ehost", "IP (Host)", "String", DEFAULT_HOST)
    parameter(lines, "eport", "TCP порт", "Number", "20108")
    lines.append("    </Group>")
    lines.append("  </Page>")
    lines.append("</Settings>")
    return "\r\n".join(lines) + "\r\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "component", "Schema.inc")
    encoded = base64.b64encode(document().encode("utf-8")).decode("ascii")
    chunks = [encoded[i:i + 96] for i in range(0, len(encoded), 96)]
    with open(out, "w", newline="\n") as f:
        f.write("// Generated by tools/make_schema.py: the parameter form as Base64 of its UTF-8 bytes.\n")
        f.write("static const char kSchemaBase64[] =\n")
        for chunk in chunks:
            f.write('    "%s"\n' % chunk)
        f.write("    ;\n")


if __name__ == "__main__":
    main()
