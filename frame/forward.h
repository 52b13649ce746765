// Direct-call entries that pass a call on to a library function, or to a
// function named at compile time (kivo::call, at the end).
//
// The entry has the declared signature; the library's own prototype may
// differ from it only where the machine-level call stays the same: a pointee
// with or without const, or an untyped pointer (void *) where the library
// names the pointee. Anything else (an integer of another width, a different
// number of parameters) is refused at compile time, so a forward can never
// convert a value. The helpers are inline and compile down to a jump to the
// library function.
#pragma once

#include <type_traits>

namespace kivo {

// `value`, of the entry's type From, as the library's type To.
template <typename To, typename From>
constexpr To pass_as(From value) {
    if constexpr (std::is_same_v<To, From>) {
        return value;
    } else {
        static_assert(std::is_pointer_v<To> && std::is_pointer_v<From>,
                      "a forward passes values unchanged: only pointer types "
                      "may differ from the library's prototype");
        using ToItem = std::remove_cv_t<std::remove_pointer_t<To>>;
        using FromItem = std::remove_cv_t<std::remove_pointer_t<From>>;
        if constexpr (std::is_convertible_v<From, To>) {
            return value;   // the library adds const
        } else if constexpr (std::is_same_v<ToItem, FromItem>) {
            return const_cast<To>(value);   // the library's pointee is const
        } else {
            static_assert(std::is_void_v<FromItem>,
                          "pointers to different types are not interchangeable");
            return static_cast<To>(value);   // void * to the library's pointee
        }
    }
}

template <typename Entry>
struct forwarder;

// Entry is the function type of the direct-call entry (decltype of it).
template <typename R, typename... A>
struct forwarder<R(A...)> {
    template <typename TR, typename... TA>
    static R call(TR (*target)(TA...), A... args) {
        static_assert(sizeof...(TA) == sizeof...(A),
                      "the library function takes another number of parameters");
        if constexpr (std::is_void_v<R>) {
            static_assert(std::is_void_v<TR>, "the library function returns a value");
            target(pass_as<TA>(args)...);
        } else {
            return pass_as<R>(target(pass_as<TA>(args)...));
        }
    }
};

}  // namespace kivo

namespace kivo {

// Calls Function, named at compile time (a constant of a table, say), as a
// direct call at every optimisation level: no function pointer is loaded and
// followed at run time.
template <auto Function, typename... A>
inline auto call(A... args) {
    return Function(args...);
}

}  // namespace kivo
