// The model loader against the sample models Debian ships with Assimp: what the test expects is
// read from the same files by Assimp itself (the scene as the importer gives it, walked here) or
// from the files' own text, never from the loader's mapping. Also the camera that frames a model,
// checked against bounds computed here from every placed vertex.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tools/host_driver/host_model.h"
#include "tools/host_driver/model_loader.h"
#include "tools/host_driver/model_view.h"

namespace {

using namespace orvanta::tools;

const QString kModels = QStringLiteral("/usr/share/assimp/models/");
const QString kEngine =
    kModels + QStringLiteral("glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb");

using Vector = std::array<double, 3>;
using Matrix = std::array<double, 16>;  // column by column, as the agreement stores transforms

Matrix identity() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Matrix product(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                m[4 * c + r] += a[4 * k + r] * b[4 * c + k];
    return m;
}

Matrix fromFloats(const Transform& t) {
    Matrix m{};
    std::copy(t.begin(), t.end(), m.begin());
    return m;
}

Vector apply(const Matrix& m, double x, double y, double z, double w = 1.0) {
    return {m[0] * x + m[4] * y + m[8] * z + m[12] * w, m[1] * x + m[5] * y + m[9] * z + m[13] * w,
            m[2] * x + m[6] * y + m[10] * z + m[14] * w};
}

struct Box {
    Vector low{1e300, 1e300, 1e300};
    Vector high{-1e300, -1e300, -1e300};
    void add(const Vector& p) {
        for (int i = 0; i < 3; ++i) {
            low[i] = std::min(low[i], p[i]);
            high[i] = std::max(high[i], p[i]);
        }
    }
};

// The importer's own reading: triangulated and sorted by primitive, nothing else.
const aiScene* readReference(Assimp::Importer& importer, const QString& path) {
    return importer.ReadFile(
        QFile::encodeName(path).constData(),
        aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_ValidateDataStructure);
}

unsigned trianglesIn(const aiMesh& mesh) {
    unsigned count = 0;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        count += mesh.mFaces[f].mNumIndices == 3 ? 1 : 0;
    return count;
}

// Calls visit(node, world transform) for every node of the scene, world in the file's axes.
template <typename Visit>
void forEachNode(const aiNode* node, const Matrix& parent, Visit&& visit) {
    const aiMatrix4x4& t = node->mTransformation;
    const Matrix local{t.a1, t.b1, t.c1, t.d1, t.a2, t.b2, t.c2, t.d2,
                       t.a3, t.b3, t.c3, t.d3, t.a4, t.b4, t.c4, t.d4};
    const Matrix world = product(parent, local);
    visit(*node, world);
    for (unsigned c = 0; c < node->mNumChildren; ++c)
        forEachNode(node->mChildren[c], world, visit);
}

// (material name, triangles) for every mesh as the nodes place it; a material without a name is
// "Material <its index>", as the agreement has the host name it.
std::multiset<std::pair<std::string, unsigned>> placedMaterials(const aiScene& scene) {
    std::multiset<std::pair<std::string, unsigned>> placed;
    forEachNode(scene.mRootNode, identity(), [&](const aiNode& node, const Matrix&) {
        for (unsigned i = 0; i < node.mNumMeshes; ++i) {
            const aiMesh& mesh = *scene.mMeshes[node.mMeshes[i]];
            std::string name = scene.mMaterials[mesh.mMaterialIndex]->GetName().C_Str();
            if (name.empty())
                name = "Material " + std::to_string(mesh.mMaterialIndex);
            if (trianglesIn(mesh) > 0)
                placed.insert({name, trianglesIn(mesh)});
        }
    });
    return placed;
}

// The scene's placed vertices in world coordinates, in the file's axes.
Box referenceBounds(const aiScene& scene) {
    Box box;
    forEachNode(scene.mRootNode, identity(), [&](const aiNode& node, const Matrix& world) {
        for (unsigned i = 0; i < node.mNumMeshes; ++i) {
            const aiMesh& mesh = *scene.mMeshes[node.mMeshes[i]];
            if (trianglesIn(mesh) == 0)
                continue;
            for (unsigned v = 0; v < mesh.mNumVertices; ++v)
                box.add(
                    apply(world, mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z));
        }
    });
    return box;
}

// Calls visit(mesh, world transform) for every mesh of the model as placed.
template <typename Visit>
void forEachPlacedMesh(const HostModel& model, Visit&& visit) {
    std::map<QByteArray, Matrix> groupWorld;
    const auto parentWorld = [&](const QByteArray& parent) {
        const auto found = groupWorld.find(parent);
        return found == groupWorld.end() ? identity() : found->second;
    };
    for (const HostMesh& mesh : model.rootMeshes)
        visit(mesh, identity());
    for (const HostGroup& group : model.groups) {
        const Matrix world = product(parentWorld(group.parentId), fromFloats(group.transform));
        groupWorld[group.id] = world;
        for (const HostMesh& mesh : group.meshes)
            visit(mesh, world);
    }
    for (const HostInstance& instance : model.instances) {
        const Matrix world =
            product(parentWorld(instance.parentId), fromFloats(instance.transform));
        for (const HostDefinition& definition : model.definitions) {
            if (definition.id == instance.definitionId)
                for (const HostMesh& mesh : definition.meshes)
                    visit(mesh, world);
        }
    }
}

Box modelBounds(const HostModel& model) {
    Box box;
    forEachPlacedMesh(model, [&](const HostMesh& mesh, const Matrix& world) {
        for (std::size_t i = 0; i < mesh.positions.size(); i += 3)
            box.add(apply(world, mesh.positions[i], mesh.positions[i + 1], mesh.positions[i + 2]));
    });
    return box;
}

std::multiset<std::pair<std::string, unsigned>> placedMaterials(const HostModel& model) {
    std::multiset<std::pair<std::string, unsigned>> placed;
    forEachPlacedMesh(model, [&](const HostMesh& mesh, const Matrix&) {
        for (const HostMaterial& material : model.materials) {
            if (material.id == mesh.frontMaterialId)
                placed.insert(
                    {material.name.toStdString(), static_cast<unsigned>(mesh.indices.size() / 3)});
        }
    });
    return placed;
}

std::optional<HostModel> load(const QString& path) {
    QString error;
    std::optional<HostModel> model = loadModel(path, &error);
    EXPECT_TRUE(model.has_value()) << path.toStdString() << ": " << error.toStdString();
    EXPECT_TRUE(!model || error.isEmpty());
    return model;
}

// The structure every loaded model has, whatever the file.
void expectWellFormed(const HostModel& model) {
    std::set<QByteArray> entities;
    std::set<QByteArray> groupsSoFar{kModelId};
    const auto newEntity = [&](const QByteArray& id) {
        bool decimal = false;
        EXPECT_GT(id.toLongLong(&decimal), 0) << id.constData();
        EXPECT_TRUE(decimal) << id.constData();
        EXPECT_TRUE(entities.insert(id).second) << "id used twice: " << id.constData();
    };
    std::set<QByteArray> materials;
    for (const HostMaterial& material : model.materials)
        EXPECT_TRUE(materials.insert(material.id).second) << material.id.constData();
    const auto checkMeshes = [&](const QByteArray& owner, const std::vector<HostMesh>& meshes) {
        for (std::size_t n = 0; n < meshes.size(); ++n) {
            const HostMesh& mesh = meshes[n];
            const std::size_t vertices = mesh.flags.size();
            EXPECT_EQ(mesh.positions.size(), 3 * vertices);
            EXPECT_EQ(mesh.normals.size(), 3 * vertices);
            EXPECT_EQ(mesh.frontUVs.size(), 2 * vertices);
            EXPECT_EQ(mesh.backUVs.size(), 2 * vertices);
            EXPECT_EQ(mesh.indices.size() % 3, 0u);
            for (const std::int32_t index : mesh.indices)
                ASSERT_TRUE(index >= 0 && static_cast<std::size_t>(index) < vertices);
            // The agreement's mesh id: the owner, the mesh's place, its two materials, which
            // the model holds.
            EXPECT_TRUE(materials.count(mesh.frontMaterialId)) << mesh.frontMaterialId.constData();
            EXPECT_EQ(mesh.backMaterialId, mesh.frontMaterialId);
            EXPECT_EQ(meshIdOf(owner, static_cast<int>(n), mesh),
                      owner + '_' + QByteArray::number(static_cast<int>(n)) + "_f[" +
                          mesh.frontMaterialId + "]_r[" + mesh.backMaterialId + ']');
        }
    };
    for (const HostDefinition& definition : model.definitions) {
        newEntity(definition.id);
        EXPECT_FALSE(definition.meshes.empty());
        checkMeshes(definition.id, definition.meshes);
    }
    for (const HostGroup& group : model.groups) {
        newEntity(group.id);
        EXPECT_TRUE(groupsSoFar.count(group.parentId))
            << "parent after child: " << group.id.constData();
        groupsSoFar.insert(group.id);
        checkMeshes(group.id, group.meshes);
    }
    for (const HostInstance& instance : model.instances) {
        newEntity(instance.id);
        EXPECT_TRUE(groupsSoFar.count(instance.parentId)) << instance.id.constData();
        EXPECT_NE(model.definition(instance.definitionId), nullptr);
    }
}

std::optional<QByteArray> attribute(const HostModel& model, const char* owner,
                                    const char* dictionary, const char* key) {
    for (const HostAttribute& a : model.attributes) {
        if (a.owner == owner && a.dictionary == dictionary && a.key == key)
            return a.value;
    }
    return std::nullopt;
}

TEST(ModelLoader, PlacesEveryTriangleOfTheFileWithItsMaterial) {
    for (const char* file :
         {"OBJ/spider.obj", "OBJ/box.obj", "PLY/Wuson.ply", "STL/Spider_binary.stl", "FBX/box.fbx",
          "Collada/duck.dae", "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb"}) {
        SCOPED_TRACE(file);
        const QString path = kModels + QLatin1String(file);
        Assimp::Importer importer;
        const aiScene* scene = readReference(importer, path);
        ASSERT_NE(scene, nullptr) << importer.GetErrorString();
        const std::optional<HostModel> model = load(path);
        ASSERT_TRUE(model);
        expectWellFormed(*model);
        EXPECT_EQ(model->title, QFileInfo(path).completeBaseName().toUtf8());
        EXPECT_EQ(placedMaterials(*model), placedMaterials(*scene));
    }
}

TEST(ModelLoader, ModelsWhoseMeshesAreUsedOnceHoldEachOnce) {
    for (const char* file : {"OBJ/spider.obj", "PLY/Wuson.ply", "STL/Spider_binary.stl"}) {
        SCOPED_TRACE(file);
        Assimp::Importer importer;
        const aiScene* scene = readReference(importer, kModels + QLatin1String(file));
        ASSERT_NE(scene, nullptr);
        std::int64_t faces = 0;
        for (unsigned i = 0; i < scene->mNumMeshes; ++i)
            faces += trianglesIn(*scene->mMeshes[i]);
        const std::optional<HostModel> model = load(kModels + QLatin1String(file));
        ASSERT_TRUE(model);
        EXPECT_EQ(model->digest().triangles, faces);
        EXPECT_TRUE(model->definitions.empty());
    }
}

TEST(ModelLoader, AMeshListSeveralNodesUseBecomesOneDefinitionWithAnInstancePerNode) {
    Assimp::Importer importer;
    const aiScene* scene = readReference(importer, kEngine);
    ASSERT_NE(scene, nullptr);
    std::map<std::vector<unsigned>, int> uses;
    forEachNode(scene->mRootNode, identity(), [&](const aiNode& node, const Matrix&) {
        if (node.mNumMeshes > 0)
            ++uses[std::vector<unsigned>(node.mMeshes, node.mMeshes + node.mNumMeshes)];
    });
    std::multiset<int> shared;
    for (const auto& [list, count] : uses) {
        if (count > 1)
            shared.insert(count);
    }
    ASSERT_FALSE(shared.empty()) << "the sample no longer shares meshes";

    const std::optional<HostModel> model = load(kEngine);
    ASSERT_TRUE(model);
    std::multiset<int> placements;
    for (const HostDefinition& definition : model->definitions) {
        int count = 0;
        for (const HostInstance& instance : model->instances)
            count += instance.definitionId == definition.id ? 1 : 0;
        placements.insert(count);
    }
    EXPECT_EQ(placements, shared);
}

// The camera of the small glTF file: 0.5 radians high, twice as wide as high, at (0, 1, 5).
constexpr double kSmallCameraYfov = 0.5;
constexpr double kSmallCameraAspect = 2.0;

// A glTF file written here: one mesh placed by two nodes, another by one node, each node moved;
// and a camera.
QString writeSmallGltf(const QString& folder) {
    const float triangle[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const QByteArray data = QByteArray(reinterpret_cast<const char*>(triangle), sizeof triangle);
    const QJsonObject position{{"POSITION", 0}};
    QJsonObject document{
        {"asset", QJsonObject{{"version", "2.0"}}},
        {"scene", 0},
        {"scenes", QJsonArray{QJsonObject{{"nodes", QJsonArray{0, 1, 2, 3}}}}},
        {"nodes",
         QJsonArray{
             QJsonObject{{"name", "first"}, {"mesh", 0}, {"translation", QJsonArray{1, 2, 3}}},
             QJsonObject{{"name", "second"}, {"mesh", 0}, {"translation", QJsonArray{-4, 0, 0}}},
             QJsonObject{{"name", "third"}, {"mesh", 1}, {"translation", QJsonArray{7, 8, 9}}},
             QJsonObject{{"name", "view"}, {"camera", 0}, {"translation", QJsonArray{0, 1, 5}}}}},
        {"cameras",
         QJsonArray{QJsonObject{{"type", "perspective"},
                                {"perspective", QJsonObject{{"yfov", kSmallCameraYfov},
                                                            {"aspectRatio", kSmallCameraAspect},
                                                            {"znear", 0.1}}}}}},
        {"meshes",
         QJsonArray{
             QJsonObject{{"primitives", QJsonArray{QJsonObject{{"attributes", position}}}}},
             QJsonObject{{"primitives", QJsonArray{QJsonObject{{"attributes", position}}}}}}},
        {"accessors", QJsonArray{QJsonObject{{"bufferView", 0},
                                             {"componentType", 5126},
                                             {"count", 3},
                                             {"type", "VEC3"},
                                             {"min", QJsonArray{0, 0, 0}},
                                             {"max", QJsonArray{1, 1, 0}}}}},
        {"bufferViews",
         QJsonArray{QJsonObject{{"buffer", 0}, {"byteLength", static_cast<int>(data.size())}}}},
        {"buffers", QJsonArray{QJsonObject{
                        {"byteLength", static_cast<int>(data.size())},
                        {"uri", QString::fromLatin1("data:application/octet-stream;base64," +
                                                    data.toBase64())}}}},
    };
    const QString path = folder + QStringLiteral("/small.gltf");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(document).toJson());
    return path;
}

TEST(ModelLoader, TransformsAreColumnMajorUnderOneGroupThatTurnsYUpToZUp) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::optional<HostModel> model = load(writeSmallGltf(folder.path()));
    ASSERT_TRUE(model);
    expectWellFormed(*model);

