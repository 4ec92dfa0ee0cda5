// Runs a function when the scope that holds it ends, however it ends, unless released first.
// Portable: no Win32 types.
//
//     auto restore = base::ScopeExit([&] { busy = false; });
#pragma once

#include <utility>

namespace base {

template <class Function> class [[nodiscard]] ScopeGuard {
public:
    explicit ScopeGuard(Function function) : function_(std::move(function)) {}
    ~ScopeGuard() {
        if (armed_)
            function_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

    // The function will not run.
    void Release() noexcept { armed_ = false; }

private:
    Function function_;
    bool armed_ = true;
};

template <class Function> ScopeGuard<Function> ScopeExit(Function function) {
    return ScopeGuard<Function>(std::move(function));
}

} // namespace base
