// Metadata values: numbers and UTF-8 texts, and the factory that makes them.
#include "quelbo/metadata.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quelbo/data_type_traits.h"
#include "quelbo/error.h"
#include "quelbo/vector.h"

namespace quelbo {

// ------------------------------------------------------------------- values

VariantDataValue::~VariantDataValue() = default;

namespace {

template <class T>
class NumericValue final : public VariantDataValue
{
public:
    NumericValue(DataType type, T const* values, size_t count) : m_type(type), m_values(values, values + count) {}

    std::shared_ptr<VariantDataValue> clone() const override
    {
        return std::make_shared<NumericValue>(m_type, m_values.data(), m_values.size());
    }
    DataType type() const override { return m_type; }
    size_t count() const override { return m_values.size(); }
    const void* raw() const override { return m_values.data(); }

private:
    DataType m_type;
    std::vector<T> m_values;
};

class Utf8Value final : public VariantDataValue
{
public:
    Utf8Value(char const* const* values, size_t count) : m_strings(count), m_pointers(count)
    {
        for (size_t i = 0; i < count; ++i) {
            if (values[i] != nullptr)
                m_strings[i] = values[i];
            m_pointers[i] = m_strings[i].c_str();
        }
    }

    std::shared_ptr<VariantDataValue> clone() const override
    {
        return std::make_shared<Utf8Value>(m_pointers.data(), m_pointers.size());
    }
    DataType type() const override { return DataTypeId::UTF8_STRING; }
    size_t count() const override { return m_pointers.size(); }
    const void* raw() const override { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char const*> m_pointers;
};

template <class T>
std::shared_ptr<VariantDataValue> numeric(DataTypeId id, T const* values, size_t count)
{
    if (values == nullptr && count != 0)
        throw InvalidArgument("VariantDataValueFactory: null values with a count of " + std::to_string(count));
    return std::make_shared<NumericValue<T>>(DataType(id), values, count);
}

template <class T>
void appendValues(std::string& out, void const* raw, size_t count)
{
    T const* values = static_cast<T const*>(raw);
    for (size_t i = 0; i < count; ++i) {
        if (i != 0)
            out += ", ";
        T v;
        std::memcpy(&v, values + i, sizeof(T));
        if constexpr (std::is_floating_point<T>::value)
            vector_detail::appendElement(out, double(v));
        else if constexpr (std::is_signed<T>::value)
            vector_detail::appendElement(out, int64_t(v));
        else
            vector_detail::appendElement(out, uint64_t(v));
    }
}

} // namespace

std::string VariantDataValue::toString() const
{
    DataType const t = type();
    size_t const n = count();
    std::string out;
    bool const known = visitElementOrText(
        t,
        [&](auto tag) {
            using Tag = decltype(tag);
            if constexpr (std::is_same<Tag, TextElement<uint8_t>>::value) {
                for (size_t i = 0; i < n; ++i) {
                    char const* s = static_cast<char const* const*>(raw())[i];
                    out += i == 0 ? "\"" : ", \"";
                    out += s != nullptr ? s : "";
                    out += "\"";
                }
                return true;
            } else if constexpr (isNumericElement<Tag>) {
                appendValues<typename Tag::type>(out, raw(), n);
                return true;
            } else {
                return false; // texts of wider units
            }
        },
        [] { return false; });
    if (known)
        return out;
    return "<" + std::to_string(n) + " values of " + t.toString() + ">";
}

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(int64_t value)
{
    return numeric(DataTypeId::INT64, &value, 1);
}

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(double value)
{
    return numeric(DataTypeId::DOUBLE, &value, 1);
}

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(char const* value)
{
    return create(&value, 1);
}

#define QUELBO_NUMERIC_CREATE(T, S, ID)                                                                                \
    std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(T const* values, size_t count)                   \
    {                                                                                                                  \
        return numeric(DataTypeId::ID, values, count);                                                                 \
    }
QUELBO_ELEMENT_TYPES(QUELBO_NUMERIC_CREATE)
#undef QUELBO_NUMERIC_CREATE

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(char const** values, size_t count)
{
    if (values == nullptr && count != 0)
        throw InvalidArgument("VariantDataValueFactory: null strings with a count of " + std::to_string(count));
    return std::make_shared<Utf8Value>(values, count);
}

} // namespace quelbo
