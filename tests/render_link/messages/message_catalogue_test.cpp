#include "render_link/messages/message_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// Allocation watch: every operator new of this test program is counted, with its largest request,
// so that a test can tell whether code under test allocated, and how much. A request of at least
// gFailingFrom bytes fails, as it would with no memory left.
namespace {
std::atomic<std::size_t> gAllocations{0};
std::atomic<std::size_t> gLargestAllocation{0};
std::atomic<std::size_t> gFailingFrom{SIZE_MAX};

void* countedAllocation(std::size_t size) noexcept {
    if (size >= gFailingFrom)
        return nullptr;
    ++gAllocations;
    std::size_t largest = gLargestAllocation.load();
    while (size > largest && !gLargestAllocation.compare_exchange_weak(largest, size)) {
    }
    return std::malloc(size ? size : 1);
}
}  // namespace

// The replacements themselves pair operator new with free(); GCC for Windows takes that for a
// mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (void* p = countedAllocation(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using namespace xel::messages;
using Bytes = std::vector<unsigned char>;

class AllocationWatch {
public:
    AllocationWatch() {
        gAllocations = 0;
        gLargestAllocation = 0;
    }
    std::size_t count() const { return gAllocations; }
    std::size_t largest() const { return gLargestAllocation; }
};

// Allocations of at least `bytes` fail while the object lives.
class FailingAllocations {
public:
    explicit FailingAllocations(std::size_t bytes) { gFailingFrom = bytes; }
    ~FailingAllocations() { gFailingFrom = SIZE_MAX; }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

// One field value as a test states it: it becomes a FieldValue to encode and is what a decoded
// field must equal.
struct Value {
    FieldKind kind;
    std::string text;                  // Str, RawText
    std::wstring wide;                 // WStr
    std::int64_t integer = 0;          // U8, I32, I64
    float real = 0;                    // F32
    std::vector<float> floats;         // F32Array
    std::vector<std::int32_t> ints;    // I32Array
    std::vector<unsigned char> flags;  // U8Array, 0 or 1
};

Value S(std::string text) {
    Value v{};
    v.kind = FieldKind::Str;
    v.text = std::move(text);
    return v;
}
Value W(std::wstring text) {
    Value v{};
    v.kind = FieldKind::WStr;
    v.wide = std::move(text);
    return v;
}
Value B(bool flag) {
    Value v{};
    v.kind = FieldKind::U8;
    v.integer = flag;
    return v;
}
Value I(std::int32_t number) {
    Value v{};
    v.kind = FieldKind::I32;
    v.integer = number;
    return v;
}
Value F(float number) {
    Value v{};
    v.kind = FieldKind::F32;
    v.real = number;
    return v;
}
Value L(std::int64_t number) {
    Value v{};
    v.kind = FieldKind::I64;
    v.integer = number;
    return v;
}
Value FA(std::vector<float> values) {
    Value v{};
    v.kind = FieldKind::F32Array;
    v.floats = std::move(values);
    return v;
}
Value IA(std::vector<std::int32_t> values) {
    Value v{};
    v.kind = FieldKind::I32Array;
    v.ints = std::move(values);
    return v;
}
Value BA(std::vector<unsigned char> values) {
    Value v{};
    v.kind = FieldKind::U8Array;
    v.flags = std::move(values);
    return v;
}
Value R(std::string text) {
    Value v{};
    v.kind = FieldKind::RawText;
    v.text = std::move(text);
    return v;
}

// The encoder's values for `values`, with the flags they point to.
struct Fields {
    std::vector<std::unique_ptr<bool[]>> flagStore;
    std::vector<FieldValue> fields;
};

Fields fieldsOf(const std::vector<Value>& values) {
    Fields out;
    std::vector<std::unique_ptr<bool[]>>& flagStore = out.flagStore;
    std::vector<FieldValue>& fields = out.fields;
    for (const Value& v : values) {
        switch (v.kind) {
            case FieldKind::Str:
                fields.push_back(FieldValue::str(std::string_view(v.text)));
                break;
            case FieldKind::WStr:
                fields.push_back(FieldValue::wstr(v.wide.c_str()));
                break;
            case FieldKind::U8:
                fields.push_back(FieldValue::u8(v.integer != 0));
                break;
            case FieldKind::I32:
                fields.push_back(FieldValue::i32(static_cast<std::int32_t>(v.integer)));
                break;
            case FieldKind::F32:
                fields.push_back(FieldValue::f32(v.real));
                break;
            case FieldKind::I64:
                fields.push_back(FieldValue::i64(v.integer));
                break;
            case FieldKind::F32Array:
                fields.push_back(FieldValue::f32Array(v.floats.data(), v.floats.size()));
                break;
            case FieldKind::I32Array:
                fields.push_back(FieldValue::i32Array(v.ints.data(), v.ints.size()));
                break;
            case FieldKind::U8Array: {
                flagStore.emplace_back(new bool[v.flags.size() + 1]);
                for (std::size_t i = 0; i < v.flags.size(); ++i)
                    flagStore.back()[i] = v.flags[i] != 0;
                fields.push_back(FieldValue::u8Array(flagStore.back().get(), v.flags.size()));
                break;
            }
            case FieldKind::RawText:
                fields.push_back(FieldValue::rawText(v.text.c_str()));
                break;
        }
    }
    return out;
}

// Encodes `values` with `builder`; the bytes are copied out of the builder's buffer.
Bytes encode(PayloadBuilder& builder, const MessageLayout& layout,
             const std::vector<Value>& values) {
    const Fields in = fieldsOf(values);
    const std::string_view out = builder.build(layout, in.fields.data(), in.fields.size());
    return Bytes(out.begin(), out.end());
}

Bytes encode(const MessageLayout& layout, const std::vector<Value>& values) {
    PayloadBuilder builder;
    Bytes out = encode(builder, layout, values);
    EXPECT_TRUE(builder.ok()) << layout.type;
    return out;
}

// A payload alone in a heap block that ends where it ends, so that AddressSanitizer catches a read
// past it, starting `shift` bytes after an address aligned for any element type.
class Placed {
public:
    explicit Placed(const Bytes& bytes, std::size_t shift = 0)
        : m_block(new unsigned char[shift + bytes.size()]), m_size(bytes.size()) {
        m_at = m_block.get() + shift;
        if (!bytes.empty())
            std::memcpy(m_at, bytes.data(), bytes.size());
    }
    const unsigned char* data() const { return m_at; }
    std::size_t size() const { return m_size; }
    bool holds(const void* p) const {
        const auto* byte = static_cast<const unsigned char*>(p);
        return byte >= m_at && byte < m_at + m_size;
    }

private:
    std::unique_ptr<unsigned char[]> m_block;
    unsigned char* m_at;
    std::size_t m_size;
};

bool aligned(const void* p, std::size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(p) % alignment == 0;
}

// Checks every field of `message` against `values`.
void expectFields(const DecodedMessage& message, const std::vector<Value>& values,
                  const std::string& where) {
    ASSERT_EQ(message.fieldCount(), values.size()) << where;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Value& v = values[i];
        const std::string at = where + ", field " + std::to_string(i);
        switch (v.kind) {
            case FieldKind::Str:
            case FieldKind::RawText:
                EXPECT_EQ(std::string(message.str(i)), v.text) << at;
                break;
            case FieldKind::WStr:
                EXPECT_EQ(std::wstring(message.wstr(i)), v.wide) << at;
                break;
            case FieldKind::U8:
                EXPECT_EQ(message.u8(i), v.integer) << at;
                EXPECT_EQ(message.flag(i), v.integer != 0) << at;
                break;
            case FieldKind::I32:
                EXPECT_EQ(message.i32(i), v.integer) << at;
                break;
            case FieldKind::F32:
                EXPECT_EQ(message.f32(i), v.real) << at;
                break;
            case FieldKind::I64:
                EXPECT_EQ(message.i64(i), v.integer) << at;
                break;
            case FieldKind::F32Array: {
                ASSERT_EQ(message.count(i), v.floats.size()) << at;
                const float* p = message.floats(i);
                if (v.floats.empty()) {
                    EXPECT_EQ(p, nullptr) << at;
                } else {
                    ASSERT_NE(p, nullptr) << at;
                    EXPECT_TRUE(aligned(p, alignof(float))) << at;
                    EXPECT_EQ(std::vector<float>(p, p + v.floats.size()), v.floats) << at;
                }
                break;
            }
            case FieldKind::I32Array: {
                ASSERT_EQ(message.count(i), v.ints.size()) << at;
                const std::int32_t* p = message.ints(i);
                if (v.ints.empty()) {
                    EXPECT_EQ(p, nullptr) << at;
                } else {
                    ASSERT_NE(p, nullptr) << at;
                    EXPECT_TRUE(aligned(p, alignof(std::int32_t))) << at;
                    EXPECT_EQ(std::vector<std::int32_t>(p, p + v.ints.size()), v.ints) << at;
                }
                break;
            }
            case FieldKind::U8Array: {
                ASSERT_EQ(message.count(i), v.flags.size()) << at;
                const bool* p = message.bools(i);
                if (v.flags.empty()) {
                    EXPECT_EQ(p, nullptr) << at;
                } else {
                    ASSERT_NE(p, nullptr) << at;
                    for (std::size_t k = 0; k < v.flags.size(); ++k)
                        EXPECT_EQ(p[k], v.flags[k] != 0) << at << ", element " << k;
                }
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Lookup.

TEST(Catalogue, FindsTypesByExactNameAndTheLongNamesOnlyWhenAskedTo) {
    struct Case {
        std::string_view type;
        bool aliases;
        const char* expected;  // null: unknown
    };
    const Case cases[] = {
        {"addMesh", false, "addMesh"},
        {"echo", false, "echo"},
        {"echores", false, "echores"},
        {"STATE", false, "STATE"},
        {std::string_view("addMeshX", 7), false, "addMesh"},  // the view's length counts
        {"addMeshX", false, nullptr},
        {"addMes", false, nullptr},
        {"echo2", false, nullptr},
        {"ADDMESH", false, nullptr},
        {"state", false, nullptr},
        {"", false, nullptr},
        {std::string_view("echo\0", 5), false, nullptr},
        {"addComponentDef", false, nullptr},
        {"removeEntity", false, nullptr},
        {"addComponentDef", true, "addComp"},
        {"addComponent", true, "addComp"},  // the 12 characters a channel type field keeps
        {"removeEntity", true, "remEntity"},
        {"removeMeshes", true, "remMeshes"},
        {"clearSession", true, "clearSess"},
        {"addComponentD", true, nullptr},
        {"addComponentDefs", true, nullptr},
        {"addCompo", true, nullptr},
        {"removeEntityX", true, nullptr},
        {"clearSess", true, "clearSess"},
        {"addMeshX", true, nullptr},
    };
    for (const Case& c : cases) {
        const MessageLayout* found = findLayout(c.type, c.aliases);
        const std::string what = std::string(c.type) + (c.aliases ? " with aliases" : "");
        if (!c.expected) {
            EXPECT_EQ(found, nullptr) << what;
            continue;
        }
        ASSERT_NE(found, nullptr) << what;
        EXPECT_EQ(found, findLayout(c.expected)) << what;
        EXPECT_STREQ(found->type, c.expected) << what;
    }
}

TEST(Catalogue, LookupDoesNotAllocate) {
    const std::vector<const MessageLayout*>& all = allLayouts();  // built before the watch starts
    const AllocationWatch watch;
    for (const MessageLayout* layout : all)
        ASSERT_EQ(findLayout(layout->type, true), layout);
    EXPECT_EQ(findLayout("addComponent", true), findLayout("addComp"));
    EXPECT_EQ(findLayout("nothing", true), nullptr);
    EXPECT_EQ(watch.count(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Golden payloads, written out byte by byte from the wire layouts: every message has at least
// one, so that a layout changed in the catalogue (a field added, dropped, moved or of another
// kind) fails here.

struct Golden {
    const char* what;
    const char* type;
    std::vector<Value> values;
    Bytes bytes;
};

std::vector<Golden> goldens() {
    return {
        {"setSunLight",
         "setSunLight",
         {I(3), F(1.0f), F(2.0f), I(-2), F(0.5f), F(0.25f), F(-1.0f), F(1.5f), F(3.0f)},
         {
             0x03, 0x00, 0x00, 0x00,  // @0 i32 p1 = 3
             0x00, 0x00, 0x80, 0x3F,  // @4 f32 p2 = 1
             0x00, 0x00, 0x00, 0x40,  // @8 f32 p3 = 2
             0xFE, 0xFF, 0xFF, 0xFF,  // @12 i32 p6 = -2
             0x00, 0x00, 0x00, 0x3F,  // @16 f32 p7 = 0.5
             0x00, 0x00, 0x80, 0x3E,  // @20 f32 p8 = 0.25
             0x00, 0x00, 0x80, 0xBF,  // @24 f32 p9 = -1
             0x00, 0x00, 0xC0, 0x3F,  // @28 f32 p4 = 1.5
             0x00, 0x00, 0x40, 0x40,  // @32 f32 p5 = 3
         }},
        {"setCutP",
         "setCutP",
         {I(2), I(1), FA({1.0f, 2.0f, 3.0f}), FA({-1.0f, 0.5f, 4.0f}), I(0), I(0x01020304)},
         {
             0x02, 0x00, 0x00, 0x00,                          // @0 plane number
             0x01, 0x00, 0x00, 0x00,                          // @4 active
             0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @8 count 3
             0x00, 0x00, 0x80, 0x3F,                          // @16 1
             0x00, 0x00, 0x00, 0x40,                          // @20 2
             0x00, 0x00, 0x40, 0x40,                          // @24 3
             0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @28 count 3
             0x00, 0x00, 0x80, 0xBF,                          // @36 -1
             0x00, 0x00, 0x00, 0x3F,                          // @40 0.5
             0x00, 0x00, 0x80, 0x40,                          // @44 4
             0x00, 0x00, 0x00, 0x00,                          // @48 caps on
             0x04, 0x03, 0x02, 0x01,                          // @52 caps value
         }},
        {"setCamera",
         "setCamera",
         {F(1.0f), F(2.0f), F(3.0f), F(4.0f), F(5.0f), F(6.0f), F(7.0f), F(8.0f), F(9.0f), B(true),
          B(false), F(0.5f), F(-1.0f), F(0.25f), F(10.0f), S("sc")},
         {
             0x00, 0x00, 0x80, 0x3F,                          // @0 1
             0x00, 0x00, 0x00, 0x40,                          // @4 2
             0x00, 0x00, 0x40, 0x40,                          // @8 3
             0x00, 0x00, 0x80, 0x40,                          // @12 4
             0x00, 0x00, 0xA0, 0x40,                          // @16 5
             0x00, 0x00, 0xC0, 0x40,                          // @20 6
             0x00, 0x00, 0xE0, 0x40,                          // @24 7
             0x00, 0x00, 0x00, 0x41,                          // @28 8
             0x00, 0x00, 0x10, 0x41,                          // @32 9
             0x01,                                            // @36 flag1
             0x00,                                            // @37 flag2
             0x00, 0x00, 0x00, 0x3F,                          // @38 0.5, unaligned
             0x00, 0x00, 0x80, 0xBF,                          // @42 -1
             0x00, 0x00, 0x80, 0x3E,                          // @46 0.25
             0x00, 0x00, 0x20, 0x41,                          // @50 10
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @54 scene name length
             0x73, 0x63,                                      // "sc"
         }},
        {"SETSTATE",
         "SETSTATE",
         {B(true), B(false), B(true), B(true), B(false), B(false), B(true), B(false),
          L(0x123456789ABC)},
         {
             0x01, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00,  // @0 eight flags
             0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00,  // @8 render window parent
         }},
        {"STATE reply",
         "STATE",
         {B(false), B(true), B(false), B(false), B(true), B(true), B(false), B(true), L(-2)},
         {
             0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x01,  // @0 eight flags
             0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // @8 render window parent
         }},
        {"addMesh V=2 I=3",
         "addMesh",
         {S("m1"), S("e"), S(""), FA({1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}),
          FA({0.0f, 0.0f, 1.0f, 0.0f, 0.0f, -1.0f}), FA({0.0f, 0.5f, 1.0f, 0.25f}),
          FA({0.75f, 1.5f, 2.0f, -2.0f}), BA({1, 0}), IA({0, 1, 258}), I(3), S("fm"), S("")},
         {
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @0 meshId
             0x6D, 0x31,                                      //
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @10 entityId
             0x65,                                            //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @19 meshLabel, empty
             0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @27 positions, 6 floats
             0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,  //
             0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x80, 0x40,  //
             0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0xC0, 0x40,  //
             0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @59 normals, 6 floats
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
             0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00,  //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0xBF,  //
             0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @91 front UVs, 4 floats
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F,  //
             0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3E,  //
             0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @115 back UVs, 4 floats
             0x00, 0x00, 0x40, 0x3F, 0x00, 0x00, 0xC0, 0x3F,  //
             0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0,  //
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @139 vertex flags, 2
             0x01, 0x00,                                      //
             0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @149 indices, 3
             0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  //
             0x02, 0x01, 0x00, 0x00,                          //
             0x03, 0x00, 0x00, 0x00,                          // @169 index count
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @173 front material
             0x66, 0x6D,                                      //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @183 back material, empty
         }},                                                  // 191 = 92 + 41*2 + 4*3 + 5
        {"addMesh V=0 I=0",
         "addMesh",
         {S("m"), S("e"), S("L"), FA({}), FA({}), FA({}), FA({}), BA({}), IA({}), I(0), S("f"),
          S("b")},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6D,  // meshId
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65,  // entityId
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4C,  // meshLabel
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // positions, none
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // normals, none
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // front UVs, none
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // back UVs, none
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // vertex flags, none
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // indices, none
             0x00, 0x00, 0x00, 0x00,                                // index count
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x66,  // front material
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x62,  // back material
         }},                                                        // 97 = 92 + 5
        {"MATMAPS",
         "MATMAPS",
         {S("mat"), W(L"a\U0001F600"), W(L"\u00E9"), W(L""), W(L""), W(L""), W(L""), W(L"z")},
         {
             0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // material name
             0x6D, 0x61, 0x74,                                //
             0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // map1: 3 UTF-16 units
             0x61, 0x00, 0x3D, 0xD8, 0x00, 0xDE,              // a, surrogate pair
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // map2
             0xE9, 0x00,                                      //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // map3
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // map4
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // map5
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // map6
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // map7
             0x7A, 0x00,                                      //
         }},
        {"MAPSGEN",
         "MAPSGEN",
         {I(1), I(2), I(3), I(4), F(0.5f), I(90), I(-1), S("wood")},
         {
             0x01, 0x00, 0x00, 0x00,                          // @0 m1
             0x02, 0x00, 0x00, 0x00,                          // @4 m2
             0x03, 0x00, 0x00, 0x00,                          // @8 m3
             0x04, 0x00, 0x00, 0x00,                          // @12 m4
             0x00, 0x00, 0x00, 0x3F,                          // @16 map value
             0x5A, 0x00, 0x00, 0x00,                          // @20 quality
             0xFF, 0xFF, 0xFF, 0xFF,                          // @24 format
             0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @28 material name
             0x77, 0x6F, 0x6F, 0x64,                          //
         }},
        {"addLayer",
         "addLayer",
         {S("L1"), B(true), I(-7), B(false)},
         {
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x31,  // layerId
             0x01,                                                        // layer flag
             0xF9, 0xFF, 0xFF, 0xFF,                                      // layer value
             0x00,                                                        // default layer
         }},
        {"remCutP", "remCutP", {I(5)}, {0x05, 0x00, 0x00, 0x00}},
        {"BEGINTRAN", "BEGINTRAN", {R("name")}, {0x6E, 0x61, 0x6D, 0x65}},
        {"ENDTRAN aborted", "ENDTRAN", {R(kAbortText)}, {0x41, 0x42, 0x4F, 0x52, 0x54}},
        {"ENDTRAN committed", "ENDTRAN", {R("")}, {}},
        {"redraw", "redraw", {}, {0x72, 0x65, 0x64, 0x72, 0x61}},
        {"SAVE", "SAVE", {}, {0x53, 0x41, 0x56, 0x45}},
        {"EXIT", "EXIT", {}, {0x45, 0x58, 0x49, 0x54}},
        {"clearSess", "clearSess", {}, {}},
        {"addMaterial",
         "addMaterial",
         {S("M1"), S("n"), S(""), I(258), F(-2.0f), S("x")},
         {
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @0 materialId
             0x4D, 0x31,                                      //
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @10 materialName
             0x6E,                                            //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @19 detailText, empty
             0x02, 0x01, 0x00, 0x00,                          // @27 intValue 258
             0x00, 0x00, 0x00, 0xC0,                          // @31 floatValue -2
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // @35 extraText
             0x78,                                            //
         }},                                                  // 44 = 40 + 4
        {"addGroup",
         "addGroup",
         {S("g"), S("p"), S(""), S(""),
          FA({1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 2.0f, 3.0f,
              4.0f, 1.0f}),
          S("")},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x67,  // @0 groupId
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x70,  // @9 parentId
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // @18 recordLabel, empty
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // @26 passText, empty
             0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // @34 transform, 16 floats
             0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F,        //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40,        // 2, 3
             0x00, 0x00, 0x80, 0x40, 0x00, 0x00, 0x80, 0x3F,        // 4, 1
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // @106 recordNote, empty
         }},                                                        // 114 = 112 + 2
        {"addInstance",
         "addInstance",
         {S("i"), S("p"), S("d"), S("L"), S(""),
          FA({0.0f, 1.0f, 0.0f, 0.0f, -1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.5f, 0.25f,
              0.0f, 1.0f}),
          S("n")},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x69,  // @0 instanceId
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x70,  // @9 parentId
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64,  // @18 definitionId
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4C,  // @27 recordLabel
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // @36 passText, empty
             0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // @44 transform, 16 floats
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F,        // 0, 1
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x00, 0x00,        // -1, 0
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        //
             0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00,        // 1, 0
             0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0x3E,        // 0.5, 0.25
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F,        // 0, 1
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6E,  // @116 recordNote
         }},                                                        // 125 = 120 + 5
        {"addComp",
         "addComp",
         {S("D"), S("t"), B(true), S("")},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x44,  // definitionId
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x74,  // defText
             0x01,                                                  // defFlag
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // defNote, empty
         }},                                                        // 27 = 25 + 2
        {"remEntity",
         "remEntity",
         {S("12"), S("Model"), B(false), B(true)},
         {
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x32,  // entityId
             0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4D, 0x6F,
             0x64, 0x65, 0x6C,  // parentId
             0x00,              // content table
             0x01,              // for update
         }},                    // 25 = 18 + 7
        {"remMeshes",
         "remMeshes",
         {S("7")},
         {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x37}},
        {"setVisible",
         "setVisible",
         {S("5"), S("lbl"), B(true)},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x35,              // entityId
             0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6C, 0x62, 0x6C,  // recordLabel
             0x01,                                                              // visible, last
         }},                                                                    // 21 = 17 + 4
        {"DicMes",
         "DicMes",
         {S("App"), S("k"), S("Data"), S("true")},
         {
             0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41, 0x70, 0x70,        // owner
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6B,                    // dictionary
             0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x44, 0x61, 0x74, 0x61,  // key
             0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x74, 0x72, 0x75, 0x65,  // value
         }},  // 44 = 32 + 12
        {"setLang",
         "setLang",
         {S("de")},
         {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x65}},
        {"export",
         "export",
         {S("/t.png")},
         {0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2F, 0x74, 0x2E, 0x70, 0x6E, 0x67}},
        {"echo",
         "echo",
         {S("abc")},
         {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63}},
        {"echores",
         "echores",
         {S("ok")},
         {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6F, 0x6B}},
        {"INIT", "INIT", {}, {}},
        {"SAVED", "SAVED", {}, {}},
        {"setEnt",
         "setEnt",
         {S("o"), S("dc"), S("k"), S("v")},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6F,        // owner
             0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x63,  // dictionary
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6B,        // key
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x76,        // value
         }},
        {"enumEnt",
         "enumEnt",
         {S("Model")},
         {0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4D, 0x6F, 0x64, 0x65, 0x6C}},
        {"enumEAT",
         "enumEAT",
         {S("3"), S("")},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x33,  // owner
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // dictionary, empty
         }},
        {"expTx",
         "expTx",
         {S("a"), S("b/c")},
         {
             0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x61,              // first
             0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x62, 0x2F, 0x63,  // second
         }},
    };
}

