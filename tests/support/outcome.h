#pragma once

#include <stdexcept>
#include <string>
#include <type_traits>

namespace velkora::testing {

// What the action returned ("" for nothing) or threw, naming invalid-argument and out-of-range.
template <typename Action>
std::string outcomeOf(Action&& action) {
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<Action>>) {
            return action(), "";
        } else {
            return action();
        }
    } catch (const std::invalid_argument& error) {
        return std::string("invalid_argument: ") + error.what();
    } catch (const std::out_of_range& error) {
        return std::string("out_of_range: ") + error.what();
    } catch (const std::exception& error) {
        return error.what();
    }
}

}  // namespace velkora::testing
