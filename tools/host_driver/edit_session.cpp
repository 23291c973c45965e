#include "tools/host_driver/edit_session.h"

#include <QStringList>

#include <cstdint>
#include <set>
#include <utility>

#include "tools/host_driver/console.h"
#include "tools/host_driver/model_attributes.h"

namespace orvanta::tools {
namespace {

// The entities the edits work on, in builtInModel().
constexpr char kCentrepiece[] = "202";
constexpr char kTableSet[] = "201";
constexpr char kMovedChair[] = "303";
constexpr char kOak[] = "m1";
constexpr int kTextureAnswerMs = 30000;  // the render window's request for a changed texture

QString joined(const std::set<QByteArray>& ids) {
    QStringList texts;
    for (const QByteArray& id : ids)
        texts << QString::fromUtf8(id);
    return texts.join(QLatin1Char(','));
}

}  // namespace

EditSession::EditSession(const PluginLibrary& plugin, HostModel& model, ModelExporter& exporter,
                         HostSide& host, CheckStep check)
    : m_plugin(plugin),
      m_model(model),
      m_exporter(exporter),
      m_host(host),
      m_check(std::move(check)) {}

bool EditSession::run() {
    return hideEntity() && showHiddenEntities() && moveInstance() && retexture() && eraseGroup() &&
           newModel();
}

bool EditSession::hideEntity() {
    say("edit: hide group %s", kCentrepiece);
    m_model.hidden.insert(kCentrepiece);
    m_plugin.onEnumHiddenEntity(kCentrepiece);
    return m_check("hide", 1);
}

bool EditSession::showHiddenEntities() {
    say("edit: show the hidden entities again");
    m_model.hidden.clear();
    // The plug-in has the host enumerate each hidden entity again (the content callback), then
    // shows it.
    m_plugin.resetHiddenEntities();
    return m_check("show", 1);
}

bool EditSession::moveInstance() {
    HostInstance* chair = m_model.instance(kMovedChair);
    if (!chair) {
        say("host: FAILED: the model has no instance %s to move", kMovedChair);
        return false;
    }
    say("edit: move instance %s", kMovedChair);
    chair->transform = placedTransform(300.0f, -1.4f, 0.35f, 0.0f);
    std::uint8_t flags[2] = {0, 0};
    std::uint8_t flag = 0;
    m_plugin.enumerationProcessStarted();
    // The plug-in takes the instance out of the render window for the update that follows.
    m_plugin.entityMessage(1, chair->id.constData(), "ComponentInstance",
                           chair->parentId.constData(), flags, &flag);
    m_exporter.exportInstance(*chair);
    m_plugin.enumerationProcessCompleted();
    return m_check("move", 1);
}

bool EditSession::retexture() {
    HostMaterial* oak = m_model.material(kOak);
    if (!oak) {
        say("host: FAILED: the model has no material %s", kOak);
        return false;
    }
    say("edit: material %s gets a texture of %gx%g pixels", kOak, 2.0 * oak->textureWidth,
        2.0 * oak->textureHeight);
    oak->textureWidth *= 2.0f;
    oak->textureHeight *= 2.0f;
    const std::set<QByteArray> expected = m_model.ownersUsing(kOak);
    const std::size_t refreshesBefore = m_host.meshRefreshes().size();
    const int resumesBefore = m_host.scenesResumed();
    const int textureExportsBefore = m_host.textureExports();
    m_exporter.exportMaterial(*oak);
    m_plugin.enumerationProcessStarted();
    m_plugin.enumerationProcessCompleted();
    if (!m_check("retexture", 1))
        return false;
    // The completion had the plug-in post "SuspendScene", one "EnumEntityMeshes" per owner of a
    // mesh that uses the material, and "ResumeScene": the host's next poll runs them, and the
    // meshes sent again arrive in the bracket they open and close.
    if (!m_check("retexture-refresh", 1))
        return false;
    const std::vector<QByteArray>& refreshes = m_host.meshRefreshes();
    const std::set<QByteArray> asked(refreshes.begin() + static_cast<long>(refreshesBefore),
                                     refreshes.end());
    const std::size_t askedCount = refreshes.size() - refreshesBefore;
    if (asked != expected || askedCount != expected.size() ||
        m_host.scenesResumed() != resumesBefore + 1) {
        say("host: FAILED: meshes asked for again: %s (%zu requests, %d resumes); expected %s",
            qUtf8Printable(joined(asked)), askedCount, m_host.scenesResumed() - resumesBefore,
            qUtf8Printable(joined(expected)));
        return false;
    }
    say("host: the plug-in asked again for the meshes of %s", qUtf8Printable(joined(asked)));
    // The render window asks for the changed texture as the material arrives; it is answered
    // before the next edit, so that the view shows it before the model changes again.
    if (m_host.runUntil([&] { return m_host.textureExports() > textureExportsBefore; },
                        kTextureAnswerMs))
        say("host: the changed texture went to the render window");
    else
        say("host: the render window did not ask for the changed texture within %d s",
            kTextureAnswerMs / 1000);
    return true;
}

bool EditSession::eraseGroup() {
    const HostGroup* tableSet = m_model.group(kTableSet);
    if (!tableSet) {
        say("host: FAILED: the model has no group %s to erase", kTableSet);
        return false;
    }
    say("edit: erase group %s with everything in it", kTableSet);
    const QByteArray parent = tableSet->parentId;
    m_model.eraseGroup(kTableSet);
    std::uint8_t flags[2] = {0, 0};
    std::uint8_t flag = 0;
    m_plugin.enumerationProcessStarted();
    // A group's content record keeps no parent: the parent must be named for the removal to go
    // out.
    m_plugin.entityMessage(0, kTableSet, "Group", parent.constData(), flags, &flag);
    m_plugin.enumerationProcessCompleted();
    return m_check("erase", 1);
}

bool EditSession::newModel() {
    m_model = smallBuiltInModel();
    describeModel(m_model, "m", kBuiltInLocation);
    say("edit: new model \"%s\"", m_model.title.constData());
    std::uint8_t flags[2] = {0, 0};
    std::uint8_t flag = 0;
    m_plugin.modelMessage(0, m_model.title.constData(), flags, &flag);
    // As after the first export: the walk, then the new model's view and attributes.
    m_exporter.exportModelWithView();
    return m_check("new-model", 1);
}

}  // namespace orvanta::tools
