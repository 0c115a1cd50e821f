#include "scales/exchange/LineMemory.h"

namespace zel {
namespace exchange {

namespace {
thread_local LineMemory* tLent = nullptr;
}  // namespace

LineMemory* LentLineMemory() { return tLent; }

LineMemoryScope::LineMemoryScope(LineMemory* memory) : previous_(tLent) { tLent = memory; }
LineMemoryScope::~LineMemoryScope() { tLent = previous_; }

}  // namespace exchange
}  // namespace zel
