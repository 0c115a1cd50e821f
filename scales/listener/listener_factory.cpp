#include "scales/Factory.h"

#include "scales/listener/Vn220Events.h"
#include "scales/listener/Vta60Events.h"

IScalesObject* CreateListenerScale(int32_t model) {
    switch (model) {
        case 5:
            return new ScalesVN_220_Thread_v1107();
        case 15:
            return new ScalesVTA_Thread_Sbarco();
        case 22:
            return new ScalesVTA_Thread_Prot4();
        case 32:
            return new ScalesVN_220_Th_TARA();
        default:
            return nullptr;
    }
}
