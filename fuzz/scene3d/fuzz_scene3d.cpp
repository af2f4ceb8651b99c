// Feeds arbitrary bytes to the scene-file reader; a crash, a hang or a sanitizer report fails.
#include <cstddef>
#include <cstdint>

#include "ZepLoad3DS.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Dove::t3DModel model;
    Dove::CZepLoad3DS reader;
    if (reader.Import3DSFromMemory(&model, data, size)) {
        // Touch what the scene resource reads after a successful import.
        for (const auto& mesh : model.pObject)
            for (uint32_t index : mesh.pFaces)
                if (index >= mesh.pVerts.size() || mesh.pNormals.size() != mesh.pVerts.size()) __builtin_trap();
    }
    return 0;
}
