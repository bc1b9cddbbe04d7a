// The frame of every export: look the handle up, run one session operation,
// and keep every exception inside the library. An allocation failure (or any
// other exception) becomes the result 0 with code 5 on the session's stack.
#pragma once

#include <cstdint>
#include <exception>

#include "VimbraSdk_740QX_RDL.h"
#include "api/sdk_chain.h"

#define VIMBRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace vimbra {

template <class Op>
int32_t CallSession(int32_t handle, int32_t no_instance, Op&& op) noexcept {
    try {
        CSdkChain* chain = Chain();
        if (chain == nullptr) return no_instance;
        return chain->Call(handle, no_instance, [&op](CVimbra& s) -> int32_t {
            try {
                return op(s);
            } catch (...) {
                try {
                    s.RecordError(VIMBRA_ERR_MEMORY);
                } catch (...) {
                }
                return 0;
            }
        });
    } catch (...) {
        // The registry itself could not be searched.
        return 0;
    }
}

// Runs `fn` for an export that reaches no session; `failed` when it throws.
template <class R, class Fn>
R NoThrow(R failed, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return failed;
    }
}

}  // namespace vimbra