    // One top-level group, turning +Y to +Z and +Z to -Y.
    ASSERT_EQ(model->childGroups(kModelId).size(), 1u);
    EXPECT_TRUE(model->childInstances(kModelId).empty());
    const HostGroup& upright = *model->childGroups(kModelId).front();
    const Matrix turn = fromFloats(upright.transform);
    const Vector y = apply(turn, 0, 1, 0, 0);
    const Vector z = apply(turn, 0, 0, 1, 0);
    EXPECT_NEAR(y[2], 1.0, 1e-6);
    EXPECT_NEAR(std::fabs(y[0]) + std::fabs(y[1]), 0.0, 1e-6);
    EXPECT_NEAR(z[1], -1.0, 1e-6);

    ASSERT_EQ(model->definitions.size(), 1u);
    std::map<QByteArray, const HostInstance*> instances;
    for (const HostInstance& instance : model->instances)
        instances[instance.name] = &instance;
    ASSERT_EQ(instances.size(), 2u);
    const auto expectMovedBy = [&](const Transform& t, float x, float y, float z) {
        EXPECT_EQ(t[12], x);
        EXPECT_EQ(t[13], y);
        EXPECT_EQ(t[14], z);
        EXPECT_EQ(t[15], 1.0f);
        EXPECT_EQ(t[3], 0.0f);
        EXPECT_EQ(t[7], 0.0f);
        EXPECT_EQ(t[11], 0.0f);
    };
    expectMovedBy(instances.at("first")->transform, 1, 2, 3);
    expectMovedBy(instances.at("second")->transform, -4, 0, 0);
    EXPECT_EQ(instances.at("first")->parentId, upright.id);
    EXPECT_EQ(instances.at("first")->definitionId, model->definitions.front().id);
    const std::vector<const HostGroup*> inside = model->childGroups(upright.id);
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside.front()->name, "third");
    expectMovedBy(inside.front()->transform, 7, 8, 9);
}