Golden golden(const std::string& what) {
    for (Golden& g : goldens()) {
        if (g.what == what)
            return std::move(g);
    }
    throw std::runtime_error("no golden payload " + what);
}

TEST(Catalogue, EncodesGoldenPayloadsByteForByte) {
    PayloadBuilder builder;  // one builder throughout, as a sending thread keeps it
    for (const Golden& g : goldens()) {
        const Bytes out = encode(builder, layoutOf(g.type), g.values);
        EXPECT_TRUE(builder.ok()) << g.what;
        EXPECT_EQ(out, g.bytes) << g.what;
    }
}

// Every message of the catalogue against its golden payloads: encoded, the hand-written values give
// the hand-written bytes; decoded, the bytes give the values back.
TEST(Catalogue, EveryMessageMatchesItsGoldenPayloads) {
    const std::vector<Golden> all = goldens();
    for (const MessageLayout* layout : allLayouts()) {
        std::size_t matched = 0;
        for (const Golden& g : all) {
            if (std::strcmp(g.type, layout->type) != 0)
                continue;
            ++matched;
            EXPECT_EQ(g.values.size(), layout->fieldCount) << g.what;
            EXPECT_EQ(encode(*layout, g.values), g.bytes) << g.what;
            const Placed payload(g.bytes);
            DecodedMessage message;
            ASSERT_TRUE(message.decode(*layout, payload.data(), payload.size())) << g.what;
            expectFields(message, g.values, g.what);
        }
        EXPECT_GT(matched, 0u) << layout->type << " has no golden payload";
    }
}

