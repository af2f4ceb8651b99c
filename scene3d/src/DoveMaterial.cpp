#include "DoveMaterial.h"

#include "DoveResManager.h"
#include "DoveTexture.h"

namespace Dove {

Material::Material(const std::string& name) {
    nameObject(name, "Material_");
    mOriginalName = name;
    for (Color& c : colors) c = Color{1.0f, 1.0f, 1.0f, 1.0f};
}

Material::~Material() {
    ResManager* rm = ResManager::peekSingleton();
    for (Texture*& t : mTextures) {
        if (t && rm) rm->releaseTexture(t, 1);
        t = nullptr;
    }
}

void Material::setTexture(Texture* texture, TextureUsage usage) {
    Texture*& slot = mTextures[usage == TU_MASK ? 1 : 0];
    if (texture) texture->addRef();
    if (slot) slot->release();  // not destroyed here: the registry still holds it
    slot = texture;
}

}  // namespace Dove
