#include "scales/exchange/SplitSend.h"

#include "scales/exchange/Exchange.h"

namespace zel {
namespace exchange {

int SendSplit(IByteLine& line, const uint8_t* request, int length, const std::function<int()>& pause) {
    if (!request || length <= 0) return -1;
    line.Write(request, 1);
    int first = -1;
    if (pause) first = pause();
    else line.Sleep(kSplitPauseMs);
    if (length > 1) line.Write(request + 1, length - 1);
    return first;
}

}  // namespace exchange
}  // namespace zel
