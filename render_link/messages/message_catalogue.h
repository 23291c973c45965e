// Every message of the render link: its type, direction, delivery and payload layout, with one
// table-driven encoder and one bounds-checked decoder for all of them.
//
// Out of memory: as the render link's policy (XelInterProcessMessagesManager.h), nothing here
// throws for lack of memory; a payload that cannot be built or decoded is refused with the
// failure value of the call.
//
// Payload fields follow each other without gaps, little-endian:
//   Str       u64 byte length, then the UTF-8 bytes, no terminator
//   WStr      u64 byte length (2 x code units), then UTF-16LE code units, no terminator
//   U8        one byte; as a flag 0 = false, 1 = true
//   I32, F32, I64
//   F32Array, I32Array, U8Array    u64 element count n, then n elements
//   RawText   the rest of the payload, no length prefix (only as the last field)
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xel::messages {

namespace type {
inline constexpr char kAddMesh[] = "addMesh";
inline constexpr char kAddMaterial[] = "addMaterial";
inline constexpr char kAddGroup[] = "addGroup";
inline constexpr char kAddInstance[] = "addInstance";
inline constexpr char kAddComponentDef[] = "addComp";
inline constexpr char kAddLayer[] = "addLayer";
inline constexpr char kRemoveEntity[] = "remEntity";
inline constexpr char kRemoveMeshes[] = "remMeshes";
inline constexpr char kClearSession[] = "clearSess";
inline constexpr char kSetCamera[] = "setCamera";
inline constexpr char kSetSunLight[] = "setSunLight";
inline constexpr char kSetSectionPlane[] = "setCutP";
inline constexpr char kRemoveSectionPlane[] = "remCutP";
inline constexpr char kSetVisible[] = "setVisible";
inline constexpr char kDictionaryMessage[] = "DicMes";
inline constexpr char kSetLanguage[] = "setLang";
inline constexpr char kExport[] = "export";
inline constexpr char kRedraw[] = "redraw";
inline constexpr char kSave[] = "SAVE";
inline constexpr char kExit[] = "EXIT";
inline constexpr char kState[] = "STATE";
inline constexpr char kSetState[] = "SETSTATE";
inline constexpr char kMapsGenerate[] = "MAPSGEN";
inline constexpr char kBeginTransaction[] = "BEGINTRAN";
inline constexpr char kEndTransaction[] = "ENDTRAN";
inline constexpr char kEcho[] = "echo";
inline constexpr char kEchoResult[] = "echores";
inline constexpr char kInit[] = "INIT";
inline constexpr char kSaved[] = "SAVED";
inline constexpr char kMaterialMaps[] = "MATMAPS";
inline constexpr char kSetEntityAttribute[] = "setEnt";
inline constexpr char kEnumEntityContent[] = "enumEnt";
inline constexpr char kEnumEntityAttributes[] = "enumEAT";
inline constexpr char kExportTexture[] = "expTx";
}  // namespace type

// The ENDTRAN payload of an aborted transaction.
inline constexpr char kAbortText[] = "ABORT";

enum class FieldKind : std::uint8_t {
    Str,
    WStr,
    U8,
    I32,
    F32,
    I64,
    F32Array,
    I32Array,
    U8Array,
    RawText
};

// The fields of each message that has any, in wire order: one list per message gives both the
// layout's field kinds and the names its readers and writers index fields by, so the two cannot
// drift apart. "STATE" and "SETSTATE" share State; "BEGINTRAN" and "ENDTRAN" share Transaction;
// "echo" and "echores" share Echo.
// clang-format off
// Per vertex: 3 floats of Positions and of Normals, 2 of FrontUvs and of BackUvs, 1 of VertexFlags.
// IndexCount repeats the element count of Indices.
#define XEL_ADD_MESH_FIELDS(X) \
    X(MeshId, Str)             \
    X(EntityId, Str)           \
    X(MeshLabel, Str)          \
    X(Positions, F32Array)     \
    X(Normals, F32Array)       \
    X(FrontUvs, F32Array)      \
    X(BackUvs, F32Array)       \
    X(VertexFlags, U8Array)    \
    X(Indices, I32Array)       \
    X(IndexCount, I32)         \
    X(FrontMaterial, Str)      \
    X(BackMaterial, Str)
#define XEL_ADD_MATERIAL_FIELDS(X) \
    X(MaterialId, Str)             \
    X(MaterialName, Str)           \
    X(DetailText, Str)             \
    X(IntValue, I32)               \
    X(FloatValue, F32)             \
    X(ExtraText, Str)
// A transform is 16 floats, in the order the plug-in was given them.
#define XEL_ADD_GROUP_FIELDS(X) \
    X(GroupId, Str)             \
    X(ParentId, Str)            \
    X(RecordLabel, Str)         \
    X(PassText, Str)            \
    X(Transform, F32Array)      \
    X(RecordNote, Str)
#define XEL_ADD_INSTANCE_FIELDS(X) \
    X(InstanceId, Str)             \
    X(ParentId, Str)               \
    X(DefinitionId, Str)           \
    X(RecordLabel, Str)            \
    X(PassText, Str)               \
    X(Transform, F32Array)         \
    X(RecordNote, Str)
#define XEL_ADD_COMPONENT_DEF_FIELDS(X) \
    X(DefinitionId, Str)                \
    X(DefText, Str)                     \
    X(DefFlag, U8)                      \
    X(DefNote, Str)
#define XEL_ADD_LAYER_FIELDS(X) \
    X(LayerId, Str)             \
    X(LayerFlag, U8)            \
    X(LayerValue, I32)          \
    X(DefaultLayer, U8)
#define XEL_REMOVE_ENTITY_FIELDS(X) \
    X(EntityId, Str)                \
    X(ParentId, Str)                \
    X(ContentTable, U8)             \
    X(ForUpdate, U8)
#define XEL_ENTITY_ID_FIELDS(X) X(EntityId, Str)
// Nine values, two flags, four values, the scene name; the values pass through unread.
#define XEL_SET_CAMERA_FIELDS(X) \
    X(Value1, F32)               \
    X(Value2, F32)               \
    X(Value3, F32)               \
    X(Value4, F32)               \
    X(Value5, F32)               \
    X(Value6, F32)               \
    X(Value7, F32)               \
    X(Value8, F32)               \
    X(Value9, F32)               \
    X(Flag1, U8)                 \
    X(Flag2, U8)                 \
    X(Value10, F32)              \
    X(Value11, F32)              \
    X(Value12, F32)              \
    X(Value13, F32)              \
    X(SceneName, Str)
// p1, p2, p3, p6, p7, p8, p9, p4, p5: wire order, not numbering order.
#define XEL_SET_SUN_LIGHT_FIELDS(X) \
    X(P1, I32)                      \
    X(P2, F32)                      \
    X(P3, F32)                      \
    X(P6, I32)                      \
    X(P7, F32)                      \
    X(P8, F32)                      \
    X(P9, F32)                      \
    X(P4, F32)                      \
    X(P5, F32)
// FirstVector and SecondVector hold 3 floats each; Active and CapsOn travel as 0 or 1; CapsValue
// is a colour packed as AARRGGBB.
#define XEL_SET_SECTION_PLANE_FIELDS(X) \
    X(PlaneNumber, I32)                 \
    X(Active, I32)                      \
    X(FirstVector, F32Array)            \
    X(SecondVector, F32Array)           \
    X(CapsOn, I32)                      \
    X(CapsValue, I32)
#define XEL_REMOVE_SECTION_PLANE_FIELDS(X) X(PlaneNumber, I32)
#define XEL_SET_VISIBLE_FIELDS(X) \
    X(EntityId, Str)              \
    X(RecordLabel, Str)           \
    X(Visible, U8)
#define XEL_DICTIONARY_MESSAGE_FIELDS(X) \
    X(Owner, Str)                        \
    X(Dictionary, Str)                   \
    X(Key, Str)                          \
    X(Value, Str)
#define XEL_SET_LANGUAGE_FIELDS(X) X(Language, Str)
#define XEL_EXPORT_FIELDS(X) X(Path, Str)
// Reserved is always 0 on the wire; Parent is the render window's parent handle.
#define XEL_STATE_FIELDS(X) \
    X(Reserved, U8)         \
    X(LoadingModel, U8)     \
    X(Closing, U8)          \
    X(WindowVisible, U8)    \
    X(SettingsVisible, U8)  \
    X(MaterialsVisible, U8) \
    X(ProductionDialog, U8) \
    X(Docked, U8)           \
    X(Parent, I64)
#define XEL_MAPS_GENERATE_FIELDS(X) \
    X(M1, I32)                      \
    X(M2, I32)                      \
    X(M3, I32)                      \
    X(M4, I32)                      \
    X(MapValue, F32)                \
    X(Quality, I32)                 \
    X(Format, I32)                  \
    X(MaterialName, Str)
#define XEL_TRANSACTION_FIELDS(X) X(Text, RawText)
#define XEL_ECHO_FIELDS(X) X(Text, Str)
// The material's name, then the paths of its seven maps.
#define XEL_MATERIAL_MAPS_FIELDS(X) \
    X(MaterialName, Str)            \
    X(Map1, WStr)                   \
    X(Map2, WStr)                   \
    X(Map3, WStr)                   \
    X(Map4, WStr)                   \
    X(Map5, WStr)                   \
    X(Map6, WStr)                   \
    X(Map7, WStr)
#define XEL_SET_ENTITY_ATTRIBUTE_FIELDS(X) XEL_DICTIONARY_MESSAGE_FIELDS(X)
#define XEL_ENUM_ENTITY_ATTRIBUTES_FIELDS(X) \
    X(Owner, Str)                            \
    X(Dictionary, Str)
#define XEL_EXPORT_TEXTURE_FIELDS(X) \
    X(First, Str)                    \
    X(Second, Str)

#define XEL_FIELD_INDEX(name, kind) k##name,
#define XEL_FIELD_KIND(name, kind) FieldKind::kind,
#define XEL_MESSAGE_FIELDS(Message, LIST)                               \
    struct Message {                                                    \
        enum Index : std::size_t { LIST(XEL_FIELD_INDEX) kFieldCount }; \
        static constexpr FieldKind kKinds[] = {LIST(XEL_FIELD_KIND)};   \
    };

// clang-format on

// Per message, the names of its fields' indices (field::AddMesh::kPositions), for the accessors
// of DecodedMessage, and the kinds of its layout.
namespace field {
XEL_MESSAGE_FIELDS(AddMesh, XEL_ADD_MESH_FIELDS)
XEL_MESSAGE_FIELDS(AddMaterial, XEL_ADD_MATERIAL_FIELDS)
XEL_MESSAGE_FIELDS(AddGroup, XEL_ADD_GROUP_FIELDS)
XEL_MESSAGE_FIELDS(AddInstance, XEL_ADD_INSTANCE_FIELDS)
XEL_MESSAGE_FIELDS(AddComponentDef, XEL_ADD_COMPONENT_DEF_FIELDS)
XEL_MESSAGE_FIELDS(AddLayer, XEL_ADD_LAYER_FIELDS)
XEL_MESSAGE_FIELDS(RemoveEntity, XEL_REMOVE_ENTITY_FIELDS)
XEL_MESSAGE_FIELDS(RemoveMeshes, XEL_ENTITY_ID_FIELDS)
XEL_MESSAGE_FIELDS(SetCamera, XEL_SET_CAMERA_FIELDS)
XEL_MESSAGE_FIELDS(SetSunLight, XEL_SET_SUN_LIGHT_FIELDS)
XEL_MESSAGE_FIELDS(SetSectionPlane, XEL_SET_SECTION_PLANE_FIELDS)
XEL_MESSAGE_FIELDS(RemoveSectionPlane, XEL_REMOVE_SECTION_PLANE_FIELDS)
XEL_MESSAGE_FIELDS(SetVisible, XEL_SET_VISIBLE_FIELDS)
XEL_MESSAGE_FIELDS(DictionaryMessage, XEL_DICTIONARY_MESSAGE_FIELDS)
XEL_MESSAGE_FIELDS(SetLanguage, XEL_SET_LANGUAGE_FIELDS)
XEL_MESSAGE_FIELDS(Export, XEL_EXPORT_FIELDS)
XEL_MESSAGE_FIELDS(State, XEL_STATE_FIELDS)
XEL_MESSAGE_FIELDS(MapsGenerate, XEL_MAPS_GENERATE_FIELDS)
XEL_MESSAGE_FIELDS(Transaction, XEL_TRANSACTION_FIELDS)
XEL_MESSAGE_FIELDS(Echo, XEL_ECHO_FIELDS)
XEL_MESSAGE_FIELDS(MaterialMaps, XEL_MATERIAL_MAPS_FIELDS)
XEL_MESSAGE_FIELDS(SetEntityAttribute, XEL_SET_ENTITY_ATTRIBUTE_FIELDS)
XEL_MESSAGE_FIELDS(EnumEntityContent, XEL_ENTITY_ID_FIELDS)
XEL_MESSAGE_FIELDS(EnumEntityAttributes, XEL_ENUM_ENTITY_ATTRIBUTES_FIELDS)
XEL_MESSAGE_FIELDS(ExportTexture, XEL_EXPORT_TEXTURE_FIELDS)
}  // namespace field

#undef XEL_MESSAGE_FIELDS
#undef XEL_FIELD_KIND
#undef XEL_FIELD_INDEX

enum class Direction : std::uint8_t { ToRender, ToPlugin, Both };

// Sync: the channel's sendMessage on the caller's thread. Async: sendMessageAsync. StateThread:
// sendMessage on the sender's state thread.
enum class Delivery : std::uint8_t { Sync, Async, StateThread };

struct MessageLayout {
    const char* type;
    Direction direction;
    Delivery delivery;
    const FieldKind* fields;
    std::size_t fieldCount;
    // A payload of fixed bytes that no receiver reads ("redra", "SAVE", "EXIT", "STATE"), or null.
    // "STATE" and "EXIT" name two messages: the fields describe the render window's "STATE" reply
    // and empty "EXIT", the placeholder the plug-in's request; a writer of a request sends the
    // placeholder itself.
    const char* placeholder;
};

// The layout of `type`, compared exactly (a longer name with a known prefix is unknown). With
// `acceptAliases`, the render window's long names are found too: "addComponentDef",
// "removeEntity", "removeMeshes" and "clearSession", each also as the 12 characters a channel type
// field keeps of it. Null for an unknown type. Where a type names two messages ("STATE", "EXIT",
// "echo"), both directions share the layout returned. Thread-safe.
const MessageLayout* findLayout(std::string_view type, bool acceptAliases = false);

// The layout of `type`, a type this library names (a constant of namespace type), which the
// catalogue always holds: a name it does not hold is a programming error and ends the process.
// Thread-safe.
const MessageLayout& layoutOf(std::string_view type);

// Where, in a payload of `layout`, the elements of its first array of 4-byte values begin: the
// place a reader aligns when it copies the payload, so that the arrays are handed over in place.
// Reads only the lengths before that array, bounds-checked; 0 when the layout has no such array
// or the payload ends before it.
std::size_t firstArrayOffset(const MessageLayout& layout, const void* data, std::size_t size);

// Every message, for tests and tools.
const std::vector<const MessageLayout*>& allLayouts();

// One value to encode. The kind must match the layout's field kind. Narrow strings and arrays are
// referred to, not copied, so they must live until build() returns; wide strings are converted.
class FieldValue {
public:
    static FieldValue str(const char* text);  // null encodes as empty
    static FieldValue str(std::string_view text);
    // Null encodes as empty. A text that cannot be converted for lack of memory gives a value no
    // layout accepts: payloadSize() and build() refuse it.
    static FieldValue wstr(const wchar_t* text);
    static FieldValue u8(bool value);
    static FieldValue i32(std::int32_t value);
    static FieldValue f32(float value);
    static FieldValue i64(std::int64_t value);
    static FieldValue f32Array(const float* values, std::uint64_t count);
    static FieldValue i32Array(const std::int32_t* values, std::uint64_t count);
    static FieldValue u8Array(const bool* values, std::uint64_t count);
    static FieldValue rawText(const char* text);  // null encodes as empty

    FieldKind kind() const { return m_kind; }

private:
    friend class FieldEncoder;
    FieldKind m_kind = FieldKind::U8;
    std::string_view m_text;
    std::u16string m_wide;
    const void* m_array = nullptr;
    std::uint64_t m_count = 0;
    std::int64_t m_integer = 0;
    float m_real = 0;
};

// The payload size of `values` encoded by `layout`; nothing when their kinds do not match the
// layout's fields, an array has elements but no address, or the size does not fit a size_t.
std::optional<std::size_t> payloadSize(const MessageLayout& layout, const FieldValue* values,
                                       std::size_t count);
// Encodes `values` into `out`, whose `size` is what payloadSize() gave for them: the one encoder
// behind every payload, whether built in a buffer or straight into the channel's segment. Returns
// false if the values did not fill exactly `size` bytes.
bool encodePayload(const MessageLayout& layout, const FieldValue* values, std::size_t count,
                   void* out, std::size_t size);
// Encodes only the payload bytes [begin, begin + bytes) of `values` into `out`: a payload that
// travels in pieces is written piece by piece, each straight into its place.
void encodePayloadPiece(const MessageLayout& layout, const FieldValue* values, std::size_t count,
                        void* out, std::size_t begin, std::size_t bytes);

// Builds payloads in one buffer that it keeps from message to message: a large payload costs one
// allocation when the buffer first grows, not one per message. Not thread-safe: one builder per
// sending thread.
class PayloadBuilder {
public:
    // Encodes `values` by `layout` and returns the payload, valid until the next build() or
    // trim(). Returns an empty view and sets ok() false if the values do not match the layout's
    // field kinds or the buffer cannot be allocated. Never throws.
    std::string_view build(const MessageLayout& layout, const FieldValue* values,
                           std::size_t count);
    std::string_view build(const MessageLayout& layout, std::initializer_list<FieldValue> values) {
        return build(layout, values.begin(), values.size());
    }
    bool ok() const { return m_ok; }
    // Frees the buffer if it grew past `keepBytes`.
    void trim(std::size_t keepBytes);

private:
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
    bool m_ok = true;
};

// The fields of one received payload. Decoding checks every count and length against the payload:
// a payload whose fields do not fit is rejected whole. Bytes after the last field are ignored.
// Fields are not checked against each other (the element counts of a mesh's arrays, say): that is
// the reader's business.
// Strings are copied and NUL-terminated (a string ends at its first NUL). Arrays point into the
// payload when it is aligned for their element type, and into a copy held here when it is not.
// Every pointer stays valid until the next decode() or the object's end, and, for arrays that
// point into the payload, while the payload lives.
class DecodedMessage {
public:
    // False, and no fields, for a payload that is rejected or whose copies cannot be allocated.
    // Never throws.
    bool decode(const MessageLayout& layout, const void* data, std::size_t size);

    std::size_t fieldCount() const;
    // Each accessor takes a field's index, as namespace field names it, and gives an empty value
    // for an index past the fields or a field of another kind.
    const char* str(std::size_t field) const;  // Str and RawText; "" for another field
    const wchar_t* wstr(std::size_t field) const;
    bool flag(std::size_t field) const;  // U8: true when not 0
    std::uint8_t u8(std::size_t field) const;
    std::int32_t i32(std::size_t field) const;
    float f32(std::size_t field) const;
    std::int64_t i64(std::size_t field) const;
    std::uint64_t count(std::size_t field) const;  // element count of an array field
    // The array fields, null when the count is 0. U8 arrays read as bool: any byte other than 0
    // is true.
    const float* floats(std::size_t field) const;
    const std::int32_t* ints(std::size_t field) const;
    const bool* bools(std::size_t field) const;

private:
    // decode() without its guard: throws std::bad_alloc when a copy cannot be made.
    bool decodeFields(const MessageLayout& layout, const void* data, std::size_t size);
    void clear();

    struct Field {
        FieldKind kind;
        std::uint64_t count = 0;
        std::int64_t integer = 0;
        float real = 0;
        std::size_t text = 0;  // index into m_texts or m_wides
        const void* array = nullptr;
    };
    std::vector<Field> m_fields;
    std::vector<std::string> m_texts;
    std::vector<std::wstring> m_wides;
    std::vector<std::unique_ptr<unsigned char[]>> m_copies;  // aligned copies of arrays
};

// Builds in `builder` the "echores" answer to `echo`, a decoded "echo": the same text. Returns
// what builder.build() returns; builder.ok() tells whether the answer was built.
std::string_view buildEchoReply(PayloadBuilder& builder, const DecodedMessage& echo);

}  // namespace xel::messages
