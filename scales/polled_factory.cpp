#include "scales/Cas.h"
#include "scales/Factory.h"
#include "scales/MassaK.h"

IScalesObject* CreatePolledScale(int32_t model) {
    switch (model) {
        case 10:
            return new ScalesMASSAK_MK_TB__MK_TH();
        case 13:
            return new ScalesCAS();
        case 14:
            return new ScalesCASLP16();
        case 27:
            return new ScalesBTHE_SDL_07();
        default:
            return nullptr;
    }
}
