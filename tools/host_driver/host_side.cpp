#include "tools/host_driver/host_side.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include "tools/host_driver/console.h"
#include "tools/host_driver/texture_export.h"

namespace orvanta::tools {
namespace {

constexpr char kExecuteAction[] = "ExecuteAction";

QByteArray text(const char* utf8) {
    return QByteArray(utf8 ? utf8 : "");
}

// A value as the console shows it: a long one (a Base64 picture) by its start and its size.
QByteArray shown(const QByteArray& value) {
    constexpr int kShownBytes = 64;
    if (value.size() <= kShownBytes)
        return value;
    return value.left(kShownBytes) + "... (" + QByteArray::number(value.size()) + " bytes)";
}

}  // namespace

HostSide* HostSide::s_current = nullptr;
Qt::HANDLE HostSide::s_hostThread = nullptr;

HostSide::HostSide(const PluginLibrary& plugin, HostModel& model, ModelExporter& exporter)
    : m_plugin(plugin), m_model(model), m_exporter(exporter) {
    s_current = this;
    QObject::connect(&m_poll, &QTimer::timeout, [this] { m_plugin.checkMessages(); });
}

HostSide::~HostSide() {
    m_poll.stop();
    s_current = nullptr;
}

void HostSide::initialize(const QByteArray& pluginFolder) {
    s_hostThread = QThread::currentThreadId();
    say("host: obrInitialize(\"%s\", 0, 0, five host callbacks)", pluginFolder.constData());
    m_plugin.initialize(pluginFolder.constData(), 0, 0, &HostSide::setEntityAttribute,
                        &HostSide::enumEntityContent, &HostSide::enumEntityAttributes,
                        &HostSide::exportTexture, &HostSide::destroyPointer);
    m_poll.start(kPollIntervalMs);
}

bool HostSide::runUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    bool met = false;
    // Connected after the poll itself, so it looks right after each poll.
    const QMetaObject::Connection check = QObject::connect(&m_poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            met = true;
            loop.quit();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
    QObject::disconnect(check);
    return met;
}

const char* HostSide::threadCheck() {
    return QThread::currentThreadId() == s_hostThread ? "on the host thread"
                                                      : "OFF THE HOST THREAD";
}

void HostSide::setEntityAttribute(const char* owner, const char* dictionary, const char* key,
                                  const char* value) {
    say("host callback: set entity attribute %s/%s/%s = %s (%s)", text(owner).constData(),
        text(dictionary).constData(), text(key).constData(), shown(text(value)).constData(),
        threadCheck());
    if (!s_current)
        return;
    if (text(owner) == kExecuteAction)
        s_current->runAction(text(dictionary), text(key));
    else
        s_current->storeAttribute({text(owner), text(dictionary), text(key), text(value)});
}

void HostSide::storeAttribute(const HostAttribute& attribute) {
    ++m_attributesSet;
    m_model.setAttribute(attribute);
    m_exporter.exportAttribute(attribute);
}

void HostSide::runAction(const QByteArray& action, const QByteArray& subject) {
    // The plug-in wraps the meshes it wants again in these two: the host holds the render
    // window's scene around them with an enumeration bracket.
    if (action == "SuspendScene") {
        m_plugin.enumerationProcessStarted();
    } else if (action == "EnumEntityMeshes") {
        m_meshRefreshes.push_back(subject);
        if (!m_exporter.exportEntityMeshes(subject))
            say("host: %s owns no meshes in the model", subject.constData());
    } else if (action == "ResumeScene") {
        m_plugin.enumerationProcessCompleted();
        ++m_scenesResumed;
    }
}

void HostSide::enumEntityContent(const char* entityId) {
    const QByteArray id = text(entityId);
    say("host enumerates %s (%s)", id.constData(), threadCheck());
    if (!s_current)
        return;
    QElapsedTimer clock;
    clock.start();
    if (!s_current->m_exporter.exportEntity(id)) {
        say("host: the model holds no entity %s", id.constData());
    } else if (id == kModelId) {
        ++s_current->m_modelExports;
        say("host: exported the model, its view and its attributes in %lld ms",
            static_cast<long long>(clock.elapsed()));
    }
}

void HostSide::enumEntityAttributes(const char* owner, const char* dictionary) {
    say("host callback: enumerate entity attributes %s/%s (%s)", text(owner).constData(),
        text(dictionary).constData(), threadCheck());
    if (!s_current)
        return;
    ++s_current->m_attributeEnumerations;
    if (!s_current->m_exporter.exportAttributes(text(owner), text(dictionary)))
        say("host: the model holds no attributes %s/%s", text(owner).constData(),
            text(dictionary).constData());
}

void HostSide::exportTexture(const char* first, const char* second) {
    say("host callback: export texture %s %s (%s)", text(first).constData(),
        text(second).constData(), threadCheck());
    if (s_current)
        s_current->answerTexture(text(first), text(second));
}

void HostSide::answerTexture(const QByteArray& materialId, const QByteArray& target) {
    ++m_textureExports;
    const HostMaterial* material = m_model.material(materialId);
    const QString failure =
        material
            ? writeTexture(*material, QString::fromUtf8(target),
                           QString::fromUtf8(m_plugin.getTexturesPath()))
            : QStringLiteral("the model holds no material %1").arg(QString::fromUtf8(materialId));
    if (failure.isEmpty()) {
        ++m_texturesWritten;
        say("host: texture of material %s written to %s", materialId.constData(),
            target.constData());
    } else {
        say("host: texture of material %s not exported: %s", materialId.constData(),
            qUtf8Printable(failure));
    }
    m_exporter.exportAttribute(
        {materialId, kTextureAnswerDictionary, target, textureAnswer(failure)});
}

void HostSide::destroyPointer(std::int64_t pointer) {
    say("host callback: destroy pointer %lld", static_cast<long long>(pointer));
}

}  // namespace orvanta::tools
