// Reading the mapped own executable can fault even with every offset
// checked: a read error of the file behind the mapping (a network share that
// goes away, a file cut while mapped) arrives as an in-page error. Such reads
// run under this guard, which turns the fault into a failure result.
#pragma once

#include "package/Layer.h"

#include <type_traits>

// Runs action(context); false when an access fault or in-page error occurred
// on this thread meanwhile. The action is abandoned at the fault without
// unwinding: it must do plain reads and keep only trivially destructible
// state.
bool RunWithViewGuard(void (*action)(void*), void* context);

template <typename Action>
bool RunGuarded(Action& action) {
    return RunWithViewGuard([](void* context) { (*static_cast<Action*>(context))(); }, &action);
}