// As a payload larger than the segment is written into it, chunk by chunk: every piece lands where
// it belongs, whatever the field it cuts through.
TEST(Catalogue, EncodesGoldenPayloadsPieceByPiece) {
    for (const Golden& g : goldens()) {
        const Fields in = fieldsOf(g.values);
        const MessageLayout& layout = layoutOf(g.type);
        ASSERT_EQ(payloadSize(layout, in.fields.data(), in.fields.size()), g.bytes.size())
            << g.what;
        for (std::size_t piece : {1, 3, 7, 64}) {
            Bytes out(g.bytes.size(), 0xEE);
            for (std::size_t begin = 0; begin < out.size(); begin += piece)
                encodePayloadPiece(layout, in.fields.data(), in.fields.size(), out.data() + begin,
                                   begin, std::min(piece, out.size() - begin));
            EXPECT_EQ(out, g.bytes) << g.what << " in pieces of " << piece;
        }
    }
}

TEST(DecodedMessage, DecodesGoldenPayloads) {
    DecodedMessage message;  // one object throughout: each decode replaces the last
    for (const Golden& g : goldens()) {
        const Placed payload(g.bytes);
        ASSERT_TRUE(message.decode(layoutOf(g.type), payload.data(), payload.size())) << g.what;
        expectFields(message, g.values, g.what);
    }
}

