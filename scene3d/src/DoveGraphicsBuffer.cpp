#include "DoveGraphicsBuffer.h"

namespace Dove {

uint32_t getTypeSize(VertexDataType type) {
    switch (type) {
        case 1: return 4;
        case 2: return 8;
        case 3: return 12;
        case 4: return 16;
        case 5: return 2;
        case 6: return 4;
        case 7: return 6;
        case 8: return 8;
        case 9: return 4;
        default: return 0;
    }
}

uint32_t getComponentCount(VertexDataType type) {
    switch (type) {
        case 1: case 5: return 1;
        case 2: case 6: return 2;
        case 3: case 7: return 3;
        case 4: case 8: case 9: return 4;
        default: return 0;
    }
}

}  // namespace Dove
