// Where the scene exporters send what they build: the render link sender in the plug-in, a
// recording in tests.
#pragma once

#include <optional>

class XelRemoteRenderSender;

namespace orvanta {

// The sender operations the exporters use, with the sender's signatures and meaning. Arrays and
// texts are read during the call only. Called on the host thread.
class RenderOutput {
public:
    virtual ~RenderOutput() = default;

    virtual bool isLoadingModel() const = 0;
    virtual void addMesh(const char* meshId, const char* entityId, const char* meshLabel,
                         const float* positions, const float* normals, const float* frontUVs,
                         const float* backUVs, const bool* vertexFlags, const int* indices,
                         int indexCount, int vertexCount, const char* frontMaterial,
                         const char* backMaterial) = 0;
    virtual void addMaterial(const char* materialId, const char* materialName,
                             const char* detailText, int intValue, float floatValue,
                             const char* extraText) = 0;
    // Each vector is three floats.
    virtual void setSectionPlane(int planeNumber, bool active, const float* firstVector,
                                 const float* secondVector, bool capsOn, int capsValue) = 0;
    virtual void removeSectionPlane(int planeNumber) = 0;
    virtual void setSceneLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7,
                               float p8, float p9) = 0;
    virtual void sendDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                                       const char* value) = 0;
    // `transform` is 16 floats.
    virtual void addGroup(const char* groupId, const char* parentId, const char* recordLabel,
                          const char* passText, const float* transform, const char* recordNote) = 0;
    virtual void addInstance(const char* instanceId, const char* parentId, const char* definitionId,
                             const char* recordLabel, const char* passText, const float* transform,
                             const char* recordNote) = 0;
    virtual void addComponentDef(const char* definitionId, const char* defText, bool defFlag,
                                 const char* defNote) = 0;
    virtual void addLayer(const char* layerId, bool layerFlag, int layerValue,
                          bool defaultLayer) = 0;
    virtual void removeEntity(const char* entityId, const char* parentId, bool contentTable,
                              bool forUpdate) = 0;
    virtual void removeEntityMeshes(const char* entityId) = 0;
    virtual void clearSession() = 0;
    virtual void setEntityVisible(const char* entityId, bool visible, const char* recordLabel) = 0;
    virtual bool isProxyEntity(const char* entityId) const = 0;
    virtual void beginTransaction(const char* name) = 0;
    virtual void endTransaction(bool abort) = 0;
    virtual bool transactionInProgress() const = 0;
    virtual void setLoadingModel(bool loading) = 0;
    virtual void setCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7,
                           float v8, float v9, bool flag1, bool flag2, float v10, float v11,
                           float v12, float v13, const char* sceneName) = 0;
    virtual void invalidateRender() = 0;
    virtual void echo(const char* text) = 0;
};

// The output over one sender, which must outlive it.
class SenderOutput final : public RenderOutput {
public:
    explicit SenderOutput(XelRemoteRenderSender& sender) : m_sender(sender) {}

    bool isLoadingModel() const override;
    void addMesh(const char* meshId, const char* entityId, const char* meshLabel,
                 const float* positions, const float* normals, const float* frontUVs,
                 const float* backUVs, const bool* vertexFlags, const int* indices, int indexCount,
                 int vertexCount, const char* frontMaterial, const char* backMaterial) override;
    void addMaterial(const char* materialId, const char* materialName, const char* detailText,
                     int intValue, float floatValue, const char* extraText) override;
    void setSectionPlane(int planeNumber, bool active, const float* firstVector,
                         const float* secondVector, bool capsOn, int capsValue) override;
    void removeSectionPlane(int planeNumber) override;
    void setSceneLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7, float p8,
                       float p9) override;
    void sendDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                               const char* value) override;
    void addGroup(const char* groupId, const char* parentId, const char* recordLabel,
                  const char* passText, const float* transform, const char* recordNote) override;
    void addInstance(const char* instanceId, const char* parentId, const char* definitionId,
                     const char* recordLabel, const char* passText, const float* transform,
                     const char* recordNote) override;
    void addComponentDef(const char* definitionId, const char* defText, bool defFlag,
                         const char* defNote) override;
    void addLayer(const char* layerId, bool layerFlag, int layerValue, bool defaultLayer) override;
    void removeEntity(const char* entityId, const char* parentId, bool contentTable,
                      bool forUpdate) override;
    void removeEntityMeshes(const char* entityId) override;
    void clearSession() override;
    void setEntityVisible(const char* entityId, bool visible, const char* recordLabel) override;
    bool isProxyEntity(const char* entityId) const override;
    void beginTransaction(const char* name) override;
    void endTransaction(bool abort) override;
    bool transactionInProgress() const override;
    void setLoadingModel(bool loading) override;
    void setCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7, float v8,
                   float v9, bool flag1, bool flag2, float v10, float v11, float v12, float v13,
                   const char* sceneName) override;
    void invalidateRender() override;
    void echo(const char* text) override;

private:
    XelRemoteRenderSender& m_sender;
};

// The output over the plug-in's sender, as it stands when constructed; get() is null before
// start-up. The sender is never deleted, so the output stays usable for the object's life. Host
// thread, one export call long.
class PluginOutput {
public:
    PluginOutput();
    RenderOutput* get() { return m_output ? &*m_output : nullptr; }

private:
    std::optional<SenderOutput> m_output;
};

}  // namespace orvanta
