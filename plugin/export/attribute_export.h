// Model attributes and dictionaries: the attributes the host enumerates, forwarded to the render
// window and read for the model values they carry; the cache of Base64 attributes with their files
// in the session folder; and the steps the two attribute requests take before they run or post.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>

#include "plugin/requests/host_request_queue.h"

namespace orvanta {

class RenderOutput;
struct SceneSession;

// Whether `dictionary` carries Base64 content: its name ends in "Base64", in any letter case.
bool isBase64Dictionary(const QByteArray& dictionary);

// The cached Base64 attributes: owner, dictionary and key to the Base64 text and its text hash.
// The owner given is the mapped owner (see SceneSession::mappedOwner()). Guarded by the registry
// lock: the caller holds it around every call and every use of a returned pointer.
class Base64Cache {
public:
    struct Entry {
        QByteArray content;
        std::uint32_t hash = 0;
    };
    using Keys = std::map<QByteArray, Entry>;

    void store(const QByteArray& owner, const QByteArray& dictionary, const QByteArray& key,
               const QByteArray& content, std::uint32_t hash);
    // The entry, or null; valid until it is replaced or the cache cleared.
    const Entry* find(const QByteArray& owner, const QByteArray& dictionary,
                      const QByteArray& key) const;
    // The keys cached for the dictionary, or null.
    const Keys* keysOf(const QByteArray& owner, const QByteArray& dictionary) const;
    void clear() { m_owners.clear(); }

private:
    std::map<QByteArray, std::map<QByteArray, Keys>> m_owners;
};

// One attribute as the host reports it; texts are UTF-8.
struct Attribute {
    QByteArray owner;
    QByteArray dictionary;
    QByteArray key;
    QByteArray value;
};

// Whether the host should enumerate `dictionary`'s attributes: yes, except for a Base64
// dictionary, which only while Base64 attributes are received. Any thread.
bool wantsDictionary(const SceneSession& session, const QByteArray& dictionary);

// One attribute the host enumerated: an attribute of "Camera" marks the current scene as having
// its camera attributes and is remembered as a session attribute (the first of its dictionary);
// the attribute goes to `output`; the model values it names are set; a Base64 attribute is cached
// and, when not empty and its key is a plain file name, written decoded as that file of the
// session folder unless a file of the decoded size is there. Host thread; takes the registry lock
// for the cache. File errors are ignored.
void receiveAttribute(SceneSession& session, const Attribute& attribute, RenderOutput* output);

// The cached Base64 text (the cache's own copy, "" when none) and its hash (0 when none). Take the
// registry lock; the returned text stays valid until the entry changes or the session is reset.
// Any thread.
const char* base64Content(SceneSession& session, const Attribute& address);
std::uint32_t base64Hash(SceneSession& session, const Attribute& address);

// The render window's, or the host's, request to enumerate the attributes of one dictionary.
// Run now: the host's callback. Posted: first, while Base64 attributes are received, the cached
// attributes of that dictionary go to `output` at once (through receiveAttribute() on the host
// thread; as plain forwards on any other, whose thread must not touch the host thread's values),
// then the request is posted. Any thread.
void requestEntityAttributes(SceneSession& session, const QByteArray& owner,
                             const QByteArray& dictionary, RequestMode mode, RenderOutput* output);

// Remembers `attribute` as a session attribute unless its dictionary has one already. Host thread.
void rememberSceneAttribute(SceneSession& session, const Attribute& attribute);

// The render window's, or the host's, request to set an attribute. An owner beginning with "%"
// edits the session attribute list only (owner without the "%"); a "Camera" attribute is
// remembered as a session attribute (the first of its dictionary) whatever becomes of the request.
// Except for "ExecuteAction", the request is dropped while the session is busy or a model is
// loading, and a Base64 value whose hash equals the cached one (0 when none) is dropped as
// unchanged. Then it is posted, or run: the cache takes the Base64 value and the host's callback
// runs. Off the host thread, the session attribute list is edited by posted requests that the host
// thread runs (a "%" edit, a remembered "Camera" attribute). Any thread.
void requestSetEntityAttribute(SceneSession& session, const Attribute& attribute, RequestMode mode,
                               RenderOutput* output);

}  // namespace orvanta
