#include "uUIHooks.h"

TUIHooks& UIHooks() {
    static TUIHooks Hooks;
    return Hooks;
}
