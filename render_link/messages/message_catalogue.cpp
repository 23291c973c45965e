#include "render_link/messages/message_catalogue.h"

#include "render_link/channel/channel_format.h"
#include "render_link/channel/payload_codec.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>

// Arrays are handed out as pointers into the payload, so the payload's byte order must be the
// host's.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "The render link payloads are little-endian; this host is not."
#endif

namespace xel::messages {

namespace {

using D = Direction;
using L = Delivery;

static_assert(sizeof(float) == 4 && sizeof(bool) == 1, "payload element sizes");

template <std::size_t N>
constexpr MessageLayout layout(const char* type, Direction direction, Delivery delivery,
                               const FieldKind (&fields)[N], const char* placeholder = nullptr) {
    return {type, direction, delivery, fields, N, placeholder};
}
template <typename Fields>
constexpr MessageLayout layout(const char* type, Direction direction, Delivery delivery,
                               const char* placeholder = nullptr) {
    static_assert(std::size(Fields::kKinds) == Fields::kFieldCount, "a field list and its names");
    return layout(type, direction, delivery, Fields::kKinds, placeholder);
}
constexpr MessageLayout layout(const char* type, Direction direction, Delivery delivery,
                               const char* placeholder = nullptr) {
    return {type, direction, delivery, nullptr, 0, placeholder};
}

namespace f = field;

constexpr MessageLayout kLayouts[] = {
    layout<f::AddMesh>(type::kAddMesh, D::ToRender, L::Sync),
    layout<f::AddMaterial>(type::kAddMaterial, D::ToRender, L::Sync),
    layout<f::AddGroup>(type::kAddGroup, D::ToRender, L::Sync),
    layout<f::AddInstance>(type::kAddInstance, D::ToRender, L::Sync),
    layout<f::AddComponentDef>(type::kAddComponentDef, D::ToRender, L::Sync),
    layout<f::AddLayer>(type::kAddLayer, D::ToRender, L::Sync),
    layout<f::RemoveEntity>(type::kRemoveEntity, D::ToRender, L::Sync),
    layout<f::RemoveMeshes>(type::kRemoveMeshes, D::ToRender, L::Sync),
    layout(type::kClearSession, D::ToRender, L::Sync),
    layout<f::SetCamera>(type::kSetCamera, D::ToRender, L::Async),
    layout<f::SetSunLight>(type::kSetSunLight, D::ToRender, L::Async),
    layout<f::SetSectionPlane>(type::kSetSectionPlane, D::ToRender, L::Async),
    layout<f::RemoveSectionPlane>(type::kRemoveSectionPlane, D::ToRender, L::Async),
    layout<f::SetVisible>(type::kSetVisible, D::ToRender, L::Async),
    layout<f::DictionaryMessage>(type::kDictionaryMessage, D::ToRender, L::Async),
    layout<f::SetLanguage>(type::kSetLanguage, D::ToRender, L::Async),
    layout<f::Export>(type::kExport, D::ToRender, L::Async),
    layout(type::kRedraw, D::ToRender, L::Async, "redra"),
    layout(type::kSave, D::ToRender, L::Async, "SAVE"),
    // The plug-in sends "EXIT" asynchronously; the render window answers synchronously with an
    // empty payload, which its sender writes itself.
    layout(type::kExit, D::Both, L::Async, "EXIT"),
    // The fields are the render window's 16-byte reply; the plug-in's request carries only the
    // placeholder "STATE", which its sender writes itself.
    layout<f::State>(type::kState, D::Both, L::Async, "STATE"),
    layout<f::State>(type::kSetState, D::ToRender, L::StateThread),
    layout<f::MapsGenerate>(type::kMapsGenerate, D::ToRender, L::Async),
    // The transaction name; at the end "ABORT" for an aborted transaction, else empty.
    layout<f::Transaction>(type::kBeginTransaction, D::ToRender, L::Sync),
    layout<f::Transaction>(type::kEndTransaction, D::ToRender, L::Sync),
    layout<f::Echo>(type::kEcho, D::Both, L::Async),
    layout<f::Echo>(type::kEchoResult, D::Both, L::Async),
    layout(type::kInit, D::ToPlugin, L::Sync),
    layout(type::kSaved, D::ToPlugin, L::Sync),
    layout<f::MaterialMaps>(type::kMaterialMaps, D::ToPlugin, L::Async),
    layout<f::SetEntityAttribute>(type::kSetEntityAttribute, D::ToPlugin, L::Async),
    layout<f::EnumEntityContent>(type::kEnumEntityContent, D::ToPlugin, L::Async),
    layout<f::EnumEntityAttributes>(type::kEnumEntityAttributes, D::ToPlugin, L::Async),
    layout<f::ExportTexture>(type::kExportTexture, D::ToPlugin, L::Async),
};
constexpr std::size_t kLayoutCount = sizeof(kLayouts) / sizeof(kLayouts[0]);

struct NamedLayout {
    std::string_view name;
    const MessageLayout* layout;
};

constexpr std::array<NamedLayout, kLayoutCount> sortedByName() {
    std::array<NamedLayout, kLayoutCount> table{};
    for (std::size_t i = 0; i < kLayoutCount; ++i)
        table[i] = {kLayouts[i].type, &kLayouts[i]};
    for (std::size_t i = 1; i < kLayoutCount; ++i) {
        for (std::size_t j = i; j > 0 && table[j].name < table[j - 1].name; --j) {
            const NamedLayout moved = table[j];
            table[j] = table[j - 1];
            table[j - 1] = moved;
        }
    }
    return table;
}

// Built at compile time, so a lookup is a binary search over constant memory.
constexpr std::array<NamedLayout, kLayoutCount> kByName = sortedByName();

constexpr bool namesAreUnique() {
    for (std::size_t i = 1; i < kLayoutCount; ++i) {
        if (kByName[i].name == kByName[i - 1].name)
            return false;
    }
    return true;
}
static_assert(namesAreUnique(), "two layouts share a type name");

// The render window's long names. A channel type field keeps only kTypeBytes characters of a
// name, so each also matches as its cut.
constexpr NamedLayout kAliases[] = {
    {"addComponentDef", &kLayouts[4]},
    {"removeEntity", &kLayouts[6]},
    {"removeMeshes", &kLayouts[7]},
    {"clearSession", &kLayouts[8]},
};
static_assert(kLayouts[4].type == type::kAddComponentDef &&
                  kLayouts[6].type == type::kRemoveEntity &&
                  kLayouts[7].type == type::kRemoveMeshes &&
                  kLayouts[8].type == type::kClearSession,
              "an alias points at the wrong layout");

// Byte counts of fields: false when they do not fit in a size_t.
bool addBytes(std::size_t& total, std::uint64_t more) {
    if (more > SIZE_MAX - total)
        return false;
    total += static_cast<std::size_t>(more);
    return true;
}

bool addArrayBytes(std::size_t& total, std::uint64_t count, std::size_t elementBytes) {
    if (count > (SIZE_MAX - 8) / elementBytes)
        return false;
    return addBytes(total, 8 + count * elementBytes);
}

float floatFromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t bitsOfFloat(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool isAligned(const void* at, std::size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(at) % alignment == 0;
}

template <typename Field>
const Field* fieldAt(const std::vector<Field>& fields, std::size_t index, FieldKind kind) {
    if (index >= fields.size() || fields[index].kind != kind)
        return nullptr;
    return &fields[index];
}

}  // namespace

const MessageLayout* findLayout(std::string_view type, bool acceptAliases) {
    const auto found = std::lower_bound(
        kByName.begin(), kByName.end(), type,
        [](const NamedLayout& entry, std::string_view name) { return entry.name < name; });
    if (found != kByName.end() && found->name == type)
        return found->layout;
    if (acceptAliases) {
        for (const NamedLayout& alias : kAliases) {
            if (type == alias.name ||
                (alias.name.size() > kTypeBytes && type == alias.name.substr(0, kTypeBytes)))
                return alias.layout;
        }
    }
    return nullptr;
}

const MessageLayout& layoutOf(std::string_view type) {
    const MessageLayout* layout = findLayout(type);
    if (!layout)
        std::abort();
    return *layout;
}

std::size_t firstArrayOffset(const MessageLayout& layout, const void* data, std::size_t size) {
    PayloadReader reader(data, size);
    for (std::size_t i = 0; i < layout.fieldCount && reader.ok(); ++i) {
        switch (layout.fields[i]) {
            case FieldKind::Str:
            case FieldKind::WStr: {
                const std::uint64_t bytes = reader.getSize();
                if (bytes > reader.remaining())
                    return 0;
                reader.getBytes(static_cast<std::size_t>(bytes));
                break;
            }
            case FieldKind::U8:
                reader.getBytes(1);
                break;
            case FieldKind::I32:
            case FieldKind::F32:
                reader.getBytes(4);
                break;
            case FieldKind::I64:
                reader.getBytes(8);
                break;
            case FieldKind::F32Array:
            case FieldKind::I32Array:
                reader.getSize();
                return reader.ok() ? reader.consumed() : 0;
            case FieldKind::U8Array: {
                const std::uint64_t count = reader.getSize();
                if (count > reader.remaining())
                    return 0;
                reader.getBytes(static_cast<std::size_t>(count));
                break;
            }
            case FieldKind::RawText:
                return 0;
        }
    }
    return 0;
}

const std::vector<const MessageLayout*>& allLayouts() {
    static const std::vector<const MessageLayout*> layouts = [] {
        std::vector<const MessageLayout*> all;
        for (const MessageLayout& entry : kLayouts)
            all.push_back(&entry);
        return all;
    }();
    return layouts;
}

FieldValue FieldValue::str(const char* text) {
    return str(text ? std::string_view(text) : std::string_view());
}

FieldValue FieldValue::str(std::string_view text) {
    FieldValue value;
    value.m_kind = FieldKind::Str;
    value.m_text = text;
    return value;
}

FieldValue FieldValue::wstr(const wchar_t* text) {
    FieldValue value;
    if (text) {
        try {
            value.m_wide = toUtf16(text);
        } catch (const std::bad_alloc&) {
            return value;  // a U8, which no wide-string field accepts: payloadSize() refuses it
        }
    }
    value.m_kind = FieldKind::WStr;
    return value;
}

FieldValue FieldValue::u8(bool flag) {
    FieldValue value;
    value.m_kind = FieldKind::U8;
    value.m_integer = flag ? 1 : 0;
    return value;
}

FieldValue FieldValue::i32(std::int32_t number) {
    FieldValue value;
    value.m_kind = FieldKind::I32;
    value.m_integer = number;
    return value;
}

FieldValue FieldValue::f32(float number) {
    FieldValue value;
    value.m_kind = FieldKind::F32;
    value.m_real = number;
    return value;
}

FieldValue FieldValue::i64(std::int64_t number) {
    FieldValue value;
    value.m_kind = FieldKind::I64;
    value.m_integer = number;
    return value;
}

FieldValue FieldValue::f32Array(const float* values, std::uint64_t count) {
    FieldValue value;
    value.m_kind = FieldKind::F32Array;
    value.m_array = values;
    value.m_count = count;
    return value;
}

FieldValue FieldValue::i32Array(const std::int32_t* values, std::uint64_t count) {
    FieldValue value;
    value.m_kind = FieldKind::I32Array;
    value.m_array = values;
    value.m_count = count;
    return value;
}

FieldValue FieldValue::u8Array(const bool* values, std::uint64_t count) {
    FieldValue value;
    value.m_kind = FieldKind::U8Array;
    value.m_array = values;
    value.m_count = count;
    return value;
}

FieldValue FieldValue::rawText(const char* text) {
    FieldValue value;
    value.m_kind = FieldKind::RawText;
    value.m_text = text ? std::string_view(text) : std::string_view();
    return value;
}

// The two passes over a message's values: its size, and its bytes.
class FieldEncoder {
public:
    static std::optional<std::size_t> size(const MessageLayout& layout, const FieldValue* values,
                                           std::size_t count);
    static void encode(PayloadWriter& writer, const MessageLayout& layout, const FieldValue* values,
                       std::size_t count);
};

std::optional<std::size_t> FieldEncoder::size(const MessageLayout& layout, const FieldValue* values,
                                              std::size_t count) {
    if (count != layout.fieldCount || (count && !values))
        return std::nullopt;
    std::size_t size = 0;
    if (layout.fieldCount == 0 && layout.placeholder)
        size = std::strlen(layout.placeholder);
    for (std::size_t i = 0; i < count; ++i) {
        const FieldValue& value = values[i];
        if (value.m_kind != layout.fields[i] || (value.m_count && !value.m_array))
            return std::nullopt;
        bool fits = true;
        switch (value.m_kind) {
            case FieldKind::Str:
                fits = addBytes(size, PayloadWriter::sizeOfString(value.m_text.size()));
                break;
            case FieldKind::WStr:
                fits = addArrayBytes(size, value.m_wide.size(), 2);
                break;
            case FieldKind::U8:
                fits = addBytes(size, 1);
                break;
            case FieldKind::I32:
            case FieldKind::F32:
                fits = addBytes(size, 4);
                break;
            case FieldKind::I64:
                fits = addBytes(size, 8);
                break;
            case FieldKind::F32Array:
                fits = addArrayBytes(size, value.m_count, sizeof(float));
                break;
            case FieldKind::I32Array:
                fits = addArrayBytes(size, value.m_count, sizeof(std::int32_t));
                break;
            case FieldKind::U8Array:
                fits = addArrayBytes(size, value.m_count, 1);
                break;
            case FieldKind::RawText:
                fits = addBytes(size, value.m_text.size());
                break;
        }
        if (!fits)
            return std::nullopt;
    }
    return size;
}

void FieldEncoder::encode(PayloadWriter& writer, const MessageLayout& layout,
                          const FieldValue* values, std::size_t count) {
    if (layout.fieldCount == 0 && layout.placeholder)
        writer.putBytes(layout.placeholder, std::strlen(layout.placeholder));
    for (std::size_t i = 0; i < count && i < layout.fieldCount; ++i) {
        const FieldValue& value = values[i];
        switch (value.m_kind) {
            case FieldKind::Str:
                writer.putString(value.m_text);
                break;
            case FieldKind::WStr:
                writer.putUtf16(value.m_wide);
                break;
            case FieldKind::U8:
                writer.putU8(static_cast<std::uint8_t>(value.m_integer));
                break;
            case FieldKind::I32:
                writer.putU32(static_cast<std::uint32_t>(value.m_integer));
                break;
            case FieldKind::F32:
                writer.putU32(bitsOfFloat(value.m_real));
                break;
            case FieldKind::I64:
                writer.putU64(static_cast<std::uint64_t>(value.m_integer));
                break;
            case FieldKind::F32Array:
                writer.putSize(value.m_count);
                writer.putBytes(value.m_array, value.m_count * sizeof(float));
                break;
            case FieldKind::I32Array:
                writer.putSize(value.m_count);
                writer.putBytes(value.m_array, value.m_count * sizeof(std::int32_t));
                break;
            case FieldKind::U8Array: {
                writer.putSize(value.m_count);
                // Through a small staging block, so that every byte is 0 or 1 whatever the
                // caller's bool representation.
                const auto* flags = static_cast<const bool*>(value.m_array);
                unsigned char block[256];
                for (std::uint64_t done = 0; done < value.m_count;) {
                    const std::size_t n = static_cast<std::size_t>(
                        std::min<std::uint64_t>(sizeof block, value.m_count - done));
                    if (writer.skip(n)) {  // a piece of a payload that lies elsewhere
                        done += n;
                        continue;
                    }
                    for (std::size_t k = 0; k < n; ++k)
                        block[k] = flags[done + k] ? 1 : 0;
                    writer.putBytes(block, n);
                    done += n;
                }
                break;
            }
            case FieldKind::RawText:
                writer.putBytes(value.m_text.data(), value.m_text.size());
                break;
        }
    }
}

std::optional<std::size_t> payloadSize(const MessageLayout& layout, const FieldValue* values,
                                       std::size_t count) {
    return FieldEncoder::size(layout, values, count);
}

bool encodePayload(const MessageLayout& layout, const FieldValue* values, std::size_t count,
                   void* out, std::size_t size) {
    PayloadWriter writer(out, size);
    FieldEncoder::encode(writer, layout, values, count);
    return writer.ok() && writer.written() == size;
}

void encodePayloadPiece(const MessageLayout& layout, const FieldValue* values, std::size_t count,
                        void* out, std::size_t begin, std::size_t bytes) {
    PayloadWriter writer = PayloadWriter::window(out, begin, bytes);
    FieldEncoder::encode(writer, layout, values, count);
}

std::string_view PayloadBuilder::build(const MessageLayout& layout, const FieldValue* values,
                                       std::size_t count) {
    m_ok = false;
    const std::optional<std::size_t> size = payloadSize(layout, values, count);
    if (!size)
        return {};
    if (*size == 0) {
        m_ok = true;
        return {};
    }
    if (*size > m_capacity) {
        // The old buffer goes first, so that a large payload never needs both at once.
        m_buffer.reset();
        m_capacity = 0;
        m_buffer.reset(new (std::nothrow) char[*size]);
        if (!m_buffer)
            return {};
        m_capacity = *size;
    }
    if (!encodePayload(layout, values, count, m_buffer.get(), *size))
        return {};
    m_ok = true;
    return {m_buffer.get(), *size};
}

void PayloadBuilder::trim(std::size_t keepBytes) {
    if (m_capacity > keepBytes) {
        m_buffer.reset();
        m_capacity = 0;
    }
}

bool DecodedMessage::decode(const MessageLayout& layout, const void* data, std::size_t size) {
    try {
        return decodeFields(layout, data, size);
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
}

void DecodedMessage::clear() {
    m_fields.clear();
    m_texts.clear();
    m_wides.clear();
    m_copies.clear();
}

bool DecodedMessage::decodeFields(const MessageLayout& layout, const void* data, std::size_t size) {
    clear();
    if (!data && size)
        return false;
    m_fields.reserve(layout.fieldCount);

    PayloadReader reader(data, size);
    bool fits = true;
    // An array's elements, checked against the payload before anything is taken or allocated
    // (a count that overflows the payload does not fit). Null when the count is 0 or the elements
    // do not fit.
    auto takeArray = [&reader, &fits](std::uint64_t count,
                                      std::size_t elementBytes) -> const void* {
        if (!reader.ok() || count == 0)
            return nullptr;
        if (count > reader.remaining() / elementBytes) {
            fits = false;
            return nullptr;
        }
        return reader.getBytes(static_cast<std::size_t>(count) * elementBytes);
    };
    // `bytes` where they are aligned for `alignment`, else a copy held by this object.
    auto alignedArray = [this](const void* bytes, std::size_t byteCount,
                               std::size_t alignment) -> const void* {
        if (isAligned(bytes, alignment))
            return bytes;
        m_copies.emplace_back(new unsigned char[byteCount]);
        std::memcpy(m_copies.back().get(), bytes, byteCount);
        return m_copies.back().get();
    };

    for (std::size_t i = 0; i < layout.fieldCount && fits && reader.ok(); ++i) {
        Field field{};
        field.kind = layout.fields[i];
        switch (field.kind) {
            case FieldKind::Str:
                field.text = m_texts.size();
                m_texts.push_back(reader.getString());
                break;
            case FieldKind::WStr:
                field.text = m_wides.size();
                m_wides.push_back(fromUtf16(reader.getUtf16()));
                break;
            case FieldKind::U8:
                field.integer = reader.getU8();
                break;
            case FieldKind::I32:
                field.integer = static_cast<std::int32_t>(reader.getU32());
                break;
            case FieldKind::F32:
                field.real = floatFromBits(reader.getU32());
                break;
            case FieldKind::I64:
                field.integer = static_cast<std::int64_t>(reader.getU64());
                break;
            case FieldKind::F32Array:
            case FieldKind::I32Array: {
                field.count = reader.getSize();
                const void* bytes = takeArray(field.count, 4);
                if (bytes)
                    field.array = alignedArray(
                        bytes, static_cast<std::size_t>(field.count) * 4,
                        field.kind == FieldKind::F32Array ? alignof(float) : alignof(std::int32_t));
                break;
            }
            case FieldKind::U8Array: {
                field.count = reader.getSize();
                const auto* bytes = static_cast<const unsigned char*>(takeArray(field.count, 1));
                if (!bytes)
                    break;
                const auto n = static_cast<std::size_t>(field.count);
                if (std::all_of(bytes, bytes + n, [](unsigned char b) { return b <= 1; })) {
                    field.array = bytes;
                    break;
                }
                // A bool may only hold 0 or 1: anything else is normalised in a copy.
                m_copies.emplace_back(new unsigned char[n]);
                unsigned char* copy = m_copies.back().get();
                for (std::size_t k = 0; k < n; ++k)
                    copy[k] = bytes[k] ? 1 : 0;
                field.array = copy;
                break;
            }
            case FieldKind::RawText: {
                const std::size_t n = reader.remaining();
                const auto* bytes = n ? static_cast<const char*>(reader.getBytes(n)) : nullptr;
                field.text = m_texts.size();
                m_texts.emplace_back(bytes ? std::string(bytes, ::strnlen(bytes, n))
                                           : std::string());
                break;
            }
        }
        m_fields.push_back(field);
    }

    if (!fits || !reader.ok()) {
        clear();
        return false;
    }
    return true;
}

std::size_t DecodedMessage::fieldCount() const {
    return m_fields.size();
}

const char* DecodedMessage::str(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::Str);
    if (!at)
        at = fieldAt(m_fields, field, FieldKind::RawText);
    return at ? m_texts[at->text].c_str() : "";
}

const wchar_t* DecodedMessage::wstr(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::WStr);
    return at ? m_wides[at->text].c_str() : L"";
}

bool DecodedMessage::flag(std::size_t field) const {
    return u8(field) != 0;
}

std::uint8_t DecodedMessage::u8(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::U8);
    return at ? static_cast<std::uint8_t>(at->integer) : 0;
}