TEST(Catalogue, StateRequestCarriesThePlaceholderAndTheReplyDecoderRejectsIt) {
    const MessageLayout& state = layoutOf("STATE");
    ASSERT_NE(state.placeholder, nullptr);
    const Bytes request(state.placeholder, state.placeholder + std::strlen(state.placeholder));
    EXPECT_EQ(request, (Bytes{0x53, 0x54, 0x41, 0x54, 0x45}));
    const Placed payload(request);
    DecodedMessage reply;
    EXPECT_FALSE(reply.decode(state, payload.data(), payload.size()));
}

// ---------------------------------------------------------------------------------------------
// Decoder rules on hand-made payloads.

struct DecodeCase {
    const char* what;
    const char* type;
    Bytes bytes;
    std::vector<Value> values;
};

TEST(DecodedMessage, FollowsTheTextAndTrailingByteRules) {
    const DecodeCase cases[] = {
        {"a string ends at its first NUL and consumes its length",
         "enumEAT",
         {0x03, 0, 0, 0, 0, 0, 0, 0, 0x61, 0x00, 0x62, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x7A},
         {S("a"), S("z")}},
        {"raw text ends at its first NUL", "BEGINTRAN", {0x61, 0x62, 0x00, 0x63}, {R("ab")}},
        {"raw text may be empty", "BEGINTRAN", {}, {R("")}},
        {"a wide string ends at its first NUL unit",
         "MATMAPS",
         {0x00, 0, 0, 0, 0, 0, 0, 0,                          //
          0x06, 0, 0, 0, 0, 0, 0, 0, 0x61, 0, 0, 0, 0x62, 0,  //
          0,    0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
          0,    0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {S(""), W(L"a"), W(L""), W(L""), W(L""), W(L""), W(L""), W(L"")}},
        {"bytes after the last field are ignored",
         "remCutP",
         {0x09, 0, 0, 0, 0xAA, 0xBB, 0xCC},
         {I(9)}},
        {"a placeholder message decodes whatever it carries", "redraw", {0x78}, {}},
        {"an empty message decodes whatever it carries", "INIT", {0x01, 0x02}, {}},
    };
    DecodedMessage message;
    for (const DecodeCase& c : cases) {
        const Placed payload(c.bytes);
        ASSERT_TRUE(message.decode(layoutOf(c.type), payload.data(), payload.size())) << c.what;
        expectFields(message, c.values, c.what);
    }
}

// Flags other than 0 and 1 are no valid bool: they are read as true from a normalised copy, never
// from the payload itself (UndefinedBehaviorSanitizer stops a load of such a bool).
TEST(DecodedMessage, VertexFlagsReadAsBoolsWithoutLoadingInvalidBools) {
    const auto meshWithFlags = [](Bytes flags) {
        Bytes bytes(24 + 32, 0);  // three empty strings, four empty float arrays
        bytes.push_back(static_cast<unsigned char>(flags.size()));
        bytes.insert(bytes.end(), 7, 0);
        bytes.insert(bytes.end(), flags.begin(), flags.end());
        bytes.insert(bytes.end(), 8 + 4 + 16, 0);  // no indices, index count, two empty strings
        return bytes;
    };
    const MessageLayout& mesh = layoutOf("addMesh");
    DecodedMessage message;

    const Placed odd(meshWithFlags({0x02, 0x00, 0xFF}));
    ASSERT_TRUE(message.decode(mesh, odd.data(), odd.size()));
    ASSERT_EQ(message.count(7), 3u);
    const bool* flags = message.bools(7);
    ASSERT_NE(flags, nullptr);
    EXPECT_FALSE(odd.holds(flags));
    EXPECT_TRUE(flags[0]);
    EXPECT_FALSE(flags[1]);
    EXPECT_TRUE(flags[2]);

    const Placed clean(meshWithFlags({0x01, 0x00, 0x01}));
    ASSERT_TRUE(message.decode(mesh, clean.data(), clean.size()));
    flags = message.bools(7);
    ASSERT_NE(flags, nullptr);
    EXPECT_TRUE(clean.holds(flags));  // no copy when the bytes are valid bools
    EXPECT_TRUE(flags[0]);
    EXPECT_FALSE(flags[1]);
    EXPECT_TRUE(flags[2]);
}

TEST(DecodedMessage, ArraysOfAMisalignedPayloadAreAlignedCopiesAndOfAnAlignedOnePointIntoIt) {
    DecodedMessage message;
    for (const Golden& g : goldens()) {
        if (std::string(g.type) != "addMesh" && std::string(g.type) != "setCutP")
            continue;
        for (std::size_t shift = 0; shift < 4; ++shift) {
            const Placed payload(g.bytes, shift);
            const std::string what = std::string(g.what) + " at +" + std::to_string(shift);
            ASSERT_TRUE(message.decode(layoutOf(g.type), payload.data(), payload.size())) << what;
            expectFields(message, g.values, what);  // includes the alignment of every array
        }
    }
    // setCutP's first vector starts 16 bytes in: on an aligned payload it is read in place.
    const Golden cut = golden("setCutP");
    const Placed payload(cut.bytes);
    ASSERT_TRUE(message.decode(layoutOf("setCutP"), payload.data(), payload.size()));
    EXPECT_EQ(static_cast<const void*>(message.floats(2)), payload.data() + 16);
    EXPECT_EQ(static_cast<const void*>(message.floats(3)), payload.data() + 36);
}

// Each payload would be a valid message if the element count were taken modulo 2^64 or trusted:
// what follows the hostile field is a well-formed rest of the message.
TEST(DecodedMessage, RejectsHostileCountsAndLengthsWithoutAllocatingForThem) {
    const Bytes maxCount{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes wrapsTo4{0x01, 0, 0, 0, 0, 0, 0, 0x40};  // 4 x 0x4000000000000001
    const Bytes wrapsTo0{0x00, 0, 0, 0, 0, 0, 0, 0x40};  // 4 x 0x4000000000000000
    const Bytes fourBytes{0x00, 0x00, 0x80, 0x3F};
    const Bytes none(8, 0);  // an empty string or array
    const auto with = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& part : parts)
            out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    const Bytes cutStart(8, 0);         // plane number, active
    const Bytes cutEnd(8, 0);           // caps on, caps value
    const Bytes meshStart(24 + 32, 0);  // three empty strings, four empty float arrays
    const Bytes meshEnd(4 + 16, 0);     // index count, two empty strings

    struct Case {
        const char* what;
        const char* type;
        Bytes bytes;
    };
    const Case cases[] = {
        {"float count u64 max", "setCutP", with({cutStart, maxCount, fourBytes, none, cutEnd})},
        {"float count x 4 wrapping to 4", "setCutP",
         with({cutStart, wrapsTo4, fourBytes, none, cutEnd})},
        {"float count x 4 wrapping to 0", "setCutP", with({cutStart, wrapsTo0, none, cutEnd})},
        {"int count x 4 wrapping to 4", "addMesh",
         with({meshStart, none, wrapsTo4, fourBytes, meshEnd})},
        {"flag count u64 max", "addMesh", with({meshStart, maxCount, fourBytes, none, meshEnd})},
        {"string length u64 max", "setLang", with({maxCount, fourBytes})},
        {"wide string length u64 max", "MATMAPS",
         with({none, maxCount, fourBytes, none, none, none, none, none, none})},
    };
    DecodedMessage message;
    for (const Case& c : cases) {
        for (std::size_t shift = 0; shift < 2; ++shift) {  // aligned, and needing copies
            const Placed payload(c.bytes, shift);
            const AllocationWatch watch;
            EXPECT_FALSE(message.decode(layoutOf(c.type), payload.data(), payload.size()))
                << c.what;
            EXPECT_LE(watch.largest(), 1024u) << c.what;
            EXPECT_EQ(message.fieldCount(), 0u) << c.what;
        }
    }
}

TEST(DecodedMessage, AccessorsOfAWrongFieldOrKindGiveEmptyValues) {
    const Golden camera = golden("setCamera");
    const Placed payload(camera.bytes);
    DecodedMessage message;
    ASSERT_TRUE(message.decode(layoutOf("setCamera"), payload.data(), payload.size()));
    ASSERT_EQ(message.f32(0), 1.0f);

    EXPECT_STREQ(message.str(0), "");     // an F32
    EXPECT_STREQ(message.wstr(15), L"");  // a Str
    EXPECT_EQ(message.i32(0), 0);
    EXPECT_EQ(message.i64(0), 0);
    EXPECT_EQ(message.u8(0), 0);
    EXPECT_FALSE(message.flag(0));
    EXPECT_EQ(message.f32(9), 0.0f);  // a U8
    EXPECT_EQ(message.count(15), 0u);
    EXPECT_EQ(message.floats(0), nullptr);
    EXPECT_EQ(message.ints(0), nullptr);
    EXPECT_EQ(message.bools(9), nullptr);
    EXPECT_STREQ(message.str(16), "");  // past the last field
    EXPECT_EQ(message.f32(16), 0.0f);
    EXPECT_EQ(message.floats(999), nullptr);
    EXPECT_EQ(message.count(999), 0u);
}

// ---------------------------------------------------------------------------------------------
// Every layout of the catalogue, with generated values.

// A value for field `index` of kind `kind`, different from field to field so that two fields
// swapped or misplaced do not go unnoticed.
Value generated(FieldKind kind, std::size_t index) {
    const auto n = static_cast<std::int32_t>(index);
    switch (kind) {
        case FieldKind::Str:
            return S("s" + std::to_string(index) + "\xC3\xA9");
        case FieldKind::WStr:
            return W(L"w" + std::to_wstring(index) + L"\U0001F600");
        case FieldKind::U8:
            return B(index % 2 == 0);
        case FieldKind::I32:
            return I(-1000003 * (n + 1));
        case FieldKind::F32:
            return F(0.5f + static_cast<float>(index));
        case FieldKind::I64:
            return L(-(std::int64_t(1) << 40) - n);
        case FieldKind::F32Array:
            return FA(std::vector<float>(index % 3 + 1, 1.25f * static_cast<float>(index + 1)));
        case FieldKind::I32Array:
            return IA({n, -n, 0x7FFFFFFF, n * 65536});
        case FieldKind::U8Array:
            return BA({1, 0, static_cast<unsigned char>(index % 2), 1, 1});
        case FieldKind::RawText:
            return R("raw " + std::to_string(index));
    }
    return S("");
}

std::vector<Value> generatedValues(const MessageLayout& layout) {
    std::vector<Value> values;
    for (std::size_t i = 0; i < layout.fieldCount; ++i)
        values.push_back(generated(layout.fields[i], i));
    return values;
}

bool endsInRawText(const MessageLayout& layout) {
    return layout.fieldCount && layout.fields[layout.fieldCount - 1] == FieldKind::RawText;
}

TEST(Catalogue, EveryLayoutRoundTripsAndIgnoresTrailingBytes) {
    DecodedMessage message;
    for (const MessageLayout* layout : allLayouts()) {
        const std::vector<Value> values = generatedValues(*layout);
        Bytes bytes = encode(*layout, values);
        if (layout->fieldCount == 0) {
            const std::string expected = layout->placeholder ? layout->placeholder : "";
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected) << layout->type;
        }
        for (std::size_t shift = 0; shift < 2; ++shift) {
            const Placed payload(bytes, shift);
            ASSERT_TRUE(message.decode(*layout, payload.data(), payload.size())) << layout->type;
            expectFields(message, values, layout->type);
        }
        if (endsInRawText(*layout))
            continue;  // trailing bytes would be part of the text
        bytes.insert(bytes.end(), {0x01, 0xFF, 0x7F});
        const Placed longer(bytes);
        ASSERT_TRUE(message.decode(*layout, longer.data(), longer.size())) << layout->type;
        expectFields(message, values, std::string(layout->type) + " with trailing bytes");
    }
}

