// The render window's side of the texture road (docs/host_render_agreement.md, "Textures"): for
// each material that arrives with a texture, it asks the host, through the plug-in, to export the
// texture as a PNG file into the session folder ("expTx" with the material id and the file's
// path), and loads the file when the host's answer says it is written: a dictionary message
// (owner: the material id, dictionary "TextureExport", key: the path, value "ok" or
// "failed: <reason>"). The picture goes to the scene store for the material; the view draws the
// material's meshes with it.
//
// Every material message with a texture asks again (the plug-in does not send the texture's size,
// so a new picture behind the same path shows only thus); the picture held stays in use until the
// answer. A material without texture drops its picture. A texture that the host cannot export, or
// whose file cannot be read, leaves the material untextured, with one log line saying why.
//
// Log lines: "sent expTx <material> <path>", "texture <material> loaded <path> <w>x<h>",
// "texture <material> untextured: <reason>".
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <mutex>

#include "tools/render_window/render_log.h"
#include "tools/render_window/scene_store.h"

namespace orvanta::render_window {

class TextureRequests {
public:
    // The dictionary of the host's answers.
    static constexpr char kAnswerDictionary[] = "TextureExport";
    // The answer for a texture written whole at the path asked for.
    static constexpr char kWritten[] = "ok";

    // Sends "expTx" with the material id and the target path, UTF-8.
    using Send = std::function<void(const QByteArray& materialId, const QByteArray& path)>;

    // Files go to "<sessionFolder>/texture_<processId>_<n>.png", n counting the requests from 1.
    // `store` and `log` must outlive this object.
    TextureRequests(const QString& sessionFolder, SceneStore& store, RenderLog& log, Send send);

    // Reader thread: the material as it arrived. A texture (flag bit 0 and a path) is asked for;
    // otherwise the material's picture and any request waiting for it are dropped.
    void materialArrived(const QString& materialId, const SceneMaterial& material);
    // Reader thread: whether the dictionary message is the host's answer to a texture request
    // (its dictionary is kAnswerDictionary); the answer to the latest request of its material
    // loads or drops the picture; an older answer changes nothing.
    bool answerArrived(const DictionaryRecord& message);
    // Reader thread: the session was cleared; no answer is awaited any more.
    void clear();

    // Any thread: how many requests wait for their answer.
    int awaited() const;

private:
    // Reader thread: loads the file, stores the picture and removes the file; or drops the
    // picture, logging why.
    void load(const QString& materialId, const QString& path);
    void untextured(const QString& materialId, const QString& reason);

    QString m_folder;
    SceneStore& m_store;
    RenderLog& m_log;
    Send m_send;
    int m_requests = 0;  // reader thread only
    mutable std::mutex m_mutex;
    std::map<QString, QString> m_awaited;  // material id -> path of its latest request
};

}  // namespace orvanta::render_window