std::int32_t DecodedMessage::i32(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::I32);
    return at ? static_cast<std::int32_t>(at->integer) : 0;
}

float DecodedMessage::f32(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::F32);
    return at ? at->real : 0.0f;
}

std::int64_t DecodedMessage::i64(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::I64);
    return at ? at->integer : 0;
}

std::uint64_t DecodedMessage::count(std::size_t field) const {
    if (field >= m_fields.size())
        return 0;
    const FieldKind kind = m_fields[field].kind;
    const bool isArray =
        kind == FieldKind::F32Array || kind == FieldKind::I32Array || kind == FieldKind::U8Array;
    return isArray ? m_fields[field].count : 0;
}

const float* DecodedMessage::floats(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::F32Array);
    return at ? static_cast<const float*>(at->array) : nullptr;
}

const std::int32_t* DecodedMessage::ints(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::I32Array);
    return at ? static_cast<const std::int32_t*>(at->array) : nullptr;
}

const bool* DecodedMessage::bools(std::size_t field) const {
    const Field* at = fieldAt(m_fields, field, FieldKind::U8Array);
    return at ? static_cast<const bool*>(at->array) : nullptr;
}

std::string_view buildEchoReply(PayloadBuilder& builder, const DecodedMessage& echo) {
    const FieldValue text = FieldValue::str(echo.str(field::Echo::kText));
    return builder.build(layoutOf(type::kEchoResult), &text, 1);
}

}  // namespace xel::messages