void expectSameBox(const Box& actual, const Box& expected) {
    double size = 0.0;
    for (int i = 0; i < 3; ++i)
        size = std::max(size, expected.high[i] - expected.low[i]);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(actual.low[i], expected.low[i], 1e-5 * size) << "axis " << i;
        EXPECT_NEAR(actual.high[i], expected.high[i], 1e-5 * size) << "axis " << i;
    }
}

TEST(ModelLoader, YUpFilesStandOnZAndZUpFilesStayAsTheyAre) {
    {
        SCOPED_TRACE("glTF, Y up");
        Assimp::Importer importer;
        const aiScene* scene = readReference(importer, kEngine);
        ASSERT_NE(scene, nullptr);
        const Box file = referenceBounds(*scene);
        // Turned +90 degrees about X: (x, y, z) goes to (x, -z, y).
        Box turned;
        turned.add({file.low[0], -file.high[2], file.low[1]});
        turned.add({file.high[0], -file.low[2], file.high[1]});
        const std::optional<HostModel> model = load(kEngine);
        ASSERT_TRUE(model);
        expectSameBox(modelBounds(*model), turned);
    }
    {
        SCOPED_TRACE("STL, Z up");
        const QString path = kModels + QStringLiteral("STL/Spider_binary.stl");
        Assimp::Importer importer;
        const aiScene* scene = readReference(importer, path);
        ASSERT_NE(scene, nullptr);
        const std::optional<HostModel> model = load(path);
        ASSERT_TRUE(model);
        expectSameBox(modelBounds(*model), referenceBounds(*scene));
    }
}

