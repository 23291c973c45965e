// The host's side of a session: the callbacks the host hands to obrInitialize, answering the
// render window's requests with the model exporter (storing the attributes it sets in the model,
// and writing the textures it asks for, texture_export.h), and the host's poll of
// obrCheckMessages.
#pragma once

#include <QByteArray>
#include <QThread>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/host_driver/model_exporter.h"
#include "tools/host_driver/plugin_library.h"

namespace orvanta::tools {

// One per process (the plug-in's callbacks are plain functions, which reach it through a global);
// made, used and destroyed on the host thread, the thread that calls initialize().
class HostSide {
public:
    // How often the host polls for the render window's requests.
    static constexpr int kPollIntervalMs = 20;

    // `plugin` must be loaded; all must outlive this object, and `exporter` must export `model`.
    HostSide(const PluginLibrary& plugin, HostModel& model, ModelExporter& exporter);
    // Stops the poll; the plug-in keeps the callbacks, which do nothing from then on.
    ~HostSide();
    HostSide(const HostSide&) = delete;
    HostSide& operator=(const HostSide&) = delete;

    // Calls obrInitialize with the plug-in folder, no window handles and the five callbacks, which
    // makes the calling thread the host thread, then polls obrCheckMessages every kPollIntervalMs
    // whenever this thread's event loop runs.
    void initialize(const QByteArray& pluginFolder);

    // Runs this thread's event loop, and with it the poll, until `done` holds after a poll or
    // `timeoutMs` has passed; returns whether `done` held. `done` is also asked first.
    bool runUntil(const std::function<bool()>& done, int timeoutMs);

    // What the callbacks have done so far.
    int modelExports() const { return m_modelExports; }
    // The subjects of the "EnumEntityMeshes" actions, in the order they came.
    const std::vector<QByteArray>& meshRefreshes() const { return m_meshRefreshes; }
    // How many "ResumeScene" actions came.
    int scenesResumed() const { return m_scenesResumed; }
    // How many attribute enumerations and attribute settings (other than actions) came.
    int attributeEnumerations() const { return m_attributeEnumerations; }
    int attributesSet() const { return m_attributesSet; }
    // How many texture exports came, and how many of them wrote their file.
    int textureExports() const { return m_textureExports; }
    int texturesWritten() const { return m_texturesWritten; }

private:
    // The callbacks. The plug-in calls them on the host thread: inside obrCheckMessages, or
    // inside an export that asks the host for content at once.
    static void setEntityAttribute(const char* owner, const char* dictionary, const char* key,
                                   const char* value);
    static void enumEntityContent(const char* entityId);
    static void enumEntityAttributes(const char* owner, const char* dictionary);
    static void exportTexture(const char* first, const char* second);
    static void destroyPointer(std::int64_t pointer);
    // "on the host thread", or a warning when a callback comes on another thread.
    static const char* threadCheck();

    void runAction(const QByteArray& action, const QByteArray& subject);
    // Stores the attribute in the model and reports it back, as the host does with a value the
    // render window sets.
    void storeAttribute(const HostAttribute& attribute);
    // Writes the texture of material `materialId` to `target` (texture_export.h) and answers the
    // render window: the attribute (material id, "TextureExport", target, "ok" or
    // "failed: <reason>"), reported as the host reports its attributes.
    void answerTexture(const QByteArray& materialId, const QByteArray& target);

    static HostSide* s_current;
    static Qt::HANDLE s_hostThread;

    const PluginLibrary& m_plugin;
    HostModel& m_model;
    ModelExporter& m_exporter;
    QTimer m_poll;
    int m_modelExports = 0;
    std::vector<QByteArray> m_meshRefreshes;
    int m_scenesResumed = 0;
    int m_attributeEnumerations = 0;
    int m_attributesSet = 0;
    int m_textureExports = 0;
    int m_texturesWritten = 0;
};

}  // namespace orvanta::tools
