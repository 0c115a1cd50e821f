// The data line of an event-driven scale's reading, split into JSON fields.
#pragma once

#include <string_view>

#include "tools/json.h"

namespace zelscales {

// Adds the fields the model's data line carries to `out`, as the model's
// listener describes its line (the model table's EventLineOf), e.g.
//   5      weight, device                  " 1.234;  0.00;  0.00;ID;"
//   15     weight, price, cost             the scale's own "wwwwww;pppppp;cccccc;"
// A number may have a comma for its decimal point (the platform's locale).
// A field the line should have but does not, or that is not a number, is
// null; other models add nothing. The raw line is the caller's to add.
void AddEventFields(int model, std::string_view line, json::Object& out);

}  // namespace zelscales
