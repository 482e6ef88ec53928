#include "sim/scripted_keys.h"

#include <algorithm>

namespace velkora::sim {

ScriptedKeys::ScriptedKeys(Timeline& timeline, std::vector<KeyPress> presses)
    : timeline_(timeline), presses_(std::move(presses)) {
    std::stable_sort(presses_.begin(), presses_.end(),
                     [](const KeyPress& a, const KeyPress& b) { return a.atMs < b.atMs; });
}

bool ScriptedKeys::keyWaiting() {
    return next_ < presses_.size() && fromMs(presses_[next_].atMs) <= timeline_.now();
}

int ScriptedKeys::readKey() {
    if (!keyWaiting()) {
        return -1;
    }
    return presses_[next_++].code;
}

}  // namespace velkora::sim
