#include "tools/host_driver/model_loader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QSet>

#include <assimp/material.h>
#include <assimp/metadata.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "tools/host_driver/model_attributes.h"
#include "tools/host_driver/model_view.h"

namespace orvanta::tools {
namespace {

// Meshes come out holding one kind of primitive each; those of points or lines are left out of
// the model (the importer keeps them, so that a file of them alone reads as one without
// triangles).
constexpr unsigned kImportSteps = aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                                  aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
                                  aiProcess_ValidateDataStructure;

// Every mesh, group and instance goes on the default layer.
constexpr char kLayerId[] = "0";

constexpr float kPi = 3.14159265358979f;

// Assimp's matrices are row-major: a1..a4 is the first row, (a4, b4, c4) the translation.
Transform fromAssimp(const aiMatrix4x4& m) {
    return {static_cast<float>(m.a1), static_cast<float>(m.b1), static_cast<float>(m.c1),
            static_cast<float>(m.d1), static_cast<float>(m.a2), static_cast<float>(m.b2),
            static_cast<float>(m.c2), static_cast<float>(m.d2), static_cast<float>(m.a3),
            static_cast<float>(m.b3), static_cast<float>(m.c3), static_cast<float>(m.d3),
            static_cast<float>(m.a4), static_cast<float>(m.b4), static_cast<float>(m.c4),
            static_cast<float>(m.d4)};
}

// A metadata value of any numeric kind.
std::optional<double> metadataNumber(const aiMetadata* metadata, const char* key) {
    if (!metadata)
        return std::nullopt;
    for (unsigned i = 0; i < metadata->mNumProperties; ++i) {
        if (std::strcmp(metadata->mKeys[i].C_Str(), key) != 0)
            continue;
        const aiMetadataEntry& entry = metadata->mValues[i];
        if (!entry.mData)
            return std::nullopt;
        switch (entry.mType) {
            case AI_BOOL:
                return *static_cast<const bool*>(entry.mData) ? 1.0 : 0.0;
            case AI_INT32:
                return *static_cast<const std::int32_t*>(entry.mData);
            case AI_UINT64:
                return static_cast<double>(*static_cast<const std::uint64_t*>(entry.mData));
            case AI_FLOAT:
                return *static_cast<const float*>(entry.mData);
            case AI_DOUBLE:
                return *static_cast<const double*>(entry.mData);
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

// The transform that turns the file's up direction into +Z. The importer's "UpAxis" (0 X, 1 Y,
// 2 Z) and "UpAxisSign" decide when it gives them; otherwise the format's convention: the
// printing formats and Blender files are Z up as Assimp leaves them; glTF (by definition), OBJ,
// PLY, FBX without axis data and most others are Y up, and so are Collada, 3DS, DXF and IFC, which
// Assimp turns Y up itself.
Transform upAxisTransform(const aiScene& scene, const QString& suffix) {
    int axis = 1;
    int sign = 1;
    if (const std::optional<double> up = metadataNumber(scene.mMetaData, "UpAxis")) {
        axis = static_cast<int>(*up);
        const std::optional<double> upSign = metadataNumber(scene.mMetaData, "UpAxisSign");
        sign = upSign && *upSign < 0 ? -1 : 1;
    } else if (suffix == QLatin1String("stl") || suffix == QLatin1String("3mf") ||
               suffix == QLatin1String("amf") || suffix == QLatin1String("blend")) {
        axis = 2;
    }
    const float s = static_cast<float>(sign);
    switch (axis) {
        case 0:  // +X up: -90 degrees about Y (-X: +90)
            return {0, 0, s, 0, 0, 1, 0, 0, -s, 0, 0, 0, 0, 0, 0, 1};
        case 2:  // +Z up: nothing (-Z: 180 degrees about X)
            return {1, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, 0, 0, 0, 1};
        default:  // +Y up: +90 degrees about X (-Y: -90)
            return {1, 0, 0, 0, 0, 0, s, 0, 0, -s, 0, 0, 0, 0, 0, 1};
    }
}

// The display unit: FBX says its unit in "UnitScaleFactor" (centimetres per unit), taken as the
// nearest of the units the agreement knows; glTF is in metres by definition, and Assimp scales
// Collada and IFC to metres; 3MF and AMF default to millimetres; other formats say nothing, and
// the host's default, inches, stands.
QByteArray lengthUnit(const aiScene& scene, const QString& suffix) {
    if (const std::optional<double> scale = metadataNumber(scene.mMetaData, "UnitScaleFactor");
        scale && *scale > 0.0) {
        const struct {
            const char* name;
            double centimetres;
        } units[] = {{"mm", 0.1}, {"cm", 1.0}, {"in", 2.54}, {"ft", 30.48}, {"m", 100.0}};
        const char* nearest = units[0].name;
        double best = std::fabs(std::log(*scale / units[0].centimetres));
        for (const auto& unit : units) {
            const double distance = std::fabs(std::log(*scale / unit.centimetres));
            if (distance < best) {
                nearest = unit.name;
                best = distance;
            }
        }
        return nearest;
    }
    for (const char* metric : {"gltf", "glb", "dae", "zae", "ifc", "ifczip"}) {
        if (suffix == QLatin1String(metric))
            return "m";
    }
    if (suffix == QLatin1String("3mf") || suffix == QLatin1String("amf"))
        return "mm";
    return "in";
}

std::uint8_t colourByte(float value) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

// The texture's size: an embedded one by its pixel size, or its header when it is stored
// compressed; a file by its header. 0 x 0 when unknown.
QSize textureSize(const aiTexture* embedded, const QString& file) {
    if (embedded) {
        if (embedded->mHeight > 0)
            return QSize(static_cast<int>(embedded->mWidth), static_cast<int>(embedded->mHeight));
        // Compressed: mWidth is the byte count.
        QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(embedded->pcData),
                                                   static_cast<int>(embedded->mWidth));
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const QSize size = QImageReader(&buffer).size();
        return size.isValid() ? size : QSize(0, 0);
    }
    if (!QFileInfo::exists(file))
        return QSize(0, 0);
    const QSize size = QImageReader(file).size();
    return size.isValid() ? size : QSize(0, 0);
}

// An embedded texture as the bytes of an image file: a compressed one as it is stored, an
// uncompressed one (BGRA texels) encoded as PNG. Empty when there is nothing to read.
QByteArray embeddedPicture(const aiTexture& embedded) {
    if (embedded.pcData == nullptr || embedded.mWidth == 0)
        return QByteArray();
    if (embedded.mHeight == 0)
        return QByteArray(reinterpret_cast<const char*>(embedded.pcData),
                          static_cast<int>(embedded.mWidth));
    const int width = static_cast<int>(embedded.mWidth);
    const int height = static_cast<int>(embedded.mHeight);
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull())
        return QByteArray();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const aiTexel& t = embedded.pcData[static_cast<std::size_t>(y) * width + x];
            image.setPixel(x, y, qRgba(t.r, t.g, t.b, t.a));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? bytes : QByteArray();
}

HostMaterial convertMaterial(const aiScene& scene, unsigned index, const QDir& folder) {
    const aiMaterial& source = *scene.mMaterials[index];
    HostMaterial material;
    material.id = QByteArray::number(index);
    aiString name;
    if (source.Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length > 0)
        material.name = QByteArray(name.C_Str());
    else
        material.name = "Material " + material.id;

    aiColor4D colour(0.8f, 0.8f, 0.8f, 1.0f);
    if (source.Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS)
        source.Get(AI_MATKEY_COLOR_DIFFUSE, colour);
    float opacity = colour.a;
    source.Get(AI_MATKEY_OPACITY, opacity);
    material.colour = {colourByte(colour.r), colourByte(colour.g), colourByte(colour.b),
                       colourByte(opacity)};

    for (const aiTextureType type : {aiTextureType_BASE_COLOR, aiTextureType_DIFFUSE}) {
        aiString path;
        if (source.GetTextureCount(type) == 0 || source.GetTexture(type, 0, &path) != AI_SUCCESS ||
            path.length == 0)
            continue;
        const aiTexture* embedded = scene.GetEmbeddedTexture(path.C_Str());
        QString file;
        if (embedded) {
            // No file: the reference as the model names it ("*0", or the embedded file's name).
            material.texturePath = QByteArray(path.C_Str());
            material.embeddedTexture = embeddedPicture(*embedded);
        } else {
            QString relative = QString::fromUtf8(path.C_Str());
            relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
            file = QDir::cleanPath(folder.absoluteFilePath(relative));
            material.texturePath = file.toUtf8();
        }
        const QSize size = textureSize(embedded, file);
        material.textureWidth = static_cast<float>(size.width());
        material.textureHeight = static_cast<float>(size.height());
        break;
    }
    return material;
}

// One triangle mesh: positions and normals as the file (or the normal generation) gives them, UV
// set 0 on both faces, every vertex smooth when it has a normal.
HostMesh convertMesh(const aiMesh& source, const QByteArray& materialId) {
    const std::size_t vertices = source.mNumVertices;
    HostMesh mesh;
    mesh.positions.resize(3 * vertices);
    mesh.normals.assign(3 * vertices, 0.0f);
    mesh.frontUVs.assign(2 * vertices, 0.0f);
    mesh.flags.assign(vertices, source.mNormals ? 1 : 0);
    const aiVector3D* uvs = source.HasTextureCoords(0) ? source.mTextureCoords[0] : nullptr;
    for (std::size_t v = 0; v < vertices; ++v) {
        const aiVector3D& p = source.mVertices[v];
        mesh.positions[3 * v] = static_cast<float>(p.x);
        mesh.positions[3 * v + 1] = static_cast<float>(p.y);
        mesh.positions[3 * v + 2] = static_cast<float>(p.z);
        if (source.mNormals) {
            const aiVector3D& n = source.mNormals[v];
            mesh.normals[3 * v] = static_cast<float>(n.x);
            mesh.normals[3 * v + 1] = static_cast<float>(n.y);
            mesh.normals[3 * v + 2] = static_cast<float>(n.z);
        }
        if (uvs) {
            mesh.frontUVs[2 * v] = static_cast<float>(uvs[v].x);
            mesh.frontUVs[2 * v + 1] = static_cast<float>(uvs[v].y);
        }
    }
    mesh.backUVs = mesh.frontUVs;
    mesh.indices.reserve(3 * static_cast<std::size_t>(source.mNumFaces));
    for (unsigned f = 0; f < source.mNumFaces; ++f) {
        const aiFace& face = source.mFaces[f];
        if (face.mNumIndices != 3)
            continue;
        for (unsigned k = 0; k < 3; ++k)
            mesh.indices.push_back(static_cast<std::int32_t>(face.mIndices[k]));
    }
    mesh.frontMaterialId = materialId;
    mesh.backMaterialId = materialId;
    mesh.layerId = kLayerId;
    return mesh;
}

// A mesh list as a hash key.
QByteArray meshListKey(const std::vector<unsigned>& meshes) {
    return QByteArray(reinterpret_cast<const char*>(meshes.data()),
                      static_cast<int>(meshes.size() * sizeof(unsigned)));
}

bool isIdentity(const Transform& transform) {
    return transform == identityTransform();
}

// Builds the model's tree from the scene's nodes.
class TreeBuilder {
public:
    TreeBuilder(const aiScene& scene, HostModel& model) : m_scene(scene), m_model(model) {}

    void build(const Transform& axis) {
        countNodes();
        QByteArray top = kModelId;
        if (!isIdentity(axis)) {
            // One group turns the whole model upright; the tree goes under it.
            HostGroup upright;
            upright.id = nextId();
            upright.parentId = kModelId;
            upright.name = m_model.title;
            upright.layerId = kLayerId;
            upright.transform = axis;
            top = upright.id;
            m_model.groups.push_back(std::move(upright));
        }
        const aiNode& root = *m_scene.mRootNode;
        if (meshListOf(root).empty() && isIdentity(fromAssimp(root.mTransformation))) {
            // An empty root adds nothing: its children go straight under the top.
            for (unsigned c = 0; c < root.mNumChildren; ++c)
                placeSubtree(*root.mChildren[c], top, identityTransform());
        } else {
            placeSubtree(root, top, identityTransform());
        }
    }

private:
    struct Pending {
        const aiNode* node;
        QByteArray parentId;
        Transform folded;  // transforms of dissolved empty ancestors, to apply before the node's
    };

    QByteArray nextId() { return QByteArray::number(m_nextId++); }

    // Each node's triangle meshes, which mesh lists more than one node uses, and which nodes have
    // triangles in their subtree.
    void countNodes() {
        std::vector<bool> triangles(m_scene.mNumMeshes);
        for (unsigned i = 0; i < m_scene.mNumMeshes; ++i) {
            const aiMesh& mesh = *m_scene.mMeshes[i];
            // Sorted by primitive type: a mesh holds triangles only, or none.
            triangles[i] = (mesh.mPrimitiveTypes & aiPrimitiveType_TRIANGLE) && mesh.mNumFaces > 0;
        }
        std::vector<const aiNode*> order;  // parents before children
        std::vector<const aiNode*> stack{m_scene.mRootNode};
        while (!stack.empty()) {
            const aiNode* node = stack.back();
            stack.pop_back();
            order.push_back(node);
            std::vector<unsigned> meshes;
            for (unsigned i = 0; i < node->mNumMeshes; ++i) {
                if (triangles[node->mMeshes[i]])
                    meshes.push_back(node->mMeshes[i]);
            }
            if (!meshes.empty()) {
                ++m_listUses[meshListKey(meshes)];
                m_meshLists.insert(node, std::move(meshes));
            }
            for (unsigned c = 0; c < node->mNumChildren; ++c)
                stack.push_back(node->mChildren[c]);
        }
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            const aiNode* node = *it;
            if (m_meshLists.contains(node) || m_withGeometry.contains(node)) {
                m_withGeometry.insert(node);
                if (node->mParent)
                    m_withGeometry.insert(node->mParent);
            }
        }
    }

    std::vector<const aiNode*> keptChildren(const aiNode& node) const {
        std::vector<const aiNode*> kept;
        for (unsigned c = 0; c < node.mNumChildren; ++c) {
            if (m_withGeometry.contains(node.mChildren[c]))
                kept.push_back(node.mChildren[c]);
        }
        return kept;
    }

    // The node's triangle meshes, by their index in the scene; empty for a node without.
    const std::vector<unsigned>& meshListOf(const aiNode& node) const {
        static const std::vector<unsigned> kNone;
        const auto found = m_meshLists.constFind(&node);
        return found == m_meshLists.constEnd() ? kNone : *found;
    }

    std::vector<HostMesh> meshesOf(const aiNode& node) const {
        const std::vector<unsigned>& list = meshListOf(node);
        std::vector<HostMesh> meshes;
        meshes.reserve(list.size());
        for (const unsigned index : list) {
            const aiMesh& mesh = *m_scene.mMeshes[index];
            meshes.push_back(convertMesh(mesh, QByteArray::number(mesh.mMaterialIndex)));
        }
        return meshes;
    }

    QByteArray definitionOf(const aiNode& node) {
        const QByteArray key = meshListKey(meshListOf(node));
        const auto found = m_definitions.constFind(key);
        if (found != m_definitions.constEnd())
            return *found;
        HostDefinition definition;
        definition.id = nextId();
        definition.name =
            node.mName.length > 0 ? QByteArray(node.mName.C_Str()) : "Component " + definition.id;
        definition.meshes = meshesOf(node);
        m_definitions.insert(key, definition.id);
        m_model.definitions.push_back(std::move(definition));
        return m_model.definitions.back().id;
    }

    // The node and everything under it, depth first, parents before children.
    void placeSubtree(const aiNode& start, const QByteArray& parentId, const Transform& folded) {
        std::vector<Pending> stack{{&start, parentId, folded}};
        while (!stack.empty()) {
            const Pending pending = std::move(stack.back());
            stack.pop_back();
            const aiNode& node = *pending.node;
            if (!m_withGeometry.contains(&node))
                continue;
            const Transform local = multiplied(pending.folded, fromAssimp(node.mTransformation));
            const std::vector<const aiNode*> children = keptChildren(node);
            const std::vector<unsigned>& meshes = meshListOf(node);
            if (meshes.empty() && children.size() == 1) {
                // A link of a chain: its transform goes into its only child.
                stack.push_back({children.front(), pending.parentId, local});
                continue;
            }
            const QByteArray name(node.mName.C_Str());
            QByteArray childParent;
            if (!meshes.empty() && m_listUses.value(meshListKey(meshes)) > 1) {
                const QByteArray definitionId = definitionOf(node);
                if (children.empty()) {
                    m_model.instances.push_back(
                        {nextId(), pending.parentId, definitionId, name, kLayerId, "", local});
                    continue;
                }
                // Instances hold nothing: a group carries the node's place and its children.
                childParent = addGroup(pending.parentId, name, local, {});
                m_model.instances.push_back(
                    {nextId(), childParent, definitionId, name, kLayerId, "", identityTransform()});
            } else {
                childParent = addGroup(pending.parentId, name, local, meshesOf(node));
            }
            // Pushed last first, so that children are placed in the file's order.
            for (auto child = children.rbegin(); child != children.rend(); ++child)
                stack.push_back({*child, childParent, identityTransform()});
        }
    }

    QByteArray addGroup(const QByteArray& parentId, const QByteArray& name,
                        const Transform& transform, std::vector<HostMesh> meshes) {
        HostGroup group;
        group.id = nextId();
        group.parentId = parentId;
        group.name = name;
        group.layerId = kLayerId;
        group.transform = transform;
        group.meshes = std::move(meshes);
        m_model.groups.push_back(std::move(group));
        return m_model.groups.back().id;
    }

    const aiScene& m_scene;
    HostModel& m_model;
    int m_nextId = 1;
    QHash<const aiNode*, std::vector<unsigned>> m_meshLists;  // nodes with triangle meshes
    QHash<QByteArray, int> m_listUses;
    QSet<const aiNode*> m_withGeometry;  // nodes with triangles under them, themselves included
    QHash<QByteArray, QByteArray> m_definitions;  // mesh list -> definition id
};

// The world transform of a node of the scene, in the scene's own axes.
aiMatrix4x4 nodeWorld(const aiNode* node) {
    aiMatrix4x4 world;
    for (; node; node = node->mParent)
        world = node->mTransformation * world;
    return world;
}

Point3 normalised(const Point3& v) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length <= 0.0f)
        return v;
    return {v[0] / length, v[1] / length, v[2] / length};
}

