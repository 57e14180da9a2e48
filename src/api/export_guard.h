// Nothing ever reaches the host as an exception: every export runs its body under this guard
// and returns its failure value when anything is thrown, an allocation failure included.
#pragma once

namespace zemuser {

template <typename Result, typename Body>
Result GuardExport(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <typename Body>
void GuardExport(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace zemuser
