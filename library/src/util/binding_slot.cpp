// The binding's one pointer for the process (quelbo/binding_slot.h).
#include "quelbo/binding_slot.h"

namespace quelbo {

void*& bindingSlot()
{
    static void* slot = nullptr;
    return slot;
}

} // namespace quelbo