// The model's first camera, placed in world coordinates. Assimp's importers give
// mHorizontalFOV as the full horizontal angle (the glTF importer as the vertical angle times the
// aspect), whatever its header says; the vertical angle follows from the aspect, 4:3 when the file
// gives none. A glTF camera sits at its node's origin: the glTF importer also copies the node's
// translation into mPosition, which would count it twice.
HostCamera ownCamera(const aiScene& scene, const Transform& axis, const QString& suffix,
                     const HostModel& model) {
    const aiCamera& source = *scene.mCameras[0];
    const bool gltf = suffix == QLatin1String("gltf") || suffix == QLatin1String("glb");
    const aiNode* node = scene.mRootNode->FindNode(source.mName);
    // A camera no node places sits at the origin of the scene.
    const Transform placement = node ? multiplied(axis, fromAssimp(nodeWorld(node))) : axis;
    const auto point = [](const aiVector3D& v) {
        return Point3{static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
    };

    HostCamera camera;
    camera.eye = transformedPoint(placement, gltf ? Point3{} : point(source.mPosition));
    const Point3 direction = normalised(transformedDirection(placement, point(source.mLookAt)));
    // The point looked at lies as far along the view as the model's centre is from the eye.
    const Bounds bounds = worldBounds(model);
    float reach = 1.0f;
    if (!bounds.isEmpty()) {
        float squared = 0.0f;
        for (int axisIndex = 0; axisIndex < 3; ++axisIndex) {
            const float d =
                0.5f * (bounds.low[axisIndex] + bounds.high[axisIndex]) - camera.eye[axisIndex];
            squared += d * d;
        }
        reach = std::max(std::sqrt(squared), 1e-3f);
    }
    for (int axisIndex = 0; axisIndex < 3; ++axisIndex)
        camera.target[axisIndex] = camera.eye[axisIndex] + direction[axisIndex] * reach;
    camera.up = transformedDirection(placement, point(source.mUp));
    camera.modelsOwn = true;
    camera.aspect = source.mAspect > 0.0f ? source.mAspect : 0.0f;
    const float aspect = source.mAspect > 0.0f ? source.mAspect : 4.0f / 3.0f;
    if (source.mOrthographicWidth > 0.0f) {
        // Half the width of the view box; the aspect gives its height.
        camera.perspective = false;
        camera.parallelHeight = 2.0f * source.mOrthographicWidth / aspect;
    } else {
        camera.perspective = true;
        const float horizontal = source.mHorizontalFOV;
        const float vertical =
            gltf ? horizontal / aspect : 2.0f * std::atan(std::tan(0.5f * horizontal) / aspect);
        camera.fieldOfViewDegrees = vertical * 180.0f / kPi;
    }
    camera.sceneName =
        source.mName.length > 0 ? QByteArray(source.mName.C_Str()) : QByteArray("Default");
    return camera;
}

std::int64_t triangleCount(const HostModel& model) {
    std::int64_t triangles = 0;
    const auto add = [&](const std::vector<HostMesh>& meshes) {
        for (const HostMesh& mesh : meshes)
            triangles += mesh.indexCount() / 3;
    };
    add(model.rootMeshes);
    for (const HostGroup& group : model.groups)
        add(group.meshes);
    for (const HostDefinition& definition : model.definitions)
        add(definition.meshes);
    return triangles;
}

std::optional<HostModel> mapScene(const aiScene& scene, const QFileInfo& file, QString* reason) {
    const QString suffix = file.suffix().toLower();
    HostModel model;
    model.title = file.completeBaseName().toUtf8();
    model.layers = {{kLayerId, true, true}};
    model.materials.reserve(scene.mNumMaterials);
    const QDir folder = file.absoluteDir();
    for (unsigned i = 0; i < scene.mNumMaterials; ++i)
        model.materials.push_back(convertMaterial(scene, i, folder));

    const Transform axis = upAxisTransform(scene, suffix);
    TreeBuilder(scene, model).build(axis);
    if (triangleCount(model) == 0) {
        *reason = QStringLiteral("the model holds no triangles");
        return std::nullopt;
    }
    if (scene.mNumCameras > 0)
        model.camera = ownCamera(scene, axis, suffix, model);
    describeModel(model, lengthUnit(scene, suffix), std::nullopt);
    return model;
}

}  // namespace

std::optional<HostModel> loadModel(const QString& path, QString* error) {
    QString reason;
    std::optional<HostModel> model;
    const QFileInfo file(path);
    if (!file.exists()) {
        reason = QStringLiteral("no such file");
    } else if (!file.isFile()) {
        reason = QStringLiteral("not a file");
    } else {
        try {
            Assimp::Importer importer;
            const aiScene* scene = importer.ReadFile(
                QFile::encodeName(file.absoluteFilePath()).constData(), kImportSteps);
            if (!scene || !scene->mRootNode)
                reason = QString::fromUtf8(importer.GetErrorString());
            else if (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE)
                reason = QStringLiteral("the model holds no meshes");
            else
                model = mapScene(*scene, file, &reason);
        } catch (const std::bad_alloc&) {
            reason = QStringLiteral("not enough memory");
        }
        if (!model && reason.isEmpty())
            reason = QStringLiteral("the importer gave no scene");
    }
    if (error)
        *error = model ? QString() : reason.simplified();
    return model;
}

}  // namespace orvanta::tools
