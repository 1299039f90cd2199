#pragma once

#include <QLatin1StringView>

#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>

// One field of a wire record: its JSON key and the member that holds it. Each record lists its
// fields once, in `static constexpr auto wireFields()` (a tuple of these); every reader and
// writer of the wire walks that list, so a key is spelled in one place only.
//
// A member of type std::optional<T> is an optional key, any other member a required one.
template <typename Record, typename Member>
struct WireField {
    QLatin1StringView key;
    Member Record::*member;
};

template <std::size_t N, typename Record, typename Member>
constexpr WireField<Record, Member> wireField(const char (&key)[N], Member Record::*member)
{
    return {QLatin1StringView(key, qsizetype(N - 1)), member};
}

// A type with a field list.
template <typename T>
concept WireRecord = requires { T::wireFields(); };

template <typename T>
struct IsOptionalWireValue : std::false_type { };
template <typename T>
struct IsOptionalWireValue<std::optional<T>> : std::true_type { };

// The key of `member` in its record's field list, at compile time; empty when the record does
// not list it.
template <WireRecord Record, typename Member>
constexpr QLatin1StringView wireKey(Member Record::*member)
{
    QLatin1StringView key;
    std::apply(
        [&](const auto&... field) {
            const auto matches = [&](const auto& f) {
                if constexpr (std::is_same_v<std::remove_cvref_t<decltype(f.member)>, Member Record::*>) {
                    return f.member == member;
                } else {
                    return false;
                }
            };
            (void)((matches(field) ? (key = field.key, true) : false) || ...);
        },
        Record::wireFields());
    return key;
}

// True when no two fields of the record share a key (the reader would see only one of them).
template <WireRecord Record>
constexpr bool wireKeysDistinct()
{
    return std::apply(
        [](const auto&... field) {
            const std::string_view keys[] = {std::string_view(field.key.data(), std::size_t(field.key.size()))...};
            for (std::size_t i = 0; i < sizeof...(field); ++i) {
                for (std::size_t j = i + 1; j < sizeof...(field); ++j) {
                    if (keys[i] == keys[j]) {
                        return false;
                    }
                }
            }
            return true;
        },
        Record::wireFields());
}
