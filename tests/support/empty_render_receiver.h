// A render-window receiver that ignores every message: the base for a test or benchmark render
// window that handles only the messages it is about.
#pragma once

#include "XelRemoteRenderReceiver.h"

namespace xel::test {

// Every handler does nothing; onGetState() leaves the state as the receiver starts it. A derived
// class overrides the handlers it needs, on the threads the receiver calls them on.
class EmptyRenderReceiver : public XelRemoteRenderReceiver {
public:
    using XelRemoteRenderReceiver::XelRemoteRenderReceiver;

protected:
    void onGenerateMaterialMaps(const char*, int, int, int, int, float, int, int) override;
    void onSetCamera(float, float, float, float, float, float, float, float, float, bool, bool,
                     float, float, float, float, const char*) override;
    void onSetSunLight(int, float, float, float, float, int, float, float, float) override;
    void onRemoveEntity(const char*, const char*, bool, bool) override;
    void onRemoveEntityMeshes(const char*) override;
    void onClearSession() override;
    void onAddMesh(const char*, const char*, const char*, const float*, const float*, const float*,
                   const float*, const bool*, const int*, int, int, const char*,
                   const char*) override;
    void onAddGroup(const char*, const char*, const char*, const char*, const float*,
                    const char*) override;
    void onAddInstance(const char*, const char*, const char*, const char*, const char*,
                       const float*, const char*) override;
    void onAddComponentDef(const char*, const char*, bool, const char*) override;
    void onAddMaterial(const char*, const char*, const char*, int, float, const char*) override;
    void onAddLayer(const char*, bool, bool, bool) override;
    void onDictionaryMessage(const char*, const char*, const char*, const char*) override;
    void onExitRequested() override;
    void onGetState(bool&, bool&, bool&, bool&, bool&, bool&, bool&, bool&, long long&) override;
    void onSetState(bool, bool, bool, bool, bool, bool, bool, bool, long long) override;
    void onSaveRequested() override;
    void onSetEntityVisible(const char*, const char*, bool) override;
    void onSetSectionPlane(int, float, float, float, float, float, float, bool, bool, int) override;
    void onSetLanguage(const char*) override;
    void onRedraw() override;
    void onExportScene(const char*) override;
};

}  // namespace xel::test
