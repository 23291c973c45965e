#include "tests/support/empty_render_receiver.h"

namespace xel::test {

void EmptyRenderReceiver::onGenerateMaterialMaps(const char*, int, int, int, int, float, int, int) {
}
void EmptyRenderReceiver::onSetCamera(float, float, float, float, float, float, float, float, float,
                                      bool, bool, float, float, float, float, const char*) {}
void EmptyRenderReceiver::onSetSunLight(int, float, float, float, float, int, float, float, float) {
}
void EmptyRenderReceiver::onRemoveEntity(const char*, const char*, bool, bool) {}
void EmptyRenderReceiver::onRemoveEntityMeshes(const char*) {}
void EmptyRenderReceiver::onClearSession() {}
void EmptyRenderReceiver::onAddMesh(const char*, const char*, const char*, const float*,
                                    const float*, const float*, const float*, const bool*,
                                    const int*, int, int, const char*, const char*) {}
void EmptyRenderReceiver::onAddGroup(const char*, const char*, const char*, const char*,
                                     const float*, const char*) {}
void EmptyRenderReceiver::onAddInstance(const char*, const char*, const char*, const char*,
                                        const char*, const float*, const char*) {}
void EmptyRenderReceiver::onAddComponentDef(const char*, const char*, bool, const char*) {}
void EmptyRenderReceiver::onAddMaterial(const char*, const char*, const char*, int, float,
                                        const char*) {}
void EmptyRenderReceiver::onAddLayer(const char*, bool, bool, bool) {}
void EmptyRenderReceiver::onDictionaryMessage(const char*, const char*, const char*, const char*) {}
void EmptyRenderReceiver::onExitRequested() {}
void EmptyRenderReceiver::onGetState(bool&, bool&, bool&, bool&, bool&, bool&, bool&, bool&,
                                     long long&) {}
void EmptyRenderReceiver::onSetState(bool, bool, bool, bool, bool, bool, bool, bool, long long) {}
void EmptyRenderReceiver::onSaveRequested() {}
void EmptyRenderReceiver::onSetEntityVisible(const char*, const char*, bool) {}
void EmptyRenderReceiver::onSetSectionPlane(int, float, float, float, float, float, float, bool,
                                            bool, int) {}
void EmptyRenderReceiver::onSetLanguage(const char*) {}
void EmptyRenderReceiver::onRedraw() {}
void EmptyRenderReceiver::onExportScene(const char*) {}

}  // namespace xel::test