TEST(ModelLoader, FilesThatHoldNoTrianglesGiveAnErrorAndNoModel) {
    const QDir invalid(kModels + QStringLiteral("invalid"));
    // Made to have the importer allocate beyond any memory: this Assimp allocates and fills some
    // 16 GB for it before it refuses the file, too much beside the other tests of a run.
    const QString memoryBomb = QStringLiteral("OutOfMemory.off");
    QStringList files = invalid.entryList(QDir::Files, QDir::Name);
    files.removeAll(memoryBomb);
    ASSERT_FALSE(files.isEmpty());
    int refused = 0;
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const QString path = invalid.filePath(name);
        QString error;
        const std::optional<HostModel> model = loadModel(path, &error);
        if (!model) {
            EXPECT_FALSE(error.isEmpty());
            EXPECT_FALSE(error.contains(QLatin1Char('\n')));
            ++refused;
            continue;
        }
        // The importer repairs one of them (an empty face dropped, a missing material made):
        // what it repaired is read.
        Assimp::Importer importer;
        const aiScene* scene = readReference(importer, path);
        ASSERT_NE(scene, nullptr);
        std::int64_t triangles = 0;
        for (unsigned i = 0; i < scene->mNumMeshes; ++i)
            triangles += trianglesIn(*scene->mMeshes[i]);
        EXPECT_EQ(model->digest().triangles, triangles);
    }
    EXPECT_GE(refused, files.size() - 1);

    for (const QString& path :
         {kModels + QStringLiteral("OBJ/testpoints.obj"),
          kModels + QStringLiteral("OBJ/testline.obj"), QStringLiteral("/nonexistent/model.glb")}) {
        QString error;
        EXPECT_FALSE(loadModel(path, &error).has_value()) << path.toStdString();
        EXPECT_FALSE(error.isEmpty()) << path.toStdString();
    }
}