TEST(Catalogue, EveryTruncatedPayloadIsRejectedWhole) {
    DecodedMessage message;
    for (const MessageLayout* layout : allLayouts()) {
        if (layout->fieldCount == 0)
            continue;  // nothing to read, so nothing to cut
        const std::vector<Value> values = generatedValues(*layout);
        const Bytes bytes = encode(*layout, values);
        // Text at the end has no length: a shorter payload is a shorter text.
        const std::size_t rawStart =
            endsInRawText(*layout) ? bytes.size() - values.back().text.size() : bytes.size();
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            const std::string what = std::string(layout->type) + " cut to " +
                                     std::to_string(length) + " of " + std::to_string(bytes.size());
            const Placed whole(bytes);
            ASSERT_TRUE(message.decode(*layout, whole.data(), whole.size())) << what;
            const Placed cut(Bytes(bytes.begin(), bytes.begin() + length), length % 2);
            const bool decoded = message.decode(*layout, cut.data(), cut.size());
            if (length >= rawStart) {
                EXPECT_TRUE(decoded) << what;
                EXPECT_EQ(std::string(message.str(layout->fieldCount - 1)),
                          values.back().text.substr(0, length - rawStart))
                    << what;
                continue;
            }
            EXPECT_FALSE(decoded) << what;
            EXPECT_EQ(message.fieldCount(), 0u) << what;  // nothing of the last decode either
            EXPECT_STREQ(message.str(0), "") << what;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Encoder rules.

TEST(PayloadBuilder, RefusesValuesThatDoNotMatchTheLayout) {
    const float three[] = {1, 2, 3};
    struct Case {
        const char* what;
        const char* type;
        std::vector<FieldValue> values;
    };
    const Case cases[] = {
        {"a kind that differs", "setLang", {FieldValue::i32(1)}},
        {"an I32 where an F32 goes", "remCutP", {FieldValue::f32(1)}},
        {"a value too few", "enumEAT", {FieldValue::str("a")}},
        {"a value too many", "setLang", {FieldValue::str("a"), FieldValue::str("b")}},
        {"a value for a placeholder message", "redraw", {FieldValue::str("x")}},
        {"an int array for a float array",
         "setCutP",
         {FieldValue::i32(1), FieldValue::i32(1), FieldValue::i32Array(nullptr, 0),
          FieldValue::f32Array(three, 3), FieldValue::i32(0), FieldValue::i32(0)}},
        {"elements counted but not given",
         "setCutP",
         {FieldValue::i32(1), FieldValue::i32(1), FieldValue::f32Array(nullptr, 3),
          FieldValue::f32Array(three, 3), FieldValue::i32(0), FieldValue::i32(0)}},
        {"no values for the STATE reply", "STATE", {}},
    };
    PayloadBuilder builder;
    for (const Case& c : cases) {
        ASSERT_EQ(builder.build(layoutOf("remCutP"), {FieldValue::i32(4)}).size(), 4u);
        ASSERT_TRUE(builder.ok());
        const std::string_view out =
            builder.build(layoutOf(c.type), c.values.data(), c.values.size());
        EXPECT_FALSE(builder.ok()) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

TEST(PayloadBuilder, NullTextsEncodeAsEmpty) {
    PayloadBuilder builder;
    const std::string_view name =
        builder.build(layoutOf("setLang"), {FieldValue::str(static_cast<const char*>(nullptr))});
    EXPECT_TRUE(builder.ok());
    EXPECT_EQ(Bytes(name.begin(), name.end()), Bytes(8, 0));

    std::vector<FieldValue> maps{FieldValue::str("m")};
    for (int i = 0; i < 7; ++i)
        maps.push_back(FieldValue::wstr(nullptr));
    const std::string_view wide = builder.build(layoutOf("MATMAPS"), maps.data(), maps.size());
    EXPECT_TRUE(builder.ok());
    Bytes expected{0x01, 0, 0, 0, 0, 0, 0, 0, 0x6D};
    expected.insert(expected.end(), 7 * 8, 0);
    EXPECT_EQ(Bytes(wide.begin(), wide.end()), expected);

    const std::string_view raw = builder.build(layoutOf("ENDTRAN"), {FieldValue::rawText(nullptr)});
    EXPECT_TRUE(builder.ok());
    EXPECT_TRUE(raw.empty());
}

// One buffer serves message after message: it grows once and is kept until trimmed.
TEST(PayloadBuilder, KeepsItsBufferUntilTrimmed) {
    const std::vector<float> positions(3000, 2.0f);
    const MessageLayout& mesh = layoutOf("addMesh");
    const FieldValue values[] = {FieldValue::str("mesh"),
                                 FieldValue::str("entity"),
                                 FieldValue::str(""),
                                 FieldValue::f32Array(positions.data(), positions.size()),
                                 FieldValue::f32Array(nullptr, 0),
                                 FieldValue::f32Array(nullptr, 0),
                                 FieldValue::f32Array(nullptr, 0),
                                 FieldValue::u8Array(nullptr, 0),
                                 FieldValue::i32Array(nullptr, 0),
                                 FieldValue::i32(0),
                                 FieldValue::str(""),
                                 FieldValue::str("")};
    const std::size_t size = 92 + 4 * positions.size() + 10;
    PayloadBuilder builder;

    const auto allocationsOfOneBuild = [&] {
        const AllocationWatch watch;
        const std::string_view out = builder.build(mesh, values, std::size(values));
        EXPECT_TRUE(builder.ok());
        EXPECT_EQ(out.size(), size);
        return watch.count();
    };
    EXPECT_EQ(allocationsOfOneBuild(), 1u);
    EXPECT_EQ(allocationsOfOneBuild(), 0u);
    builder.trim(size);  // not past: kept
    EXPECT_EQ(allocationsOfOneBuild(), 0u);
    builder.trim(size - 1);
    EXPECT_EQ(allocationsOfOneBuild(), 1u);
}

// Allocations this large fail in the out-of-memory tests; every other one of them is far smaller.
constexpr std::size_t kLargeBytes = 64 * 1024;

// A message with field `field` of its generated values replaced by `large`.
struct LargeFieldCase {
    const char* type;
    std::size_t field;
    Value large;
    std::size_t shift;  // where the payload starts after an aligned address
};

std::vector<LargeFieldCase> largeFieldCases() {
    return {
        {"DicMes", 2, S(std::string(kLargeBytes, 'k')), 0},
        {"MATMAPS", 3, W(std::wstring(kLargeBytes, L'w')), 0},
        {"BEGINTRAN", 0, R(std::string(kLargeBytes, 'r')), 0},
        {"setCutP", 2, FA(std::vector<float>(kLargeBytes / 4, 0.5f)), 1},  // copied to align
    };
}

TEST(DecodedMessage, AFieldThatCannotBeCopiedForLackOfMemoryRejectsThePayloadWithoutThrowing) {
    DecodedMessage message;
    for (const LargeFieldCase& c : largeFieldCases()) {
        SCOPED_TRACE(c.type);
        const MessageLayout& layout = layoutOf(c.type);
        std::vector<Value> values = generatedValues(layout);
        ASSERT_EQ(values.at(c.field).kind, c.large.kind);
        values[c.field] = c.large;
        const Placed payload(encode(layout, values), c.shift);
        ASSERT_TRUE(message.decode(layout, payload.data(), payload.size()));

        bool decoded = true;
        {
            const FailingAllocations failing(kLargeBytes);
            EXPECT_NO_THROW(decoded = message.decode(layout, payload.data(), payload.size()));
        }
        EXPECT_FALSE(decoded);
        EXPECT_EQ(message.fieldCount(), 0u);

        ASSERT_TRUE(message.decode(layout, payload.data(), payload.size()));
        expectFields(message, values, "with the memory back");
    }
}

TEST(PayloadBuilder, APayloadThatCannotBeBuiltForLackOfMemoryIsRefusedWithoutThrowing) {
    for (const LargeFieldCase& c : largeFieldCases()) {
        SCOPED_TRACE(c.type);
        const MessageLayout& layout = layoutOf(c.type);
        std::vector<Value> values = generatedValues(layout);
        values[c.field] = c.large;
        PayloadBuilder builder;
        {
            const FailingAllocations failing(kLargeBytes);
            EXPECT_NO_THROW({
                const Fields in = fieldsOf(values);
                EXPECT_TRUE(builder.build(layout, in.fields.data(), in.fields.size()).empty());
            });
        }
        EXPECT_FALSE(builder.ok());
        EXPECT_FALSE(encode(builder, layout, values).empty());
        EXPECT_TRUE(builder.ok()) << "with the memory back";
    }
}

}  // namespace
