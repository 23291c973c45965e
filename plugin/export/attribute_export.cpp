#include "plugin/export/attribute_export.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <charconv>
#include <vector>

#include "plugin/export/render_output.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/scene_session.h"
#include "plugin/util/file_names.h"
#include "plugin/util/text_hash.h"

namespace orvanta {
namespace {

constexpr char kCamera[] = "Camera";

// The number at the start of `text`: optional white space, an optional sign, then what the
// number's notation allows; 0 when there is none or it does not fit.
template <typename Number>
Number leadingNumber(const QByteArray& text) {
    const char* begin = text.constData();
    const char* end = begin + text.size();
    while (begin != end && std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    if (begin != end && *begin == '+')
        ++begin;
    Number value{};
    if (std::from_chars(begin, end, value).ec != std::errc())
        return Number{};
    return value;
}

QString utf8(const QByteArray& text) {
    return QString::fromUtf8(text);
}

std::uint32_t hashOf(const QByteArray& text) {
    return textHash(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

void setModelValues(ModelValues& model, const Attribute& attribute, RenderOutput* output) {
    const QByteArray& key = attribute.key;
    const QByteArray& dictionary = attribute.dictionary;
    const QByteArray& value = attribute.value;
    if (key == "root_entities") {
        model.rootEntitiesCount = leadingNumber<std::int64_t>(value);
    } else if (key == "LengthUnit") {
        model.lengthUnit = value;
    } else if (dictionary == "Echo" || key == "Echo") {
        if (output)
            output->echo(value.constData());
    } else if (key == "AnimationLength") {
        // Milliseconds in the model, seconds here.
        model.animationLengthSeconds =
            static_cast<float>(leadingNumber<std::int64_t>(value)) * 0.001f;
    } else if (dictionary == "GeoReference") {
        if (key == "UsesGeoReferencing")
            model.geoReferencing = value == "true";
        else if (key == "Longitude")
            model.longitude = static_cast<float>(leadingNumber<double>(value));
        else if (key == "Latitude")
            model.latitude = static_cast<float>(leadingNumber<double>(value));
        else if (key == "TimeStamp")
            model.timestamp = leadingNumber<std::int32_t>(value);
    } else if (dictionary == "TempShadowInfo") {
        model.geoReferencing = true;
        if (key == "Longitude")
            model.longitude = static_cast<float>(leadingNumber<double>(value));
        else if (key == "Latitude")
            model.latitude = static_cast<float>(leadingNumber<double>(value));
        else if (key == "ShadowTime_time_t")
            model.timestamp = leadingNumber<std::int32_t>(value);
    }
}

// Writes the decoded content as the file `key` of the session folder, unless a file of that size
// is there already. Keys come from model files, which may come from anywhere: one that is not a
// plain file name writes nothing. Errors are ignored.
void writeBase64File(const QString& sessionFolder, const QByteArray& key,
                     const QByteArray& base64) {
    const QString name = utf8(key);
    if (sessionFolder.isEmpty() || !isPlainFileName(name))
        return;
    const QByteArray decoded = QByteArray::fromBase64(base64);
    const QString path = sessionFolder + QLatin1Char('/') + name;
    const QFileInfo existing(path);
    if (existing.exists() && existing.size() == decoded.size())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(decoded);
}

bool onHostThread() {
    return !postsRequest(PostOffHostThread);
}

HostRequest setRequest(const Attribute& attribute) {
    return {QLatin1String(request_kind::kSetEntityAttribute), utf8(attribute.owner),
            utf8(attribute.dictionary), utf8(attribute.key), utf8(attribute.value)};
}

}  // namespace

bool isBase64Dictionary(const QByteArray& dictionary) {
    return dictionary.toLower().endsWith("base64");
}

void Base64Cache::store(const QByteArray& owner, const QByteArray& dictionary,
                        const QByteArray& key, const QByteArray& content, std::uint32_t hash) {
    Entry& entry = m_owners[owner][dictionary][key];
    entry.content = content;
    entry.hash = hash;
}

const Base64Cache::Entry* Base64Cache::find(const QByteArray& owner, const QByteArray& dictionary,
                                            const QByteArray& key) const {
    const Keys* keys = keysOf(owner, dictionary);
    if (!keys)
        return nullptr;
    const auto found = keys->find(key);
    return found == keys->end() ? nullptr : &found->second;
}

const Base64Cache::Keys* Base64Cache::keysOf(const QByteArray& owner,
                                             const QByteArray& dictionary) const {
    const auto dictionaries = m_owners.find(owner);
    if (dictionaries == m_owners.end())
        return nullptr;
    const auto keys = dictionaries->second.find(dictionary);
    return keys == dictionaries->second.end() ? nullptr : &keys->second;
}

bool wantsDictionary(const SceneSession& session, const QByteArray& dictionary) {
    return !isBase64Dictionary(dictionary) || session.receiveBase64Attributes.load();
}

void rememberSceneAttribute(SceneSession& session, const Attribute& attribute) {
    session.sessionAttributes.rememberFirst({utf8(attribute.owner), utf8(attribute.dictionary),
                                             utf8(attribute.key), utf8(attribute.value)});
}

void receiveAttribute(SceneSession& session, const Attribute& attribute, RenderOutput* output) {
    if (attribute.owner == kCamera) {
        {
            RegistryGuard guard(session.registry.lock());
            session.attributeSceneName = session.currentSceneName;
        }
        rememberSceneAttribute(session, attribute);
    }
    if (output)
        output->sendDictionaryMessage(attribute.owner.constData(), attribute.dictionary.constData(),
                                      attribute.key.constData(), attribute.value.constData());
    setModelValues(session.model, attribute, output);
    if (!isBase64Dictionary(attribute.dictionary))
        return;
    const std::uint32_t hash = hashOf(attribute.value);
    {
        RegistryGuard guard(session.registry.lock());
        session.base64.store(session.mappedOwner(attribute.owner), attribute.dictionary,
                             attribute.key, attribute.value, hash);
    }
    if (hash != 0)
        writeBase64File(session.sessionFolder, attribute.key, attribute.value);
}

const char* base64Content(SceneSession& session, const Attribute& address) {
    RegistryGuard guard(session.registry.lock());
    const Base64Cache::Entry* entry =
        session.base64.find(session.mappedOwner(address.owner), address.dictionary, address.key);
    return entry ? entry->content.constData() : "";
}

std::uint32_t base64Hash(SceneSession& session, const Attribute& address) {
    RegistryGuard guard(session.registry.lock());
    const Base64Cache::Entry* entry =
        session.base64.find(session.mappedOwner(address.owner), address.dictionary, address.key);
    return entry ? entry->hash : 0;
}

void requestEntityAttributes(SceneSession& session, const QByteArray& owner,
                             const QByteArray& dictionary, RequestMode mode, RenderOutput* output) {
    const HostRequest request{QLatin1String(request_kind::kEnumEntityAttributes), utf8(owner),
                              utf8(dictionary)};
    if (!postsRequest(mode)) {
        if (session.runHostRequest)
            session.runHostRequest(request);
        return;
    }
    const bool hostThread = onHostThread();
    RegistryGuard guard(session.registry.lock());
    if (session.receiveBase64Attributes.load()) {
        // A copy: forwarding on the host thread stores into the same dictionary.
        std::vector<std::pair<QByteArray, QByteArray>> cached;
        if (const Base64Cache::Keys* keys =
                session.base64.keysOf(session.mappedOwner(owner), dictionary))
            for (const auto& [key, entry] : *keys)
                cached.emplace_back(key, entry.content);
        for (const auto& [key, value] : cached) {
            if (hostThread)
                receiveAttribute(session, {owner, dictionary, key, value}, output);
            else if (output)
                output->sendDictionaryMessage(owner.constData(), dictionary.constData(),
                                              key.constData(), value.constData());
        }
    }
    session.requests.post(request);
}

void requestSetEntityAttribute(SceneSession& session, const Attribute& attribute, RequestMode mode,
                               RenderOutput* output) {
    const bool hostThread = onHostThread();
    if (attribute.owner.startsWith('%')) {
        if (!hostThread) {
            session.requests.post(setRequest(attribute));
            return;
        }
        session.sessionAttributes.setValue({utf8(attribute.owner.mid(1)),
                                            utf8(attribute.dictionary), utf8(attribute.key),
                                            utf8(attribute.value)});
        return;
    }
    // Remembered whatever becomes of the request itself; off the host thread by the host thread.
    if (attribute.owner == kCamera) {
        if (hostThread)
            rememberSceneAttribute(session, attribute);
        else
            session.requests.post({QLatin1String(request_kind::kRememberSceneAttribute),
                                   utf8(attribute.owner), utf8(attribute.dictionary),
                                   utf8(attribute.key), utf8(attribute.value)});
    }
    if (attribute.owner != kExecuteAction &&
        (sessionBusyCount() > 0 || (output && output->isLoadingModel())))
        return;
    std::uint32_t hash = 0;
    if (isBase64Dictionary(attribute.dictionary)) {
        hash = hashOf(attribute.value);
        if (hash == base64Hash(session, attribute))
            return;
    }
    if (postsRequest(mode)) {
        session.requests.post(setRequest(attribute));
        return;
    }
    if (hash != 0) {
        RegistryGuard guard(session.registry.lock());
        session.base64.store(session.mappedOwner(attribute.owner), attribute.dictionary,
                             attribute.key, attribute.value, hash);
    }
    if (session.runHostRequest)
        session.runHostRequest(setRequest(attribute));
}

}  // namespace orvanta