TEST(ModelLoader, TheFilesOwnCameraIsPlacedInTheWorldWithItsVerticalFieldOfView) {
    const QString path = kModels + QStringLiteral("glTF2/cameras/Cameras.gltf");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    const double yfov =
        json["cameras"].toArray().at(0).toObject()["perspective"].toObject()["yfov"].toDouble();
    QJsonArray at;
    for (const QJsonValue node : json["nodes"].toArray()) {
        if (node["camera"].toInt(-1) == 0)
            at = node["translation"].toArray();
    }
    ASSERT_EQ(at.size(), 3);

    const std::optional<HostModel> model = load(path);
    ASSERT_TRUE(model && model->camera);
    const HostCamera& camera = *model->camera;
    EXPECT_TRUE(camera.modelsOwn);
    EXPECT_TRUE(camera.perspective);
    // Y up turned Z up: (x, y, z) -> (x, -z, y); a glTF camera sits at its node's origin and
    // looks along -Z with +Y up.
    EXPECT_NEAR(camera.eye[0], at[0].toDouble(), 1e-5);
    EXPECT_NEAR(camera.eye[1], -at[2].toDouble(), 1e-5);
    EXPECT_NEAR(camera.eye[2], at[1].toDouble(), 1e-5);
    const Vector view{camera.target[0] - camera.eye[0], camera.target[1] - camera.eye[1],
                      camera.target[2] - camera.eye[2]};
    const double length = std::sqrt(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
    EXPECT_NEAR(view[1] / length, 1.0, 1e-5);
    EXPECT_NEAR(camera.up[2], 1.0, 1e-5);
    EXPECT_NEAR(camera.fieldOfViewDegrees, yfov * 180.0 / M_PI, 1e-3);

    // A camera wider than high, written here.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::optional<HostModel> small = load(writeSmallGltf(folder.path()));
    ASSERT_TRUE(small && small->camera);
    EXPECT_NEAR(small->camera->fieldOfViewDegrees, kSmallCameraYfov * 180.0 / M_PI, 1e-3);
    EXPECT_NEAR(small->camera->aspect, kSmallCameraAspect, 1e-6);
    EXPECT_NEAR(small->camera->eye[0], 0.0, 1e-5);
    EXPECT_NEAR(small->camera->eye[1], -5.0, 1e-5);
    EXPECT_NEAR(small->camera->eye[2], 1.0, 1e-5);

    // Collada gives the vertical angle and the aspect; the importer hands on the horizontal one.
    const QString duck = kModels + QStringLiteral("Collada/duck.dae");
    QFile duckFile(duck);
    ASSERT_TRUE(duckFile.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch yfovText =
        QRegularExpression(QStringLiteral("<yfov>([0-9.]+)</yfov>"))
            .match(QString::fromUtf8(duckFile.readAll()));
    ASSERT_TRUE(yfovText.hasMatch());
    const std::optional<HostModel> duckModel = load(duck);
    ASSERT_TRUE(duckModel && duckModel->camera);
    EXPECT_NEAR(duckModel->camera->fieldOfViewDegrees, yfovText.captured(1).toDouble(), 1e-2);
}

TEST(ModelView, TheFramingCameraSeesEveryCornerOfThePlacedGeometry) {
    std::vector<std::pair<std::string, HostModel>> models{{"built-in", builtInModel()}};
    for (const char* file :
         {"OBJ/spider.obj", "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb",
          "STL/Spider_binary.stl"}) {
        std::optional<HostModel> model = load(kModels + QLatin1String(file));
        ASSERT_TRUE(model);
        models.emplace_back(file, std::move(*model));
    }
    for (const auto& [name, model] : models) {
        SCOPED_TRACE(name);
        const HostCamera camera = framingCamera(model);
        EXPECT_FALSE(camera.modelsOwn);
        EXPECT_TRUE(camera.perspective);
        EXPECT_EQ(camera.up, (std::array<float, 3>{0, 0, 1}));
        Vector forward{camera.target[0] - camera.eye[0], camera.target[1] - camera.eye[1],
                       camera.target[2] - camera.eye[2]};
        const double length =
            std::sqrt(forward[0] * forward[0] + forward[1] * forward[1] + forward[2] * forward[2]);
        ASSERT_GT(length, 0.0);
        for (double& f : forward)
            f /= length;
        const double halfAngle = 0.5 * camera.fieldOfViewDegrees * M_PI / 180.0;
        const Box box = modelBounds(model);
        for (int corner = 0; corner < 8; ++corner) {
            const Vector c{(corner & 1) ? box.high[0] : box.low[0],
                           (corner & 2) ? box.high[1] : box.low[1],
                           (corner & 4) ? box.high[2] : box.low[2]};
            const Vector v{c[0] - camera.eye[0], c[1] - camera.eye[1], c[2] - camera.eye[2]};
            const double ahead = v[0] * forward[0] + v[1] * forward[1] + v[2] * forward[2];
            const double distance = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            EXPECT_GT(ahead, 0.0) << "corner " << corner;
            EXPECT_LE(std::acos(std::min(1.0, ahead / distance)), halfAngle) << "corner " << corner;
        }
    }
}

TEST(ModelLoader, AttributesSayTheUnitTheRootEntitiesAndThePreview) {
    struct Expected {
        const char* file;
        const char* unit;
    };
    Assimp::Importer importer;
    const aiScene* fbx = readReference(importer, kModels + QStringLiteral("FBX/box.fbx"));
    ASSERT_NE(fbx, nullptr);
    float centimetres = 0.0f;
    ASSERT_TRUE(fbx->mMetaData && fbx->mMetaData->Get("UnitScaleFactor", centimetres));
    ASSERT_EQ(centimetres, 100.0f);  // one unit is a metre

    for (const Expected& expected :
         {Expected{"glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb", "m"},
          Expected{"FBX/box.fbx", "m"}, Expected{"OBJ/spider.obj", "in"}}) {
        SCOPED_TRACE(expected.file);
        const std::optional<HostModel> model = load(kModels + QLatin1String(expected.file));
        ASSERT_TRUE(model);
        EXPECT_EQ(attribute(*model, "Model", "Units", "LengthUnit"), QByteArray(expected.unit));
        int roots = 0;
        for (const HostGroup& group : model->groups)
            roots += group.parentId == kModelId ? 1 : 0;
        for (const HostInstance& instance : model->instances)
            roots += instance.parentId == kModelId ? 1 : 0;
        EXPECT_EQ(attribute(*model, "Model", "Statistics", "root_entities"),
                  QByteArray::number(roots));
        EXPECT_EQ(attribute(*model, "Model", "GeoReference", "UsesGeoReferencing"),
                  QByteArray("false"));
        EXPECT_EQ(attribute(*model, "Camera", "DoF", "Enabled"), QByteArray("false"));
        EXPECT_EQ(attribute(*model, "Camera", "Bloom", "Strength"), QByteArray("0.2"));

        // A small picture of one colour, a colour of the model's materials.
        const std::optional<QByteArray> preview =
            attribute(*model, "Model", "PreviewBase64", "preview.png");
        ASSERT_TRUE(preview);
        const QImage image = QImage::fromData(QByteArray::fromBase64(*preview), "PNG");
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(32, 20));
        const QRgb pixel = image.pixel(0, 0);
        EXPECT_EQ(image.pixel(31, 19), pixel);
        bool found = false;
        for (const HostMaterial& material : model->materials)
            found = found || qRgb(material.colour[0], material.colour[1], material.colour[2]) ==
                                 (pixel | 0xff000000u);
        EXPECT_TRUE(found);
    }
}

TEST(ModelLoader, TexturesGiveTheirFileAndSize) {
    const QString folder = kModels + QStringLiteral("glTF2/BoxTextured-glTF/");
    const QSize size = QImageReader(folder + QStringLiteral("CesiumLogoFlat.png")).size();
    ASSERT_TRUE(size.isValid());
    const auto textured = [](const HostModel& model) -> const HostMaterial* {
        for (const HostMaterial& material : model.materials) {
            if (!material.texturePath.isEmpty())
                return &material;
        }
        return nullptr;
    };

    const std::optional<HostModel> model = load(folder + QStringLiteral("BoxTextured.gltf"));
    ASSERT_TRUE(model);
    const HostMaterial* material = textured(*model);
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(QFileInfo(QString::fromUtf8(material->texturePath)).canonicalFilePath(),
              QFileInfo(folder + QStringLiteral("CesiumLogoFlat.png")).canonicalFilePath());
    EXPECT_EQ(material->textureWidth, size.width());
    EXPECT_EQ(material->textureHeight, size.height());

    // The same picture inside the binary file.
    const std::optional<HostModel> binary =
        load(kModels + QStringLiteral("glTF2/BoxTextured-glTF-Binary/BoxTextured.glb"));
    ASSERT_TRUE(binary);
    const HostMaterial* embedded = textured(*binary);
    ASSERT_NE(embedded, nullptr);
    EXPECT_EQ(embedded->textureWidth, size.width());
    EXPECT_EQ(embedded->textureHeight, size.height());
    EXPECT_TRUE(embedded->texturePath.startsWith('*')) << embedded->texturePath.constData();

    // Untextured materials are 0 x 0 without a path.
    for (const HostMaterial& plain : model->materials) {
        if (plain.texturePath.isEmpty()) {
            EXPECT_EQ(plain.textureWidth, 0.0f);
            EXPECT_EQ(plain.textureHeight, 0.0f);
        }
    }
}

}  // namespace
